// The register as the simulator plays it: its replies to the driver's commands, with the
// identity, status bytes, timing and failures that control lines set.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "keypad.h"
#include "wire.h"

namespace regsim {

using Args = std::vector<std::string>;

// A control line's number argument in lo..hi; false, with `out` unchanged, when it is not one.
bool ParseInt(const std::string& text, int lo, int hi, int& out);

// Exactly one hex byte.
bool ParseByte(const std::string& text, std::uint8_t& out);

// The hex bytes of every argument after the command; an error text naming the first that is not.
std::string ParseHexArgs(const Args& args, Bytes& out);

class Register {
 public:
  // How the line carries the replies.
  struct Line {
    int delay_ms = 0;  // every reply waits this long
    int late_ms = 0;   // the next reply waits this much more
    int split_ms = 0;  // gap between the bytes of a reply, each written on its own
    Bytes noise;       // sent ahead of every reply
    bool silent = false;
  };
  struct Reply {
    Bytes data;       // unframed: letter, status and data bytes
    int late_ms = 0;  // the extra wait late-nth set for this command
    Bytes garble;     // garble-nth: bytes to put inside its frame
  };

  explicit Register(Keypad::Printer printer) : keypad_(std::move(printer)) {}

  Line line;

  // Applies a control line that sets the register's behaviour or the line's; an error text,
  // empty when the line was understood.
  std::string Set(const Args& args);

  // The reply to the body of a command frame; nothing when the register stays silent.
  std::optional<Reply> Answer(const Bytes& body);

 private:
  struct KeyRule {
    Bytes prefix;
    std::uint8_t status;
    int times;  // 0: until "clear"
  };
  using Setter = std::string (Register::*)(const Args&);
  struct Command {
    const char* name;
    Setter set;
  };
  // A setting that takes one number in lo..hi.
  struct Number {
    const char* name;
    int& (*field)(Register&);
    int lo, hi;
  };
  static const Command kCommands[];
  static const Number kNumbers[];

  std::string Clear(const Args& args);
  std::string Silent(const Args& args);
  std::string Firmware(const Args& args);
  std::string Status(const Args& args);
  std::string FailNth(const Args& args);
  std::string MuteNth(const Args& args);
  std::string LateNth(const Args& args);
  std::string GarbleNth(const Args& args);
  std::string FailAll(const Args& args);
  std::string FailKeys(const Args& args);
  std::string Noise(const Args& args);

  // Takes the faults set for the Nth "A" command; false when it goes unanswered.
  bool Faults(long ordinal, Reply& reply);
  std::optional<std::uint8_t> RuleStatus(long ordinal, const Bytes& keys);
  bool DecimalPoint() const { return fw_major_ * 100 + fw_minor_ >= 507; }

  int fw_major_ = 5, fw_minor_ = 7, byte6_ = 1, second_ = 0;
  std::uint8_t status_ = 0;
  long a_count_ = 0;  // "A" commands received so far; fail-nth and mute-nth count from it
  std::map<long, std::uint8_t> fail_at_;
  std::set<long> mute_at_;
  // late-nth and garble-nth: the reply of the Nth A command comes later by the
  // given milliseconds, or carries the given bytes inside its frame.
  std::map<long, int> late_at_;
  std::map<long, Bytes> garble_at_;
  std::vector<KeyRule> key_rules_;
  std::optional<std::uint8_t> fail_all_;
  Keypad keypad_;
};

}  // namespace regsim
