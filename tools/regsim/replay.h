// Replay of the driver's wire trace (TRACE.OVX, written with TRACE=1): each
// command frame that comes in is answered with the bytes the register sent
// for that same command when the trace was taken, so that what happened in a
// shop happens again on a developer's machine. Header-only, so that the
// driver's unit tests read the driver's own trace with it without linking the
// simulator.
//
// Of each trace line "<date> <time> <event> <hex pairs>..." only the event and
// the bytes count: TX opens an exchange with its command frame, RX and STRAY
// bytes up to the exchange's WAIT line are its answer (kept in order, noise
// included), ACK is ignored. Bytes received outside an exchange are not
// replayed. A last line cut short by a crash is read as far as it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <sstream>
#include <string>
#include <vector>

#include "wire.h"

namespace regsim {

class Replay {
 public:
  struct Exchange {
    Bytes command;  // the command frame as the driver wrote it
    Bytes answer;   // what the register sent before the wait ended; empty: no reply
  };

  // Reads a trace; an error text naming the line when a line is not trace
  // text, else the empty text.
  std::string Load(std::istream& in) {
    exchanges_.clear();
    next_ = 0;
    bool open = false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      const bool last = in.peek() == std::char_traits<char>::eof();
      const std::string where = "line " + std::to_string(number) + ": ";
      std::istringstream words(line);
      std::string date, time, event;
      if (!(words >> date)) continue;
      if (!(words >> time >> event)) {
        if (last) break;
        return where + "no event";
      }
      if (event == "WAIT") {
        open = false;
        continue;
      }
      if (event == "ACK") continue;
      if (event != "TX" && event != "RX" && event != "STRAY")
        return where + "unknown event " + event;
      Bytes bytes;
      for (std::string pair; words >> pair;) {
        if (pair.size() != 2 || HexValue(pair[0]) < 0 || HexValue(pair[1]) < 0) {
          if (last) break;
          return where + "not a hex byte: " + pair;
        }
        bytes.push_back(static_cast<std::uint8_t>(HexValue(pair[0]) * 16 + HexValue(pair[1])));
      }
      if (event == "TX") {
        exchanges_.push_back({bytes, {}});
        open = true;
      } else if (open) {
        Bytes& answer = exchanges_.back().answer;
        answer.insert(answer.end(), bytes.begin(), bytes.end());
      }
    }
    return {};
  }

  // The next recorded exchange of this command frame: the first one after the
  // exchange answered last whose command is `frame`. nullptr when the rest of
  // the trace has none.
  const Exchange* Answer(const Bytes& frame) {
    for (std::size_t i = next_; i < exchanges_.size(); ++i) {
      if (exchanges_[i].command == frame) {
        next_ = i + 1;
        return &exchanges_[i];
      }
    }
    return nullptr;
  }

  const std::vector<Exchange>& exchanges() const { return exchanges_; }

 private:
  static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::vector<Exchange> exchanges_;
  std::size_t next_ = 0;
};

}  // namespace regsim
