#include "spool/digit_keys.h"
#include "os/text.h"

#include <gtest/gtest.h>

#include <string>

#include "link/frame_codec.h"
#include "test_support.h"

namespace ovix {
namespace {

using test::H;
using test::Hex;

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

}  // namespace
}  // namespace ovix
