#include "shell/event_log.h"

#include <utility>

#include "os/env.h"
#include "os/os.h"
#include "os/text.h"

namespace ovix {

bool EventLog::WriteLines(const std::vector<std::string>& lines, std::string* error) const {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  // The log is text of the system's code page; names in it came as UTF-8.
  return AppendToFile(env_, PathFromText(path_), NarrowFromUtf8(text), error);
}

void EventLog::RotateAtStartup() const {
  RotateFileAtStartup(env_, path_);
}

void RotateFileAtStartup(Env& env, const std::string& text) {
  const std::filesystem::path path = PathFromText(text);
  FileStatus status;
  if (!env.Status(path, &status, nullptr) || status.type != FileType::Regular) return;
  if (status.size > kLogSizeLimit) env.RemoveFile(path, nullptr);
}

std::vector<std::string> StartBlock(const DriverSettings& s, std::string_view timestamp) {
  const std::pair<const char*, const std::string*> dump[] = {
      {"  PORT COM  : ", &s.COM},        {"  BONDIR    : ", &s.BONDIR},
      {"  BONOKDIR  : ", &s.OKDIR},      {"  BONERRDIR : ", &s.ERRDIR},
      {"  CHREDA    : ", &s.CHREDA},     {"  CHREDAS   : ", &s.CHREDAS},
      {"  CHREDP    : ", &s.CHREDP},     {"  CHREDPS   : ", &s.CHREDPS},
      {"  CHTOT     : ", &s.CHTOT},      {"  CHCARD    : ", &s.CHCARD},
      {"  CHLINE    : ", &s.CHLINE},     {"  CHCREDIT  : ", &s.CHCREDIT},
      {"  CHBONVAL  : ", &s.CHBONVAL},   {"  CHCEC     : ", &s.CHCEC},
      {"  CHSUBTOTAL: ", &s.CHSUBTOTAL}, {"  CHVALUTA  : ", &s.CHVALUTA},
      {"  CHPROGVAL : ", &s.CHPROGVAL},  {"  CHPRINTPROG:", &s.CHPRINTPROG},
      {"  EXTENSIE  : ", &s.EXTENSIE},   {"  DESCRIERE : ", &s.DESCRIERE},
      {"  PRET      : ", &s.PRET},
  };
  // Each line is appended piece by piece into its own string: GCC 12 at -O3
  // takes the inlined `"literal" + std::string(...)` for an overlapping copy
  // and warns (-Wrestrict), wrongly.
  const auto joined = [](std::initializer_list<std::string_view> parts) {
    std::string line;
    for (const std::string_view part : parts) line.append(part);
    return line;
  };
  std::vector<std::string> lines{std::string(60, '*'), joined({"-> DRIVER PORNIT: ", timestamp}),
                                 "", "\t--- CONFIGURATIE PORNIRE DRIVER ---"};
  for (const auto& [label, value] : dump) lines.push_back(joined({"\t", label, *value}));
  lines.push_back(joined({"\t", std::string(35, '-')}));
  return lines;
}

std::vector<std::string> StopLines(std::string_view timestamp) {
  return {"-> DRIVER OPRIT: " + std::string(timestamp), ""};
}

std::string LocalTimestampNow(Env& env) {
  return LocalTimestamp(std::chrono::system_clock::to_time_t(env.Now()));
}

}  // namespace ovix
