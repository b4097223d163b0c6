#include "link/frame_codec.h"

#include <gtest/gtest.h>

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

TEST(LeadingNumber, ReadsSignedDecimalsWhereReceiptFieldsReadPlainDigits) {
  const struct {
    std::string text;
    double leading;
    double field;
  } cases[] = {
      {"12", 12, 12},    {"12.5", 12.5, 12}, {"12abc", 12, 12},     {"abc", 0, 0},
      {"", 0, 0},        {"-3", -3, 0},      {"+7", 7, 0},          {" 1 2 ", 12, 12},
      {"\t4 5", 45, 45}, {"1.2.3", 1.2, 1},  {".5", 0.5, 0},        {"0042", 42, 42},
      {"-1", -1, 0},     {"0-1", 0, 0},      {"-0000450", -450, 0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(LeadingNumber(c.text), c.leading) << c.text;
    EXPECT_DOUBLE_EQ(ReceiptFieldNumber(c.text), c.field) << c.text;
  }
}

TEST(RoundHalfEven, GoesToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(12.4), 12);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
}

TEST(EncodeDigits, KeysWholeNumbers) {
  const struct {
    const char* text;
    const char* plain;
    const char* padded;
  } cases[] = {
      {"105", "01 0A 05", "01 0A 05"},
      {"0042", "04 02", "0A 04 02"},
      {"7", "07", "0A 0A 07"},
      {"000", "0A", "0A"},
      {"0", "0A", "0A"},
      {"", "0A", "0A"},
      {"1234", "01 02 03 04", "01 02 03 04"},
      {"12.5", "01 02 00 05", "01 02 00 05"},
      {"0 5", "00 05", "0A 00 05"},  // a blank ends the dropping of zeros
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(EncodeDigits(c.text, false)), Hex(H(c.plain))) << c.text;
    EXPECT_EQ(Hex(EncodeDigits(c.text, true)), Hex(H(c.padded))) << c.text;
  }
}

TEST(EncodeFraction, DropsTrailingZerosOfThousandths) {
  const std::pair<const char*, const char*> cases[] = {
      {"500", "05"},
      {"250", "02 05"},
      {"100", "01"},
      {"050", "0A 05"},
      {"005", "0A 0A 05"},
      {"105", "01 0A 05"},
      {"25", "02 05"},
      {"000", "0A"},
      {"", "0A"},
      {"0", "0A"},
      // The zero test takes no sign but a first decimal point, and skips blanks.
      {"-50", "0A"},
      {"+5", "0A"},
      {".00", "0A"},
      {"0.5", "0A 00 05"},
      {" 0 0", "0A"},
      {" 5 0", "00 05 00 0A"},
  };
  for (const auto& [text, keys] : cases) EXPECT_EQ(Hex(EncodeFraction(text)), Hex(H(keys))) << text;
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
