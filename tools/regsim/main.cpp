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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "port.h"
#include "register.h"
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

using regsim::ParseInt;

class Simulator {
 public:
  FILE* trace = nullptr;
  FILE* roll = nullptr;
  bool trace_times = false;
  bool quit = false;
  regsim::Port port;
  // With a trace loaded, commands are answered from it instead of by the register.
  std::optional<regsim::Replay> replay;

  Simulator() : register_([this](const std::string& line) { PrintRoll(line); }) {}

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
  void Answer(const Bytes& wire, const Bytes& record);
  void Queue(Bytes bytes, Clock::time_point due, bool ahead);
  void SendDue();
  void DropLine();
  std::string Send(const std::vector<std::string>& args);
  std::string Plug(const std::string& cmd);
  std::optional<Bytes> Replayed(const Bytes& frame);

  const Clock::time_point start_ = Clock::now();
  Clock::duration byte_time_{};  // one byte on the wire at the paced rate; zero when unpaced
  regsim::Register register_;
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

// The bytes the register sent for this command when the trace was taken, as they were on the
// wire; nothing when it sent none or the trace holds no more exchanges of this command.
std::optional<Bytes> Simulator::Replayed(const Bytes& frame) {
  if (register_.line.silent) return std::nullopt;
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
      Answer(event.wire, event.record);
    }
  }
}

// Queues the reply to a command frame, if the register gives one.
void Simulator::Answer(const Bytes& wire, const Bytes& record) {
  const Bytes body = record.size() > 4 ? Bytes(record.begin() + 4, record.end()) : Bytes();
  std::optional<Bytes> frame;
  int reply_late_ms = 0;
  if (replay) {
    frame = Replayed(wire);
  } else if (auto reply = register_.Answer(body)) {
    frame = regsim::FrameReply(reply->data);
    // Garbage inside the frame goes after its head (10 02 and the four leading bytes).
    frame->insert(frame->begin() + std::min<std::size_t>(6, frame->size()), reply->garble.begin(),
                  reply->garble.end());
    reply_late_ms = reply->late_ms;
  }
  if (!frame) return;
  regsim::Register::Line& line = register_.line;
  Bytes bytes = line.noise;
  bytes.insert(bytes.end(), frame->begin(), frame->end());
  Queue(std::move(bytes), Clock::now() + milliseconds(line.delay_ms + line.late_ms + reply_late_ms),
        false);
  line.late_ms = 0;
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
    const int split_ms = register_.line.split_ms;
    const auto split = milliseconds(split_ms);
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
      if (split_ms > 0) break;
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
    out.last = split_ms > 0 ? Clock::now() : done;
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
  if (cmd == "quit" && n == 1) {
    quit = true;
  } else if (cmd == "send" && n >= 2) {
    return Send(args);
  } else if ((cmd == "replug" || cmd == "unplug" || cmd == "plug") && n == 1) {
    return Plug(cmd);
  } else if (cmd == "stats" && n == 1) {
    std::printf("STATS commands=%ld acks=%ld bytes_in=%ld bytes_out=%ld\n", commands_, acks_,
                bytes_in_, bytes_out_);
  } else {
    return register_.Set(args);
  }
  return {};
}

std::string Simulator::Send(const std::vector<std::string>& args) {
  Bytes bytes;
  if (auto error = regsim::ParseHexArgs(args, bytes); !error.empty()) return error;
  if (port.fd() < 0) return "the line is unplugged";
  Queue(std::move(bytes), Clock::now(), true);
  return {};
}

std::string Simulator::Plug(const std::string& cmd) {
  if (cmd == "plug" && port.fd() >= 0) return "already plugged in";
  DropLine();
  return cmd == "replug" ? port.Replug() : cmd == "unplug" ? port.Unplug() : port.Plug();
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

struct Paths {
  std::string device, link, trace, roll, replay;
};

// An option with a value: a file's path, or what the control command of that name sets.
struct Option {
  const char* name;
  std::string Paths::*path;
  const char* control;
};

const Option kOptions[] = {
    {"--device", &Paths::device, nullptr}, {"--link", &Paths::link, nullptr},
    {"--trace", &Paths::trace, nullptr},   {"--roll", &Paths::roll, nullptr},
    {"--replay", &Paths::replay, nullptr}, {"--delay-ms", nullptr, "delay"},
    {"--split-ms", nullptr, "split"},      {"--firmware", nullptr, "firmware"},
    {"--status", nullptr, "status"},       {"--byte6", nullptr, "byte6"},
    {"--second", nullptr, "second"},
};

std::string SetBaud(Simulator& sim, const char* value) {
  int baud = 0;
  if (!ParseInt(value, 0, 10000000, baud)) return "bad speed";
  sim.SetBaud(baud);
  return {};
}

// Applies the option argv[i], moving i past its value; an error text, empty when it was taken.
std::string ApplyOption(int argc, char** argv, int& i, Simulator& sim, Paths& paths) {
  const std::string opt = argv[i];
  if (opt == "--silent") return sim.Control({"silent", "on"});
  if (opt == "--trace-times") {
    sim.trace_times = true;
    return {};
  }
  if (i + 1 == argc) return "unknown option " + opt;
  if (opt == "--baud") return SetBaud(sim, argv[++i]);
  for (const Option& option : kOptions) {
    if (opt != option.name) continue;
    if (option.path == nullptr) return sim.Control({option.control, argv[++i]});
    paths.*option.path = argv[++i];
    return {};
  }
  return "unknown option " + opt;
}

// False, after saying why, when an option is unknown or wrong.
bool ParseOptions(int argc, char** argv, Simulator& sim, Paths& paths) {
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    std::string error = ApplyOption(argc, argv, i, sim, paths);
    if (error.empty() && !paths.device.empty() && !paths.link.empty()) {
      error = "--link serves the pseudo-terminal, not --device";
    }
    if (!error.empty()) {
      std::fprintf(stderr, "ovix-regsim: %s: %s\n", opt.c_str(), error.c_str());
      Usage();
      return false;
    }
  }
  return true;
}

bool LoadReplay(Simulator& sim, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::perror(("ovix-regsim: " + path).c_str());
    return false;
  }
  const std::string error = sim.replay.emplace().Load(in);
  if (!error.empty()) {
    std::fprintf(stderr, "ovix-regsim: %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  return true;
}

// Opens `path` into `file` unless the path is empty; false after saying why it failed.
bool Open(const std::string& path, const char* mode, FILE*& file) {
  if (path.empty()) return true;
  file = std::fopen(path.c_str(), mode);
  if (file != nullptr) return true;
  std::perror(("ovix-regsim: " + path).c_str());
  return false;
}

// The replay trace, the trace and roll files and the line, in that order; false after saying
// which failed.
bool OpenAll(Simulator& sim, const Paths& paths) {
  if (!paths.replay.empty() && !LoadReplay(sim, paths.replay)) return false;
  if (!Open(paths.trace, "w", sim.trace)) return false;
  if (paths.roll == "-") {
    sim.roll = stderr;
  } else if (!Open(paths.roll, "a", sim.roll)) {
    return false;
  }
  const std::string opened =
      paths.device.empty() ? sim.port.OpenPty(paths.link) : sim.port.OpenDevice(paths.device);
  if (!opened.empty()) {
    std::fprintf(stderr, "ovix-regsim: cannot open the line: %s\n", opened.c_str());
    return false;
  }
  return true;
}

// SIGTERM and SIGINT end the loop through the signal pipe, so the files are closed.
bool CatchSignals() {
  if (pipe(g_signal_pipe) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

// Control lines from stdin: each is applied and answered with "OK" on stdout.
class ControlChannel {
 public:
  bool open() const { return open_; }
  // Reads what stdin has and applies the lines it completes.
  void Read(Simulator& sim);

 private:
  void Apply(Simulator& sim);

  bool open_ = true;
  std::string buffer_;
  bool overlong_ = false;
};

void ControlChannel::Read(Simulator& sim) {
  char data[4096];
  const ssize_t got = read(STDIN_FILENO, data, sizeof data);
  if (got > 0) {
    buffer_.append(data, static_cast<std::size_t>(got));
  } else if (got == 0 || errno != EINTR) {
    // The simulator keeps serving the line after its control channel has closed.
    open_ = false;
    if (!buffer_.empty()) buffer_ += '\n';
  }
  Apply(sim);
  // The head of an overlong line is dropped now and its end when its newline comes.
  if (buffer_.size() > kControlLineLimit) {
    overlong_ = true;
    buffer_.clear();
  }
}

void ControlChannel::Apply(Simulator& sim) {
  for (std::size_t end; !sim.quit && (end = buffer_.find('\n')) != std::string::npos;) {
    const std::string line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    const std::string error =
        overlong_ ? "control line too long, dropped" : sim.Control(Split(line));
    overlong_ = false;
    if (!error.empty()) {
      std::fprintf(stderr, "ovix-regsim: '%.60s': %s\n", line.c_str(), error.c_str());
    }
    std::printf("OK\n");
    std::fflush(stdout);
  }
}

// False after saying why when the line cannot be read any more.
bool ReadDevice(Simulator& sim) {
  std::uint8_t buffer[4096];
  const ssize_t got = read(sim.port.fd(), buffer, sizeof buffer);
  if (got > 0) {
    sim.OnDeviceBytes(buffer, static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    std::perror("ovix-regsim: read from device");
    return false;
  }
  return true;
}

// Serves the line and the control channel until "quit" or a signal; the exit status.
int Serve(Simulator& sim) {
  ControlChannel control;
  while (!sim.quit) {
    const short device_events =
        static_cast<short>((sim.WantsInput() ? POLLIN : 0) | (sim.WantsOutput() ? POLLOUT : 0));
    pollfd fds[3] = {{device_events != 0 ? sim.port.fd() : -1, device_events, 0},
                     {control.open() ? STDIN_FILENO : -1, POLLIN, 0},
                     {g_signal_pipe[0], POLLIN, 0}};
    const std::optional<timespec> timeout = sim.PollTimeout();
    if (ppoll(fds, 3, timeout ? &*timeout : nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      std::perror("ovix-regsim: poll");
      return 1;
    }
    if (fds[2].revents != 0) break;
    if ((fds[0].revents & (POLLIN | POLLERR | POLLHUP)) && !ReadDevice(sim)) return 1;
    if (fds[1].revents != 0) control.Read(sim);
    sim.Run();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Simulator sim;
  Paths paths;
  if (!ParseOptions(argc, argv, sim, paths)) return 2;
  if (!OpenAll(sim, paths) || !CatchSignals()) return 1;
  std::printf("DEVICE %s\n", sim.port.name().c_str());
  std::fflush(stdout);
  const int status = Serve(sim);
  if (sim.trace != nullptr) std::fclose(sim.trace);
  if (sim.roll != nullptr && sim.roll != stderr) std::fclose(sim.roll);
  return status;
}
