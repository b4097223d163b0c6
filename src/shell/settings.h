// The driver's settings: the 21 values of OVIX.INI (section "DEFAULT") and the
// support switch TRACE, the INI reader that looks them up, and the readings of
// those values that the other parts need (field widths, serial device,
// directories on this system).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/env.h"

namespace ovix {

// The settings record. Every value is the text as read from the INI file (or
// the key's default when the key or the file is missing), except DESCRIERE and
// PRET, which LoadDriverSettings replaces by their defaults when out of range,
// and the three directories, to which it adds a missing trailing separator.
// Nothing is trimmed, upper-cased or validated beyond that. TRACE is the one
// switch read as a yes or no. A default-constructed record holds the defaults.
struct DriverSettings {
  std::string OKDIR = "C:\\OVIX\\BONOK\\";    // receipts moved here after printing
  std::string ERRDIR = "C:\\OVIX\\BONERR\\";  // receipts moved here when failed or given up
  std::string BONDIR = "C:\\OVIX\\";          // spool directory, also holds LOG.OVX
  // Leading control characters of the kinds of receipt line.
  std::string CHREDA = "#";
  std::string CHREDAS = "$";
  std::string CHREDP = "%";
  std::string CHREDPS = "!";
  std::string CHTOT = "<";
  std::string CHCARD = "@";
  std::string CHCREDIT = "?";
  std::string CHBONVAL = "[";
  std::string CHCEC = "*";
  std::string CHLINE = "=";
  std::string CHVALUTA = "]";
  std::string CHPROGVAL = "-";
  std::string CHSUBTOTAL = "+";
  std::string CHPRINTPROG = "1";
  std::string DESCRIERE = "20";    // description field width of a sale-item line, (0, 32]
  std::string PRET = "8";          // price field width of a sale-item line, (0, 9]
  std::string EXTENSIE = "*.TXT";  // file mask of receipt files in the spool directory
  std::string COM = "1";           // serial port number, or a device path
  // Wire trace (TRACE.OVX beside the log) on: the key TRACE is exactly "1"
  // (absent or any other value: off). Not one of the 21 values of the start block.
  bool TRACE = false;

  bool operator==(const DriverSettings&) const = default;
};

// The section every setting is read from.
inline constexpr std::string_view kSettingsSection = "DEFAULT";
// The longest value a lookup returns, in bytes; longer values are cut.
inline constexpr std::size_t kMaxIniValueLength = 127;

// A parsed INI file, answering lookups with the rules of the Windows profile
// reader:
//  - lines end with CR LF, LF or a lone CR; a UTF-8 byte order mark at the very
//    start is skipped; otherwise text is bytes and is never converted;
//  - a line whose first non-blank character is ';' is a comment; a line that
//    is neither a section header "[name]" nor contains '=' is ignored, as are
//    key lines before the first section header;
//  - section and key names compare case-insensitively (ASCII); blanks (space,
//    tab) around a section name, a key and a value are dropped; then one pair of
//    matching enclosing quotes (" or ') is dropped from the value, and the value
//    is cut to its first kMaxIniValueLength bytes;
//  - the first section of a name is the one searched, and the first occurrence
//    of a key in it wins.
// The 21 keys in the order the INI file is read, each with the field it fills.
struct SettingKey {
  std::string_view name;
  std::string DriverSettings::*field;
};
inline constexpr std::array<SettingKey, 21> kSettingKeys = {{
    {"OKDIR", &DriverSettings::OKDIR},
    {"ERRDIR", &DriverSettings::ERRDIR},
    {"BONDIR", &DriverSettings::BONDIR},
    {"CHREDA", &DriverSettings::CHREDA},
    {"CHREDAS", &DriverSettings::CHREDAS},
    {"CHREDP", &DriverSettings::CHREDP},
    {"CHREDPS", &DriverSettings::CHREDPS},
    {"CHTOT", &DriverSettings::CHTOT},
    {"CHCARD", &DriverSettings::CHCARD},
    {"CHCREDIT", &DriverSettings::CHCREDIT},
    {"CHBONVAL", &DriverSettings::CHBONVAL},
    {"CHCEC", &DriverSettings::CHCEC},
    {"CHLINE", &DriverSettings::CHLINE},
    {"CHVALUTA", &DriverSettings::CHVALUTA},
    {"CHPROGVAL", &DriverSettings::CHPROGVAL},
    {"CHSUBTOTAL", &DriverSettings::CHSUBTOTAL},
    {"CHPRINTPROG", &DriverSettings::CHPRINTPROG},
    {"DESCRIERE", &DriverSettings::DESCRIERE},
    {"PRET", &DriverSettings::PRET},
    {"EXTENSIE", &DriverSettings::EXTENSIE},
    {"COM", &DriverSettings::COM},
}};

class IniFile {
 public:
  // Reads and parses the file. A missing or unreadable file gives an empty
  // IniFile (every lookup misses); this never fails. An existing file that
  // cannot be read sets *readError (when given) to the system's reason.
  static IniFile Load(Env& env, const std::string& path, std::string* readError = nullptr);
  // Parses the bytes of an INI file held in memory: UTF-16 with its
  // byte-order mark (either order) or without one (told by its zero bytes)
  // and UTF-8 are read as well as text in the system's code page; values come
  // out in UTF-8 on Windows, as the bytes they are on POSIX.
  static IniFile Parse(std::string_view bytes);

  // Whether the file has the section (its name in any case).
  bool HasSection(std::string_view section) const;
  // Whether Load read the file's bytes (false for a missing or unreadable
  // file, and for Parse).
  bool WasRead() const { return read_; }

  // The value of the key in the section; std::nullopt when the section or the
  // key is missing. A present key with an empty value gives the empty text.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
  bool read_ = false;
};

// One lookup in the file iniPath: the key's value in the section, or
// defaultValue when the file, the section or the key is missing. As with the
// profile reader's fixed buffer, the default is returned without trailing
// blanks and cut to kMaxIniValueLength bytes too. Never fails.
std::string ReadIniKey(Env& env, std::string_view section, std::string_view key,
                       std::string_view defaultValue, const std::string& iniPath);

// Reads the 21 settings and TRACE from section "DEFAULT" of the file iniPath
// (missing file or keys: defaults). DESCRIERE becomes "20" unless its numeric
// value is above 0 and at most 32; PRET becomes "8" unless its numeric value is
// above 0 and at most 9; in-range texts stay exactly as read ("12abc" stays).
// BONDIR, OKDIR and ERRDIR pass through WithTrailingSeparator, since file
// paths are the directory text followed by the file name.
// A file that exists but gives no settings, so that every value is a default
// (it cannot be read, or it has no section "DEFAULT": a damaged file, or text
// in an encoding not read here), sets *problem (when given) to the operator's
// words for why ("NU ARE SECTIUNEA [DEFAULT]", "NU POATE FI CITIT: " and the
// reason); a missing file is no problem and leaves it empty.
DriverSettings LoadDriverSettings(Env& env, const std::string& iniPath,
                                  std::string* problem = nullptr);

// A directory setting that ends with a separator: the text as it is when it
// is empty (the current directory), a drive alone ("C:", that drive's current
// directory) or ends with '\\' or '/'; otherwise the text followed by '\\'
// when it holds a backslash or begins with a drive ("C:\OVIX", "D:spool"),
// by '/' when it holds a slash ("/var/spool/ovix"), and by the system's
// separator (DirectorySeparator) when it holds neither ("spool").
std::string WithTrailingSeparator(std::string_view dirSetting);

// The names of the locks that let one driver at a time run from a program
// directory and one at a time serve a spool ("ovixnova-program-<key>",
// "ovixnova-spool-<key>", for TakeInstanceLocks in os/os.h). The key is
// Fnv1a64Hex of the directory's canonical path (symbolic links, "." and ".."
// resolved) where the directory exists, else of its absolute path, without a
// trailing separator and ASCII lower-cased where the system ignores case.
// `programDir` is the native path of the executable's directory; the spool is
// BONDIR of the settings (empty: the current directory). The paths are
// resolved through `env` (Env::AbsolutePath).
std::vector<std::string> InstanceLockNames(Env& env, const std::string& programDir,
                                           const DriverSettings& settings);

// The INI file of a program: programDir followed by the file name OVIX.INI,
// joined with the system's directory separator.
std::string ProgramIniPath(const std::string& programDir);

// The field widths used in column arithmetic: the numeric value of DESCRIERE
// (or PRET) rounded to the nearest integer, a half to the even
// neighbour (12.5 -> 12). For a record from LoadDriverSettings these are 0..32
// and 0..9; values beyond the range of int are clamped.
int DescriptionWidth(const DriverSettings& settings);
int PriceWidth(const DriverSettings& settings);

// The serial port number of a COM text: its numeric value rounded to the
// nearest integer, a half to the even neighbour (2.5 -> 2, 3.5 -> 4).
// std::nullopt when that does not fit a 16-bit signed integer; the caller
// reports that. Not otherwise validated (0 and negatives are returned).
std::optional<int> SerialPortNumber(std::string_view comText);

// Whether a COM text names a device directly rather than a port number: it
// begins with "/" (a POSIX device path) or with "\\.\" (a Windows device path).
bool IsDevicePath(std::string_view comText);

// The device to open for a COM text: a device path as it stands; otherwise
// port number n as "/dev/ttyS<n-1>" on POSIX and "COM<n>" on Windows. The empty
// text when the port number does not fit 16 bits or is below 1.
std::string SerialDeviceName(std::string_view comText);

}  // namespace ovix
