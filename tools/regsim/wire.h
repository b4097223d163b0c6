// Register side of the serial line: command frame parsing, reply framing, hex helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace regsim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kAck = 0x06;

// Uppercase hex pairs separated by single blanks: "10 02 0A".
std::string ToHex(const Bytes& bytes);

// Accepts tokens such as "10", "0x0C", "1002000000" (pairs run together) or "8" (one digit).
bool ParseHex(const std::string& token, Bytes& out);

// Packed decimal of 0..99, e.g. 12 -> 0x12.
std::uint8_t ToBcd(int value);

// DLE STX, four zero leading bytes and the data with every DLE doubled, DLE ETX.
Bytes FrameReply(const Bytes& data);

// Splits the byte stream coming from the driver into command frames, lone ACKs and noise.
// A frame that grows past kMaxFrame wire bytes is reported as noise up to that point; the
// rest of it, up to its DLE ETX or the next DLE STX, is dropped, so memory stays bounded.
class FrameParser {
 public:
  struct Event {
    enum class Kind { kFrame, kAck, kNoise } kind;
    Bytes wire;    // the bytes exactly as received
    Bytes record;  // frames only: leading bytes and body with DLE pairs collapsed
  };

  static constexpr std::size_t kMaxFrame = 64 * 1024;

  std::vector<Event> Feed(const std::uint8_t* data, std::size_t size);

 private:
  enum class State { kIdle, kGotDle, kInFrame, kInFrameDle, kDropping, kDroppingDle };
  void Overflow(std::vector<Event>& events);
  void Step(std::uint8_t b, std::vector<Event>& events);
  // One handler for each state the byte may arrive in.
  void Idle(std::uint8_t b, std::vector<Event>& events);
  void AfterDle(std::uint8_t b, std::vector<Event>& events);
  void InFrame(std::uint8_t b, std::vector<Event>& events);
  void AfterFrameDle(std::uint8_t b, std::vector<Event>& events);
  // DLE STX has come: a frame begins, with whatever came before it already reported.
  void StartFrame();

  State state_ = State::kIdle;
  Bytes wire_;
  Bytes record_;
};

}  // namespace regsim
