#include "link/frame_codec.h"
#include "os/text.h"

#include <algorithm>
#include <cmath>

namespace ovix {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

Bytes MakeFrameHead() {
  return Bytes("\x10\x02\x00\x00\x00\x00", 6);
}

Bytes MakeFrameTail() {
  return Bytes("\x10\x03", 2);
}

void FrameCommand(Bytes& commandText) {
  const std::size_t headSize = std::min<std::size_t>(6, commandText.size());
  const std::size_t restSize = commandText.size() - headSize;
  const std::size_t bodySize = restSize >= 2 ? restSize - 2 : 0;
  Bytes frame = commandText.substr(0, headSize);
  frame.reserve(headSize + 2 * bodySize + 2);
  for (std::size_t i = headSize; i < headSize + bodySize; ++i) {
    frame.push_back(commandText[i]);
    if (static_cast<unsigned char>(commandText[i]) == kDle) frame.push_back(commandText[i]);
  }
  frame.push_back(static_cast<char>(kDle));
  frame.push_back(static_cast<char>(kEtx));
  commandText = std::move(frame);
}

Bytes HexPairsToBytes(std::string_view hex) {
  Bytes out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = i + 1 < hex.size() ? HexValue(hex[i + 1]) : 0;
    out.push_back(static_cast<char>(16 * high + low));
  }
  return out;
}

double DecimalReading(std::string_view twoChars) {
  if (twoChars.empty() || !IsDigit(twoChars[0])) return 0;
  const int first = twoChars[0] - '0';
  if (twoChars.size() >= 2 && IsDigit(twoChars[1])) return 10 * first + (twoChars[1] - '0');
  return first;
}

std::string ReplyHexOf(const Bytes& replyRaw) {
  std::string hex;
  if (replyRaw.size() < 7) return hex;
  for (std::size_t i = 4; i < replyRaw.size() - 2; ++i) {
    const auto b = static_cast<unsigned char>(replyRaw[i]);
    hex.push_back(kHexDigits[b >> 4]);
    hex.push_back(kHexDigits[b & 0x0F]);
  }
  return hex;
}

}  // namespace ovix
