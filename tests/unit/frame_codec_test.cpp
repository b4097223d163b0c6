#include "link/frame_codec.h"

#include <gtest/gtest.h>

#include "os/text.h"
#include "test_support.h"

namespace ovix {
namespace {

using test::H;
using test::Hex;

TEST(FrameCommand, DoublesDleInTheBodyOnly) {
  const struct {
    const char* composed;
    const char* wire;
  } cases[] = {
      {"10 02 00 00 00 00 41 10 31 10 03", "10 02 00 00 00 00 41 10 10 31 10 03"},
      {"10 02 00 00 00 00 41 0F 10 03", "10 02 00 00 00 00 41 0F 10 03"},
      {"10 02 00 00 00 00 41 10 10 10 03", "10 02 00 00 00 00 41 10 10 10 10 10 03"},
      {"10 02 00 00 00 00 41 03 02 06 10 03", "10 02 00 00 00 00 41 03 02 06 10 03"},
      {"10 02 00 00 00 00 10 03", "10 02 00 00 00 00 10 03"},
      // The tail is replaced, whatever its bytes were.
      {"10 02 00 00 00 00 41 FF 00", "10 02 00 00 00 00 41 10 03"},
  };
  for (const auto& c : cases) {
    Bytes text = H(c.composed);
    FrameCommand(text);
    EXPECT_EQ(Hex(text), Hex(H(c.wire))) << c.composed;
  }
}

TEST(FrameCommand, PassesEveryByteValue) {
  Bytes body;
  for (int b = 0; b < 256; ++b) body += static_cast<char>(b);
  Bytes text = MakeFrameHead() + body + MakeFrameTail();
  FrameCommand(text);
  EXPECT_EQ(test::BodyOf(text), body);
  EXPECT_EQ(text.size(), 6 + 256 + 1 + 2u);
}

TEST(HexPairsToBytes, ReadsPairsAndCountsOtherCharactersAsZero) {
  const std::pair<const char*, const char*> cases[] = {
      {"0C", "0C"}, {"5A", "5A"}, {"FF", "FF"}, {"4", "40"},
      {"", ""},     {"G1", "01"}, {"a1", "01"}, {"0102FF", "01 02 FF"},
  };
  for (const auto& [text, bytes] : cases)
    EXPECT_EQ(Hex(HexPairsToBytes(text)), Hex(H(bytes))) << text;
}

TEST(DecimalReading, ReadsPackedDecimal) {
  const std::pair<const char*, double> cases[] = {
      {"12", 12}, {"09", 9}, {"1A", 1}, {"A1", 0}, {"", 0}, {"7", 7}, {"99", 99},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(DecimalReading(text), value) << text;
}

TEST(RoundHalfEven, GoesToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(12.4), 12);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
}

TEST(ReplyHexOf, RendersReplyDataInUppercasePairs) {
  EXPECT_EQ(ReplyHexOf(H("00 00 00 00 00 2C 15 FF 10 03")), "002C15FF");
  EXPECT_EQ(ReplyHexOf(H("00 00 00 00 05 0A 00 FF 10 03")), "050A00FF");
  EXPECT_EQ(ReplyHexOf(H("00 00 00 00 41 10 03")), "41");
  EXPECT_EQ(ReplyHexOf(H("00 00 00 00 10 03")), "");
  EXPECT_EQ(ReplyHexOf(H("")), "");
}

}  // namespace
}  // namespace ovix
