// The few things the core needs from the platform, as small interfaces, on
// the lowest floor beside the system seam: every layer may use them.
// The front ends implement them for the real program; tests implement them with
// fakes (a scripted register, a clock that only moves when told) or real
// pseudo-terminals.
#pragma once

#include <chrono>
#include <string>

namespace ovix {

// Byte strings: every value 0x00-0xFF is a legal element, zero bytes included.
using Bytes = std::string;

// A serial line to the register. Write() queues the bytes for sending in order
// and returns without waiting for the register; bytes received from the
// register reach the core through PrinterLink::OnByte, one at a time, in order,
// delivered while EventPump::RunPendingEvents runs.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  virtual void Write(const Bytes& bytes) = 0;
  // Makes sure the line is open, opening the same device again when it was
  // closed after a failure (an unplugged adapter comes back under its name).
  // Returns false with the reason in *error when it cannot be opened.
  virtual bool EnsureOpen(std::string* /*error*/) { return true; }
};

// A monotonic clock: Now() never goes back and does not restart at midnight.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::nanoseconds Now() = 0;
};

// std::chrono::steady_clock: monotonic, unaffected by midnight or clock
// changes. The clock of the program on every system.
class SteadyClock : public Clock {
 public:
  std::chrono::nanoseconds Now() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
  }
};

// The event processing of the single GUI thread.
class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs the events that are pending (received bytes, menu clicks, timers) once.
  // When none is pending it may block until one arrives, but for no longer than
  // maxBlock, so a caller waiting for a deadline gets control back by then.
  virtual void RunPendingEvents(std::chrono::nanoseconds maxBlock) = 0;
};

}  // namespace ovix
