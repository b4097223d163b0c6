#include "link/printer_link.h"

#include <utility>

#include "link/frame_codec.h"

namespace ovix {

using std::chrono::nanoseconds;

PrinterLink::PrinterLink(SerialPort& port, Clock& clock, EventPump& pump)
    : port_(port),
      clock_(clock),
      pump_(pump),
      frameHead_(MakeFrameHead()),
      frameTail_(MakeFrameTail()) {}

void PrinterLink::OnByte(std::uint8_t b) {
  const Bytes byte(1, static_cast<char>(b));
  switch (receiveState_) {
    case ReceiveState::Idle:
      return Report(LinkObserver::Traffic::StrayReceived, byte);
    case ReceiveState::HuntDle:
      return HuntDle(b, byte);
    case ReceiveState::ExpectStx:
      return ExpectStx(b, byte);
    case ReceiveState::InFrame:
      if (observer_) frameWire_ += byte;
      return CollectInFrame(b);
  }
}

void PrinterLink::HuntDle(std::uint8_t b, const Bytes& byte) {
  if (b != kDle) {
    Report(LinkObserver::Traffic::StrayReceived, byte);
  } else {
    receiveState_ = ReceiveState::ExpectStx;
    if (observer_) frameWire_ = byte;
  }
}

void PrinterLink::ExpectStx(std::uint8_t b, const Bytes& byte) {
  if (observer_) {
    frameWire_ += byte;
    // Bytes between a DLE and the STX are ignored; a run of them that no
    // STX ends must not pile up.
    if (frameWire_.size() > kMaxReplyRaw) DropFrameWire();
  }
  if (b == kStx) {
    // A new frame starts clean: a DLE left pending or data left over by a
    // frame that was cut off must not shift or prefix this reply.
    receiveState_ = ReceiveState::InFrame;
    dlePending_ = false;
    replyRaw_.clear();
  }
}

void PrinterLink::CollectInFrame(std::uint8_t b) {
  if (b == kDle) {
    // The first DLE of a pair is kept as data; its partner is dropped.
    if (!dlePending_) replyRaw_.push_back(static_cast<char>(b));
    dlePending_ = !dlePending_;
  } else {
    replyRaw_.push_back(static_cast<char>(b));
    if (b == kEtx && dlePending_) return CompleteFrame();
  }
  if (replyRaw_.size() > kMaxReplyRaw) {
    receiveState_ = ReceiveState::HuntDle;
    dlePending_ = false;
    replyRaw_.clear();
    DropFrameWire();
  }
}

void PrinterLink::CompleteFrame() {
  Report(LinkObserver::Traffic::ReplyReceived, std::exchange(frameWire_, {}));
  const Bytes ack(1, static_cast<char>(kAck));
  port_.Write(ack);
  Report(LinkObserver::Traffic::AckSent, ack);
  receiveState_ = ReceiveState::HuntDle;
  dlePending_ = false;
  replyHex_ = ReplyHexOf(replyRaw_);
  replyComplete_ = true;
}

void PrinterLink::DropFrameWire() {
  if (!frameWire_.empty()) Report(LinkObserver::Traffic::StrayReceived, frameWire_);
  frameWire_.clear();
}

void PrinterLink::WriteCommand() {
  port_.Write(commandText_);
  Report(LinkObserver::Traffic::CommandSent, commandText_);
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
    if (replyComplete_) return false;
  }
}

Exchange PrinterLink::SendQuery(char letter) {
  receiveState_ = ReceiveState::HuntDle;
  replyComplete_ = false;
  replyRaw_.clear();
  jobError_ = PrinterStatus::Ok;
  released_ = false;
  DropFrameWire();
  commandText_ = frameHead_ + letter + frameTail_;
  WriteCommand();
  if (Wait(kShortLimit)) {
    jobError_ = PrinterStatus::NoAnswer;
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
  id.major = DataByteReading(replyHex_, 34);
  id.minor = DataByteReading(replyHex_, 33);
  return id;
}

RegisterStatus PrinterLink::QueryStatus() {
  RegisterStatus status;
  status.exchange = SendQuery('S');
  status.statusByte = StatusByte(replyHex_);
  status.secondStatus = DataByteReading(replyHex_, 3);
  status.byte6 = DataByteReading(replyHex_, 6);
  return status;
}

bool PrinterLink::WriteFramedAndWait(nanoseconds limit) {
  replyComplete_ = false;
  replyRaw_.clear();
  released_ = false;
  FrameCommand(commandText_);
  WriteCommand();
  return Wait(limit);
}

Exchange PrinterLink::SendCommand(std::string_view keys) {
  Compose(keys);
  if (WriteFramedAndWait(kShortLimit)) {
    jobError_ = PrinterStatus::CommandFailed;
    lastVerdict_ = Exchange::NoReply;
    return Ended(Exchange::NoReply, kShortLimit);
  }
  if (released_) {
    lastVerdict_ = Exchange::Released;
    return Ended(Exchange::Released, kShortLimit);
  }
  // A reply without a status byte cannot confirm that the command was carried out.
  const bool hasStatus = replyHex_.size() >= 4;
  const bool refused = !hasStatus || HasErrorBits(StatusByte(replyHex_));
  lastVerdict_ = refused ? Exchange::Refused : Exchange::Reply;
  if (jobError_ != PrinterStatus::Ok) return Ended(Exchange::Reply, kShortLimit);
  secondStatus_ = DataByteReading(replyHex_, 3);
  if (refused) {
    jobError_ = PrinterStatus::CommandFailed;
    return Ended(Exchange::Refused, kShortLimit,
                 hasStatus ? std::optional(StatusByte(replyHex_)) : std::nullopt);
  }
  return Ended(Exchange::Reply, kShortLimit);
}

Exchange PrinterLink::SendCommandLong(std::string_view keys) {
  Compose(keys);
  const bool timedOut = WriteFramedAndWait(kLongLimit);
  jobError_ = PrinterStatus::Ok;
  if (timedOut) return Ended(Exchange::NoReply, kLongLimit);
  return Ended(released_ ? Exchange::Released : Exchange::Reply, kLongLimit);
}

void PrinterLink::Compose(std::string_view keys) {
  commandText_ = frameHead_;
  commandText_ += 'A';
  commandText_ += keys;
  commandText_ += frameTail_;
}

bool PrinterLink::EnsurePortOpen(std::string* error) {
  if (!port_.EnsureOpen(error)) return false;
  StartReceiving();
  return true;
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
