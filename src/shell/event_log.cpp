#include "shell/event_log.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

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

std::string VisibleText(std::string_view text, bool reversible) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || (reversible && c == '\\')) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeText(std::string_view text) {
  const auto hexValue = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

void EventLog::RotateAtStartup() const {
  std::error_code ec;
  const std::filesystem::path path = PathFromText(path_);
  if (!std::filesystem::is_regular_file(path, ec)) return;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!ec && size > kLogSizeLimit) std::filesystem::remove(path, ec);
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

#ifdef _WIN32
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

std::string LocalTimestamp(std::time_t when) {
  std::tm local{};
  localtime_s(&local, &when);
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
#else
std::string LocalTimestamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char date[128] = "";
  char time[128] = "";
  std::strftime(date, sizeof date, "%x", &local);
  std::strftime(time, sizeof time, "%X", &local);
  return std::string(date) + " - " + time;
}
#endif

std::string LocalTimestampNow() {
  return LocalTimestamp(std::time(nullptr));
}

}  // namespace ovix
