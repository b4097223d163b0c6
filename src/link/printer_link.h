// The request-and-reply link with the register on one serial line: the
// receiver that collects reply frames byte by byte and acknowledges each, and
// the three send-and-wait operations whose verdict lands in JobError().
//
// All members run on the one GUI thread. The link does not own its port, clock
// or pump; they must outlive it. An observer, when set, is told of every byte
// on the line and of how every wait ended (the wire trace for support).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "os/platform.h"

namespace ovix {

// What the translation needs from the link: send one "A" key command and learn
// whether a command of the job has failed. Lets tools replay the translation
// without a register.
class KeyCommandSink {
 public:
  virtual ~KeyCommandSink() = default;
  // Sends "A" + keys as one command and waits for its reply (up to 5 s).
  virtual void SendKeys(std::string_view keys) = 0;
  // True once a command of the running job has failed (JobError() is 2).
  virtual bool CommandFailed() const = 0;
};

// How one command exchange ended.
enum class Exchange {
  Reply,     // a reply came (and, when it was decoded, reported no error)
  NoReply,   // the limit passed without a complete reply
  Refused,   // the reply's status byte reported an error, or it had none
  Released,  // the exit ended the wait before any reply
};

// What a wire trace learns from the link. Calls come on the GUI thread from
// inside the link's own calls, in the order things happen on the line; an
// observer must return quickly, must not throw and must not call the link.
class LinkObserver {
 public:
  enum class Traffic {
    CommandSent,    // a command frame as written to the port
    ReplyReceived,  // a complete reply frame as received, from the DLE that opened it to DLE ETX
    AckSent,        // the ACK (06) written for the reply frame reported just before
    // Received bytes that belong to no complete reply frame: noise, bytes that
    // came before the port was listened to, a frame cut off by a new query or
    // dropped as overlong. Reported as soon as the link knows, often a byte at
    // a time.
    StrayReceived,
  };
  virtual ~LinkObserver() = default;
  virtual void OnTraffic(Traffic traffic, const Bytes& bytes) = 0;
  // The end of the wait that followed a command: how the exchange ended, the
  // wait's limit, and for a refused command the reply's status byte (none
  // when the reply had no status byte).
  virtual void OnWaitEnd(Exchange exchange, std::chrono::seconds limit,
                         std::optional<std::uint8_t> status) = 0;
};

// The printer status word JobError() over a job: what the sends of the job
// have found so far.
enum class PrinterStatus {
  Ok = 0,             // nothing failed
  NoAnswer = 1,       // a query was not answered within 5 s
  CommandFailed = 2,  // a command got no reply within 5 s, or was refused
};

// The identification reply ("T"): the firmware version, from reply data bytes
// 34 (major) and 33 (minor), each read as a packed decimal byte.
struct Identification {
  Exchange exchange = Exchange::NoReply;
  double major = 0;
  double minor = 0;
  // Firmware 5.07 or later keys amounts with the decimal point key and
  // whole numbers with at least three digit keys.
  bool NewFirmware() const { return major > 5 || (major == 5 && minor >= 7); }
};

// The status reply ("S"): the status byte (data byte 2), the second status
// (data byte 3) and the byte-6 value (data byte 6, packed decimal).
struct RegisterStatus {
  Exchange exchange = Exchange::NoReply;
  std::uint8_t statusByte = 0;
  double secondStatus = 0;
  double byte6 = 0;
  bool HasErrorBits() const;
};

class PrinterLink : public KeyCommandSink {
 public:
  static constexpr std::chrono::seconds kShortLimit{5};
  static constexpr std::chrono::seconds kLongLimit{9};
  // A reply frame growing past this many bytes without its closing DLE ETX is
  // dropped unacknowledged and the receiver hunts for the next frame.
  static constexpr std::size_t kMaxReplyRaw = 1024;

  PrinterLink(SerialPort& port, Clock& clock, EventPump& pump);

  // Feeds one received byte to the receiver. On a completed frame writes the
  // ACK (0x06) to the port, rebuilds ReplyHex() and ends a running wait.
  void OnByte(std::uint8_t b);

  // Resets the receiver, clears JobError(), writes the frame head + letter +
  // frame tail unstuffed and waits up to 5 s; JobError() = NoAnswer on
  // time-out. The reply is left undecoded in ReplyHex(). Returns Reply,
  // NoReply or Released.
  Exchange SendQuery(char letter);

  // The identification and status queries, their replies decoded. Without a
  // reply the values are those of an empty reply (0).
  Identification QueryIdentification();
  RegisterStatus QueryStatus();

  // How the last key command ended judged by its own reply alone, even when
  // an earlier failure of the job kept that reply from being decoded: Reply
  // (carried out), Refused, NoReply or Released.
  Exchange LastVerdict() const { return lastVerdict_; }

  // Sends "A" + keys framed as one command and waits up to 5 s. Time-out:
  // JobError() = 2. Otherwise, only when JobError() was 0: SecondStatus() from
  // reply data byte 3, and JobError() = 2 when the status byte (data byte 2)
  // has bit 0x04 or 0x08 set or the reply has fewer than two data bytes.
  // Never sets JobError() to 0. Returns how the exchange ended; a reply that
  // was not decoded (JobError() already set) counts as Reply.
  Exchange SendCommand(std::string_view keys);
  void SendKeys(std::string_view keys) override { SendCommand(keys); }
  // As SendCommand with a 9 s limit; ends with JobError() = Ok whatever happened,
  // and the reply is not decoded (Reply, NoReply or Released).
  Exchange SendCommandLong(std::string_view keys);
  bool CommandFailed() const override { return jobError_ == PrinterStatus::CommandFailed; }

  // What the sends of the running job have found so far (see PrinterStatus).
  PrinterStatus JobError() const { return jobError_; }
  // The second status, from data byte 3 of the last key command's reply that
  // was decoded (0 until one was).
  double SecondStatus() const { return secondStatus_; }
  // The data of the last complete reply frame as uppercase hex, two
  // characters a byte ("" until one came, or when it had too few bytes).
  const std::string& ReplyHex() const { return replyHex_; }

  // A failed job starts over, or its file is filed, by the operator's
  // decision: the failures found so far no longer count (JobError() = Ok).
  void ForgetFailures() { jobError_ = PrinterStatus::Ok; }

  // Ends a running wait at once, as if a reply had come (used by the exit).
  void ReleaseWait() {
    replyComplete_ = true;
    released_ = true;
  }

  // The port was opened: from now on the receiver hunts for reply frames and
  // acknowledges every frame the register sends, asked for or not.
  void StartReceiving() {
    if (receiveState_ == ReceiveState::Idle) receiveState_ = ReceiveState::HuntDle;
  }

  // Reopens the port when a failure closed it (and starts receiving); false
  // with the reason when it cannot be opened.
  bool EnsurePortOpen(std::string* error);

  // From now on every byte sent and received and the end of every wait are
  // reported to `observer` (not owned; it must outlive the link or be replaced
  // first). nullptr: nothing is reported.
  void SetObserver(LinkObserver* observer) {
    observer_ = observer;
    frameWire_.clear();
  }

 private:
  enum class ReceiveState {
    Idle,       // the port was not opened yet: every byte ignored
    HuntDle,    // waiting for the DLE that opens a frame
    ExpectStx,  // DLE seen, waiting for STX
    InFrame,    // collecting the reply record
  };

  // The receiver's steps for one byte in each state but Idle.
  void HuntDle(std::uint8_t b, const Bytes& byte);
  void ExpectStx(std::uint8_t b, const Bytes& byte);
  void CollectInFrame(std::uint8_t b);
  // The closing DLE ETX arrived: acknowledges the frame and ends the wait.
  void CompleteFrame();
  // Pumps events until a reply is complete or until more than `limit` has
  // passed since the call; the time test comes first in each pass. True on
  // time-out.
  bool Wait(std::chrono::nanoseconds limit);
  void Compose(std::string_view keys);
  // Frames the composed command, writes it and waits up to `limit`; true on
  // time-out.
  bool WriteFramedAndWait(std::chrono::nanoseconds limit);
  void Report(LinkObserver::Traffic traffic, const Bytes& bytes) {
    if (observer_) observer_->OnTraffic(traffic, bytes);
  }
  // Reports the bytes of a frame that will not complete as stray.
  void DropFrameWire();
  // Writes commandText_ and reports it.
  void WriteCommand();
  // Reports the end of a wait and returns `exchange`.
  Exchange Ended(Exchange exchange, std::chrono::seconds limit,
                 std::optional<std::uint8_t> status = std::nullopt);

  SerialPort& port_;
  Clock& clock_;
  EventPump& pump_;
  const Bytes frameHead_;
  const Bytes frameTail_;
  Bytes commandText_;  // the command being sent, framed once written
  ReceiveState receiveState_ = ReceiveState::Idle;
  bool dlePending_ = false;  // a DLE of the frame waits for its partner
  Bytes replyRaw_;           // the reply record collected so far
  std::string replyHex_;
  bool replyComplete_ = false;
  PrinterStatus jobError_ = PrinterStatus::Ok;
  double secondStatus_ = 0;
  bool released_ = false;  // the running wait was ended by ReleaseWait
  Exchange lastVerdict_ = Exchange::NoReply;
  LinkObserver* observer_ = nullptr;
  // With an observer: the wire bytes of the reply frame being received, from
  // the DLE that may open it.
  Bytes frameWire_;
};

// Status byte of a reply in hex: data byte 2 (characters 3-4 of replyHex).
std::uint8_t StatusByte(std::string_view replyHex);
// True when the status byte has an error bit (0x04 or 0x08) set.
bool HasErrorBits(std::uint8_t status);

}  // namespace ovix
