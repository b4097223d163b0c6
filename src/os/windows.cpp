// The operating-system seam on Windows.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>

#include <system_error>

#include "os/os.h"
#include "os/system_files.h"

namespace ovix {
namespace fs = std::filesystem;

std::string NativeDirectory(std::string_view dirSetting) {
  return std::string(dirSetting);
}

std::string FileInDirectory(const std::string& dir, std::string_view name) {
  return dir + DirectorySeparator() + std::string(name);
}

fs::path PathFromText(const std::string& text) {
  // The standard library would read the text in another encoding than fopen.
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
  return std::filesystem::path(std::move(wide));
}

std::optional<std::string> TextFromPath(const fs::path& path) {
  const std::wstring& wide = path.native();
  const int length = static_cast<int>(wide.size());
  if (length == 0) return std::string();
  // No best-fit replacements: a look-alike character would name another file.
  // A UTF-8 code page spells everything but takes neither that flag nor the
  // report of a replacement.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL replaced = FALSE;
  BOOL* const report = utf8 ? nullptr : &replaced;
  const int size =
      WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, report);
  if (size <= 0 || replaced) return std::nullopt;
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide.data(), length, text.data(), size, nullptr, nullptr);
  return text;
}

std::string NarrowFromUtf8(std::string_view utf8) {
  const int length = static_cast<int>(utf8.size());
  const int wideSize = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (wideSize <= 0) return std::string(utf8);
  std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), wideSize);
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideSize, nullptr, 0, "?", nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wideSize, text.data(), size, "?", nullptr);
  return text;
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
    *error = std::error_code(static_cast<int>(GetLastError()), std::system_category()).message();
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

namespace {

// Wide text in the ANSI code page, the encoding of every other log line.
std::string ToAnsi(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();
  return out;
}

}  // namespace

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
  return ToAnsi(date) + " - " + ToAnsi(time);
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
