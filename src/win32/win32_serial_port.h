// The serial line to the register on Windows: CreateFile on the port, 9600
// bit/s, 8 data bits, no parity, 1 stop bit, no flow control; overlapped
// WriteFile and a ReadFile that is always pending. Bytes pass unchanged in
// both directions, zero bytes included. Used on the GUI thread only; received
// bytes are delivered from that thread's message processing, so they keep
// coming while any message loop runs (a message box's included).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "app/driver_port.h"

namespace ovix {

class Win32SerialPort : public DriverPort {
 public:
  // `window` receives kReadMessage when a read has completed (posted from a
  // wait of the system's thread pool); its window procedure must then call
  // OnReadCompleted().
  explicit Win32SerialPort(HWND window);
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  static constexpr UINT kReadMessage = WM_APP + 1;

  // Opens `device` ("COM3", "\\.\COM12", or any device path) with the line
  // settings above and starts reading. A port that is open is closed first.
  // False with the reason (the system's message) in *error.
  bool Open(const std::string& device, std::string* error) override;
  bool IsOpen() const;
  // Stops reading and closes the device; writes still going out get up to a
  // second to finish before they are cancelled. Does nothing when closed.
  void Close();

  // Queues the bytes for sending in order and returns without waiting for the
  // register. A closed port drops them. A write the system fails is reported
  // as a failed read is (below).
  void Write(const Bytes& bytes) override;
  // Opens the device of the last Open() again when a failure closed it.
  bool EnsureOpen(std::string* error) override;

  // Completes the pending read, hands every byte to onByte in order, and
  // starts the next read. A failed read (the device went away) is reported
  // once through onError and closes the port; the next EnsureOpen reopens it.
  // A call that finds no completed read (a message left from a closed port or
  // an earlier read) does nothing.
  void OnReadCompleted();

 private:
  // One overlapped write: the system uses its bytes and OVERLAPPED until it
  // has finished, so both stay at one address until then.
  struct PendingWrite {
    OVERLAPPED overlapped{};
    Bytes data;
  };

  bool StartRead();
  void ReportAndClose(const std::string& reason);
  // Frees the writes that have finished, oldest first; a failed one is
  // reported and closes the port. False when it did.
  bool ReapWrites();
  // Gives the pending writes a moment to go out, cancels the rest and frees
  // them all.
  void DrainWrites();

  HWND window_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  OVERLAPPED read_{};
  HANDLE wait_ = nullptr;  // thread-pool wait on read_.hEvent
  unsigned char buffer_[256];
  std::string device_;
  std::deque<std::unique_ptr<PendingWrite>> writes_;  // in the order written
};

}  // namespace ovix
