#include "link/printer_link.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace ovix {
namespace {

using namespace test;

// Feeds wire bytes straight into the receiver, as the port's receive event does.
void Feed(PrinterLink& link, const Bytes& wire) {
  for (unsigned char b : wire) link.OnByte(b);
}

// Keeps the last reply frame the link reports, and the stray bytes.
struct FrameRecorder : LinkObserver {
  Bytes frame;
  Bytes stray;
  void OnTraffic(Traffic traffic, const Bytes& bytes) override {
    if (traffic == Traffic::ReplyReceived) frame = bytes;
    if (traffic == Traffic::StrayReceived) stray += bytes;
  }
  void OnWaitEnd(Exchange, std::chrono::seconds, std::optional<std::uint8_t>) override {}
};

// Ends the job's commands with a failure (JobError() 2), by a command the
// register refuses at once.
void FailJob(LinkRig& rig) {
  const auto answer = std::exchange(
      rig.reg.answer, [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x08)); });
  const nanoseconds delay = std::exchange(rig.reg.replyDelay, 1ms);
  rig.link.StartReceiving();
  rig.link.SendKeys(H("0F"));
  ASSERT_EQ(int(rig.link.JobError()), 2);
  rig.reg.answer = answer;
  rig.reg.replyDelay = delay;
}

TEST(Receiver, IgnoresEverythingBeforeTheFirstQuery) {
  LinkRig rig;
  Feed(rig.link, H("10 02 00 00 00 00 41 00 07 10 03"));
  EXPECT_EQ(rig.reg.acks, 0);
  EXPECT_EQ(rig.link.ReplyHex(), "");
}

TEST(Receiver, CollectsFramesFromNoisyLines) {
  const struct {
    const char* wire;
    const char* frame;  // the reply frame as the link reports it, from its DLE
    const char* hex;
  } cases[] = {
      {"10 02 00 00 00 00 41 00 07 10 03", "10 02 00 00 00 00 41 00 07 10 03", "410007"},
      // Noise before the frame: 06 and 15 ignored, 41 ignored after the DLE.
      {"06 15 10 41 02 00 00 00 00 41 0C 10 03", "10 41 02 00 00 00 00 41 0C 10 03", "410C"},
      // A doubled DLE is one data byte; a lone ETX is data.
      {"10 02 00 00 00 00 10 10 03 05 10 03", "10 02 00 00 00 00 10 10 03 05 10 03", "100305"},
      // DLE then another byte: the byte is data and the DLE still awaits its partner.
      {"10 02 00 00 00 00 41 10 02 03", "10 02 00 00 00 00 41 10 02 03", "4110"},
      {"10 02 00 00 10 03", "10 02 00 00 10 03", ""},
      // Two frames in one burst: the second does not carry the first's data.
      {"10 02 00 00 00 00 53 00 00 10 03 10 02 00 00 00 00 41 0C 00 10 03",
       "10 02 00 00 00 00 41 0C 00 10 03", "410C00"},
  };
  for (const auto& c : cases) {
    LinkRig rig;
    FrameRecorder recorder;
    rig.link.SetObserver(&recorder);
    rig.link.StartReceiving();
    Feed(rig.link, H(c.wire));
    EXPECT_GE(rig.reg.acks, 1) << c.wire;
    EXPECT_EQ(Hex(recorder.frame), Hex(H(c.frame))) << c.wire;
    EXPECT_EQ(rig.link.ReplyHex(), c.hex) << c.wire;
    // The receiver hunts for the next frame with nothing pending.
    const int acks = rig.reg.acks;
    Feed(rig.link, H("10 02 00 00 00 00 53 00 10 03"));
    EXPECT_EQ(rig.reg.acks, acks + 1) << c.wire;
    EXPECT_EQ(rig.link.ReplyHex(), "5300") << c.wire;
  }
}

// A reply cut off right after a DLE (its ETX lost) must not shift the next
// reply: a rejected command would otherwise be read as carried out.
TEST(Receiver, AFrameCutOffAfterADleLeavesNothingPending) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::nullopt; };
  rig.reg.Schedule(H("10 02 00 00 00 00 53 00 00 10"), 1ms);
  rig.link.SendQuery('S');
  ASSERT_EQ(int(rig.link.JobError()), 1);
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x0C)); };
  rig.link.ForgetFailures();
  rig.link.SendQuery('S');
  EXPECT_EQ(int(rig.link.JobError()), 0);
  rig.link.SendKeys("\x2A");
  EXPECT_EQ(rig.link.ReplyHex(), "410C00");
  EXPECT_EQ(int(rig.link.JobError()), 2);
}

TEST(Receiver, DropsAnOverlongFrameAndFindsTheNextOne) {
  LinkRig rig;
  FrameRecorder recorder;
  rig.link.SetObserver(&recorder);
  rig.link.StartReceiving();
  Feed(rig.link, H("10 02") + Bytes(5000, 'x'));
  EXPECT_GE(recorder.stray.size(), PrinterLink::kMaxReplyRaw);
  EXPECT_EQ(rig.reg.acks, 0);
  Feed(rig.link, H("10 02 00 00 00 00 41 00 10 03"));
  EXPECT_EQ(rig.reg.acks, 1);
  EXPECT_EQ(rig.link.ReplyHex(), "4100");
}

TEST(SendQuery, WritesTheQueryUnframedAndLeavesTheReplyUndecoded) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(H("54 0C 12")); };
  FailJob(rig);
  const int acks = rig.reg.acks;
  rig.link.SendQuery('T');
  EXPECT_EQ(Hex(rig.reg.frames.back()), "10 02 00 00 00 00 54 10 03");
  EXPECT_EQ(int(rig.link.JobError()), 0);  // no status test on a query reply
  EXPECT_EQ(rig.link.ReplyHex(), "540C12");
  EXPECT_EQ(rig.reg.acks, acks + 1);
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
    EXPECT_EQ(int(rig.link.JobError()), c.jobError) << int(c.status);
    EXPECT_EQ(rig.link.SecondStatus(), 12) << int(c.status);
    EXPECT_EQ(Hex(rig.reg.frames.back()), "10 02 00 00 00 00 41 0F 10 03");
  }
}

TEST(SendCommand, TreatsAReplyWithoutStatusByteAsFailure) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(H("41")); };
  rig.link.SendQuery('S');
  rig.link.SendKeys(H("0F"));
  EXPECT_EQ(int(rig.link.JobError()), 2);
}

TEST(SendCommand, AfterAFailureStillSendsButNeitherDecodesNorClears) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x0C, 0x12)); };
  rig.link.SendQuery('S');
  rig.link.SendKeys(H("0F"));
  ASSERT_EQ(int(rig.link.JobError()), 2);
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x00, 0x34)); };
  rig.link.SendKeys(H("31"));
  EXPECT_EQ(rig.reg.frames.size(), 3u);
  EXPECT_EQ(int(rig.link.JobError()), 2);
  EXPECT_EQ(rig.link.SecondStatus(), 12);
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
    rig.link.StartReceiving();
    rig.reg.replyDelay = c.replyAfter;
    if (c.replyAfter < 0ns) rig.reg.answer = [](const Bytes&) { return std::nullopt; };
    nanoseconds start = rig.reg.now;
    switch (c.send) {
      case Query:
        rig.link.SendQuery('T');
        break;
      case Command:
        rig.link.SendKeys(H("0F"));
        break;
      case Long:
        FailJob(rig);
        start = rig.reg.now;
        rig.link.SendCommandLong(H("11 45 31"));
        break;
    }
    const nanoseconds limit = c.send == Long ? PrinterLink::kLongLimit : PrinterLink::kShortLimit;
    const nanoseconds took = rig.reg.now - start;
    EXPECT_EQ(int(rig.link.JobError()), c.jobError) << c.send << " " << c.replyAfter.count();
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
  EXPECT_EQ(int(rig.link.JobError()), 0);
  EXPECT_LT(rig.reg.now - start, 10ms);
}

TEST(SendCommand, ALateReplyEndsTheNextWait) {
  LinkRig rig;
  rig.reg.answer = [](const Bytes&) { return std::optional<Bytes>(ReplyData(0x08)); };
  rig.reg.replyDelay = 6s;
  rig.link.SendQuery('S');
  EXPECT_EQ(int(rig.link.JobError()), 1);
  rig.reg.replyDelay = 7s;
  rig.link.ForgetFailures();
  rig.link.SendKeys(H("0F"));  // the query's late reply (status 08) arrives in this wait
  EXPECT_EQ(int(rig.link.JobError()), 2);
}

}  // namespace
}  // namespace ovix
