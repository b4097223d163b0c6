// What depends on this build's version (the generated ovixnova_version.h):
// the information options and the version texts of this build.
#include <cstdio>
#include <cstring>

#include "app/startup.h"
#include "app/ui_tables.h"
#include "ovixnova_version.h"

namespace ovix {
namespace {

constexpr char kDescription[] =
    "Print driver for a fiscal cash register on a serial port. It runs in the\n"
    "notification area, takes the receipt files that a point-of-sale program\n"
    "writes into the spool directory, prints them on the register and files them\n"
    "into the OK or the error directory, writing what it does to LOG.OVX in the\n"
    "spool directory. It reads its settings from OVIX.INI in the program's\n"
    "directory, beside the executable.\n";

constexpr char kOptions[] =
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

}  // namespace

std::optional<int> AnswerInformationOption(int argc, char** argv,
                                           const std::optional<ExtraOption>& extra) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("Usage: ovixnova [--help | --version%s]\n\n%s\nOptions:\n%s%s",
                  extra ? (" | " + extra->usage).c_str() : "", kDescription, kOptions,
                  extra ? extra->help.c_str() : "");
      std::fflush(stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("ovixnova %d.%d.%d\n", OVIXNOVA_VERSION_MAJOR, OVIXNOVA_VERSION_MINOR,
                  OVIXNOVA_VERSION_PATCH);
      std::fflush(stdout);
      return 0;
    }
  }
  return std::nullopt;
}

namespace ui {

std::string VersionText() {
  return VersionText(OVIXNOVA_VERSION_MAJOR, OVIXNOVA_VERSION_MINOR, OVIXNOVA_VERSION_PATCH);
}

std::string TooltipText(const std::string& settingsProblem) {
  std::string text =
      TooltipText(OVIXNOVA_VERSION_MAJOR, OVIXNOVA_VERSION_MINOR, OVIXNOVA_VERSION_PATCH);
  if (!settingsProblem.empty()) text += "\nATENTIE !! OVIX.INI " + settingsProblem;
  return text;
}

}  // namespace ui
}  // namespace ovix
