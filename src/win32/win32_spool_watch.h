// The watch of the spool directory on Windows: ReadDirectoryChangesW on the
// directory, overlapped, its completion posted to the main window from a wait
// of the system's thread pool, so that an idle driver sleeps until the
// directory changes. GUI thread only.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "spool/spool_scheduler.h"

namespace ovix {

class Win32SpoolWatch {
 public:
  // `window` receives kChangeMessage when changes have been read; its window
  // procedure must then call OnChangesRead().
  static constexpr UINT kChangeMessage = WM_APP + 2;

  explicit Win32SpoolWatch(HWND window) : window_(window) {}
  ~Win32SpoolWatch();
  Win32SpoolWatch(const Win32SpoolWatch&) = delete;
  Win32SpoolWatch& operator=(const Win32SpoolWatch&) = delete;

  // Starts watching `directory` (ANSI code page), stopping a running watch
  // first. Returns false with the reason when the directory cannot be opened
  // or watched, or could miss changes: it is watched only on a local drive
  // formatted NTFS, ReFS, FAT, FAT32 or exFAT, since on a network drive or
  // another file system changes made elsewhere are not always reported.
  bool Start(const std::string& directory, std::string* reason);
  // Stops watching; no handler is called afterwards.
  void Stop();
  // Whether the path given to Start still names the directory being watched
  // (the same volume serial number and file index). False when no watch
  // runs, the path names nothing or it names another directory.
  bool FollowsPath() const;
  void OnChangesRead();

  // Each change: a name renamed into the directory arrives whole, any other
  // change of a name is a change; changes lost because too many came at once
  // are reported as Unknown with an empty name.
  std::function<void(SpoolChange, const std::string& name)> onChange;
  // The watch ended (the directory went away, reading failed); Stop() has
  // been called.
  std::function<void(const std::string& reason)> onFailure;

 private:
  bool StartRead();
  void Fail(const std::string& reason);

  HWND window_;
  HANDLE directory_ = INVALID_HANDLE_VALUE;
  std::string path_;  // as given to Start
  DWORD volume_ = 0;
  std::uint64_t index_ = 0;
  OVERLAPPED read_{};
  HANDLE wait_ = nullptr;  // thread-pool wait on read_.hEvent while a read is pending
  alignas(DWORD) unsigned char buffer_[32 * 1024];
};

}  // namespace ovix
