#include "win32/command_line.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "os/os.h"
#include "win32/win32_host.h"

namespace ovix {
namespace {

// How often the windows of the drivers are looked at while waiting: a driver
// still starting may show its window later.
constexpr DWORD kLookMs = 200;
// How long a driver past the point where its stop can be withdrawn is given.
constexpr DWORD kEndWaitMs = 10000;
// How long a driver has to answer the withdrawal.
constexpr UINT kWithdrawAnswerMs = 5000;
constexpr DWORD kLongPath = 32768;

std::wstring ComparableDirectory(const std::wstring& dir) {
  std::wstring full(kLongPath, L'\0');
  DWORD length = GetFullPathNameW(dir.c_str(), kLongPath, full.data(), nullptr);
  full.resize(length > 0 && length < kLongPath ? length : 0);
  if (full.empty()) full = dir;
  std::wstring longName(kLongPath, L'\0');
  length = GetLongPathNameW(full.c_str(), longName.data(), kLongPath);
  longName.resize(length > 0 && length < kLongPath ? length : 0);
  std::wstring text = longName.empty() ? full : longName;
  while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
  return text;
}

// One driver process being stopped.
struct Driver {
  DWORD pid = 0;
  HANDLE process = nullptr;  // open for waiting
  HWND main = nullptr;       // its main window once asked through it
  std::set<HWND> asked;      // the windows sent a close request
};

// The file name of this program's executable.
std::wstring OwnFileName() {
  std::wstring path(kLongPath, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), kLongPath));
  return std::filesystem::path(path).filename().wstring();
}

// The open process `pid` when its executable is `fileName` in `dir`.
HANDLE OpenDriver(DWORD pid, const std::wstring& dir, const std::wstring& fileName) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return nullptr;
  std::wstring image(kLongPath, L'\0');
  DWORD size = kLongPath;
  image.resize(QueryFullProcessImageNameW(process, 0, image.data(), &size) ? size : 0);
  const std::filesystem::path path(image);
  if (!image.empty() && lstrcmpiW(path.filename().c_str(), fileName.c_str()) == 0 &&
      SameDirectory(path.parent_path().wstring(), dir))
    return process;
  CloseHandle(process);
  return nullptr;
}

// The other processes of this program's file name running from `dir`.
std::vector<Driver> FindDrivers(const std::wstring& dir) {
  std::vector<Driver> drivers;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return drivers;
  const std::wstring fileName = OwnFileName();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId() ||
        lstrcmpiW(entry.szExeFile, fileName.c_str()) != 0)
      continue;
    if (const HANDLE process = OpenDriver(entry.th32ProcessID, dir, fileName))
      drivers.push_back(Driver{entry.th32ProcessID, process, nullptr, {}});
  }
  CloseHandle(snapshot);
  return drivers;
}

struct WindowsOf {
  DWORD pid;
  HWND main = nullptr;
  std::vector<HWND> visible;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto& found = *reinterpret_cast<WindowsOf*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != found.pid) return TRUE;
  char name[64] = "";
  if (GetClassNameA(window, name, sizeof name) && lstrcmpA(name, Win32Host::kMainClass) == 0)
    found.main = window;
  else if (IsWindowVisible(window))
    found.visible.push_back(window);
  return TRUE;
}

bool Ended(const Driver& driver) {
  return WaitForSingleObject(driver.process, 0) == WAIT_OBJECT_0;
}

// The close request: to the main window once it has one, else to the
// windows it shows (its start-up error box); each window is asked once.
void AskToClose(Driver& driver) {
  WindowsOf found{driver.pid, nullptr, {}};
  EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&found));
  if (found.main) {
    driver.main = found.main;
    found.visible.assign(1, found.main);
  }
  for (HWND window : found.visible) {
    if (driver.asked.insert(window).second) PostMessageA(window, WM_CLOSE, 0, 0);
  }
}

// True once every driver has ended; false at the deadline.
bool WaitForEnd(std::vector<Driver>& drivers, ULONGLONG deadline) {
  std::vector<HANDLE> handles;
  for (const Driver& driver : drivers) handles.push_back(driver.process);
  for (;;) {
    for (Driver& driver : drivers) {
      if (!Ended(driver)) AskToClose(driver);
    }
    const ULONGLONG now = GetTickCount64();
    const DWORD wait =
        now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kLookMs));
    const DWORD result =
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, wait);
    if (result < WAIT_OBJECT_0 + handles.size()) return true;
    if (result != WAIT_TIMEOUT || now >= deadline) return false;
  }
}

// Asks each driver still running to take its stop back; true when one did.
bool WithdrawStops(const std::vector<Driver>& drivers) {
  const UINT withdraw = RegisterWindowMessageA(Win32Host::kWithdrawStopMessage);
  bool withdrawn = false;
  for (const Driver& driver : drivers) {
    DWORD_PTR answer = 0;
    if (driver.main && !Ended(driver) &&
        SendMessageTimeoutA(driver.main, withdraw, 0, 0, SMTO_ABORTIFHUNG, kWithdrawAnswerMs,
                            &answer) &&
        answer == 1)
      withdrawn = true;
  }
  return withdrawn;
}

void CloseAll(std::vector<Driver>& drivers) {
  for (const Driver& driver : drivers) CloseHandle(driver.process);
  drivers.clear();
}

}  // namespace

void UseStartingConsole() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN)
    return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  std::freopen("CONOUT$", "w", stdout);
  std::freopen("CONOUT$", "w", stderr);
}

bool SameDirectory(const std::wstring& a, const std::wstring& b) {
  return lstrcmpiW(ComparableDirectory(a).c_str(), ComparableDirectory(b).c_str()) == 0;
}

int StopDriversOf(const std::string& programDir, unsigned waitMs) {
  const std::wstring dir = PathFromText(programDir).wstring();
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  std::vector<Driver> drivers = FindDrivers(dir);
  // A driver started meanwhile is asked too, within the same time.
  while (!drivers.empty() && WaitForEnd(drivers, deadline)) {
    CloseAll(drivers);
    drivers = FindDrivers(dir);
  }
  if (drivers.empty()) return 0;
  const bool ended = !WithdrawStops(drivers) && WaitForEnd(drivers, GetTickCount64() + kEndWaitMs);
  CloseAll(drivers);
  return ended ? 0 : 1;
}

}  // namespace ovix
