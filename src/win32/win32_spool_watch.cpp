#include "win32/win32_spool_watch.h"

#include <filesystem>
#include <vector>

#include "os/os.h"
#include "win32/posted_read.h"
#include "win32/system_text.h"

namespace ovix {
namespace {

constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                          FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;

}  // namespace

Win32SpoolWatch::~Win32SpoolWatch() {
  Stop();
}

bool Win32SpoolWatch::Start(const std::string& directory, std::string* reason) {
  Stop();
  const std::string dir = directory.empty() ? "." : directory;
  char full[MAX_PATH];
  if (GetFullPathNameA(dir.c_str(), MAX_PATH, full, nullptr) != 0) {
    char root[4] = {full[0], ':', '\\', 0};
    if (full[1] == ':' && GetDriveTypeA(root) == DRIVE_REMOTE) {
      *reason = "director pe o unitate de retea";
      return false;
    }
    if (full[0] == '\\' && full[1] == '\\') {
      *reason = "director in retea";
      return false;
    }
  }
  directory_ = CreateFileA(
      dir.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (directory_ == INVALID_HANDLE_VALUE) {
    *reason = SystemText(GetLastError());
    return false;
  }
  read_ = OVERLAPPED{};
  read_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (read_.hEvent == nullptr || !StartRead()) {
    *reason = SystemText(GetLastError());
    Stop();
    return false;
  }
  return true;
}

void Win32SpoolWatch::Stop() {
  if (directory_ == INVALID_HANDLE_VALUE) return;
  CancelPendingRead(directory_, read_, wait_);  // buffer_ is free after this
  CloseHandle(directory_);
  directory_ = INVALID_HANDLE_VALUE;
  if (read_.hEvent) CloseHandle(read_.hEvent);
  read_ = OVERLAPPED{};
}

// A read is pending exactly while wait_ is set.
bool Win32SpoolWatch::StartRead() {
  const HANDLE event = read_.hEvent;
  read_ = OVERLAPPED{};
  read_.hEvent = event;
  if (!ReadDirectoryChangesW(directory_, buffer_, sizeof buffer_, FALSE, kFilter, nullptr, &read_,
                             nullptr) &&
      GetLastError() != ERROR_IO_PENDING)
    return false;
  return PostWhenReadEnds<kChangeMessage>(directory_, read_, window_, wait_);
}

void Win32SpoolWatch::OnChangesRead() {
  // A message left over from a stopped watch finds no read pending.
  if (directory_ == INVALID_HANDLE_VALUE || wait_ == nullptr) return;
  DWORD got = 0;
  if (!GetOverlappedResult(directory_, &read_, &got, FALSE)) {
    const DWORD code = GetLastError();
    if (code == ERROR_IO_INCOMPLETE) return;
    if (code != ERROR_NOTIFY_ENUM_DIR) return Fail(SystemText(code));
    got = 0;
  }
  UnregisterWaitEx(wait_, nullptr);  // its one callback has run
  wait_ = nullptr;
  // The changes are taken out first and the next read started before any
  // handler runs, so none is missed while the handlers work.
  std::vector<std::pair<SpoolChange, std::string>> changes;
  if (got == 0) {
    // The system's buffer overflowed: which names changed is lost.
    changes.emplace_back(SpoolChange::Unknown, std::string());
  }
  for (DWORD at = 0; got != 0 && at + sizeof(FILE_NOTIFY_INFORMATION) <= got;) {
    const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_ + at);
    const std::wstring wide(info->FileName, info->FileNameLength / sizeof(WCHAR));
    // A name the narrow file functions cannot spell is never a job.
    if (const std::optional<std::string> name = TextFromPath(std::filesystem::path(wide))) {
      changes.emplace_back(info->Action == FILE_ACTION_RENAMED_NEW_NAME ? SpoolChange::Arrived
                                                                        : SpoolChange::Changed,
                           *name);
    }
    if (info->NextEntryOffset == 0) break;
    at += info->NextEntryOffset;
  }
  if (!StartRead()) return Fail(SystemText(GetLastError()));
  for (const auto& [change, name] : changes) {
    if (directory_ == INVALID_HANDLE_VALUE) return;  // a handler stopped the watch
    if (onChange) onChange(change, name);
  }
}

void Win32SpoolWatch::Fail(const std::string& reason) {
  Stop();
  if (onFailure) onFailure(reason);
}

}  // namespace ovix
