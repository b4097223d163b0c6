#include "win32/command_line.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <vector>

#include "os/os.h"
#include "win32/win32_host.h"

namespace ovix {
namespace {

constexpr DWORD kStopWaitMs = 30000;

// A directory's full path without a trailing backslash.
std::wstring FullDirectory(const std::wstring& dir) {
  wchar_t full[MAX_PATH * 4] = L"";
  const DWORD length = GetFullPathNameW(dir.c_str(), MAX_PATH * 4, full, nullptr);
  std::wstring text = length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : dir;
  while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
  return text;
}

struct Search {
  std::wstring dir;
  std::vector<HWND> windows;
  std::vector<HANDLE> processes;  // open for waiting, one per window
};

// EnumWindows' callback: keeps each driver window whose process runs from
// the searched directory.
BOOL CALLBACK CollectDriver(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<Search*>(param);
  char name[64] = "";
  if (!GetClassNameA(window, name, sizeof name) || lstrcmpA(name, Win32Host::kMainClass) != 0)
    return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return TRUE;
  wchar_t image[MAX_PATH * 4] = L"";
  DWORD size = MAX_PATH * 4;
  const std::wstring path =
      QueryFullProcessImageNameW(process, 0, image, &size) ? std::wstring(image, size) : L"";
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos &&
      lstrcmpiW(FullDirectory(path.substr(0, slash)).c_str(), search.dir.c_str()) == 0) {
    search.windows.push_back(window);
    search.processes.push_back(process);
  } else {
    CloseHandle(process);
  }
  return TRUE;
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

int StopDriversOf(const std::string& programDir) {
  Search search{FullDirectory(PathFromText(programDir).wstring()), {}, {}};
  EnumWindows(&CollectDriver, reinterpret_cast<LPARAM>(&search));
  for (HWND window : search.windows) PostMessageA(window, WM_CLOSE, 0, 0);
  DWORD waited = WAIT_OBJECT_0;
  if (!search.processes.empty())
    waited = WaitForMultipleObjects(static_cast<DWORD>(search.processes.size()),
                                    search.processes.data(), TRUE, kStopWaitMs);
  for (HANDLE process : search.processes) CloseHandle(process);
  return waited == WAIT_TIMEOUT || waited == WAIT_FAILED ? 1 : 0;
}

}  // namespace ovix
