#include "shell/settings.h"
#include "os/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "os/os.h"
#include "shell/event_log.h"

namespace ovix {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// A fresh directory under the system's temp directory, removed afterwards.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() /
           ("ovix_settings_" + std::to_string(random()) + "_" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string Write(const std::string& content, const std::string& name = "OVIX.INI") {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  fs::path dir_;
};

struct KeyDefault {
  const char* key;
  std::string DriverSettings::*field;
  const char* defaultText;
};

const std::vector<KeyDefault> kAllKeys = {
    {"OKDIR", &DriverSettings::OKDIR, "C:\\OVIX\\BONOK\\"},
    {"ERRDIR", &DriverSettings::ERRDIR, "C:\\OVIX\\BONERR\\"},
    {"BONDIR", &DriverSettings::BONDIR, "C:\\OVIX\\"},
    {"CHREDA", &DriverSettings::CHREDA, "#"},
    {"CHREDAS", &DriverSettings::CHREDAS, "$"},
    {"CHREDP", &DriverSettings::CHREDP, "%"},
    {"CHREDPS", &DriverSettings::CHREDPS, "!"},
    {"CHTOT", &DriverSettings::CHTOT, "<"},
    {"CHCARD", &DriverSettings::CHCARD, "@"},
    {"CHCREDIT", &DriverSettings::CHCREDIT, "?"},
    {"CHBONVAL", &DriverSettings::CHBONVAL, "["},
    {"CHCEC", &DriverSettings::CHCEC, "*"},
    {"CHLINE", &DriverSettings::CHLINE, "="},
    {"CHVALUTA", &DriverSettings::CHVALUTA, "]"},
    {"CHPROGVAL", &DriverSettings::CHPROGVAL, "-"},
    {"CHSUBTOTAL", &DriverSettings::CHSUBTOTAL, "+"},
    {"CHPRINTPROG", &DriverSettings::CHPRINTPROG, "1"},
    {"DESCRIERE", &DriverSettings::DESCRIERE, "20"},
    {"PRET", &DriverSettings::PRET, "8"},
    {"EXTENSIE", &DriverSettings::EXTENSIE, "*.TXT"},
    {"COM", &DriverSettings::COM, "1"},
};

TEST_F(SettingsFileTest, MissingFileGivesEveryDefault) {
  const DriverSettings loaded =
      LoadDriverSettings(SystemEnv(), (dir_ / "absent" / "OVIX.INI").string());
  for (const auto& k : kAllKeys) EXPECT_EQ(loaded.*k.field, k.defaultText) << k.key;
  EXPECT_EQ(loaded, DriverSettings{});
}

TEST_F(SettingsFileTest, EveryKeyIsReadIntoItsOwnField) {
  std::string ini = "[DEFAULT]\r\n";
  for (const auto& k : kAllKeys) ini += std::string(k.key) + "=" + k.key + "_v\r\n";
  const DriverSettings loaded = LoadDriverSettings(SystemEnv(), Write(ini));
  for (const auto& k : kAllKeys) {
    const std::string key = k.key;
    if (key == "DESCRIERE" || key == "PRET") continue;  // not numbers: corrected
    const bool dir = key.ends_with("DIR");              // gets its separator
    EXPECT_EQ(loaded.*k.field, key + "_v" + (dir ? std::string(1, DirectorySeparator()) : ""));
  }
}

// A directory without its trailing separator gets the one its spelling uses,
// in the settings and so in the start block.
TEST_F(SettingsFileTest, DirectoriesGetTheirTrailingSeparator) {
  const std::string native(1, DirectorySeparator());
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"C:\\OVIX", "C:\\OVIX\\"},
      {"C:\\OVIX\\", "C:\\OVIX\\"},
      {"/var/spool/ovix", "/var/spool/ovix/"},
      {"/var/spool/ovix/", "/var/spool/ovix/"},
      {"D:spool", "D:spool\\"},
      {"C:/OVIX", "C:/OVIX\\"},
      {"spool\\in", "spool\\in\\"},
      {"spool/in", "spool/in/"},
      {"spool", "spool" + native},
      {"C:", "C:"},
      {"", ""},
  };
  for (const auto& [text, expected] : rows) {
    const DriverSettings loaded = LoadDriverSettings(
        SystemEnv(),
        Write("[DEFAULT]\nBONDIR=" + text + "\nOKDIR=" + text + "\nERRDIR=" + text + "\n"));
    EXPECT_EQ(std::vector<std::string>({loaded.BONDIR, loaded.OKDIR, loaded.ERRDIR}),
              std::vector<std::string>(3, expected))
        << text;
    const std::vector<std::string> block = StartBlock(loaded, "t");
    EXPECT_EQ(block[5], "\t  BONDIR    : " + expected);
    EXPECT_EQ(block[6], "\t  BONOKDIR  : " + expected);
    EXPECT_EQ(block[7], "\t  BONERRDIR : " + expected);
  }
}

// One key per directory, whatever the spelling of the directory; the spool's
// key is the canonical path of BONDIR, or its absolute path while missing.
TEST_F(SettingsFileTest, InstanceLockNamesKeyTheDirectories) {
  EXPECT_EQ(Fnv1a64Hex(""), "cbf29ce484222325");
  EXPECT_EQ(Fnv1a64Hex("a"), "af63dc4c8601ec8c");
  fs::create_directories(dir_ / "prog");
  fs::create_directories(dir_ / "spool");
  if (!kWindows) fs::create_directory_symlink(dir_ / "spool", dir_ / "link");
  const std::string root = dir_.string() + DirectorySeparator();
  const auto names = [&](const std::string& prog, const std::string& spool) {
    DriverSettings settings;
    settings.BONDIR = spool;
    return InstanceLockNames(SystemEnv(), prog, settings);
  };
  const std::vector<std::string> first = names(root + "prog", root + "spool");
  ASSERT_EQ(first.size(), 2u);
  if (!kWindows) {
    EXPECT_EQ(first[0], "ovixnova-program-" + Fnv1a64Hex(fs::canonical(dir_ / "prog").string()));
  }
  EXPECT_TRUE(first[1].starts_with("ovixnova-spool-")) << first[1];
  const struct {
    std::string prog, spool;
    bool sameProgram, sameSpool;
  } rows[] = {
      {root + "prog" + DirectorySeparator(), root + "spool" + DirectorySeparator(), true, true},
      {root + "." + DirectorySeparator() + "prog", root + "prog/../spool/", true, true},
      {root + "spool", root + (kWindows ? "spool" : "link/"), false, true},
      {root + "prog", root + "prog", true, false},
      {root + "prog", root + "missing", true, false},
  };
  for (const auto& row : rows) {
    const std::vector<std::string> other = names(row.prog, row.spool);
    EXPECT_EQ(other[0] == first[0], row.sameProgram) << row.prog;
    EXPECT_EQ(other[1] == first[1], row.sameSpool) << row.spool;
  }
}

TEST_F(SettingsFileTest, WindowsWrittenFileLoadsFromTheProgramDirectory) {
  Write(
      "; driver settings\r\n[Default]\r\nBONDIR=\r\nCHTOT=<<\r\nDESCRIERE=24\r\nPRET=7\r\n"
      "COM=/dev/pts/3\r\n");
  DriverSettings expected;
  expected.BONDIR = "";
  expected.CHTOT = "<<";
  expected.DESCRIERE = "24";
  expected.PRET = "7";
  expected.COM = "/dev/pts/3";
  EXPECT_EQ(LoadDriverSettings(SystemEnv(), ProgramIniPath(dir_.string())), expected);
}

TEST_F(SettingsFileTest, WidthCorrections) {
  struct Row {
    const char* key;
    std::string text;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"DESCRIERE", "0", "20"},
      {"DESCRIERE", "33", "20"},
      {"DESCRIERE", "abc", "20"},
      {"DESCRIERE", "", "20"},
      {"DESCRIERE", "-5", "20"},
      {"DESCRIERE", "32.01", "20"},
      {"DESCRIERE", "32", "32"},
      {"DESCRIERE", "1", "1"},
      {"DESCRIERE", "12.5", "12.5"},
      {"DESCRIERE", "12abc", "12abc"},
      {"DESCRIERE", "0.4", "0.4"},
      {"PRET", "0", "8"},
      {"PRET", "10", "8"},
      {"PRET", "-3", "8"},
      {"PRET", "", "8"},
      {"PRET", "9.5", "8"},
      {"PRET", "9", "9"},
      {"PRET", "1", "1"},
      {"PRET", "\" 5 \"", " 5 "},
  };
  for (const auto& row : rows) {
    const DriverSettings loaded = LoadDriverSettings(
        SystemEnv(), Write("[DEFAULT]\n" + std::string(row.key) + "=" + row.text + "\n"));
    const std::string& actual = std::string(row.key) == "PRET" ? loaded.PRET : loaded.DESCRIERE;
    EXPECT_EQ(actual, row.expected) << row.key << "=" << row.text;
  }
}

TEST_F(SettingsFileTest, TraceIsOnlyForOne) {
  struct Row {
    std::string file;
    bool on;
  };
  const std::vector<Row> rows = {
      {"[DEFAULT]\r\nTRACE=1\r\n", true}, {"[default]\ntrace = \"1\" \n", true},
      {"[DEFAULT]\nTRACE=0\n", false},    {"[DEFAULT]\nTRACE=01\n", false},
      {"[DEFAULT]\nTRACE=1.0\n", false},  {"[DEFAULT]\nTRACE=yes\n", false},
      {"[DEFAULT]\nTRACE=\n", false},     {"[DEFAULT]\nCOM=1\n", false},
      {"[OTHER]\nTRACE=1\n", false},
  };
  for (const auto& row : rows) {
    const DriverSettings loaded = LoadDriverSettings(SystemEnv(), Write(row.file));
    EXPECT_EQ(loaded.TRACE, row.on) << row.file;
    DriverSettings others = loaded;
    others.TRACE = false;
    EXPECT_EQ(others, DriverSettings{}) << row.file;
  }
}

TEST_F(SettingsFileTest, LookupRules) {
  const std::string longValue(200, 'v');
  struct Row {
    std::string file;
    std::string expected;  // ReadIniKey(SystemEnv(), "DEFAULT", "OKDIR", "dflt", ...)
  };
  const std::vector<Row> rows = {
      {"[default]\nokdir=X\n", "X"},
      {"[ DEFAULT ]\n\t OkDir \t=  X  Y \t\n", "X  Y"},
      {"[DEFAULT]\nOKDIR=\"  X  \"\n", "  X  "},
      {"[DEFAULT]\nOKDIR='X'\n", "X"},
      {"[DEFAULT]\nOKDIR=\"X'\n", "\"X'"},
      {"[DEFAULT]\nOKDIR=\"\n", "\""},
      {"[DEFAULT]\nOKDIR=\"\"\n", ""},
      {"[DEFAULT]\nOKDIR=\"\"X\"\"\n", "\"X\""},
      {"[DEFAULT]\nOKDIR=\n", ""},
      {"[DEFAULT]\nOKDIR=a=b\n", "a=b"},
      {"[DEFAULT]\r\nOKDIR=X\r\nERRDIR=Y\r\n", "X"},
      {"[DEFAULT]\rOKDIR=X\rERRDIR=Y", "X"},
      {"\xEF\xBB\xBF[DEFAULT]\nOKDIR=X\n", "X"},
      // Text of the code page: UTF-8 on Windows (code page 1252 here).
      {"[DEFAULT]\nOKDIR=\xE9\x80\xFF\n",
       kWindows ? "\xC3\xA9\xE2\x82\xAC\xC3\xBF" : "\xE9\x80\xFF"},
      {"[DEFAULT]\nOKDIR=A\nOKDIR=B\n", "A"},
      {"[DEFAULT]\n;OKDIR=A\n  ; OKDIR=B\nOKDIR=C\n", "C"},
      {"[DEFAULT]\nOKDIR\nOKDIR=X\n", "X"},
      {"[DEFAULT]\nOKDIRX=X\nOK=X\n", "dflt"},
      {"OKDIR=X\n[DEFAULT]\n", "dflt"},
      {"[OTHER]\nOKDIR=X\n", "dflt"},
      {"[OTHER]\nOKDIR=X\n[DEFAULT]\nOKDIR=Y\n", "Y"},
      {"[DEFAULT]\nOKDIR=Y\n[OTHER]\nOKDIR=X\n", "Y"},
      {"[DEFAULT]\nOKDIR=" + longValue + "\n", longValue.substr(0, 127)},
      {"[DEFAULT]\nOKDIR=\"" + longValue + "\"\n", longValue.substr(0, 127)},
      {"", "dflt"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ReadIniKey(SystemEnv(), "DEFAULT", "OKDIR", "dflt", Write(row.file)), row.expected)
        << "file: " << row.file;
  }
}

// Notepad's encodings: "Unicode" (UTF-16, either byte order, with its mark
// or, as other editors save it, without) and UTF-8, with or without its mark,
// all give the value in UTF-8.
TEST_F(SettingsFileTest, UnicodeFilesAreRead) {
  const auto utf16 = [](const std::u16string& text, bool bigEndian, bool mark) {
    std::string bytes = !mark ? "" : bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
      const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
      bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return bytes;
  };
  const std::u16string ini = u"[DEFAULT]\r\nCOM=3\r\nOKDIR=C:\\Cas\u00e9\U0001F600\r\n";
  for (const std::string& file : std::vector<std::string>{
           utf16(ini, false, true), utf16(ini, true, true), utf16(ini, false, false),
           utf16(ini, true, false),
           "\xEF\xBB\xBF[DEFAULT]\nCOM=3\nOKDIR=C:\\Cas\xC3\xA9\xF0\x9F\x98\x80\n",
           "[DEFAULT]\nCOM=3\nOKDIR=C:\\Cas\xC3\xA9\xF0\x9F\x98\x80\n"}) {
    std::string problem;
    const DriverSettings loaded = LoadDriverSettings(SystemEnv(), Write(file), &problem);
    EXPECT_EQ(loaded.COM, "3") << file;
    EXPECT_EQ(loaded.OKDIR, "C:\\Cas\xC3\xA9\xF0\x9F\x98\x80\\") << file;
    EXPECT_EQ(problem, "") << file;
  }
}

// A file that exists but gives nothing is said; a missing one is not.
TEST_F(SettingsFileTest, AFileThatGivesOnlyDefaultsIsSaid) {
  const struct {
    const char* what;
    std::optional<std::string> file;  // nothing: a directory stands there
    std::string problem;              // its start; empty: none
  } rows[] = {
      {"no section", std::string("COM=4\nBONDIR=D:\\\n"), "NU ARE SECTIUNEA [DEFAULT]"},
      {"garbage", std::string("\x89PNG\r\n\x1A\n\x01\x02[DEF"), "NU ARE SECTIUNEA [DEFAULT]"},
      {"other section only", std::string("[Casa]\nCOM=4\n"), "NU ARE SECTIUNEA [DEFAULT]"},
      {"lower-case section", std::string("[default]\nCOM=4\n"), ""},
      {"empty section", std::string("[DEFAULT]\n"), ""},
      {"a directory", std::nullopt, "NU POATE FI CITIT: "},
  };
  for (const auto& row : rows) {
    const std::string path = (dir_ / "OVIX.INI").string();
    fs::remove_all(path);
    if (row.file) {
      Write(*row.file);
    } else {
      fs::create_directory(path);
    }
    std::string problem;
    LoadDriverSettings(SystemEnv(), path, &problem);
    EXPECT_EQ(problem.substr(0, row.problem.size()), row.problem) << row.what;
    EXPECT_EQ(problem.empty(), row.problem.empty()) << row.what << ": " << problem;
  }
  std::string problem;
  LoadDriverSettings(SystemEnv(), (dir_ / "absent" / "OVIX.INI").string(), &problem);
  EXPECT_EQ(problem, "");
}

TEST_F(SettingsFileTest, DefaultPassesThroughTheSameBuffer) {
  const std::string path = (dir_ / "none.ini").string();
  EXPECT_EQ(ReadIniKey(SystemEnv(), "DEFAULT", "OKDIR", "", path), "");
  EXPECT_EQ(ReadIniKey(SystemEnv(), "DEFAULT", "OKDIR", " d  \t", path), " d");
  EXPECT_EQ(ReadIniKey(SystemEnv(), "DEFAULT", "OKDIR", std::string(200, 'd'), path),
            std::string(127, 'd'));
}

TEST(SettingsWidths, RoundHalfToEven) {
  struct Row {
    std::string text;
    int expected;
  };
  const std::vector<Row> rows = {
      {"20", 20}, {"12.5", 12}, {"13.5", 14}, {"12abc", 12}, {"0.4", 0}, {"8.5", 8}, {"9", 9},
  };
  for (const auto& row : rows) {
    DriverSettings settings;
    settings.DESCRIERE = row.text;
    settings.PRET = row.text;
    EXPECT_EQ(DescriptionWidth(settings), row.expected) << row.text;
    EXPECT_EQ(PriceWidth(settings), row.expected) << row.text;
  }
  EXPECT_EQ(DescriptionWidth(DriverSettings{}), 20);
  EXPECT_EQ(PriceWidth(DriverSettings{}), 8);
}

TEST(SettingsSerial, PortNumber) {
  struct Row {
    std::string com;
    std::optional<int> expected;
  };
  const std::vector<Row> rows = {
      {"1", 1},
      {"2.5", 2},
      {"3.5", 4},
      {"abc", 0},
      {"", 0},
      {"-1", -1},
      {"32767", 32767},
      {"-32768", -32768},
      {"-32768.5", -32768},
      {"70000", std::nullopt},
      {"32767.5", std::nullopt},
      {"-32769", std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(SerialPortNumber(row.com), row.expected) << row.com;
}

TEST(SettingsSerial, DeviceName) {
  struct Row {
    std::string com;
    bool isPath;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"1", false, kWindows ? "COM1" : "/dev/ttyS0"},
      {"4", false, kWindows ? "COM4" : "/dev/ttyS3"},
      {"2.5", false, kWindows ? "COM2" : "/dev/ttyS1"},
      {"/dev/pts/3", true, "/dev/pts/3"},
      {"\\\\.\\COM12", true, "\\\\.\\COM12"},
      {"0", false, ""},
      {"-2", false, ""},
      {"70000", false, ""},
      {"", false, ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IsDevicePath(row.com), row.isPath) << row.com;
    EXPECT_EQ(SerialDeviceName(row.com), row.expected) << row.com;
  }
}

}  // namespace
}  // namespace ovix
