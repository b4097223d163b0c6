#include "shell/settings.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <utility>

#include "os/os.h"
#include "os/text.h"

namespace ovix {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string CutToMaxLength(std::string_view text) {
  return std::string(text.substr(0, kMaxIniValueLength));
}

std::string ValueOf(std::string_view rawValue) {
  std::string_view value = TrimBlanks(rawValue);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return CutToMaxLength(value);
}

int ClampedWidth(std::string_view text) {
  const double rounded = RoundHalfEven(LeadingNumber(text));
  if (std::isnan(rounded)) return 0;
  return static_cast<int>(std::clamp(rounded, double{INT_MIN}, double{INT_MAX}));
}

// The text that tells a directory apart from every other one on this system:
// see InstanceLockNames.
std::string DirectoryIdentity(Env& env, const std::string& nativeDir) {
  std::filesystem::path path =
      env.AbsolutePath(PathFromText(nativeDir.empty() ? std::string(".") : nativeDir));
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  std::string text = TextFromPath(path).value_or(nativeDir);
  if (PathsIgnoreCase()) std::ranges::transform(text, text.begin(), AsciiLower);
  return text;
}

// Appends code point `c` to `out` in UTF-8.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += static_cast<char>(((0xFF00 >> (tail + 1)) & 0xFF) | (c >> (6 * tail)));
  for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
}

// UTF-16 text (after its byte-order mark) in UTF-8; an unpaired surrogate
// becomes U+FFFD and an odd last byte is dropped.
std::string Utf8FromUtf16(std::string_view bytes, bool bigEndian) {
  std::string out;
  const auto unit = [&](std::size_t i) -> char32_t {
    const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
    const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
    return static_cast<char32_t>(hi << 8 | lo);
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

// Whether bytes without a byte-order mark are UTF-16, and in which order: an
// INI file's text holds no zero byte, while in UTF-16 the high byte of every
// Latin letter, digit and sign is zero. So the bytes are UTF-16 when at least
// half the bytes of one position (even or odd) are zero and the other
// position holds few zeros (letters such as U+0100 have a zero low byte); the
// even position holds the high bytes in big-endian order.
std::optional<bool> Utf16WithoutMark(std::string_view bytes) {
  std::size_t zeros[2] = {0, 0};
  for (std::size_t i = 0; i < bytes.size(); ++i) zeros[i % 2] += bytes[i] == '\0' ? 1 : 0;
  const std::size_t units = bytes.size() / 2;
  for (const bool bigEndian : {false, true}) {
    const std::size_t high = zeros[bigEndian ? 0 : 1], low = zeros[bigEndian ? 1 : 0];
    if (units > 0 && 2 * high >= units && 8 * low <= high) return bigEndian;
  }
  return std::nullopt;
}

// The text of a settings file in UTF-8: UTF-16 with its byte-order mark
// (either order, as Notepad's "Unicode" saves it) or without one (told by its
// zero bytes) is converted; UTF-8 (with or without its mark) stays; other
// bytes are text of the system's code page (Utf8FromNarrow).
std::string SettingsText(std::string_view bytes) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))
    return Utf8FromUtf16(bytes.substr(2), bytes[0] == '\xFE');
  if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  if (const std::optional<bool> bigEndian = Utf16WithoutMark(bytes))
    return Utf8FromUtf16(bytes, *bigEndian);
  return Utf8FromNarrow(bytes);
}

}  // namespace

IniFile IniFile::Load(Env& env, const std::string& path, std::string* readError) {
  std::string error;
  const std::optional<std::string> text = env.ReadFile(PathFromText(path), &error);
  if (text) {
    IniFile ini = Parse(*text);
    ini.read_ = true;
    return ini;
  }
  FileStatus status;
  const bool missing =
      env.Status(PathFromText(path), &status, nullptr) && status.type == FileType::Missing;
  if (readError && !missing) *readError = error;
  return IniFile{};
}

IniFile IniFile::Parse(std::string_view bytes) {
  const std::string decoded = SettingsText(bytes);
  std::string_view text = decoded;
  IniFile ini;
  Section* current = nullptr;
  while (!text.empty()) {
    // CR LF, LF and a lone CR all end a line; the empty "line" between the CR
    // and LF of a pair is skipped like any empty line.
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    const std::string_view line = TrimBlanks(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      current = &ini.sections_.emplace_back(
          Section{std::string(TrimBlanks(line.substr(1, close - 1))), {}});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || current == nullptr) continue;
    current->entries.push_back(
        {std::string(TrimBlanks(line.substr(0, equals))), ValueOf(line.substr(equals + 1))});
  }
  return ini;
}

bool IniFile::HasSection(std::string_view section) const {
  return std::ranges::any_of(sections_,
                             [&](const Section& s) { return EqualsIgnoreCase(s.name, section); });
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const auto sectionIt = std::ranges::find_if(
      sections_, [&](const Section& s) { return EqualsIgnoreCase(s.name, section); });
  if (sectionIt == sections_.end()) return std::nullopt;
  const auto entryIt = std::ranges::find_if(
      sectionIt->entries, [&](const Entry& e) { return EqualsIgnoreCase(e.key, key); });
  if (entryIt == sectionIt->entries.end()) return std::nullopt;
  return entryIt->value;
}

std::string ReadIniKey(Env& env, std::string_view section, std::string_view key,
                       std::string_view defaultValue, const std::string& iniPath) {
  if (auto value = IniFile::Load(env, iniPath).Get(section, key)) return std::move(*value);
  while (!defaultValue.empty() && IsBlank(defaultValue.back())) defaultValue.remove_suffix(1);
  return CutToMaxLength(defaultValue);
}

DriverSettings LoadDriverSettings(Env& env, const std::string& iniPath, std::string* problem) {
  std::string readError;
  const IniFile ini = IniFile::Load(env, iniPath, &readError);
  if (problem && !readError.empty()) {
    *problem = "NU POATE FI CITIT: " + readError;
  } else if (problem && ini.WasRead() && !ini.HasSection(kSettingsSection)) {
    *problem = "NU ARE SECTIUNEA [DEFAULT]";
  }
  DriverSettings settings;
  auto read = [&](const SettingKey& key) {
    if (auto value = ini.Get(kSettingsSection, key.name)) settings.*key.field = std::move(*value);
  };

  // Keys 1 to 19, the width corrections, then EXTENSIE and COM.
  std::for_each(kSettingKeys.begin(), kSettingKeys.begin() + 19, read);
  const double description = LeadingNumber(settings.DESCRIERE);
  if (!(description > 0 && description <= 32)) settings.DESCRIERE = DriverSettings{}.DESCRIERE;
  const double price = LeadingNumber(settings.PRET);
  if (price <= 0 || price > 9) settings.PRET = DriverSettings{}.PRET;
  std::for_each(kSettingKeys.begin() + 19, kSettingKeys.end(), read);
  settings.TRACE = ini.Get(kSettingsSection, "TRACE") == "1";
  for (std::string* dir : {&settings.BONDIR, &settings.OKDIR, &settings.ERRDIR})
    *dir = WithTrailingSeparator(*dir);
  return settings;
}

std::string WithTrailingSeparator(std::string_view dirSetting) {
  const bool hasDrive = HasDriveLetter(dirSetting);
  std::string dir(dirSetting);
  if (dir.empty() || dir.ends_with('\\') || dir.ends_with('/') || (hasDrive && dir.size() == 2))
    return dir;
  if (hasDrive || dir.find('\\') != std::string::npos) {
    dir += '\\';
  } else if (dir.find('/') != std::string::npos) {
    dir += '/';
  } else {
    dir += DirectorySeparator();
  }
  return dir;
}

std::vector<std::string> InstanceLockNames(Env& env, const std::string& programDir,
                                           const DriverSettings& settings) {
  return {"ovixnova-program-" + Fnv1a64Hex(DirectoryIdentity(env, programDir)),
          "ovixnova-spool-" + Fnv1a64Hex(DirectoryIdentity(env, NativeDirectory(settings.BONDIR)))};
}

std::string ProgramIniPath(const std::string& programDir) {
  return FileInDirectory(programDir, "OVIX.INI");
}

int DescriptionWidth(const DriverSettings& settings) {
  return ClampedWidth(settings.DESCRIERE);
}

int PriceWidth(const DriverSettings& settings) {
  return ClampedWidth(settings.PRET);
}

std::optional<int> SerialPortNumber(std::string_view comText) {
  const double port = RoundHalfEven(LeadingNumber(comText));
  if (!(port >= INT16_MIN && port <= INT16_MAX)) return std::nullopt;
  return static_cast<int>(port);
}

bool IsDevicePath(std::string_view comText) {
  return comText.starts_with('/') || comText.starts_with("\\\\.\\");
}

std::string SerialDeviceName(std::string_view comText) {
  if (IsDevicePath(comText)) return std::string(comText);
  const std::optional<int> port = SerialPortNumber(comText);
  if (!port || *port < 1) return {};
  return SerialDeviceOfPort(*port);
}

}  // namespace ovix
