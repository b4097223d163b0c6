// Shared fakes for the core's unit tests: byte strings written as hex, a
// scripted register that is at once the serial port, the clock and the event
// pump of a PrinterLink, and a sink that records key commands.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "link/printer_link.h"
#include "os/platform.h"

namespace ovix::test {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

// "10 02 41" -> the three bytes; blanks between pairs are optional.
inline Bytes H(std::string_view hex) {
  Bytes out;
  auto value = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (std::size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(16 * value(hex[i]) + value(hex[i + 1])));
    i += 2;
  }
  return out;
}

// Bytes as "10 02 41", for readable failure messages.
inline std::string Hex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// A reply frame on the wire: 10 02, the record with 0x10 doubled, 10 03.
inline Bytes WireFrame(const Bytes& record) {
  Bytes wire = H("10 02");
  for (char c : record) {
    wire += c;
    if (c == '\x10') wire += c;
  }
  return wire + H("10 03");
}

// The body of a command frame as written: head and tail removed, 0x10 undoubled.
inline Bytes BodyOf(const Bytes& frame) {
  Bytes body;
  for (std::size_t i = 6; i + 2 < frame.size(); ++i) {
    body += frame[i];
    if (frame[i] == '\x10') ++i;
  }
  return body;
}

// Reply data with the given status byte (data byte 2) and second status (byte 3).
inline Bytes ReplyData(unsigned char status = 0, unsigned char second = 0) {
  return Bytes{'A', static_cast<char>(status), static_cast<char>(second)};
}

// A register on the far end of a PrinterLink. Time stands still except when the
// link's wait lets it pass: a pass of the pump delivers the next scheduled
// reply if it is due within the pass's limit, otherwise moves the clock on by
// the whole limit, as a silent line would.
class FakeRegister : public SerialPort, public Clock, public EventPump {
 public:
  // Reply data for a command body; nullopt keeps the register silent.
  std::function<std::optional<Bytes>(const Bytes& body)> answer = [](const Bytes&) {
    return std::optional<Bytes>(ReplyData());
  };
  nanoseconds replyDelay = 1ms;
  PrinterLink* link = nullptr;
  std::vector<Bytes> frames;  // every command frame written, as on the wire
  int acks = 0;               // ACK bytes written
  nanoseconds now{1000s};
  // Whether the line can be opened (an unplugged adapter cannot).
  bool openable = true;
  bool EnsureOpen(std::string* error) override {
    if (!openable && error) *error = "unplugged";
    return openable;
  }
  // Runs once, as an event of the next pump pass (an operator's click, say).
  std::function<void()> duringWait;

  void Write(const Bytes& bytes) override {
    if (bytes == "\x06") {
      ++acks;
      return;
    }
    frames.push_back(bytes);
    if (auto data = answer(BodyOf(bytes))) Schedule(WireFrame(Bytes(4, '\0') + *data), replyDelay);
  }
  void Schedule(const Bytes& wire, nanoseconds after) { pending.push_back({now + after, wire}); }

  nanoseconds Now() override { return now; }

  void RunPendingEvents(nanoseconds maxBlock) override {
    if (duringWait) {
      std::exchange(duringWait, nullptr)();
      return;
    }
    if (!pending.empty() && pending.front().first <= now + maxBlock) {
      auto [at, wire] = pending.front();
      pending.pop_front();
      if (at > now) now = at;
      for (unsigned char b : wire) link->OnByte(b);
      return;
    }
    now += maxBlock;
  }

  std::vector<Bytes> Bodies() const {
    std::vector<Bytes> bodies;
    for (const Bytes& f : frames) bodies.push_back(BodyOf(f));
    return bodies;
  }

 private:
  std::deque<std::pair<nanoseconds, Bytes>> pending;
};

// Reply data of an identification reply for a firmware version.
inline Bytes IdentificationReply(int major = 5, int minor = 7) {
  Bytes data(34, '\0');
  data[0] = 'T';
  data[32] = static_cast<char>(minor / 10 * 16 + minor % 10);
  data[33] = static_cast<char>(major / 10 * 16 + major % 10);
  return data;
}

// What a register does with the key commands it carries out, as far as the
// tests need: a receipt opens with its first sale and stays open until a
// payment closes it (its items then join `closed`) or key 0x0F voids it.
// Amounts are not added up: any payment closes the receipt.
struct RegisterModel {
  bool open = false;
  std::vector<std::string> items;                // descriptions of the open receipt
  std::vector<std::vector<std::string>> closed;  // every receipt paid, with its items

  void CarryOut(const Bytes& keys) {
    if (keys.empty()) return;
    const char first = keys[0], last = keys.back();
    if (first == 0x2A) {
      open = true;
    } else if (first == 0x13) {
      // A description ends with 0x31, a printed free text with 0x38.
      if (open && last == 0x31 && keys.size() > 3) items.push_back(keys.substr(2, keys.size() - 3));
    } else if (keys == "\x0F") {
      open = false;
      items.clear();
    } else if (open &&
               (last == 0x31 || last == 0x32 || last == 0x33 || last == 0x34 || last == 0x36)) {
      closed.push_back(std::exchange(items, {}));
      open = false;
    }
  }
  // The status reply's byte 6: 1 while no receipt is open.
  char Byte6() const { return open ? 0 : 1; }
};

// A link wired to a FakeRegister.
struct LinkRig {
  FakeRegister reg;
  PrinterLink link{reg, reg, reg};
  LinkRig() { reg.link = &link; }
};

// Records the key bytes of every command; the commands whose 0-based index is
// in `failing` fail, and a failure stays, as JobError() does over a job.
class RecordingSink : public KeyCommandSink {
 public:
  std::vector<Bytes> commands;
  std::set<std::size_t> failing;
  bool failed = false;
  void SendKeys(std::string_view keys) override {
    if (failing.count(commands.size())) failed = true;
    commands.emplace_back(keys);
  }
  bool CommandFailed() const override { return failed; }
};

}  // namespace ovix::test
