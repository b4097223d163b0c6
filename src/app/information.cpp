// What depends on this build's version (the generated ovixnova_version.h):
// the command line's answers and the version texts of this build.
#include <cstdio>

#include "app/command_line.h"
#include "app/ui_tables.h"
#include "ovixnova_version.h"

namespace ovix {

std::optional<int> AnswerInformationOption(const std::vector<std::string>& args,
                                           const std::vector<ExtraOption>& extras) {
  const std::string version = "ovixnova " + std::to_string(OVIXNOVA_VERSION_MAJOR) + "." +
                              std::to_string(OVIXNOVA_VERSION_MINOR) + "." +
                              std::to_string(OVIXNOVA_VERSION_PATCH) + "\n";
  const CommandLineAnswer answer = ReadCommandLine(args, extras, version);
  std::fputs(answer.out.c_str(), stdout);
  std::fflush(stdout);
  std::fputs(answer.err.c_str(), stderr);
  std::fflush(stderr);
  return answer.status;
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
