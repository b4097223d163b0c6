#include "shell/event_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace ovix {

bool EventLog::WriteLines(const std::vector<std::string>& lines, std::string* error) const {
  std::FILE* file = std::fopen(path_.c_str(), "ab");
  if (file == nullptr) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  errno = 0;
  bool ok = true;
  for (const std::string& line : lines) {
    ok = ok && std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
         std::fwrite("\r\n", 1, 2, file) == 2;
  }
  const int savedErrno = errno;
  ok = (std::fclose(file) == 0) && ok;
  if (!ok && error) *error = std::strerror(savedErrno != 0 ? savedErrno : errno);
  return ok;
}

void EventLog::RotateAtStartup() const {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path_, ec)) return;
  const std::uintmax_t size = std::filesystem::file_size(path_, ec);
  if (!ec && size > kLogSizeLimit) std::filesystem::remove(path_, ec);
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
  std::vector<std::string> lines{std::string(60, '*'),
                                 "-> DRIVER PORNIT: " + std::string(timestamp), "",
                                 "\t--- CONFIGURATIE PORNIRE DRIVER ---"};
  for (const auto& [label, value] : dump) lines.push_back("\t" + std::string(label) + *value);
  lines.push_back("\t" + std::string(35, '-'));
  return lines;
}

std::vector<std::string> StopLines(std::string_view timestamp) {
  return {"-> DRIVER OPRIT: " + std::string(timestamp), ""};
}

std::string LocalTimestamp(std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char date[128] = "";
  char time[128] = "";
  std::strftime(date, sizeof date, "%x", &local);
  std::strftime(time, sizeof time, "%X", &local);
  return std::string(date) + " - " + time;
}

std::string LocalTimestampNow() {
  return LocalTimestamp(std::time(nullptr));
}

}  // namespace ovix
