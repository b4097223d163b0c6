// What the core does differently on Windows: the settings' Windows forms, the
// regional timestamp, moves over existing files and a spool whose directories
// are written the Windows way. Built only into the Windows test program.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <ctime>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "os/os.h"
#include "shell/event_log.h"
#include "shell/settings.h"
#include "spool/journal.h"
#include "spool/spool_files.h"
#include "spool/spool_scheduler.h"
#include "test_support.h"
#include "win32/command_line.h"
#include "win32/win32_spool_watch.h"

namespace ovix {
namespace {

namespace fs = std::filesystem;

class WindowsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("ovix_windows_" + std::to_string(random()));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  static void Put(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The directory as an operator writes it in OVIX.INI: backslashes throughout.
  std::string Setting(const std::string& sub = "") const {
    std::string text = (sub.empty() ? root_ : root_ / sub).string() + "\\";
    std::ranges::replace(text, '/', '\\');
    return text;
  }

  fs::path root_;
};

TEST(WindowsSettings, NamesAndPaths) {
  EXPECT_EQ(ProgramIniPath("C:\\Program Files\\OVIX"), "C:\\Program Files\\OVIX\\OVIX.INI");
  EXPECT_EQ(SerialDeviceName("3"), "COM3");
  EXPECT_EQ(SerialDeviceName("\\\\.\\COM12"), "\\\\.\\COM12");
  EXPECT_EQ(NativeDirectory("C:\\OVIX\\BONOK\\"), "C:\\OVIX\\BONOK\\");
}

TEST(WindowsEventLog, TimestampUsesTheRegionalFormats) {
  const std::time_t when = 1'700'000'000;
  std::tm local{};
  localtime_s(&local, &when);
  const std::string stamp = LocalTimestamp(when);
  const std::size_t dash = stamp.find(" - ");
  ASSERT_NE(dash, std::string::npos) << stamp;
  const std::string date = stamp.substr(0, dash);
  const std::string time = stamp.substr(dash + 3);
  EXPECT_NE(date.find(std::to_string(local.tm_mday)), std::string::npos) << stamp;
  const std::string minutes = (local.tm_min < 10 ? "0" : "") + std::to_string(local.tm_min);
  EXPECT_NE(time.find(minutes), std::string::npos) << stamp;
}

TEST_F(WindowsFiles, MovesAndWritesReplaceExistingFiles) {
  Put(root_ / "a.txt", "new");
  fs::create_directories(root_ / "ok");
  Put(root_ / "ok" / "a.txt", "old");
  std::string error;
  ASSERT_TRUE(
      MoveIntoDirectory(SystemEnv(), (root_ / "a.txt").string(), Setting("ok"), "a.txt", &error))
      << error;
  EXPECT_EQ(Read(root_ / "ok" / "a.txt"), "new");
  EXPECT_FALSE(fs::exists(root_ / "a.txt"));

  ASSERT_TRUE(WriteFileDurably(SystemEnv(), (root_ / "ok" / "a.txt").string(), "newer", &error))
      << error;
  EXPECT_EQ(Read(root_ / "ok" / "a.txt"), "newer");
  EXPECT_FALSE(fs::exists(root_ / "ok" / "a.txt.tmp"));
}

// A file is known to be written while any handle with write access is open
// on it, whatever that handle shares; a reader does not count.
TEST_F(WindowsFiles, ToldWhileAWriterHoldsTheFile) {
  const struct {
    DWORD access;
    DWORD share;
    WriterCheck held;
  } cases[] = {
      {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, WriterCheck::Writing},
      {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, WriterCheck::Writing},
      {GENERIC_READ, FILE_SHARE_READ, WriterCheck::NoWriter},
  };
  const std::string path = (root_ / "a.txt").string();
  Put(path, "x");
  for (const auto& c : cases) {
    const HANDLE held = CreateFileA(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SystemEnv().CheckForWriter(path), c.held);
    CloseHandle(held);
    EXPECT_EQ(SystemEnv().CheckForWriter(path), WriterCheck::NoWriter);
  }
  EXPECT_EQ(SystemEnv().CheckForWriter(root_ / "gone.txt"), WriterCheck::Unknown);
}

TEST_F(WindowsFiles, AFailedMoveSaysWhy) {
  Put(root_ / "a.txt", "x");
  Put(root_ / "ok", "a file where the directory should be");
  std::string error;
  EXPECT_FALSE(
      MoveIntoDirectory(SystemEnv(), (root_ / "a.txt").string(), Setting("ok"), "a.txt", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(error.find("nknown"), std::string::npos) << error;
  EXPECT_TRUE(fs::exists(root_ / "a.txt"));
}

class QuietHost : public DriverHost {
 public:
  void SetTrayIcon(TrayPicture) override {}
  void SetTimerEnabled(bool) override {}
  bool AskContinueWithoutRegister() override { return true; }
  bool AskReceiptComplete(const std::string&) override { return true; }
  void ShowPrintErrorDialog(const std::string&) override {}
  void EndProgramNow() override {}
  void UnloadMain() override {}
};

// A spool set up as on a till: backslash directories whose names, like the
// receipts', hold letters that no ANSI code page has (U+0218, U+0219, U+021B),
// a hidden file left alone, and a log too big, started anew. The journal
// keeps the exact names; the log spells them as the code page can.
TEST_F(WindowsFiles, EveryNamePrintsAndIsFiled) {
  const std::string base = TextFromPath(root_).value() + "\\";
  DriverSettings settings;
  settings.BONDIR = base + "CASA \xC8\x98TEFAN\\";
  settings.OKDIR = base + "ok \xC8\x99\\";
  settings.ERRDIR = base + "err\\";
  const fs::path spool = root_ / L"CASA \u0218TEFAN";
  fs::create_directories(spool);
  const std::vector<std::wstring> names = {L"bon1.txt", L"BON \u0103.TXT",
                                           L"BON \u0103\u00ee\u0219\u021b.TXT", L"caf\u00e9.txt",
                                           L"bon\u4e2d.txt"};
  for (const std::wstring& name : names) Put(spool / name, "<\r\n");
  Put(spool / "hidden.txt", "<\r\n");
  ASSERT_TRUE(SetFileAttributesW((spool / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  Put(spool / "LOG.OVX", std::string(kLogSizeLimit + 1, 'x'));

  test::LinkRig rig;
  const EventLog log(SystemEnv(), settings.BONDIR + std::string(kLogFileName));
  log.RotateAtStartup();
  QuietHost host;
  SpoolScheduler receipts(SystemEnv(), settings, rig.link, log, host, rig.reg,
                          [] { return std::string("T"); });
  for (std::size_t i = 0; i < 4 * names.size(); ++i) receipts.Tick();

  const std::string logText = Read(spool / "LOG.OVX");
  for (const std::wstring& name : names) {
    EXPECT_TRUE(fs::exists(root_ / L"ok \u0219" / name)) << fs::path(name).string();
    const std::string text = TextFromPath(fs::path(name)).value();
    EXPECT_NE(
        logText.find("-> Inceput tiparire: " + NarrowFromUtf8(settings.BONDIR + text) + "\r\n"),
        std::string::npos)
        << logText;
  }
  EXPECT_TRUE(fs::exists(spool / "hidden.txt"));
  EXPECT_FALSE(fs::exists(spool / kJournalFileName));
  EXPECT_EQ(logText.find("NU POATE FI CITIT"), std::string::npos) << logText;
}

// The log's narrow text: characters the code page has become its bytes, the
// others a look-alike or '?', and bytes that are no UTF-8 (receipt text of the
// code page) pass as they are; text from the code page comes back as UTF-8,
// and so do names in a journal of an older driver.
TEST(WindowsText, LogTextKeepsWhatTheCodePageSpells) {
  if (GetACP() != 1252) GTEST_SKIP() << "written for the Western European code page 1252";
  EXPECT_EQ(NarrowFromUtf8("caf\xC3\xA9 \xE9 x"), "caf\xE9 \xE9 x");
  EXPECT_EQ(NarrowFromUtf8("\xC8\x99").size(), 1u);
  EXPECT_EQ(Utf8FromNarrow("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(Utf8FromNarrow("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(ParseJournalLine("PRINTED - caf\xE9.txt")->name, "caf\xC3\xA9.txt");
  EXPECT_EQ(SystemReason(std::error_code(ERROR_ACCESS_DENIED, std::system_category())),
            "acces refuzat (cod 5)");
  EXPECT_EQ(SystemReason(std::error_code(ERROR_DISK_FULL, std::system_category())),
            "disc plin (cod 112)");
}

// The spool watch takes a directory on a local volume, and FollowsPath says
// whether its path still names the watched directory. (A removed directory is
// left out: the watch's own handle keeps it, pending deletion, until the
// watch fails and stops.)
TEST_F(WindowsFiles, SpoolWatchFollowsItsPath) {
  const struct {
    const char* name;
    void (*change)(const fs::path& root);
    bool follows;
  } cases[] = {
      {"unchanged", [](const fs::path&) {}, true},
      {"renamed away, new one made",
       [](const fs::path& root) {
         fs::rename(root / "spool", root / "old");
         fs::create_directory(root / "spool");
       },
       false},
  };
  for (const auto& c : cases) {
    fs::remove_all(root_ / "spool");
    fs::remove_all(root_ / "old");
    fs::create_directory(root_ / "spool");
    Win32SpoolWatch watch(nullptr);
    std::string reason;
    ASSERT_TRUE(watch.Start(Setting("spool"), &reason)) << c.name << ": " << reason;
    c.change(root_);
    EXPECT_EQ(watch.FollowsPath(), c.follows) << c.name;
    watch.Stop();
    EXPECT_FALSE(watch.FollowsPath()) << c.name;
  }
}

TEST_F(WindowsFiles, SpoolWatchRefusesWhatItCannotOpen) {
  Win32SpoolWatch watch(nullptr);
  std::string reason;
  EXPECT_FALSE(watch.Start(Setting("missing"), &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_FALSE(watch.FollowsPath());
}

// `--stop` finds a driver's directory whatever its spelling: a short name,
// another case, a trailing separator, "." and ".." steps.
TEST_F(WindowsFiles, OneDirectoryInEverySpelling) {
  const fs::path dir = root_ / "Dosar De Program Lung";
  fs::create_directories(dir);
  fs::create_directories(root_ / "Alt Dosar");
  std::wstring shortName(MAX_PATH, L'\0');
  shortName.resize(GetShortPathNameW(dir.c_str(), shortName.data(), MAX_PATH));
  std::wstring upper = dir.wstring();
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  const struct {
    std::wstring spelling;
    bool same;
  } cases[] = {
      {dir.wstring(), true},
      {shortName, true},
      {upper + L"\\", true},
      {shortName + L"\\", true},
      {dir.wstring() + L"\\.\\..\\Dosar De Program Lung\\\\", true},
      {(root_ / "Alt Dosar").wstring(), false},
      {root_.wstring(), false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SameDirectory(dir.wstring(), c.spelling), c.same) << fs::path(c.spelling).string();
  EXPECT_NE(shortName, dir.wstring());
}

}  // namespace
}  // namespace ovix
