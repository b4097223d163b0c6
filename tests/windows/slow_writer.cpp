// A point-of-sale program's way of writing a receipt, for the end-to-end tests
// under Wine: opens the temporary file for writing (sharing reads and
// deletes, so the file can be renamed while open), renames it into the spool
// while still holding it, waits, writes the text and closes it. Lines of the
// text are separated by '|' and end in CR LF.
//
//   ovix-slow-writer TEMPORARY TARGET MILLISECONDS TEXT
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  if (!MoveFileExA(argv[1], argv[2], MOVEFILE_REPLACE_EXISTING)) return 1;
  Sleep(static_cast<DWORD>(std::atoi(argv[3])));
  std::string text;
  for (const char* c = argv[4]; *c; ++c)
    text += *c == '|' ? std::string("\r\n") : std::string(1, *c);
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size() ? 0 : 1;
}
