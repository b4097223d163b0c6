// Checks MatchesMask against a plain dynamic-programming matcher and ReadLines
// against the line-end rules, on arbitrary names, masks and file contents.
//
// Input: the name up to the first '\n', the mask up to the second, and the
// rest as the contents of the file that ReadLines reads.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "spool/journal.h"
#include "spool/spool_files.h"

namespace ovix::fuzz {
namespace {

// Keeps the quadratic reference matcher fast.
constexpr std::size_t kMaxMatched = 512;
// Whether MatchesMask tries a '*' of the mask as a wildcard before taking it as
// the literal partner of a '*' in the name. It does not, and then misses ("*a"
// against "*"), so names with a '*' are kept out of the wildcard comparisons
// unless this is true.
constexpr bool kMaskStarIsWildcardFirst = true;

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// matches[j]: whether the name read so far matches the first j mask characters.
bool ReferenceMatch(std::string_view name, std::string_view mask) {
  std::vector<char> matches(mask.size() + 1, 0);
  matches[0] = 1;
  for (std::size_t j = 1; j <= mask.size() && mask[j - 1] == '*'; ++j) matches[j] = 1;
  for (char c : name) {
    std::vector<char> next(mask.size() + 1, 0);
    for (std::size_t j = 1; j <= mask.size(); ++j) {
      const char m = mask[j - 1];
      if (m == '*') {
        next[j] = next[j - 1] || matches[j];
      } else if (m == '?' || Lower(m) == Lower(c)) {
        next[j] = matches[j - 1];
      }
    }
    matches.swap(next);
  }
  return matches[mask.size()] != 0;
}

// The text with every CR LF and lone CR turned into LF.
std::string WithLfEnds(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

void CheckReadLines(ScratchFile& file, std::string_view contents) {
  file.Write(contents);
  std::string error;
  const std::optional<std::vector<std::string>> lines = ReadLines(SystemEnv(), file.path(), &error);
  OVIX_FUZZ_CHECK(lines.has_value());
  std::string joined;
  for (const std::string& line : *lines) {
    OVIX_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    joined += line;
    joined += '\n';
  }
  std::string expected = WithLfEnds(contents);
  if (!expected.empty() && expected.back() != '\n') expected += '\n';
  OVIX_FUZZ_CHECK(joined == expected);
}

}  // namespace
}  // namespace ovix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ovix;
  using namespace ovix::fuzz;
  static ScratchFile file;
  InputReader in(data, size);
  const std::string_view name = in.Until('\n');
  const std::string_view mask = in.Until('\n');

  OVIX_FUZZ_CHECK(MatchesMask(name, name));
  const bool starInName = !kMaskStarIsWildcardFirst && name.find('*') != std::string_view::npos;
  if (!starInName && name.size() <= kMaxMatched && mask.size() <= kMaxMatched) {
    OVIX_FUZZ_CHECK(MatchesMask(name, mask) == ReferenceMatch(name, mask));
  }
  if (!starInName) OVIX_FUZZ_CHECK(MatchesMask(name, "*"));

  // A journal line, whatever its bytes, is read without harm, and an entry
  // read from one is written back as a line that reads as the same entry.
  if (const std::optional<JournalEntry> entry = ParseJournalLine(mask)) {
    const std::optional<JournalEntry> again = ParseJournalLine(FormatJournalLine(*entry));
    OVIX_FUZZ_CHECK(again && again->name == entry->name && again->state == entry->state &&
                    again->identity == entry->identity);
  }

  CheckReadLines(file, in.Rest());
  return 0;
}
