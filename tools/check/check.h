// ovixnova-check: reads receipt and currency-programming files as the driver
// does, replays its translation into a recorder instead of a register, and
// reports per line what the driver would send and what is probably not meant.
#pragma once

#include <string>
#include <vector>

#include "os/platform.h"
#include "shell/settings.h"

namespace ovix::check {

enum class FileKind { Receipt, CurrencyProgramming, Empty, Unreadable };

struct Field {
  std::string name;
  std::string value;
  bool quoted = true;  // a text of the line, shown in quotes; otherwise a verdict (yes/no)
};

struct Warning {
  int column = 0;  // 1-based, in the line as the driver reads it; 0 for the whole line
  std::string text;
};

struct LineReport {
  int number = 0;         // 1-based line number in the file
  std::string kind;       // "sale item", "total", ..., "empty (skipped)", "not read (...)"
  int leadingSpaces = 0;  // removed by the driver before it read the line
  std::vector<Field> fields;
  std::vector<Bytes> commands;  // the key bytes of each "A" command, in sending order
  std::vector<Warning> warnings;
};

struct FileReport {
  std::string path;
  FileKind kind = FileKind::Empty;
  std::string error;  // the reason, for an unreadable file
  std::vector<LineReport> lines;
  std::vector<std::string> warnings;  // about the file as a whole

  int WarningCount() const;
};

// Checks a job file's lines as ReadLines returns them: the file kind from the
// first line, then every line as the driver would take it (a receipt stops
// being read after its credit line). newFirmware selects the amount form of
// firmware 5.07 and later. The path of the result is left empty.
FileReport CheckLines(const std::vector<std::string>& lines, const DriverSettings& settings,
                      bool newFirmware);

// Reads the file with the driver's reader and checks it; kind Unreadable with
// the reason in error when it cannot be read.
FileReport CheckFile(const std::string& path, const DriverSettings& settings, bool newFirmware);

// The report as the tool prints it, ending with a newline.
std::string FormatReport(const FileReport& report);

// 2 when a file was unreadable, else 1 when a warning was given, else 0.
int ExitStatus(const std::vector<FileReport>& reports);

}  // namespace ovix::check
