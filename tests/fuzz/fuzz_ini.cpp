// Parses arbitrary text as OVIX.INI, looks up the 21 settings, loads the
// driver settings from the same text, and checks the lookups, the range
// corrections of DESCRIERE and PRET and the readings derived from the values.
//
// The whole input is the INI text. LoadDriverSettings and ReadIniKey take a
// path, so the text is also written to one scratch file per process.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "link/frame_codec.h"
#include "os/os.h"
#include "os/text.h"
#include "shell/settings.h"

namespace ovix::fuzz {
namespace {

// Longer texts skip the line-ending comparison, which parses the text twice more.
constexpr std::size_t kMaxComparedText = 16 * 1024;

std::string Lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string Replaced(std::string_view text, char from, std::string_view to) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == from) {
      out += to;
    } else {
      out += c;
    }
  }
  return out;
}

void CheckValue(const std::optional<std::string>& value) {
  if (!value) return;
  OVIX_FUZZ_CHECK(value->size() <= kMaxIniValueLength);
  OVIX_FUZZ_CHECK(value->find_first_of("\r\n") == std::string::npos);
}

void CheckLookups(const IniFile& ini, std::string_view text) {
  for (const SettingKey& s : kSettingKeys) {
    const std::optional<std::string> value = ini.Get(kSettingsSection, s.name);
    CheckValue(value);
    OVIX_FUZZ_CHECK(ini.Get(Lowered(kSettingsSection), Lowered(s.name)) == value);
  }
  if (text.size() > kMaxComparedText) return;
  // Every line end form ends a line, and the empty line inside CR LF is
  // skipped, so turning each LF into CR LF or into CR changes no lookup.
  const IniFile crlf = IniFile::Parse(Replaced(text, '\n', "\r\n"));
  const IniFile cr = IniFile::Parse(Replaced(text, '\n', "\r"));
  for (const SettingKey& s : kSettingKeys) {
    const std::optional<std::string> value = ini.Get(kSettingsSection, s.name);
    OVIX_FUZZ_CHECK(crlf.Get(kSettingsSection, s.name) == value);
    OVIX_FUZZ_CHECK(cr.Get(kSettingsSection, s.name) == value);
  }
}

void CheckLoadedSettings(const IniFile& ini, const DriverSettings& loaded) {
  const DriverSettings defaults;
  for (const SettingKey& s : kSettingKeys) {
    const std::string& value = loaded.*s.field;
    const std::string read = ini.Get(kSettingsSection, s.name).value_or(defaults.*s.field);
    // A directory gets its trailing separator: one byte past the longest value.
    const bool directory = s.field == &DriverSettings::BONDIR ||
                           s.field == &DriverSettings::OKDIR || s.field == &DriverSettings::ERRDIR;
    OVIX_FUZZ_CHECK(value.size() <= kMaxIniValueLength + (directory ? 1 : 0));
    if (directory) {
      OVIX_FUZZ_CHECK(value == WithTrailingSeparator(read));
      OVIX_FUZZ_CHECK(WithTrailingSeparator(value) == value);
    } else if (s.field == &DriverSettings::DESCRIERE) {
      const double width = LeadingNumber(read);
      OVIX_FUZZ_CHECK(value == (width > 0 && width <= 32 ? read : defaults.DESCRIERE));
    } else if (s.field == &DriverSettings::PRET) {
      const double width = LeadingNumber(read);
      OVIX_FUZZ_CHECK(value == (width > 0 && width <= 9 ? read : defaults.PRET));
    } else {
      OVIX_FUZZ_CHECK(value == read);
    }
  }

  const double description = LeadingNumber(loaded.DESCRIERE);
  OVIX_FUZZ_CHECK(description > 0 && description <= 32);
  const double price = LeadingNumber(loaded.PRET);
  OVIX_FUZZ_CHECK(price > 0 && price <= 9);
  OVIX_FUZZ_CHECK(DescriptionWidth(loaded) >= 0 && DescriptionWidth(loaded) <= 32);
  OVIX_FUZZ_CHECK(PriceWidth(loaded) >= 0 && PriceWidth(loaded) <= 9);

  const std::string device = SerialDeviceName(loaded.COM);
  const std::optional<int> port = SerialPortNumber(loaded.COM);
  if (IsDevicePath(loaded.COM)) {
    OVIX_FUZZ_CHECK(device == loaded.COM);
  } else if (!port || *port < 1) {
    OVIX_FUZZ_CHECK(device.empty());
  } else {
    OVIX_FUZZ_CHECK(*port <= 32767);
    OVIX_FUZZ_CHECK(device == "/dev/ttyS" + std::to_string(*port - 1));
  }

  for (const std::string* dir : {&loaded.OKDIR, &loaded.ERRDIR, &loaded.BONDIR}) {
    const std::string native = NativeDirectory(*dir);
    OVIX_FUZZ_CHECK(native.find('\\') == std::string::npos);
    OVIX_FUZZ_CHECK(native.size() == dir->size() || native.size() + 2 == dir->size());
  }
}

}  // namespace
}  // namespace ovix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ovix;
  using namespace ovix::fuzz;
  static ScratchFile file;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const IniFile ini = IniFile::Parse(text);
  CheckLookups(ini, text);

  file.Write(text);
  CheckLoadedSettings(ini, LoadDriverSettings(ovix::SystemEnv(), file.path()));

  // The default of a missing key comes back without trailing blanks and cut
  // like a value; the first line of the text serves as an arbitrary default.
  const std::string_view fallback = text.substr(0, text.find('\n'));
  const std::string value = ReadIniKey(SystemEnv(), kSettingsSection, "COM", fallback, file.path());
  OVIX_FUZZ_CHECK(value.size() <= kMaxIniValueLength);
  if (const std::optional<std::string> present = ini.Get(kSettingsSection, "COM")) {
    OVIX_FUZZ_CHECK(value == *present);
  } else {
    std::string_view expected = fallback;
    while (!expected.empty() && (expected.back() == ' ' || expected.back() == '\t')) {
      expected.remove_suffix(1);
    }
    OVIX_FUZZ_CHECK(value == expected.substr(0, kMaxIniValueLength));
  }
  return 0;
}
