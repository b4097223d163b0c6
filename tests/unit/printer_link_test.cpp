#include "link/printer_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "regsim/replay.h"
#include "shell/wire_trace.h"
#include "test_support.h"

namespace ovix {
namespace {

using namespace test;

// Feeds wire bytes straight into the receiver, as the port's receive event does.
void Feed(PrinterLink& link, const Bytes& wire) {
  for (unsigned char b : wire) link.OnByte(b);
}

TEST(Receiver, IgnoresEverythingBeforeTheFirstQuery) {
  LinkRig rig;
  Feed(rig.link, H("10 02 00 00 00 00 41 00 07 10 03"));
  EXPECT_EQ(rig.reg.acks, 0);
  EXPECT_EQ(rig.link.ReplyComplete, 0);
  EXPECT_EQ(rig.link.ReplyHex, "");
}

TEST(Receiver, CollectsFramesFromNoisyLines) {
  const struct {
    const char* wire;
    const char* raw;  // ReplyRaw after the frame; ReplyHex follows from it
    const char* hex;
  } cases[] = {
      {"10 02 00 00 00 00 41 00 07 10 03", "00 00 00 00 41 00 07 10 03", "410007"},
      // Noise before the frame: 06 and 15 ignored, 41 ignored after the DLE.
      {"06 15 10 41 02 00 00 00 00 41 0C 10 03", "00 00 00 00 41 0C 10 03", "410C"},
      // A doubled DLE is one data byte; a lone ETX is data.
      {"10 02 00 00 00 00 10 10 03 05 10 03", "00 00 00 00 10 03 05 10 03", "100305"},
      // DLE then another byte: the byte is data and the DLE still awaits its partner.
      {"10 02 00 00 00 00 41 10 02 03", "00 00 00 00 41 10 02 03", "4110"},
      {"10 02 00 00 10 03", "00 00 10 03", ""},
      // Two frames in one burst: the second does not carry the first's data.
      {"10 02 00 00 00 00 53 00 00 10 03 10 02 00 00 00 00 41 0C 00 10 03",
       "00 00 00 00 41 0C 00 10 03", "410C00"},
  };
  for (const auto& c : cases) {
    LinkRig rig;
    rig.link.ReceiveState = PrinterLink::kHuntDle;
    Feed(rig.link, H(c.wire));
    EXPECT_GE(rig.reg.acks, 1) << c.wire;
    EXPECT_EQ(rig.link.ReplyComplete, 1) << c.wire;
    EXPECT_EQ(Hex(rig.link.ReplyRaw), Hex(H(c.raw))) << c.wire;
    EXPECT_EQ(rig.link.ReplyHex, c.hex) << c.wire;
    EXPECT_EQ(rig.link.ReceiveState, PrinterLink::kHuntDle);
    EXPECT_EQ(rig.link.DlePending, 0);
  }
}

// A reply cut off right after a DLE (its ETX lost) must not shift the next
// reply: a rejected command would otherwise be read as carried out.
TEST(Receiver, AFrameCutOffAfterADleLeavesNothingPending) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::nullopt; };
  rig.reg.Schedule(H("10 02 00 00 00 00 53 00 00 10"), 1ms);
  rig.link.SendQuery('S');
  ASSERT_EQ(int(rig.link.JobError), 1);
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x0C)); };
  rig.link.JobError = PrinterStatus{0};
  rig.link.SendQuery('S');
  EXPECT_EQ(int(rig.link.JobError), 0);
  rig.link.SendKeys("\x2A");
  EXPECT_EQ(rig.link.ReplyHex, "410C00");
  EXPECT_EQ(int(rig.link.JobError), 2);
}

TEST(Receiver, DropsAnOverlongFrameAndFindsTheNextOne) {
  LinkRig rig;
  rig.link.ReceiveState = PrinterLink::kHuntDle;
  Feed(rig.link, H("10 02") + Bytes(5000, 'x'));
  EXPECT_LE(rig.link.ReplyRaw.size(), PrinterLink::kMaxReplyRaw);
  EXPECT_EQ(rig.reg.acks, 0);
  Feed(rig.link, H("10 02 00 00 00 00 41 00 10 03"));
  EXPECT_EQ(rig.reg.acks, 1);
  EXPECT_EQ(rig.link.ReplyHex, "4100");
}

TEST(SendQuery, WritesTheQueryUnframedAndLeavesTheReplyUndecoded) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(H("54 0C 12")); };
  rig.link.JobError = PrinterStatus{2};
  rig.link.SendQuery('T');
  EXPECT_EQ(Hex(rig.reg.frames.at(0)), "10 02 00 00 00 00 54 10 03");
  EXPECT_EQ(int(rig.link.JobError), 0);  // no status test on a query reply
  EXPECT_EQ(rig.link.ReplyHex, "540C12");
  EXPECT_EQ(rig.reg.acks, 1);
}

TEST(SendCommand, DecidesJobErrorFromTheStatusByte) {
  const struct {
    unsigned char status;
    int jobError;
  } cases[] = {{0x00, 0}, {0x03, 0}, {0x10, 0}, {0xF3, 0}, {0x04, 2},
               {0x08, 2}, {0x0C, 2}, {0x0A, 2}, {0xFF, 2}};
  for (const auto& c : cases) {
    LinkRig rig;
    rig.reg.answer = [&](const Bytes&) { return std::optional<Bytes>(ReplyData(c.status, 0x12)); };
    rig.link.SendQuery('S');
    rig.link.SendKeys(H("0F"));
    EXPECT_EQ(int(rig.link.JobError), c.jobError) << int(c.status);
    EXPECT_EQ(rig.link.SecondStatus, 12) << int(c.status);
    EXPECT_EQ(Hex(rig.reg.frames.back()), "10 02 00 00 00 00 41 0F 10 03");
  }
}

TEST(SendCommand, TreatsAReplyWithoutStatusByteAsFailure) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(H("41")); };
  rig.link.SendQuery('S');
  rig.link.SendKeys(H("0F"));
  EXPECT_EQ(int(rig.link.JobError), 2);
}

TEST(SendCommand, AfterAFailureStillSendsButNeitherDecodesNorClears) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x0C, 0x12)); };
  rig.link.SendQuery('S');
  rig.link.SendKeys(H("0F"));
  ASSERT_EQ(int(rig.link.JobError), 2);
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x00, 0x34)); };
  rig.link.SendKeys(H("31"));
  EXPECT_EQ(rig.reg.frames.size(), 3u);
  EXPECT_EQ(int(rig.link.JobError), 2);
  EXPECT_EQ(rig.link.SecondStatus, 12);
}

// A silent register, or one answering only after the limit: the wait ends
// after more than the limit, and exactly the limit is not yet a time-out.
TEST(Waits, EndAfterTheirLimitOnAMonotonicClock) {
  enum Send { Query, Command, Long };
  const struct {
    Send send;
    nanoseconds replyAfter;  // negative: never
    int jobError;
    bool timedOut;
  } cases[] = {
      {Query, -1ns, 1, true},   {Query, 5s, 0, false},   {Query, 5s + 1ns, 1, true},
      {Command, -1ns, 2, true}, {Command, 5s, 0, false}, {Command, 5s + 1ns, 2, true},
      {Long, -1ns, 0, true},    {Long, 9s, 0, false},    {Long, 9s + 1ns, 0, true},
  };
  for (const auto& c : cases) {
    LinkRig rig;
    rig.link.ReceiveState = PrinterLink::kHuntDle;
    rig.reg.replyDelay = c.replyAfter;
    if (c.replyAfter < 0ns) rig.reg.answer = [](const Bytes&) { return std::nullopt; };
    const nanoseconds start = rig.reg.now;
    switch (c.send) {
      case Query:
        rig.link.SendQuery('T');
        break;
      case Command:
        rig.link.SendKeys(H("0F"));
        break;
      case Long:
        rig.link.JobError = PrinterStatus{2};
        rig.link.SendKeysLong(H("11 45 31"));
        break;
    }
    const nanoseconds limit = c.send == Long ? PrinterLink::kLongLimit : PrinterLink::kShortLimit;
    const nanoseconds took = rig.reg.now - start;
    EXPECT_EQ(int(rig.link.JobError), c.jobError) << c.send << " " << c.replyAfter.count();
    if (c.timedOut) {
      EXPECT_GT(took, limit);
      EXPECT_LT(took, limit + 10ms);
    } else {
      EXPECT_EQ(took, c.replyAfter);
    }
  }
}

TEST(Waits, ReleaseEndsAWaitAtOnce) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::nullopt; };
  rig.reg.duringWait = [&] { rig.link.ReleaseWait(); };
  const nanoseconds start = rig.reg.now;
  rig.link.SendQuery('T');
  EXPECT_EQ(int(rig.link.JobError), 0);
  EXPECT_LT(rig.reg.now - start, 10ms);
}

TEST(SendCommand, ALateReplyEndsTheNextWait) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x08)); };
  rig.reg.replyDelay = 6s;
  rig.link.SendQuery('S');
  EXPECT_EQ(int(rig.link.JobError), 1);
  rig.reg.replyDelay = 7s;
  rig.link.JobError = PrinterStatus{0};
  rig.link.SendKeys(H("0F"));  // the query's late reply (status 08) arrives in this wait
  EXPECT_EQ(int(rig.link.JobError), 2);
}

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
    const EventLog log(path.string() + ".log");
    WireTrace trace(path.string(), log, [&] { return when; });
    rig.link.SetObserver(&trace);
    rig.reg.answer = [](const Bytes&) { return std::nullopt; };
    for (const auto& c : cases) {
      if (c.wire) rig.reg.Schedule(H(c.wire), 1ms);
      rig.link.ForgetFailures();
      if (c.send == 'T') rig.link.SendQuery('T');
      if (c.send == 'A') rig.link.SendKeys(H("10"));
      if (c.send == 'L') rig.link.SendKeysLong(H("11 45 31"));
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
    const EventLog log((root / "LOG.OVX").string());

    EXPECT_EQ(StartWireTrace(settings, log) != nullptr, c.contentAfter != nullptr) << c.dir;
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
      const EventLog log((dir / "LOG.OVX").string());
      WireTrace trace(
          path.string(), log, [&] { return when; }, c.limit * ack.size());
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
