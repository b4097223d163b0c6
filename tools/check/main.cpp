// ovixnova-check FILE... [--ini OVIX.INI] [--firmware old|new] | --help | --version
// Prints what the driver would make of each receipt or currency-programming
// file. Exit status: 0 clean, 1 warnings, 2 a file could not be read (or bad usage).

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "os/os.h"
#include "ovixnova_version.h"

namespace {

constexpr const char* kUsage =
    "usage: ovixnova-check FILE... [--ini OVIX.INI] [--firmware old|new]\n"
    "  --ini       settings to read the files with (default: the built-in defaults)\n"
    "  --firmware  amount form of the register: old (before 5.07) or new (default)\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n";

int UsageError(const std::string& message) {
  std::cerr << "ovixnova-check: " << message << "\n" << kUsage;
  return 2;
}

struct Arguments {
  std::vector<std::string> files;
  std::string iniPath;
  bool newFirmware = true;
};

void PrintVersion() {
  std::cout << "ovixnova-check " << OVIXNOVA_VERSION_MAJOR << '.' << OVIXNOVA_VERSION_MINOR << '.'
            << OVIXNOVA_VERSION_PATCH << "\n";
}

// Reads the command line into `args`; the exit status when the tool is done without checking
// (help, version, a usage error), nullopt when the files are to be checked.
std::optional<int> ParseArguments(int argc, char** argv, Arguments& args) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      PrintVersion();
      return 0;
    }
    if (arg == "--ini" || arg == "--firmware") {
      if (i + 1 == argc) return UsageError(std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      if (arg == "--ini") {
        args.iniPath = value;
      } else if (value == "old" || value == "new") {
        args.newFirmware = value == "new";
      } else {
        return UsageError("--firmware is old or new, not " + std::string(value));
      }
    } else if (arg.starts_with("--")) {
      return UsageError("unknown option " + std::string(arg));
    } else {
      // The driver's functions take names as UTF-8 (the command line's are
      // in the ANSI code page on Windows).
      args.files.push_back(ovix::Utf8FromNarrow(arg));
    }
  }
  if (args.files.empty()) return UsageError("no file to check");
  return std::nullopt;
}

// The settings to read the files with: the INI file's, or the defaults without one. Nullopt,
// after saying why, when the INI file cannot be read.
std::optional<ovix::DriverSettings> LoadSettings(const std::string& iniPath) {
  if (iniPath.empty()) return ovix::DriverSettings();
  // The driver takes a missing INI file for defaults; here that is almost surely a typo.
  std::FILE* ini = std::fopen(iniPath.c_str(), "rb");
  if (ini == nullptr) {
    std::cerr << "ovixnova-check: " << iniPath << ": cannot be read: " << std::strerror(errno)
              << "\n";
    return std::nullopt;
  }
  std::fclose(ini);
  return ovix::LoadDriverSettings(ovix::SystemEnv(), ovix::Utf8FromNarrow(iniPath));
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (const std::optional<int> status = ParseArguments(argc, argv, args)) return *status;
  const std::optional<ovix::DriverSettings> settings = LoadSettings(args.iniPath);
  if (!settings) return 2;
  std::vector<ovix::check::FileReport> reports;
  for (const std::string& file : args.files) {
    reports.push_back(ovix::check::CheckFile(file, *settings, args.newFirmware));
    const bool unreadable = reports.back().kind == ovix::check::FileKind::Unreadable;
    (unreadable ? std::cerr : std::cout) << ovix::check::FormatReport(reports.back());
  }
  return ovix::check::ExitStatus(reports);
}
