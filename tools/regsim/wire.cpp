#include "wire.h"

#include <cctype>
#include <utility>

namespace regsim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ToHex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

bool ParseHex(const std::string& token, Bytes& out) {
  std::string digits = token;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.erase(0, 2);
  }
  if (digits.empty()) return false;
  if (digits.size() % 2 != 0) {
    if (digits.size() != 1) return false;
    digits.insert(digits.begin(), '0');
  }
  Bytes parsed;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int hi = HexDigit(digits[i]);
    const int lo = HexDigit(digits[i + 1]);
    if (hi < 0 || lo < 0) return false;
    parsed.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  out.insert(out.end(), parsed.begin(), parsed.end());
  return true;
}

std::uint8_t ToBcd(int value) {
  return static_cast<std::uint8_t>((value / 10) * 16 + value % 10);
}

Bytes FrameReply(const Bytes& data) {
  Bytes frame = {kDle, kStx};
  Bytes record = {0, 0, 0, 0};
  record.insert(record.end(), data.begin(), data.end());
  for (std::uint8_t b : record) {
    frame.push_back(b);
    if (b == kDle) frame.push_back(kDle);
  }
  frame.push_back(kDle);
  frame.push_back(kEtx);
  return frame;
}

void FrameParser::Overflow(std::vector<Event>& events) {
  events.push_back({Event::Kind::kNoise, std::move(wire_), {}});
  wire_.clear();
  record_.clear();
  state_ = state_ == State::kInFrameDle ? State::kDroppingDle : State::kDropping;
}

std::vector<FrameParser::Event> FrameParser::Feed(const std::uint8_t* data, std::size_t size) {
  std::vector<Event> events;
  for (std::size_t i = 0; i < size; ++i) Step(data[i], events);
  return events;
}

void FrameParser::Step(std::uint8_t b, std::vector<Event>& events) {
  switch (state_) {
    case State::kIdle:
      return Idle(b, events);
    case State::kGotDle:
      return AfterDle(b, events);
    case State::kInFrame:
      return InFrame(b, events);
    case State::kInFrameDle:
      return AfterFrameDle(b, events);
    case State::kDropping:
      if (b == kDle) state_ = State::kDroppingDle;
      return;
    case State::kDroppingDle:
      if (b == kStx) {
        StartFrame();
      } else {
        state_ = b == kEtx ? State::kIdle : State::kDropping;
      }
      return;
  }
}

void FrameParser::StartFrame() {
  wire_ = {kDle, kStx};
  record_.clear();
  state_ = State::kInFrame;
}

void FrameParser::Idle(std::uint8_t b, std::vector<Event>& events) {
  if (b == kDle) {
    wire_ = {b};
    state_ = State::kGotDle;
  } else {
    events.push_back({b == kAck ? Event::Kind::kAck : Event::Kind::kNoise, {b}, {}});
  }
}

void FrameParser::AfterDle(std::uint8_t b, std::vector<Event>& events) {
  if (b == kStx) {
    StartFrame();
    return;
  }
  // A DLE not followed by STX opens no frame; the byte after it may open one itself.
  events.push_back({Event::Kind::kNoise, {kDle}, {}});
  state_ = State::kIdle;
  Idle(b, events);
}

void FrameParser::InFrame(std::uint8_t b, std::vector<Event>& events) {
  wire_.push_back(b);
  if (b == kDle) {
    state_ = State::kInFrameDle;
  } else {
    record_.push_back(b);
  }
  if (wire_.size() >= kMaxFrame) Overflow(events);
}

void FrameParser::AfterFrameDle(std::uint8_t b, std::vector<Event>& events) {
  wire_.push_back(b);
  state_ = State::kInFrame;
  if (b == kDle) {
    record_.push_back(kDle);
  } else if (b == kEtx) {
    events.push_back({Event::Kind::kFrame, wire_, record_});
    state_ = State::kIdle;
  } else if (b == kStx) {
    // A fresh frame start: the unfinished frame before it becomes noise.
    events.push_back({Event::Kind::kNoise, Bytes(wire_.begin(), wire_.end() - 2), {}});
    StartFrame();
  } else {
    // An undoubled DLE inside the body is kept as data, so the reply still follows.
    record_.push_back(kDle);
    record_.push_back(b);
  }
  if (state_ == State::kInFrame && wire_.size() >= kMaxFrame) Overflow(events);
}

}  // namespace regsim
