#include "win32/win32_spool_watch.h"

#include <cstdint>
#include <filesystem>
#include <vector>

#include "os/os.h"
#include "win32/posted_read.h"
#include "win32/system_text.h"

namespace ovix {
namespace {

constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                          FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;

// The file systems of local disks, whose every change goes through this
// system and is reported; others (network redirectors, file systems of
// other makers' drivers) may miss changes made elsewhere.
constexpr const wchar_t* kLocalFileSystems[] = {L"NTFS", L"ReFS", L"FAT", L"FAT32", L"exFAT"};

// Whether `directory` lies on a local drive formatted with one of
// kLocalFileSystems; otherwise false with the reason.
bool OnLocalFileSystem(const std::string& directory, std::string* reason) {
  const std::filesystem::path path = PathFromText(directory);
  wchar_t full[MAX_PATH];
  wchar_t root[MAX_PATH];
  if (GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr) == 0 ||
      !GetVolumePathNameW(full, root, MAX_PATH)) {
    *reason = SystemText(GetLastError());
    return false;
  }
  if (full[0] == L'\\' && full[1] == L'\\' && full[2] != L'?' && full[2] != L'.') {
    *reason = "director in retea";
    return false;
  }
  if (GetDriveTypeW(root) == DRIVE_REMOTE) {
    *reason = "director pe o unitate de retea";
    return false;
  }
  wchar_t name[MAX_PATH + 1] = L"";
  if (!GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1)) {
    *reason = SystemText(GetLastError());
    return false;
  }
  for (const wchar_t* local : kLocalFileSystems)
    if (lstrcmpiW(name, local) == 0) return true;
  const std::string system = TextFromPath(std::filesystem::path(name)).value_or("");
  *reason = "director pe un sistem de fisiere " + (system.empty() ? "necunoscut" : system);
  return false;
}

std::uint64_t FileIndex(const BY_HANDLE_FILE_INFORMATION& info) {
  return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

}  // namespace

Win32SpoolWatch::~Win32SpoolWatch() {
  Stop();
}

bool Win32SpoolWatch::Start(const std::string& directory, std::string* reason) {
  Stop();
  const std::string dir = directory.empty() ? "." : directory;
  if (!OnLocalFileSystem(dir, reason)) return false;
  directory_ =
      CreateFileW(PathFromText(dir).c_str(), FILE_LIST_DIRECTORY,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  if (directory_ == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(directory_, &info)) {
    *reason = SystemText(GetLastError());
    Stop();
    return false;
  }
  path_ = dir;
  volume_ = info.dwVolumeSerialNumber;
  index_ = FileIndex(info);
  read_ = OVERLAPPED{};
  read_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (read_.hEvent == nullptr || !StartRead()) {
    *reason = SystemText(GetLastError());
    Stop();
    return false;
  }
  return true;
}

bool Win32SpoolWatch::FollowsPath() const {
  if (directory_ == INVALID_HANDLE_VALUE) return false;
  const HANDLE now = CreateFileW(PathFromText(path_).c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (now == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool same = GetFileInformationByHandle(now, &info) &&
                    info.dwVolumeSerialNumber == volume_ && FileIndex(info) == index_;
  CloseHandle(now);
  return same;
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
    // A name that no text can spell (an unpaired surrogate) is never a job.
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
