// The register behind the keypad: runs the key bytes of every "A" command as key presses,
// keeps the open receipt in integer minor units and prints it on a paper roll. It is a model
// for testing the driver, with rules of its own (README, "The register emulator").
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "wire.h"

namespace regsim {

class Keypad {
 public:
  static constexpr int kRollWidth = 32;

  // Takes each line of the roll, without its line end.
  using Printer = std::function<void(const std::string&)>;
  explicit Keypad(Printer printer) : printer_(std::move(printer)) {}

  // Runs the keys of one command. Returns 0 when the register takes them and 0x08 when it
  // refuses them; a refused command changes nothing and leaves a note on the roll.
  // With `decimal_point` (firmware 5.07 and later) amounts carry the decimal point key.
  std::uint8_t Press(const Bytes& keys, bool decimal_point);

  // The driver's identification or status query, with which every job begins.
  void Query();

 private:
  enum class Phase { kIdle, kSelling, kPaying, kPaid };
  struct Currency {
    std::string name;
    std::int64_t rate = 0;
  };
  struct State {
    Phase phase = Phase::kIdle;
    int receipt = 0;  // number of the last receipt opened
    std::int64_t total = 0, paid = 0;
    std::int64_t last_sale = -1;  // what is left of the last positive item; -1 when none
    // The item being keyed: description, quantity in thousandths, negative key pressed.
    std::string description;
    std::int64_t quantity = 1000;
    bool negative = false;
    int programming = 0;  // next step of a currency programming, 0 when none runs
    int currency = 0;
    std::int64_t rate = 0;
    std::map<int, Currency> currencies;
  };
  using Lines = std::vector<std::string>;
  // The function keys of one command, run on a copy of the state.
  class Command;

  static std::string Run(State& s, const Bytes& keys, bool decimal_point, Lines& out);
  static std::string Program(State& s, const Bytes& keys, bool decimal_point, Lines& out);

  Printer printer_;
  State state_;
};

}  // namespace regsim
