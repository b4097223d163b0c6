#include "link/printer_link.h"

#include <utility>

#include "link/frame_codec.h"

namespace ovix {

using std::chrono::nanoseconds;

PrinterLink::PrinterLink(SerialPort& port, Clock& clock, EventPump& pump)
    : FrameHead(MakeFrameHead()),
      FrameTail(MakeFrameTail()),
      port_(port),
      clock_(clock),
      pump_(pump) {}

void PrinterLink::OnByte(std::uint8_t b) {
  using Traffic = LinkObserver::Traffic;
  const Bytes byte(1, static_cast<char>(b));
  switch (ReceiveState) {
    case kIdle:
      Report(Traffic::StrayReceived, byte);
      return;
    case kHuntDle:
      if (b != kDle) {
        Report(Traffic::StrayReceived, byte);
      } else {
        ReceiveState = kExpectStx;
        if (observer_) frameWire_ = byte;
      }
      return;
    case kExpectStx:
      if (observer_) {
        frameWire_ += byte;
        // Bytes between a DLE and the STX are ignored; a run of them that no
        // STX ends must not pile up.
        if (frameWire_.size() > kMaxReplyRaw) DropFrameWire();
      }
      if (b == kStx) {
        // A new frame starts clean: a DLE left pending or data left over by a
        // frame that was cut off must not shift or prefix this reply.
        ReceiveState = kInFrame;
        DlePending = 0;
        ReplyRaw.clear();
      }
      return;
    default:
      break;
  }
  if (observer_) frameWire_ += byte;
  if (b == kDle) {
    if (DlePending == 0) {
      ReplyRaw.push_back(static_cast<char>(b));
      DlePending = 1;
    } else {
      DlePending = 0;
    }
  } else {
    ReplyRaw.push_back(static_cast<char>(b));
    if (b == kEtx && DlePending == 1) {
      Report(Traffic::ReplyReceived, std::exchange(frameWire_, {}));
      const Bytes ack(1, static_cast<char>(kAck));
      port_.Write(ack);
      Report(Traffic::AckSent, ack);
      ReceiveState = kHuntDle;
      DlePending = 0;
      ReplyHex = ReplyHexOf(ReplyRaw);
      ReplyComplete = 1;
      return;
    }
  }
  if (ReplyRaw.size() > kMaxReplyRaw) {
    ReceiveState = kHuntDle;
    DlePending = 0;
    ReplyRaw.clear();
    DropFrameWire();
  }
}

void PrinterLink::DropFrameWire() {
  if (!frameWire_.empty()) Report(LinkObserver::Traffic::StrayReceived, frameWire_);
  frameWire_.clear();
}

void PrinterLink::WriteCommand() {
  port_.Write(CommandText);
  Report(LinkObserver::Traffic::CommandSent, CommandText);
}

Exchange PrinterLink::Ended(Exchange exchange, std::chrono::seconds limit,
                            std::optional<std::uint8_t> status) {
  if (observer_) observer_->OnWaitEnd(exchange, limit, status);
  return exchange;
}

bool PrinterLink::Wait(nanoseconds limit) {
  // A pass may block until just past the limit, so that a silent register ends
  // the wait without the pump spinning.
  static constexpr nanoseconds kPastLimit = std::chrono::milliseconds(1);
  const nanoseconds start = clock_.Now();
  nanoseconds elapsed{0};
  for (;;) {
    pump_.RunPendingEvents(limit - elapsed + kPastLimit);
    elapsed = clock_.Now() - start;
    if (elapsed > limit) return true;
    if (ReplyComplete == 1) return false;
  }
}

Exchange PrinterLink::SendQuery(char letter) {
  ReceiveState = kHuntDle;
  ReplyComplete = 0;
  ReplyRaw.clear();
  JobError = PrinterStatus::Ok;
  released_ = false;
  DropFrameWire();
  CommandText = FrameHead + letter + FrameTail;
  WriteCommand();
  if (Wait(kShortLimit)) {
    JobError = PrinterStatus::NoAnswer;
    return Ended(Exchange::NoReply, kShortLimit);
  }
  return Ended(released_ ? Exchange::Released : Exchange::Reply, kShortLimit);
}

namespace {
// The packed decimal reading of reply data byte n (1-based) of a reply in hex.
double DataByteReading(std::string_view replyHex, std::size_t n) {
  const std::size_t at = 2 * (n - 1);
  return DecimalReading(at < replyHex.size() ? replyHex.substr(at, 2) : std::string_view{});
}
}  // namespace

Identification PrinterLink::QueryIdentification() {
  Identification id;
  id.exchange = SendQuery('T');
  id.major = DataByteReading(ReplyHex, 34);
  id.minor = DataByteReading(ReplyHex, 33);
  return id;
}

RegisterStatus PrinterLink::QueryStatus() {
  RegisterStatus status;
  status.exchange = SendQuery('S');
  status.statusByte = StatusByte(ReplyHex);
  status.secondStatus = DataByteReading(ReplyHex, 3);
  status.byte6 = DataByteReading(ReplyHex, 6);
  return status;
}

Exchange PrinterLink::SendCommand() {
  ReplyComplete = 0;
  ReplyRaw.clear();
  released_ = false;
  FrameCommand(CommandText);
  WriteCommand();
  if (Wait(kShortLimit)) {
    JobError = PrinterStatus::CommandFailed;
    lastVerdict_ = Exchange::NoReply;
    return Ended(Exchange::NoReply, kShortLimit);
  }
  if (released_) {
    lastVerdict_ = Exchange::Released;
    return Ended(Exchange::Released, kShortLimit);
  }
  // A reply without a status byte cannot confirm that the command was carried out.
  const bool hasStatus = ReplyHex.size() >= 4;
  const bool refused = !hasStatus || HasErrorBits(StatusByte(ReplyHex));
  lastVerdict_ = refused ? Exchange::Refused : Exchange::Reply;
  if (JobError != PrinterStatus::Ok) return Ended(Exchange::Reply, kShortLimit);
  SecondStatus = DataByteReading(ReplyHex, 3);
  if (refused) {
    JobError = PrinterStatus::CommandFailed;
    return Ended(Exchange::Refused, kShortLimit,
                 hasStatus ? std::optional(StatusByte(ReplyHex)) : std::nullopt);
  }
  return Ended(Exchange::Reply, kShortLimit);
}

Exchange PrinterLink::SendCommandLong() {
  ReplyComplete = 0;
  ReplyRaw.clear();
  released_ = false;
  FrameCommand(CommandText);
  WriteCommand();
  const bool timedOut = Wait(kLongLimit);
  JobError = PrinterStatus::Ok;
  if (timedOut) return Ended(Exchange::NoReply, kLongLimit);
  return Ended(released_ ? Exchange::Released : Exchange::Reply, kLongLimit);
}

void PrinterLink::Compose(std::string_view keys) {
  CommandText = FrameHead;
  CommandText += 'A';
  CommandText += keys;
  CommandText += FrameTail;
}

Exchange PrinterLink::Send(std::string_view keys) {
  Compose(keys);
  return SendCommand();
}

bool PrinterLink::EnsurePortOpen(std::string* error) {
  if (!port_.EnsureOpen(error)) return false;
  StartReceiving();
  return true;
}

Exchange PrinterLink::SendKeysLong(std::string_view keys) {
  Compose(keys);
  return SendCommandLong();
}

std::uint8_t StatusByte(std::string_view replyHex) {
  const Bytes status =
      HexPairsToBytes(replyHex.substr(std::min<std::size_t>(2, replyHex.size()), 2));
  return status.empty() ? 0 : static_cast<std::uint8_t>(status[0]);
}

bool RegisterStatus::HasErrorBits() const {
  return ovix::HasErrorBits(statusByte);
}

bool HasErrorBits(std::uint8_t status) {
  return (status & 0x0C) != 0;
}

}  // namespace ovix
