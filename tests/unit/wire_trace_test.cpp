#include "shell/wire_trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "link/printer_link.h"
#include "regsim/replay.h"
#include "test_support.h"

namespace ovix {
namespace {

using namespace test;

// What the link reports, as the wire trace writes it and as the simulator's
// replay reads it back: each command with what the register sent before the
// wait ended.
TEST(WireTrace, RecordsEachExchangeForTheReplay) {
  const struct {
    char send;                        // 'T' a query, 'A' the command "A" 10, 'L' a long command
    const char* wire;                 // what the register sends back; nullptr: nothing
    bool answered;                    // the replay answers with all of `wire`, else with nothing
    std::vector<std::string> events;  // the trace lines without their time stamp
  } cases[] = {
      {'T',
       "10 02 00 00 00 00 54 00 10 03",
       true,
       {"TX 10 02 00 00 00 00 54 10 03", "RX 10 02 00 00 00 00 54 00 10 03", "ACK",
        "WAIT REPLY 5s"}},
      {'A',
       "06 15 10 02 00 00 00 00 41 08 10 10 10 03",
       true,
       {"TX 10 02 00 00 00 00 41 10 10 10 03", "STRAY 06 15",
        "RX 10 02 00 00 00 00 41 08 10 10 10 03", "ACK", "WAIT REFUSED 5s 08"}},
      {'A',
       "10 02 00 00 00 00 41 10 03",
       true,
       {"TX 10 02 00 00 00 00 41 10 10 10 03", "RX 10 02 00 00 00 00 41 10 03", "ACK",
        "WAIT REFUSED 5s"}},
      {'A', nullptr, false, {"TX 10 02 00 00 00 00 41 10 10 10 03", "WAIT NOREPLY 5s"}},
      {'L',
       "10 02 00 00 00 00 41 10",
       false,
       {"TX 10 02 00 00 00 00 41 11 45 31 10 03", "WAIT NOREPLY 9s"}},
      // A query starts the receiver afresh: the frame cut off before it is stray.
      {'T',
       nullptr,
       false,
       {"STRAY 10 02 00 00 00 00 41 10", "TX 10 02 00 00 00 00 54 10 03", "WAIT NOREPLY 5s"}},
  };
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("ovix_trace_" + std::to_string(std::random_device{}()));
  std::tm start{};
  start.tm_year = 125;
  start.tm_mday = 2;
  start.tm_hour = 3;
  start.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&start)) + 678ms;
  std::string expected;
  {
    LinkRig rig;
    rig.link.StartReceiving();
    const EventLog log(SystemEnv(), path.string() + ".log");
    WireTrace trace(SystemEnv(), path.string(), log, [&] { return when; });
    rig.link.SetObserver(&trace);
    rig.reg.answer = [](const Bytes&) { return std::nullopt; };
    for (const auto& c : cases) {
      if (c.wire) rig.reg.Schedule(H(c.wire), 1ms);
      rig.link.ForgetFailures();
      if (c.send == 'T') rig.link.SendQuery('T');
      if (c.send == 'A') rig.link.SendKeys(H("10"));
      if (c.send == 'L') rig.link.SendCommandLong(H("11 45 31"));
      for (const std::string& event : c.events)
        expected += "2025-01-02 03:00:00.678 " + event + "\r\n";
    }
  }
  std::ifstream in(path, std::ios::binary);
  const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();
  std::filesystem::remove(path);
  EXPECT_EQ(written, expected);

  std::istringstream text(written);
  regsim::Replay replay;
  ASSERT_EQ(replay.Load(text), "");
  ASSERT_EQ(replay.exchanges().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const regsim::Replay::Exchange& exchange = replay.exchanges()[i];
    const auto tx = std::ranges::find_if(cases[i].events,
                                         [](const std::string& e) { return e.starts_with("TX "); });
    EXPECT_EQ("TX " + Hex(Bytes(exchange.command.begin(), exchange.command.end())), *tx);
    EXPECT_EQ(Hex(Bytes(exchange.answer.begin(), exchange.answer.end())),
              cases[i].answered ? Hex(H(cases[i].wire)) : "")
        << i;
  }
}

// The start of the trace by the settings: off, on, on over an oversized file
// or one whose last line a crash left open, and in a directory that is missing.
TEST(WireTrace, StartsAsTheSettingsSay) {
  const std::string oversized(kTraceSizeLimit, 'x');
  const std::string started = "-> TRASARE COMUNICATIE PORNITA: {dir}TRACE.OVX\r\n";
  const struct {
    bool on;
    const char* dir;           // the spool directory under the test's directory
    const char* content;       // of TRACE.OVX before the start; nullptr: none
    std::string log;           // the log's start: {path} the trace's path, {dir} BONDIR
    const char* contentAfter;  // nullptr: no trace file, and no trace
  } cases[] = {
      {false, "", nullptr, "", nullptr},
      {true, "", nullptr, started, ""},
      {true, "", oversized.c_str(), started, ""},
      {true, "", "x STRAY 06", started, "x STRAY 06\r\n"},
      {true, "missing", nullptr,
       "-> EROARE !! TRASAREA COMUNICATIEI {path} NU POATE FI SCRISA: ", nullptr},
  };
  for (const auto& c : cases) {
    const std::filesystem::path root = std::filesystem::temp_directory_path() /
                                       ("ovix_trace_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(root);
    const std::filesystem::path file = root / c.dir / "TRACE.OVX";
    if (c.content) std::ofstream(file, std::ios::binary) << c.content;
    DriverSettings settings;
    settings.TRACE = c.on;
    settings.BONDIR = (root / c.dir / "").string();
    const EventLog log(SystemEnv(), (root / "LOG.OVX").string());

    EXPECT_EQ(StartWireTrace(SystemEnv(), settings, log) != nullptr, c.contentAfter != nullptr)
        << c.dir;
    std::string expectedLog = c.log;
    if (const auto at = expectedLog.find("{path}"); at != std::string::npos) {
      expectedLog.replace(at, 6, WireTracePath(settings));
    }
    if (const auto at = expectedLog.find("{dir}"); at != std::string::npos) {
      expectedLog.replace(at, 5, settings.BONDIR);
    }
    std::ifstream logFile(root / "LOG.OVX", std::ios::binary);
    const std::string logText{std::istreambuf_iterator<char>(logFile), {}};
    EXPECT_TRUE(logText.starts_with(expectedLog)) << logText;
    EXPECT_EQ(std::ranges::count(logText, '\n'), c.log.empty() ? 0 : 1) << logText;
    std::ifstream traceFile(file, std::ios::binary);
    EXPECT_EQ(traceFile.is_open(), c.contentAfter != nullptr);
    if (c.contentAfter) {
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(traceFile), {}), c.contentAfter);
    }
    traceFile.close();
    logFile.close();
    // A full trace is kept as the old one.
    std::ifstream oldFile(root / c.dir / kOldTraceFileName, std::ios::binary);
    EXPECT_EQ(oldFile.is_open(), c.content == oversized.c_str());
    if (oldFile) {
      EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(oldFile), {}) == oversized);
    }
    oldFile.close();
    std::filesystem::remove_all(root);
  }
}

// A run of stray bytes is one line, written when another event comes, when it
// is full and when the trace ends, and the replay reads it whole; a trace
// about to pass its size limit moves to the old file, so the two files keep
// the latest lines, and one that starts full does so at once.
TEST(WireTrace, WritesAStrayRunAsOneLineAndCapsItsSize) {
  using Traffic = LinkObserver::Traffic;
  const auto when = std::chrono::system_clock::from_time_t(0);
  const std::string stamp = TraceTime(when) + " ";
  const std::string ack = stamp + "ACK\r\n";
  const Bytes run300(300, '\x15');
  std::string full, rest;  // STRAY lines of 256 and of 44 bytes 15
  for (int i = 0; i < 256; ++i) full += " 15";
  for (int i = 0; i < 44; ++i) rest += " 15";
  const struct {
    const char* before;    // TRACE.OVX before the start; nullptr: none
    std::uintmax_t limit;  // in ACK lines
    const char* events;    // A an ACK, T the TX "10 03", 1 the stray byte 06, R 300 bytes 15
    std::string current;   // TRACE.OVX after the end
    std::string old;       // the old file after the end; "-": none
  } cases[] = {
      {nullptr, 100, "1T", stamp + "STRAY 06\r\n" + stamp + "TX 10 03\r\n", "-"},
      {nullptr, 100, "11A11", stamp + "STRAY 06 06\r\n" + ack + stamp + "STRAY 06 06\r\n", "-"},
      {nullptr, 100, "TR",
       stamp + "TX 10 03\r\n" + stamp + "STRAY" + full + "\r\n" + stamp + "STRAY" + rest + "\r\n",
       "-"},
      {nullptr, 3, "AAAA", ack, ack + ack + ack},
      {nullptr, 3, "AAAAAAA", ack, ack + ack + ack},
      {"x\r\n", 3, "AAA", ack, "x\r\n" + ack + ack},
      {"0123456789012345678901234567\r\n", 1, "A", ack, "0123456789012345678901234567\r\n"},
  };
  for (const auto& c : cases) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("ovix_trace_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path path = dir / "TRACE.OVX";
    if (c.before) std::ofstream(path, std::ios::binary) << c.before;
    {
      const EventLog log(SystemEnv(), (dir / "LOG.OVX").string());
      WireTrace trace(
          SystemEnv(), path.string(), log, [&] { return when; }, c.limit * ack.size());
      for (const char* e = c.events; *e; ++e) {
        if (*e == 'A') trace.OnTraffic(Traffic::AckSent, {});
        if (*e == 'T') trace.OnTraffic(Traffic::CommandSent, H("10 03"));
        if (*e == '1') trace.OnTraffic(Traffic::StrayReceived, H("06"));
        if (*e == 'R') trace.OnTraffic(Traffic::StrayReceived, run300);
      }
    }
    const auto read = [](const std::filesystem::path& file) {
      std::ifstream in(file, std::ios::binary);
      return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("-");
    };
    EXPECT_EQ(read(path), c.current) << c.events;
    EXPECT_EQ(read(dir / kOldTraceFileName), c.old) << c.events;
    EXPECT_FALSE(std::filesystem::exists(dir / "LOG.OVX")) << c.events;
    if (std::string(c.events) == "TR") {
      std::istringstream text(c.current + stamp + "WAIT NOREPLY 5s\r\n");
      regsim::Replay replay;
      ASSERT_EQ(replay.Load(text), "");
      ASSERT_EQ(replay.exchanges().size(), 1u);
      EXPECT_EQ(replay.exchanges()[0].answer.size(), 300u);
    }
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
}  // namespace ovix
