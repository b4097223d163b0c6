#include "register.h"

#include <algorithm>
#include <charconv>

namespace regsim {

namespace {

const char* const kMalformed = "unknown or malformed command";

}  // namespace

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
  if (!ParseHex(text, bytes) || bytes.size() != 1) return false;
  out = bytes[0];
  return true;
}

std::string ParseHexArgs(const Args& args, Bytes& out) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!ParseHex(args[i], out)) return "bad hex " + args[i];
  }
  return {};
}

const Register::Command Register::kCommands[] = {
    {"clear", &Register::Clear},       {"silent", &Register::Silent},
    {"firmware", &Register::Firmware}, {"status", &Register::Status},
    {"fail-nth", &Register::FailNth},  {"mute-nth", &Register::MuteNth},
    {"late-nth", &Register::LateNth},  {"garble-nth", &Register::GarbleNth},
    {"fail-all", &Register::FailAll},  {"fail-keys", &Register::FailKeys},
    {"noise", &Register::Noise},
};

const Register::Number Register::kNumbers[] = {
    {"byte6", [](Register& r) -> int& { return r.byte6_; }, 0, 99},
    {"second", [](Register& r) -> int& { return r.second_; }, 0, 99},
    {"delay", [](Register& r) -> int& { return r.line.delay_ms; }, 0, 600000},
    {"late", [](Register& r) -> int& { return r.line.late_ms; }, 0, 600000},
    {"split", [](Register& r) -> int& { return r.line.split_ms; }, 0, 60000},
};

std::string Register::Set(const Args& args) {
  const std::string& cmd = args[0];
  for (const Command& c : kCommands) {
    if (cmd == c.name) return (this->*c.set)(args);
  }
  for (const Number& number : kNumbers) {
    if (cmd != number.name) continue;
    int value = 0;
    if (args.size() != 2 || !ParseInt(args[1], number.lo, number.hi, value)) return kMalformed;
    number.field(*this) = value;
    return {};
  }
  return kMalformed;
}

std::string Register::Clear(const Args& args) {
  if (args.size() != 1) return kMalformed;
  fail_at_.clear();
  key_rules_.clear();
  fail_all_.reset();
  return {};
}

std::string Register::Silent(const Args& args) {
  if (args.size() != 2 || (args[1] != "on" && args[1] != "off")) return kMalformed;
  line.silent = args[1] == "on";
  return {};
}

std::string Register::Firmware(const Args& args) {
  if (args.size() != 2) return kMalformed;
  const std::size_t dot = args[1].find('.');
  int major = 0, minor = 0;
  if (!ParseInt(args[1].substr(0, dot), 0, 99, major) ||
      (dot != std::string::npos && !ParseInt(args[1].substr(dot + 1), 0, 99, minor))) {
    return "bad firmware version";
  }
  fw_major_ = major;
  fw_minor_ = minor;
  return {};
}

std::string Register::Status(const Args& args) {
  if (args.size() != 2 || !ParseByte(args[1], status_)) return kMalformed;
  return {};
}

std::string Register::FailNth(const Args& args) {
  const std::size_t n = args.size();
  int value = 0;
  if ((n != 2 && n != 3) || !ParseInt(args[1], 1, 1000000, value)) return kMalformed;
  std::uint8_t byte = 0x08;
  if (n == 3 && !ParseByte(args[2], byte)) return "bad status byte";
  fail_at_[a_count_ + value] = byte;
  return {};
}

std::string Register::MuteNth(const Args& args) {
  int value = 0;
  if (args.size() != 2 || !ParseInt(args[1], 1, 1000000, value)) return kMalformed;
  mute_at_.insert(a_count_ + value);
  return {};
}

std::string Register::LateNth(const Args& args) {
  int value = 0, ms = 0;
  if (args.size() != 3 || !ParseInt(args[1], 1, 1000000, value)) return kMalformed;
  if (!ParseInt(args[2], 0, 600000, ms)) return "bad milliseconds";
  late_at_[a_count_ + value] = ms;
  return {};
}

std::string Register::GarbleNth(const Args& args) {
  int value = 0;
  if (args.size() < 3 || !ParseInt(args[1], 1, 1000000, value)) return kMalformed;
  Bytes bytes;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (!ParseHex(args[i], bytes)) return "bad byte " + args[i];
  }
  garble_at_[a_count_ + value] = bytes;
  return {};
}

std::string Register::FailAll(const Args& args) {
  std::uint8_t byte = 0;
  if (args.size() != 2 || !ParseByte(args[1], byte)) return kMalformed;
  fail_all_ = byte;
  return {};
}

// Key bytes that a command's keys must begin with, and optionally "status XX" and "times N".
std::string Register::FailKeys(const Args& args) {
  const std::size_t n = args.size();
  if (n < 2) return kMalformed;
  KeyRule rule{{}, 0x08, 1};
  for (std::size_t i = 1; i < n; ++i) {
    if (args[i] == "status" && i + 1 < n) {
      if (!ParseByte(args[++i], rule.status)) return "bad status byte";
    } else if (args[i] == "times" && i + 1 < n) {
      if (!ParseInt(args[++i], 0, 1000000, rule.times)) return "bad times";
    } else if (!ParseHex(args[i], rule.prefix)) {
      return "bad key byte " + args[i];
    }
  }
  if (rule.prefix.empty()) return "no key bytes";
  key_rules_.push_back(rule);
  return {};
}

std::string Register::Noise(const Args& args) {
  if (args.size() < 2) return kMalformed;
  if (args.size() == 2 && args[1] == "off") {
    line.noise.clear();
    return {};
  }
  Bytes bytes;
  if (auto error = ParseHexArgs(args, bytes); !error.empty()) return error;
  line.noise = bytes;
  return {};
}

bool Register::Faults(long ordinal, Reply& reply) {
  if (auto late = late_at_.find(ordinal); late != late_at_.end()) {
    reply.late_ms = late->second;
    late_at_.erase(late);
  }
  if (auto garble = garble_at_.find(ordinal); garble != garble_at_.end()) {
    reply.garble = garble->second;
    garble_at_.erase(garble);
  }
  if (mute_at_.erase(ordinal) > 0 || line.silent) {
    fail_at_.erase(ordinal);
    return false;
  }
  return true;
}

std::optional<std::uint8_t> Register::RuleStatus(long ordinal, const Bytes& keys) {
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

std::optional<Register::Reply> Register::Answer(const Bytes& body) {
  if (body.empty()) return std::nullopt;
  const std::uint8_t letter = body[0];
  Reply reply;
  std::uint8_t key_status = 0;
  if (letter == 'A') {
    // Counted even when unanswered, so fail-nth and mute-nth keep to the order on the line.
    const long ordinal = ++a_count_;
    if (!Faults(ordinal, reply)) return std::nullopt;
    // A failure rule decides the reply; the register runs the keys unless the rule's status
    // reports an error (bits 0x0C), in which case the keys were refused.
    const Bytes keys(body.begin() + 1, body.end());
    const auto rule = RuleStatus(ordinal, keys);
    if (!rule || (*rule & 0x0C) == 0) key_status = keypad_.Press(keys, DecimalPoint());
    if (rule) key_status = *rule;
  } else if (line.silent) {
    return std::nullopt;
  }
  if (letter == 'T') {
    keypad_.Query();
    reply.data.assign(34, 0);
    reply.data[0] = letter;
    reply.data[32] = ToBcd(fw_minor_);
    reply.data[33] = ToBcd(fw_major_);
  } else if (letter == 'S') {
    keypad_.Query();
    reply.data = {letter, status_, ToBcd(second_), 0, 0, ToBcd(byte6_), 0, 0};
  } else {
    // "A" and any other letter: a keypad-style reply of letter, status byte, second status.
    reply.data = {letter, key_status, ToBcd(second_)};
  }
  return reply;
}

}  // namespace regsim
