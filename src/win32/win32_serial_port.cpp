#include "win32/win32_serial_port.h"

#include <utility>

#include "win32/posted_read.h"
#include "win32/system_text.h"

namespace ovix {

namespace {

// A read ends this long after the last byte that came, so a reply is handed
// on as soon as the register pauses (a byte takes about 1 ms at 9600 bit/s).
constexpr DWORD kReadIntervalMs = 10;
// A read that gets nothing ends after this long and is issued again. Some
// systems (Wine) do not honour the special "return at once" timeout values,
// so the read never relies on them.
constexpr DWORD kReadTotalMs = 500;
// Close() gives the writes still going out this long before cancelling them.
constexpr DWORD kDrainMs = 1000;

// "COM12" becomes "\\.\COM12", the form CreateFile needs for ports above
// COM9; a name that already starts with "\\" is a device path and kept.
std::string DevicePath(const std::string& device) {
  if (device.rfind("\\\\", 0) == 0) return device;
  return "\\\\.\\" + device;
}

// 9600 bit/s, 8N1, no flow control of any kind, every byte value kept.
bool SetLine(HANDLE handle) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return false;
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;  // zero bytes are data
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;  // a framing error must not stop the line
  return SetCommState(handle, &dcb) != FALSE;
}

// The line settings and the read timeouts; false with the system's error.
bool Configure(HANDLE handle) {
  // Buffer sizes are a request the driver may ignore; a refusal is harmless.
  SetupComm(handle, 1024, 512);
  if (!SetLine(handle)) return false;
  // Writes get no time limit: without flow control the line always takes them.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = kReadIntervalMs;
  timeouts.ReadTotalTimeoutConstant = kReadTotalMs;
  if (!SetCommTimeouts(handle, &timeouts)) return false;
  DWORD errors = 0;
  ClearCommError(handle, &errors, nullptr);
  return true;
}

bool Fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

}  // namespace

Win32SerialPort::Win32SerialPort(HWND window) : window_(window) {}

Win32SerialPort::~Win32SerialPort() {
  Close();
}

bool Win32SerialPort::Open(const std::string& device, std::string* error) {
  Close();
  device_ = device;
  const HANDLE handle = CreateFileA(DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail(error, SystemText(GetLastError()));
  if (!Configure(handle)) {
    const DWORD code = GetLastError();
    CloseHandle(handle);
    return Fail(error, "setarile liniei refuzate: " + SystemText(code));
  }
  read_ = OVERLAPPED{};
  read_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (read_.hEvent == nullptr) {
    const DWORD code = GetLastError();
    CloseHandle(handle);
    return Fail(error, SystemText(code));
  }
  handle_ = handle;
  if (!StartRead()) {
    const DWORD code = GetLastError();
    Close();
    return Fail(error, "citire esuata: " + SystemText(code));
  }
  return true;
}

bool Win32SerialPort::IsOpen() const {
  return handle_ != INVALID_HANDLE_VALUE;
}

void Win32SerialPort::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  CancelPendingRead(handle_, read_, wait_);  // buffer_ is free after this
  DrainWrites();
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  CloseHandle(read_.hEvent);
  read_ = OVERLAPPED{};
}

bool Win32SerialPort::EnsureOpen(std::string* error) {
  if (IsOpen()) return true;
  if (device_.empty()) return Fail(error, "niciun dispozitiv");
  return Open(device_, error);
}

// A read is pending exactly while wait_ is set. ReadFile that completes at
// once sets the event as well, so both outcomes end in OnReadCompleted.
bool Win32SerialPort::StartRead() {
  const HANDLE event = read_.hEvent;
  read_ = OVERLAPPED{};
  read_.hEvent = event;
  if (!ReadFile(handle_, buffer_, sizeof buffer_, nullptr, &read_) &&
      GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  // Everything but the post happens on the GUI thread, in whatever message
  // loop is running there.
  return PostWhenReadEnds<kReadMessage>(handle_, read_, window_, wait_);
}

void Win32SerialPort::OnReadCompleted() {
  // A message left over from a closed port or an earlier read finds no read
  // pending, or one still running, and does nothing.
  if (!IsOpen() || wait_ == nullptr) return;
  DWORD got = 0;
  if (!GetOverlappedResult(handle_, &read_, &got, FALSE)) {
    const DWORD code = GetLastError();
    if (code == ERROR_IO_INCOMPLETE) return;
    // A read that timed out with nothing is not a failure (Wine reports it
    // as an error, Windows as success with no bytes).
    if (code != ERROR_TIMEOUT && code != WAIT_TIMEOUT) {
      ReportAndClose("citire esuata: " + SystemText(code));
      return;
    }
    got = 0;
  }
  UnregisterWaitEx(wait_, nullptr);  // its one callback has run
  wait_ = nullptr;
  // The bytes are taken out first: a handler may write, close or reopen the
  // port, and a reopening reads into buffer_ again.
  const Bytes received(reinterpret_cast<const char*>(buffer_), got);
  for (const char c : received) {
    if (onByte) onByte(static_cast<std::uint8_t>(c));
  }
  if (IsOpen() && wait_ == nullptr && !StartRead()) {
    ReportAndClose("citire esuata: " + SystemText(GetLastError()));
  }
}

void Win32SerialPort::Write(const Bytes& bytes) {
  if (!IsOpen() || bytes.empty() || !ReapWrites()) return;
  auto write = std::make_unique<PendingWrite>();
  write->data = bytes;
  write->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (write->overlapped.hEvent == nullptr) {
    ReportAndClose("scriere esuata: " + SystemText(GetLastError()));
    return;
  }
  // Serial drivers carry out the overlapped writes of one handle in the order
  // issued, so each write goes out after the ones before it.
  if (!WriteFile(handle_, write->data.data(), static_cast<DWORD>(write->data.size()), nullptr,
                 &write->overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    const DWORD code = GetLastError();
    CloseHandle(write->overlapped.hEvent);
    ReportAndClose("scriere esuata: " + SystemText(code));
    return;
  }
  writes_.push_back(std::move(write));
}

bool Win32SerialPort::ReapWrites() {
  while (!writes_.empty()) {
    PendingWrite& write = *writes_.front();
    if (!HasOverlappedIoCompleted(&write.overlapped)) return true;
    DWORD sent = 0;
    const bool ok = GetOverlappedResult(handle_, &write.overlapped, &sent, FALSE) != FALSE;
    const DWORD code = ok ? 0 : GetLastError();
    CloseHandle(write.overlapped.hEvent);
    writes_.pop_front();
    if (!ok) {
      ReportAndClose("scriere esuata: " + SystemText(code));
      return false;
    }
  }
  return true;
}

void Win32SerialPort::DrainWrites() {
  const ULONGLONG start = GetTickCount64();
  for (const auto& write : writes_) {
    const ULONGLONG spent = GetTickCount64() - start;
    const DWORD left = spent < kDrainMs ? static_cast<DWORD>(kDrainMs - spent) : 0;
    if (WaitForSingleObject(write->overlapped.hEvent, left) != WAIT_OBJECT_0) {
      CancelIoEx(handle_, &write->overlapped);
    }
  }
  for (const auto& write : writes_) {
    DWORD sent = 0;
    GetOverlappedResult(handle_, &write->overlapped, &sent, TRUE);
    CloseHandle(write->overlapped.hEvent);
  }
  writes_.clear();
}

void Win32SerialPort::ReportAndClose(const std::string& reason) {
  // Closed first: a handler that runs a message loop (a message box) then
  // meets a closed port, and no second report can follow this one.
  Close();
  if (onError) onError(reason);
}

}  // namespace ovix
