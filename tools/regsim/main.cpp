// ovix-regsim: a scriptable cash register on a pseudo-terminal (or a given serial device) for
// the end-to-end tests. It answers the driver's "T", "S" and "A" frames, writes every event on
// the line to a trace file and takes state changes as text lines on stdin.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using regsim::Bytes;
using Clock = std::chrono::steady_clock;

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

void WriteAll(int fd, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::perror("ovix-regsim: write to device");
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

// Raw 8N1 at 9600 bit/s. On a pseudo-terminal the speed means nothing, but raw mode matters:
// with echo or output processing left on, replies would loop back or get CR bytes added.
bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

struct KeyRule {
  Bytes prefix;
  std::uint8_t status;
  int times;  // 0: until "clear"
};

class Simulator {
 public:
  FILE* trace = nullptr;
  int device = -1;
  bool quit = false;

  // Applies one control line; returns an error text, empty when the line was understood.
  std::string Control(const std::vector<std::string>& args);
  void OnDeviceBytes(const std::uint8_t* data, std::size_t size);
  void SendDue();
  int PollTimeoutMs() const;

 private:
  struct Pending {
    Clock::time_point due;
    Bytes bytes;
  };

  void Trace(char tag, const Bytes& bytes);
  std::optional<Bytes> Answer(const Bytes& body);
  std::uint8_t KeyStatus(long ordinal, const Bytes& keys);

  int fw_major_ = 5, fw_minor_ = 7, byte6_ = 1, second_ = 0, delay_ms_ = 0;
  std::uint8_t status_ = 0;
  bool silent_ = false;
  Bytes noise_;
  long a_count_ = 0;  // "A" commands received so far; fail-nth and mute-nth count from it
  std::map<long, std::uint8_t> fail_at_;
  std::set<long> mute_at_;
  std::vector<KeyRule> key_rules_;
  std::optional<std::uint8_t> fail_all_;
  regsim::FrameParser parser_;
  std::deque<Pending> pending_;
};

void Simulator::Trace(char tag, const Bytes& bytes) {
  if (trace == nullptr) return;
  if (bytes.empty()) {
    std::fprintf(trace, "%c\n", tag);
  } else {
    std::fprintf(trace, "%c %s\n", tag, regsim::ToHex(bytes).c_str());
  }
  std::fflush(trace);
}

std::uint8_t Simulator::KeyStatus(long ordinal, const Bytes& keys) {
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
  return fail_all_.value_or(0);
}

std::optional<Bytes> Simulator::Answer(const Bytes& body) {
  if (body.empty()) return std::nullopt;
  const std::uint8_t letter = body[0];
  std::uint8_t key_status = 0;
  if (letter == 'A') {
    // Counted even when unanswered, so fail-nth and mute-nth keep to the order on the line.
    const long ordinal = ++a_count_;
    if (mute_at_.erase(ordinal) > 0 || silent_) {
      fail_at_.erase(ordinal);
      return std::nullopt;
    }
    key_status = KeyStatus(ordinal, Bytes(body.begin() + 1, body.end()));
  } else if (silent_) {
    return std::nullopt;
  }
  if (letter == 'T') {
    Bytes data(34, 0);
    data[0] = letter;
    data[32] = regsim::ToBcd(fw_minor_);
    data[33] = regsim::ToBcd(fw_major_);
    return data;
  }
  if (letter == 'S') {
    return Bytes{letter, status_, regsim::ToBcd(second_), 0, 0, regsim::ToBcd(byte6_), 0, 0};
  }
  // "A" and any other letter: a keypad-style reply of letter, status byte, second status.
  return Bytes{letter, key_status, regsim::ToBcd(second_)};
}

void Simulator::OnDeviceBytes(const std::uint8_t* data, std::size_t size) {
  for (const auto& event : parser_.Feed(data, size)) {
    using Kind = regsim::FrameParser::Event::Kind;
    if (event.kind == Kind::kAck) {
      Trace('K', {});
    } else if (event.kind == Kind::kNoise) {
      Trace('N', event.wire);
    } else {
      Trace('C', event.wire);
      const Bytes body =
          event.record.size() > 4 ? Bytes(event.record.begin() + 4, event.record.end()) : Bytes();
      if (auto reply = Answer(body)) {
        Bytes bytes = noise_;
        const Bytes frame = regsim::FrameReply(*reply);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        pending_.push_back({Clock::now() + std::chrono::milliseconds(delay_ms_), bytes});
      }
    }
  }
}

// Replies go out in the order their commands came, each not before its due time.
void Simulator::SendDue() {
  const auto now = Clock::now();
  while (!pending_.empty() && pending_.front().due <= now) {
    Trace('R', pending_.front().bytes);
    WriteAll(device, pending_.front().bytes);
    pending_.pop_front();
  }
}

int Simulator::PollTimeoutMs() const {
  if (pending_.empty()) return -1;
  const auto left = pending_.front().due - Clock::now();
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, 1000000));
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
  } else if (cmd == "fail-nth" && (n == 2 || n == 3) && ParseInt(args[1], 1, 1000000, value)) {
    byte = 0x08;
    if (n == 3 && !ParseByte(args[2], byte)) return "bad status byte";
    fail_at_[a_count_ + value] = byte;
  } else if (cmd == "mute-nth" && n == 2 && ParseInt(args[1], 1, 1000000, value)) {
    mute_at_.insert(a_count_ + value);
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
    } else {
      Trace('R', bytes);
      WriteAll(device, bytes);
    }
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

int OpenPty(int& slave, std::string& path) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char* name = ptsname(master);
  if (name == nullptr) return -1;
  path = name;
  // Holding the slave open keeps the master readable while the driver has not opened the
  // line yet or has closed it; without it, reads on the master fail with EIO.
  slave = open(name, O_RDWR | O_NOCTTY);
  if (slave < 0 || !MakeRaw(slave)) return -1;
  return master;
}

int OpenDevice(const std::string& path) {
  // O_NONBLOCK so the open does not wait for carrier; cleared once CLOCAL is set.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0 || !MakeRaw(fd)) return -1;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

void Usage() {
  std::fprintf(stderr,
               "usage: ovix-regsim [--device PATH] [--trace FILE] [--firmware M.m] [--status HEX]\n"
               "                   [--byte6 N] [--second N] [--delay-ms N] [--silent]\n");
}

}  // namespace

int main(int argc, char** argv) {
  Simulator sim;
  std::string device_path, trace_path;
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    const bool has_value = i + 1 < argc;
    std::string error;
    if (opt == "--silent") {
      error = sim.Control({"silent", "on"});
    } else if (opt == "--device" && has_value) {
      device_path = argv[++i];
    } else if (opt == "--trace" && has_value) {
      trace_path = argv[++i];
    } else if (opt == "--delay-ms" && has_value) {
      error = sim.Control({"delay", argv[++i]});
    } else if ((opt == "--firmware" || opt == "--status" || opt == "--byte6" ||
                opt == "--second") &&
               has_value) {
      error = sim.Control({opt.substr(2), argv[++i]});
    } else {
      error = "unknown option " + opt;
    }
    if (!error.empty()) {
      std::fprintf(stderr, "ovix-regsim: %s: %s\n", opt.c_str(), error.c_str());
      Usage();
      return 2;
    }
  }

  if (!trace_path.empty()) {
    sim.trace = std::fopen(trace_path.c_str(), "w");
    if (sim.trace == nullptr) {
      std::perror(("ovix-regsim: " + trace_path).c_str());
      return 1;
    }
  }
  int slave = -1;
  sim.device = device_path.empty() ? OpenPty(slave, device_path) : OpenDevice(device_path);
  if (sim.device < 0) {
    std::perror(("ovix-regsim: cannot open " + device_path).c_str());
    return 1;
  }

  if (pipe(g_signal_pipe) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("DEVICE %s\n", device_path.c_str());
  std::fflush(stdout);

  bool stdin_open = true;
  std::string control_buffer;
  std::uint8_t buffer[512];
  while (!sim.quit) {
    pollfd fds[3] = {{sim.device, POLLIN, 0},
                     {stdin_open ? STDIN_FILENO : -1, POLLIN, 0},
                     {g_signal_pipe[0], POLLIN, 0}};
    if (poll(fds, 3, sim.PollTimeoutMs()) < 0) {
      if (errno == EINTR) continue;
      std::perror("ovix-regsim: poll");
      return 1;
    }
    if (fds[2].revents != 0) break;
    if (fds[0].revents != 0) {
      const ssize_t got = read(sim.device, buffer, sizeof buffer);
      if (got > 0) {
        sim.OnDeviceBytes(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        std::perror("ovix-regsim: read from device");
        return 1;
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
        const std::string error = sim.Control(Split(line));
        if (!error.empty())
          std::fprintf(stderr, "ovix-regsim: '%s': %s\n", line.c_str(), error.c_str());
        std::printf("OK\n");
        std::fflush(stdout);
      }
    }
    sim.SendDue();
  }
  if (slave >= 0) close(slave);
  close(sim.device);
  if (sim.trace != nullptr) std::fclose(sim.trace);
  return 0;
}
