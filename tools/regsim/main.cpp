// ovix-regsim: a scriptable cash register on a pseudo-terminal (or a given serial device) for
// the end-to-end tests. It answers the driver's "T", "S" and "A" frames, runs the keys of the
// "A" frames on an emulated register that prints a paper roll, writes every event on the line
// to a trace file and takes state changes as text lines on stdin. With --replay it answers
// instead with the replies recorded in a driver's wire trace.

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "keypad.h"
#include "port.h"
#include "replay.h"
#include "wire.h"

namespace {

using regsim::Bytes;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Bytes read but not yet "arrived" at the paced rate, and bytes waiting to be written: while
// either holds more than this, the line is not read, so the driver's writes block instead.
constexpr std::size_t kInboxLimit = 4096;
constexpr std::size_t kOutboxLimit = 64 * 1024;
constexpr std::size_t kControlLineLimit = 64 * 1024;

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t written = write(g_signal_pipe[1], &c, 1);
}

bool ParseInt(const std::string& text, int lo, int hi, int& out) {
  int value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value < lo || value > hi) return false;
  out = value;
  return true;
}

bool ParseByte(const std::string& text, std::uint8_t& out) {
  Bytes bytes;
  if (!regsim::ParseHex(text, bytes) || bytes.size() != 1) return false;
  out = bytes[0];
  return true;
}

struct KeyRule {
  Bytes prefix;
  std::uint8_t status;
  int times;  // 0: until "clear"
};

class Simulator {
 public:
  FILE* trace = nullptr;
  FILE* roll = nullptr;
  bool trace_times = false;
  bool quit = false;
  regsim::Port port;
  // With a trace loaded, commands are answered from it instead of by the register.
  std::optional<regsim::Replay> replay;

  Simulator() : keypad_([this](const std::string& line) { PrintRoll(line); }) {}

  // Applies one control line; returns an error text, empty when the line was understood.
  std::string Control(const std::vector<std::string>& args);
  void SetBaud(int baud);
  bool WantsInput() const {
    return inbox_.size() < kInboxLimit && outbox_bytes_ < kOutboxLimit && port.fd() >= 0;
  }
  bool WantsOutput() const { return blocked_ && port.fd() >= 0; }
  void OnDeviceBytes(const std::uint8_t* data, std::size_t size);
  // Feeds the bytes that have arrived by now to the parser and writes what is due.
  void Run();
  // How long the loop may sleep: until the next paced or delayed byte is due,
  // to the microsecond (pacing at 9600 bit/s needs better than milliseconds);
  // nullopt: until something happens.
  std::optional<timespec> PollTimeout() const;

 private:
  struct Outgoing {
    Clock::time_point due;
    Bytes bytes;
    std::size_t sent = 0;
    Clock::time_point last{};  // when the previous byte of it went out
  };

  void Trace(char tag, const Bytes& bytes);
  void PrintRoll(const std::string& line);
  void Process(const std::uint8_t* data, std::size_t size);
  void Queue(Bytes bytes, Clock::time_point due, bool ahead);
  void SendDue();
  void DropLine();
  std::optional<Bytes> Answer(const Bytes& body);
  std::optional<Bytes> Replayed(const Bytes& frame);
  std::optional<std::uint8_t> RuleStatus(long ordinal, const Bytes& keys);
  bool DecimalPoint() const { return fw_major_ * 100 + fw_minor_ >= 507; }

  const Clock::time_point start_ = Clock::now();
  int fw_major_ = 5, fw_minor_ = 7, byte6_ = 1, second_ = 0, delay_ms_ = 0;
  int split_ms_ = 0, late_ms_ = 0;
  Clock::duration byte_time_{};  // one byte on the wire at the paced rate; zero when unpaced
  std::uint8_t status_ = 0;
  bool silent_ = false;
  Bytes noise_;
  long a_count_ = 0;  // "A" commands received so far; fail-nth and mute-nth count from it
  std::map<long, std::uint8_t> fail_at_;
  std::set<long> mute_at_;
  // late-nth and garble-nth: the reply of the Nth A command comes later by the
  // given milliseconds, or carries the given bytes inside its frame.
  std::map<long, int> late_at_;
  std::map<long, Bytes> garble_at_;
  int reply_late_ms_ = 0;
  Bytes reply_garble_;
  std::vector<KeyRule> key_rules_;
  std::optional<std::uint8_t> fail_all_;
  regsim::Keypad keypad_;
  regsim::FrameParser parser_;
  // Received bytes with the time their last bit would have arrived at the paced rate.
  std::deque<std::pair<Clock::time_point, std::uint8_t>> inbox_;
  Clock::time_point last_arrival_{};
  std::deque<Outgoing> outbox_;
  std::size_t outbox_bytes_ = 0;
  Clock::time_point line_free_{};  // when the last byte written finished on the paced wire
  std::optional<Clock::time_point> next_send_;
  bool blocked_ = false;  // the last write found the terminal's buffer full
  long commands_ = 0, acks_ = 0, bytes_in_ = 0, bytes_out_ = 0;
};

void Simulator::Trace(char tag, const Bytes& bytes) {
  if (trace == nullptr) return;
  if (trace_times) {
    const auto us = std::chrono::duration_cast<microseconds>(Clock::now() - start_).count();
    std::fprintf(trace, "%lld.%06lld ", static_cast<long long>(us / 1000000),
                 static_cast<long long>(us % 1000000));
  }
  if (bytes.empty()) {
    std::fprintf(trace, "%c\n", tag);
  } else {
    std::fprintf(trace, "%c %s\n", tag, regsim::ToHex(bytes).c_str());
  }
  // A test reads the trace as soon as the driver has acted on a reply: the
  // line is on disk before the reply can go out.
  std::fflush(trace);
}

void Simulator::PrintRoll(const std::string& line) {
  if (roll == nullptr) return;
  std::fprintf(roll, "%s\n", line.c_str());
  std::fflush(roll);
}

void Simulator::SetBaud(int baud) {
  byte_time_ = baud > 0 ? std::chrono::duration_cast<Clock::duration>(
                              std::chrono::nanoseconds(10'000'000'000LL / baud))
                        : Clock::duration::zero();
}

std::optional<std::uint8_t> Simulator::RuleStatus(long ordinal, const Bytes& keys) {
  if (auto it = fail_at_.find(ordinal); it != fail_at_.end()) {
    const std::uint8_t status = it->second;
    fail_at_.erase(it);
    return status;
  }
  for (auto it = key_rules_.begin(); it != key_rules_.end(); ++it) {
    if (keys.size() < it->prefix.size() ||
        !std::equal(it->prefix.begin(), it->prefix.end(), keys.begin())) {
      continue;
    }
    const std::uint8_t status = it->status;
    if (it->times > 0 && --it->times == 0) key_rules_.erase(it);
    return status;
  }
  return fail_all_;
}

std::optional<Bytes> Simulator::Answer(const Bytes& body) {
  if (body.empty()) return std::nullopt;
  const std::uint8_t letter = body[0];
  std::uint8_t key_status = 0;
  if (letter == 'A') {
    // Counted even when unanswered, so fail-nth and mute-nth keep to the order on the line.
    const long ordinal = ++a_count_;
    if (auto late = late_at_.find(ordinal); late != late_at_.end()) {
      reply_late_ms_ = late->second;
      late_at_.erase(late);
    }
    if (auto garble = garble_at_.find(ordinal); garble != garble_at_.end()) {
      reply_garble_ = garble->second;
      garble_at_.erase(garble);
    }
    if (mute_at_.erase(ordinal) > 0 || silent_) {
      fail_at_.erase(ordinal);
      return std::nullopt;
    }
    // A failure rule decides the reply; the register runs the keys unless the rule's status
    // reports an error (bits 0x0C), in which case the keys were refused.
    const Bytes keys(body.begin() + 1, body.end());
    const auto rule = RuleStatus(ordinal, keys);
    if (!rule || (*rule & 0x0C) == 0) key_status = keypad_.Press(keys, DecimalPoint());
    if (rule) key_status = *rule;
  } else if (silent_) {
    return std::nullopt;
  }
  if (letter == 'T') {
    keypad_.Query();
    Bytes data(34, 0);
    data[0] = letter;
    data[32] = regsim::ToBcd(fw_minor_);
    data[33] = regsim::ToBcd(fw_major_);
    return data;
  }
  if (letter == 'S') {
    keypad_.Query();
    return Bytes{letter, status_, regsim::ToBcd(second_), 0, 0, regsim::ToBcd(byte6_), 0, 0};
  }
  // "A" and any other letter: a keypad-style reply of letter, status byte, second status.
  return Bytes{letter, key_status, regsim::ToBcd(second_)};
}

// The bytes the register sent for this command when the trace was taken, as they were on the
// wire; nothing when it sent none or the trace holds no more exchanges of this command.
std::optional<Bytes> Simulator::Replayed(const Bytes& frame) {
  if (silent_) return std::nullopt;
  const regsim::Replay::Exchange* recorded = replay->Answer(frame);
  if (recorded == nullptr) {
    std::fprintf(stderr, "ovix-regsim: replay: the trace holds no more of %s\n",
                 regsim::ToHex(frame).c_str());
    return std::nullopt;
  }
  if (recorded->answer.empty()) return std::nullopt;
  return recorded->answer;
}

void Simulator::OnDeviceBytes(const std::uint8_t* data, std::size_t size) {
  if (byte_time_ == Clock::duration::zero()) {
    Process(data, size);
    return;
  }
  const auto now = Clock::now();
  for (std::size_t i = 0; i < size; ++i) {
    last_arrival_ = std::max(last_arrival_, now) + byte_time_;
    inbox_.emplace_back(last_arrival_, data[i]);
  }
}

void Simulator::Process(const std::uint8_t* data, std::size_t size) {
  bytes_in_ += static_cast<long>(size);
  for (const auto& event : parser_.Feed(data, size)) {
    using Kind = regsim::FrameParser::Event::Kind;
    if (event.kind == Kind::kAck) {
      ++acks_;
      Trace('K', {});
    } else if (event.kind == Kind::kNoise) {
      Trace('N', event.wire);
    } else {
      ++commands_;
      Trace('C', event.wire);
      const Bytes body =
          event.record.size() > 4 ? Bytes(event.record.begin() + 4, event.record.end()) : Bytes();
      reply_late_ms_ = 0;
      reply_garble_.clear();
      std::optional<Bytes> frame;
      if (replay) {
        frame = Replayed(event.wire);
      } else if (auto reply = Answer(body)) {
        frame = regsim::FrameReply(*reply);
        // Garbage inside the frame goes after its head (10 02 and the four leading bytes).
        frame->insert(frame->begin() + std::min<std::size_t>(6, frame->size()),
                      reply_garble_.begin(), reply_garble_.end());
      }
      if (frame) {
        Bytes bytes = noise_;
        bytes.insert(bytes.end(), frame->begin(), frame->end());
        Queue(std::move(bytes), Clock::now() + milliseconds(delay_ms_ + late_ms_ + reply_late_ms_),
              false);
        late_ms_ = 0;
      }
    }
  }
}

// Replies go out in the order their commands came; bytes sent with "send" go ahead of replies
// that are not due yet, as the line is free until then.
void Simulator::Queue(Bytes bytes, Clock::time_point due, bool ahead) {
  auto at = outbox_.end();
  if (ahead) {
    at = std::find_if(outbox_.begin(), outbox_.end(),
                      [due](const Outgoing& o) { return o.sent == 0 && o.due > due; });
  }
  outbox_bytes_ += bytes.size();
  outbox_.insert(at, Outgoing{due, std::move(bytes)});
}

void Simulator::Run() {
  const auto now = Clock::now();
  Bytes arrived;
  while (!inbox_.empty() && inbox_.front().first <= now) {
    arrived.push_back(inbox_.front().second);
    inbox_.pop_front();
  }
  if (!arrived.empty()) Process(arrived.data(), arrived.size());
  SendDue();
}

// Every byte is written when its last bit would have left a paced line, or at once when
// unpaced; with "split" each byte goes out in a write of its own after the gap.
void Simulator::SendDue() {
  next_send_.reset();
  blocked_ = false;
  while (!outbox_.empty() && port.fd() >= 0) {
    Outgoing& out = outbox_.front();
    if (out.sent == out.bytes.size()) {
      Trace('R', out.bytes);
      outbox_bytes_ -= out.bytes.size();
      outbox_.pop_front();
      continue;
    }
    const auto now = Clock::now();
    const auto split = milliseconds(split_ms_);
    Bytes chunk;
    auto ready = out.sent == 0 ? out.due : out.last + split;
    auto done = ready;
    for (std::size_t k = out.sent; k < out.bytes.size(); ++k) {
      const auto finish = std::max(ready, line_free_) + byte_time_;
      if (finish > now) {
        if (chunk.empty()) next_send_ = finish;
        break;
      }
      chunk.push_back(out.bytes[k]);
      done = ready = finish;
      if (split_ms_ > 0) break;
    }
    if (chunk.empty()) break;
    const ssize_t n = write(port.fd(), chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) std::perror("ovix-regsim: write to device");
      blocked_ = true;
      break;
    }
    out.sent += static_cast<std::size_t>(n);
    bytes_out_ += n;
    if (byte_time_ > Clock::duration::zero()) line_free_ = done;
    out.last = split_ms_ > 0 ? Clock::now() : done;
    if (static_cast<std::size_t>(n) < chunk.size()) {
      blocked_ = true;
      break;
    }
  }
}

std::optional<timespec> Simulator::PollTimeout() const {
  std::optional<Clock::time_point> wake = next_send_;
  if (!inbox_.empty()) wake = std::min(wake.value_or(inbox_.front().first), inbox_.front().first);
  if (!wake) return std::nullopt;
  const auto ns = std::max<long long>(
      0, std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - Clock::now()).count());
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// A pulled cable loses what was on the wire; the register keeps its receipt.
void Simulator::DropLine() {
  outbox_.clear();
  outbox_bytes_ = 0;
  inbox_.clear();
  parser_ = regsim::FrameParser();
  next_send_.reset();
  blocked_ = false;
}

std::string Simulator::Control(const std::vector<std::string>& args) {
  if (args.empty()) return {};
  const std::string& cmd = args[0];
  const std::size_t n = args.size();
  int value = 0;
  std::uint8_t byte = 0;
  if (cmd == "quit" && n == 1) {
    quit = true;
  } else if (cmd == "clear" && n == 1) {
    fail_at_.clear();
    key_rules_.clear();
    fail_all_.reset();
  } else if (cmd == "silent" && n == 2 && (args[1] == "on" || args[1] == "off")) {
    silent_ = args[1] == "on";
  } else if (cmd == "firmware" && n == 2) {
    const std::size_t dot = args[1].find('.');
    int major = 0, minor = 0;
    if (!ParseInt(args[1].substr(0, dot), 0, 99, major) ||
        (dot != std::string::npos && !ParseInt(args[1].substr(dot + 1), 0, 99, minor))) {
      return "bad firmware version";
    }
    fw_major_ = major;
    fw_minor_ = minor;
  } else if (cmd == "status" && n == 2 && ParseByte(args[1], byte)) {
    status_ = byte;
  } else if (cmd == "byte6" && n == 2 && ParseInt(args[1], 0, 99, value)) {
    byte6_ = value;
  } else if (cmd == "second" && n == 2 && ParseInt(args[1], 0, 99, value)) {
    second_ = value;
  } else if (cmd == "delay" && n == 2 && ParseInt(args[1], 0, 600000, value)) {
    delay_ms_ = value;
  } else if (cmd == "late" && n == 2 && ParseInt(args[1], 0, 600000, value)) {
    late_ms_ = value;
  } else if (cmd == "split" && n == 2 && ParseInt(args[1], 0, 60000, value)) {
    split_ms_ = value;
  } else if (cmd == "fail-nth" && (n == 2 || n == 3) && ParseInt(args[1], 1, 1000000, value)) {
    byte = 0x08;
    if (n == 3 && !ParseByte(args[2], byte)) return "bad status byte";
    fail_at_[a_count_ + value] = byte;
  } else if (cmd == "mute-nth" && n == 2 && ParseInt(args[1], 1, 1000000, value)) {
    mute_at_.insert(a_count_ + value);
  } else if (cmd == "late-nth" && n == 3 && ParseInt(args[1], 1, 1000000, value)) {
    int ms = 0;
    if (!ParseInt(args[2], 0, 600000, ms)) return "bad milliseconds";
    late_at_[a_count_ + value] = ms;
  } else if (cmd == "garble-nth" && n >= 3 && ParseInt(args[1], 1, 1000000, value)) {
    Bytes bytes;
    for (std::size_t i = 2; i < n; ++i) {
      if (!regsim::ParseHex(args[i], bytes)) return "bad byte " + args[i];
    }
    garble_at_[a_count_ + value] = bytes;
  } else if (cmd == "fail-all" && n == 2 && ParseByte(args[1], byte)) {
    fail_all_ = byte;
  } else if (cmd == "fail-keys" && n >= 2) {
    KeyRule rule{{}, 0x08, 1};
    for (std::size_t i = 1; i < n; ++i) {
      if (args[i] == "status" && i + 1 < n) {
        if (!ParseByte(args[++i], rule.status)) return "bad status byte";
      } else if (args[i] == "times" && i + 1 < n) {
        if (!ParseInt(args[++i], 0, 1000000, rule.times)) return "bad times";
      } else if (!regsim::ParseHex(args[i], rule.prefix)) {
        return "bad key byte " + args[i];
      }
    }
    if (rule.prefix.empty()) return "no key bytes";
    key_rules_.push_back(rule);
  } else if (cmd == "noise" && n == 2 && args[1] == "off") {
    noise_.clear();
  } else if ((cmd == "noise" || cmd == "send") && n >= 2) {
    Bytes bytes;
    for (std::size_t i = 1; i < n; ++i) {
      if (!regsim::ParseHex(args[i], bytes)) return "bad hex " + args[i];
    }
    if (cmd == "noise") {
      noise_ = bytes;
    } else if (port.fd() < 0) {
      return "the line is unplugged";
    } else {
      Queue(std::move(bytes), Clock::now(), true);
    }
  } else if ((cmd == "replug" || cmd == "unplug" || cmd == "plug") && n == 1) {
    if (cmd == "plug" && port.fd() >= 0) return "already plugged in";
    DropLine();
    return cmd == "replug" ? port.Replug() : cmd == "unplug" ? port.Unplug() : port.Plug();
  } else if (cmd == "stats" && n == 1) {
    std::printf("STATS commands=%ld acks=%ld bytes_in=%ld bytes_out=%ld\n", commands_, acks_,
                bytes_in_, bytes_out_);
  } else {
    return "unknown or malformed command";
  }
  return {};
}

std::vector<std::string> Split(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

void Usage() {
  std::fprintf(stderr,
               "usage: ovix-regsim [--device PATH | --link PATH] [--trace FILE] [--trace-times]\n"
               "                   [--roll FILE|-] [--firmware M.m] [--status HEX] [--byte6 N]\n"
               "                   [--second N] [--delay-ms N] [--split-ms N] [--baud N]\n"
               "                   [--silent] [--replay TRACE.OVX]\n");
}

}  // namespace

int main(int argc, char** argv) {
  Simulator sim;
  std::string device_path, link_path, trace_path, roll_path, replay_path;
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    const bool has_value = i + 1 < argc;
    std::string error;
    int baud = 0;
    if (opt == "--silent") {
      error = sim.Control({"silent", "on"});
    } else if (opt == "--trace-times") {
      sim.trace_times = true;
    } else if (opt == "--device" && has_value) {
      device_path = argv[++i];
    } else if (opt == "--link" && has_value) {
      link_path = argv[++i];
    } else if (opt == "--trace" && has_value) {
      trace_path = argv[++i];
    } else if (opt == "--roll" && has_value) {
      roll_path = argv[++i];
    } else if (opt == "--replay" && has_value) {
      replay_path = argv[++i];
    } else if (opt == "--delay-ms" && has_value) {
      error = sim.Control({"delay", argv[++i]});
    } else if (opt == "--split-ms" && has_value) {
      error = sim.Control({"split", argv[++i]});
    } else if (opt == "--baud" && has_value) {
      if (ParseInt(argv[++i], 0, 10000000, baud)) {
        sim.SetBaud(baud);
      } else {
        error = "bad speed";
      }
    } else if ((opt == "--firmware" || opt == "--status" || opt == "--byte6" ||
                opt == "--second") &&
               has_value) {
      error = sim.Control({opt.substr(2), argv[++i]});
    } else {
      error = "unknown option " + opt;
    }
    if (error.empty() && !device_path.empty() && !link_path.empty()) {
      error = "--link serves the pseudo-terminal, not --device";
    }
    if (!error.empty()) {
      std::fprintf(stderr, "ovix-regsim: %s: %s\n", opt.c_str(), error.c_str());
      Usage();
      return 2;
    }
  }

  if (!replay_path.empty()) {
    std::ifstream in(replay_path, std::ios::binary);
    if (!in) {
      std::perror(("ovix-regsim: " + replay_path).c_str());
      return 1;
    }
    const std::string error = sim.replay.emplace().Load(in);
    if (!error.empty()) {
      std::fprintf(stderr, "ovix-regsim: %s: %s\n", replay_path.c_str(), error.c_str());
      return 1;
    }
  }
  if (!trace_path.empty()) {
    sim.trace = std::fopen(trace_path.c_str(), "w");
    if (sim.trace == nullptr) {
      std::perror(("ovix-regsim: " + trace_path).c_str());
      return 1;
    }
  }
  if (roll_path == "-") {
    sim.roll = stderr;
  } else if (!roll_path.empty()) {
    sim.roll = std::fopen(roll_path.c_str(), "a");
    if (sim.roll == nullptr) {
      std::perror(("ovix-regsim: " + roll_path).c_str());
      return 1;
    }
  }
  const std::string opened =
      device_path.empty() ? sim.port.OpenPty(link_path) : sim.port.OpenDevice(device_path);
  if (!opened.empty()) {
    std::fprintf(stderr, "ovix-regsim: cannot open the line: %s\n", opened.c_str());
    return 1;
  }

  if (pipe(g_signal_pipe) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("DEVICE %s\n", sim.port.name().c_str());
  std::fflush(stdout);

  bool stdin_open = true;
  std::string control_buffer;
  bool overlong = false;
  std::uint8_t buffer[4096];
  int status = 0;
  while (!sim.quit) {
    const short device_events =
        static_cast<short>((sim.WantsInput() ? POLLIN : 0) | (sim.WantsOutput() ? POLLOUT : 0));
    pollfd fds[3] = {{device_events != 0 ? sim.port.fd() : -1, device_events, 0},
                     {stdin_open ? STDIN_FILENO : -1, POLLIN, 0},
                     {g_signal_pipe[0], POLLIN, 0}};
    const std::optional<timespec> timeout = sim.PollTimeout();
    if (ppoll(fds, 3, timeout ? &*timeout : nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      std::perror("ovix-regsim: poll");
      status = 1;
      break;
    }
    if (fds[2].revents != 0) break;
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
      const ssize_t got = read(sim.port.fd(), buffer, sizeof buffer);
      if (got > 0) {
        sim.OnDeviceBytes(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        std::perror("ovix-regsim: read from device");
        status = 1;
        break;
      }
    }
    if (fds[1].revents != 0) {
      const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
      if (got > 0) {
        control_buffer.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        // The simulator keeps serving the line after its control channel has closed.
        stdin_open = false;
        if (!control_buffer.empty()) control_buffer += '\n';
      }
      for (std::size_t end; !sim.quit && (end = control_buffer.find('\n')) != std::string::npos;) {
        const std::string line = control_buffer.substr(0, end);
        control_buffer.erase(0, end + 1);
        const std::string error =
            overlong ? "control line too long, dropped" : sim.Control(Split(line));
        overlong = false;
        if (!error.empty()) {
          std::fprintf(stderr, "ovix-regsim: '%.60s': %s\n", line.c_str(), error.c_str());
        }
        std::printf("OK\n");
        std::fflush(stdout);
      }
      // The head of an overlong line is dropped now and its end when its newline comes.
      if (control_buffer.size() > kControlLineLimit) {
        overlong = true;
        control_buffer.clear();
      }
    }
    sim.Run();
  }
  if (sim.trace != nullptr) std::fclose(sim.trace);
  if (sim.roll != nullptr && sim.roll != stderr) std::fclose(sim.roll);
  return status;
}
