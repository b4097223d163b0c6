// The operating-system seam on Windows.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <cstring>
#include <system_error>

#include "os/os.h"
#include "os/system_files.h"
#include "os/text.h"

namespace ovix {
namespace fs = std::filesystem;

std::string NativeDirectory(std::string_view dirSetting) {
  return std::string(dirSetting);
}

namespace {

std::wstring WideFrom(std::string_view text, UINT codePage) {
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), size);
  return wide;
}

// `wide` in UTF-8; std::nullopt for an unpaired surrogate.
std::optional<std::string> Utf8From(std::wstring_view wide) {
  const int length = static_cast<int>(wide.size());
  if (length == 0) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, nullptr,
                                       0, nullptr, nullptr);
  if (size <= 0) return std::nullopt;
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, text.data(), size,
                      nullptr, nullptr);
  return text;
}

}  // namespace

fs::path PathFromText(const std::string& text) {
  // The standard library would read narrow text in the ANSI code page.
  return fs::path(WideFrom(text, CP_UTF8));
}

std::optional<std::string> TextFromPath(const fs::path& path) {
  return Utf8From(path.native());
}

std::string NarrowFromUtf8(std::string_view utf8) {
  // A UTF-8 code page spells everything but takes no replacement character.
  const char* const replacement = GetACP() == CP_UTF8 ? nullptr : "?";
  std::string text;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::string_view character = utf8.substr(i, length);
    // Bytes that are no UTF-8 (receipt text of the code page, quoted in a
    // line) are the code page's already and pass as they are.
    if (lead < 0x80 || !IsWellFormedUtf8(character) || character.size() < length) {
      text += utf8[i++];
      continue;
    }
    const std::wstring wide = WideFrom(character, CP_UTF8);
    char spelled[8] = "";
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                         spelled, sizeof spelled, replacement, nullptr);
    text.append(spelled, static_cast<std::size_t>(size > 0 ? size : 0));
    i += length;
  }
  return text;
}

std::string Utf8FromNarrow(std::string_view text) {
  if (IsWellFormedUtf8(text)) return std::string(text);
  return Utf8From(WideFrom(text, CP_ACP)).value_or(std::string(text));
}

namespace {

// Win32 error codes of the common causes.
struct Win32Cause {
  DWORD code;
  std::errc cause;
};
constexpr Win32Cause kWin32Causes[] = {
    {ERROR_FILE_NOT_FOUND, std::errc::no_such_file_or_directory},
    {ERROR_PATH_NOT_FOUND, std::errc::no_such_file_or_directory},
    {ERROR_INVALID_DRIVE, std::errc::no_such_file_or_directory},
    {ERROR_BAD_NETPATH, std::errc::no_such_file_or_directory},
    {ERROR_BAD_NET_NAME, std::errc::no_such_file_or_directory},
    {ERROR_ACCESS_DENIED, std::errc::permission_denied},
    {ERROR_SHARING_VIOLATION, std::errc::device_or_resource_busy},
    {ERROR_LOCK_VIOLATION, std::errc::device_or_resource_busy},
    {ERROR_BUSY, std::errc::device_or_resource_busy},
    {ERROR_DISK_FULL, std::errc::no_space_on_device},
    {ERROR_HANDLE_DISK_FULL, std::errc::no_space_on_device},
    {ERROR_WRITE_PROTECT, std::errc::read_only_file_system},
    {ERROR_NOT_READY, std::errc::no_such_device},
    {ERROR_DEV_NOT_EXIST, std::errc::no_such_device},
    {ERROR_DEVICE_NOT_CONNECTED, std::errc::no_such_device},
    {ERROR_DEVICE_REMOVED, std::errc::no_such_device},
    {ERROR_BAD_UNIT, std::errc::no_such_device},
    {ERROR_BROKEN_PIPE, std::errc::broken_pipe},
    {ERROR_IO_DEVICE, std::errc::io_error},
    {ERROR_CRC, std::errc::io_error},
    {ERROR_GEN_FAILURE, std::errc::io_error},
    {ERROR_READ_FAULT, std::errc::io_error},
    {ERROR_WRITE_FAULT, std::errc::io_error},
    {ERROR_INVALID_FUNCTION, std::errc::function_not_supported},
    {ERROR_DIRECTORY, std::errc::not_a_directory},
    {ERROR_FILENAME_EXCED_RANGE, std::errc::filename_too_long},
};

// The system's own text for a Win32 error code, in UTF-8, without its
// closing full stop and line end.
std::string Win32Message(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = length > 0 ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ' ||
                           wide.back() == L'.'))
    wide.pop_back();
  const std::string message = Utf8From(wide).value_or(std::string());
  return message.empty() ? "eroare de sistem" : message;
}

}  // namespace

std::string SystemReason(const std::error_code& code) {
  const int value = code.value();
  if (code.category() == std::generic_category())
    return ReasonText(static_cast<std::errc>(value), Utf8FromNarrow(std::strerror(value)), value);
  std::errc cause{};
  for (const Win32Cause& known : kWin32Causes)
    if (known.code == static_cast<DWORD>(value)) cause = known.cause;
  return ReasonText(cause, Win32Message(static_cast<DWORD>(value)), value);
}

std::string SerialDeviceOfPort(int port) {
  return "COM" + std::to_string(port);
}

File OpenFile(const fs::path& path, const char* mode, std::string* error) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  File file(::_wfopen(path.c_str(), wideMode.c_str()));
  if (!file) SystemFailure(error);
  return file;
}

bool FlushFileToDisk(std::FILE* file, std::string* error) {
  return ::_commit(::_fileno(file)) == 0 || SystemFailure(error);
}

namespace {

bool LastErrorFailure(std::string* error) {
  if (error)
    *error =
        SystemReason(std::error_code(static_cast<int>(GetLastError()), std::system_category()));
  return false;
}

}  // namespace

bool SyncFileAt(const fs::path& path, std::string* error) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrorFailure(error);
  const bool ok = FlushFileBuffers(file) || LastErrorFailure(error);
  CloseHandle(file);
  return ok;
}

bool RenameReplacing(const fs::path& from, const fs::path& to, std::string* error,
                     bool* crossDevice) {
  // The system copies across volumes itself: a rename never fails for that here.
  if (crossDevice) *crossDevice = false;
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) ||
         LastErrorFailure(error);
}

bool SyncDirectory(const fs::path&, std::string*) {
  return true;
}

WriterCheck CheckForWriter(const fs::path& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return WriterCheck::NoWriter;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION ? WriterCheck::Writing : WriterCheck::Unknown;
}

bool IsHiddenFile(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

std::tm LocalCalendarTime(std::time_t when) {
  std::tm local{};
  localtime_s(&local, &when);
  return local;
}

std::string LocalTimestamp(std::time_t when) {
  const std::tm local = LocalCalendarTime(when);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(local.tm_year + 1900);
  st.wMonth = static_cast<WORD>(local.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(local.tm_wday);
  st.wDay = static_cast<WORD>(local.tm_mday);
  st.wHour = static_cast<WORD>(local.tm_hour);
  st.wMinute = static_cast<WORD>(local.tm_min);
  st.wSecond = static_cast<WORD>(local.tm_sec);
  constexpr int kChars = 128;
  wchar_t date[kChars] = L"";
  wchar_t time[kChars] = L"";
  if (!GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, kChars,
                       nullptr))
    date[0] = L'\0';
  if (!GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, time, kChars)) time[0] = L'\0';
  return Utf8From(date).value_or("") + " - " + Utf8From(time).value_or("");
}

// --- Shared by the sessions and the users of a machine ---

char DirectorySeparator() {
  return '\\';
}

bool PathsIgnoreCase() {
  return true;
}

bool TakeInstanceLocks(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const std::string global = "Global\\" + name;
    // The handle stays open, and the mutex alive, until the process ends.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, global.c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr ? error == ERROR_ACCESS_DENIED : error == ERROR_ALREADY_EXISTS) {
      if (mutex != nullptr) CloseHandle(mutex);
      return false;
    }
  }
  return true;
}

bool ShareWithDirectoryGroup(const fs::path&, std::string*) {
  return true;
}

}  // namespace ovix
