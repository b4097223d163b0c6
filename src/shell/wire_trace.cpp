#include "shell/wire_trace.h"

#include <ctime>
#include <utility>

#include "os/os.h"
#include "os/text.h"

namespace ovix {
namespace {

using std::chrono::milliseconds;

constexpr std::size_t kStrayPerLine = 256;

void AppendHex(std::string& out, const Bytes& bytes) {
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += ' ';
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0x0F];
  }
}

std::string_view EventName(LinkObserver::Traffic traffic) {
  switch (traffic) {
    case LinkObserver::Traffic::CommandSent:
      return "TX";
    case LinkObserver::Traffic::ReplyReceived:
      return "RX";
    case LinkObserver::Traffic::AckSent:
      return "ACK";
    case LinkObserver::Traffic::StrayReceived:
      break;
  }
  return "STRAY";
}

std::string_view OutcomeName(Exchange exchange) {
  switch (exchange) {
    case Exchange::Reply:
      return "REPLY";
    case Exchange::NoReply:
      return "NOREPLY";
    case Exchange::Refused:
      return "REFUSED";
    case Exchange::Released:
      break;
  }
  return "RELEASED";
}

// Whether the file's last byte is not a line end: a crash left a line open.
bool EndsInsideALine(Env& env, const std::string& path) {
  const std::optional<std::string> bytes = env.ReadFile(PathFromText(path), nullptr);
  return bytes && !bytes->empty() && bytes->back() != '\n';
}

}  // namespace

std::string TraceTime(WireTrace::TimePoint when) {
  const auto sinceEpoch = std::chrono::floor<milliseconds>(when.time_since_epoch());
  const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
  const std::tm local =
      LocalCalendarTime(std::chrono::system_clock::to_time_t(WireTrace::TimePoint(seconds)));
  char text[64];
  std::string out(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local));
  const auto ms = static_cast<int>((sinceEpoch - seconds).count());
  out += '.';
  out += static_cast<char>('0' + ms / 100);
  out += static_cast<char>('0' + ms / 10 % 10);
  out += static_cast<char>('0' + ms % 10);
  return out;
}

WireTrace::WireTrace(Env& env, std::string path, const EventLog& log, TimeSource now,
                     std::uintmax_t sizeLimit)
    : env_(env), path_(std::move(path)), log_(log), now_(std::move(now)), sizeLimit_(sizeLimit) {
  if (!now_) now_ = [&env] { return env.Now(); };
  if (Open(false) && size_ > 0 && EndsInsideALine(env_, path_)) Write("\r\n");
}

WireTrace::~WireTrace() {
  EndStrayRun();
}

bool WireTrace::Open(bool full) {
  const std::filesystem::path path = PathFromText(path_);
  FileStatus status;
  size_ = env_.Status(path, &status, nullptr) ? status.size : 0;
  if (full || size_ >= sizeLimit_) {
    std::string error;
    const auto old =
        std::filesystem::path(path).replace_filename(PathFromText(std::string(kOldTraceFileName)));
    if (!env_.RenameReplacing(path, old, &error)) {
      Stop(error);
      return false;
    }
    size_ = 0;
  }
  std::string error;
  file_ = env_.NewAppendableFile(path, &error);
  if (!file_) {
    Stop(error);
    return false;
  }
  return true;
}

void WireTrace::Write(std::string_view text) {
  if (!file_) return;
  if (size_ > 0 && size_ + text.size() > sizeLimit_) {
    file_.reset();
    if (!Open(true)) return;
  }
  std::string error;
  if (file_->Append(text, &error)) {
    size_ += text.size();
    return;
  }
  Stop(error);
}

void WireTrace::Stop(std::string_view reason) {
  file_.reset();
  strayCount_ = 0;
  std::string line = "-> EROARE !! TRASAREA COMUNICATIEI ";
  line += path_;
  line += " NU POATE FI SCRISA: ";
  line += reason;
  line += "; TRASARE OPRITA";
  log_.WriteLogLine(line);
}

void WireTrace::EndStrayRun() {
  if (strayCount_ == 0) return;
  strayCount_ = 0;
  strayLine_ += "\r\n";
  Write(strayLine_);
}

void WireTrace::WriteLine(TimePoint when, std::string_view event) {
  EndStrayRun();
  std::string text = TraceTime(when);
  text += ' ';
  text += event;
  text += "\r\n";
  Write(text);
}

void WireTrace::OnTraffic(Traffic traffic, const Bytes& bytes) {
  if (!file_) return;
  const TimePoint now = now_();
  if (traffic != Traffic::StrayReceived) {
    std::string event(EventName(traffic));
    if (traffic != Traffic::AckSent) AppendHex(event, bytes);
    WriteLine(now, event);
    return;
  }
  for (const char c : bytes) {
    if (strayCount_ == 0) {
      strayLine_ = TraceTime(now);
      strayLine_ += " STRAY";
    }
    AppendHex(strayLine_, Bytes(1, c));
    if (++strayCount_ == kStrayPerLine) EndStrayRun();
  }
}

void WireTrace::OnWaitEnd(Exchange exchange, std::chrono::seconds limit,
                          std::optional<std::uint8_t> status) {
  if (!file_) return;
  std::string event = "WAIT ";
  event += OutcomeName(exchange);
  event += ' ';
  event += std::to_string(limit.count());
  event += 's';
  if (status) AppendHex(event, Bytes(1, static_cast<char>(*status)));
  WriteLine(now_(), event);
}

std::string WireTracePath(const DriverSettings& settings) {
  return NativeDirectory(settings.BONDIR) + std::string(kTraceFileName);
}

std::unique_ptr<WireTrace> StartWireTrace(Env& env, const DriverSettings& settings,
                                          const EventLog& log) {
  if (!settings.TRACE) return nullptr;
  auto trace = std::make_unique<WireTrace>(env, WireTracePath(settings), log);
  if (!trace->Writing()) return nullptr;
  // Named as the other log lines name files: the directory as set.
  std::string line = "-> TRASARE COMUNICATIE PORNITA: ";
  line += settings.BONDIR;
  line += kTraceFileName;
  log.WriteLogLine(line);
  return trace;
}

}  // namespace ovix
