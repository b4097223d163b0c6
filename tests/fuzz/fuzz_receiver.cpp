// Feeds arbitrary bytes to the reply receiver of PrinterLink, both directly
// and through the waits of SendQuery, SendKeys and SendCommandLong, and checks
// the receiver after every byte and the link's verdict after every wait.
//
// The input is a sequence of operations, each an operation byte followed by
// its operands (see RunOperation). Each pump pass of a wait takes a control
// byte from the input: below kFirstPause it delivers that many plus one of the
// following input bytes to the receiver, otherwise it lets time pass. When the
// input is used up, time runs to the end of the wait.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "link/frame_codec.h"
#include "link/printer_link.h"
#include "os/platform.h"

namespace ovix::fuzz {
namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;

constexpr std::uint8_t kFirstPause = 0xE0;
constexpr std::size_t kMaxReplyRawSeen = PrinterLink::kMaxReplyRaw + 2;

// A model of the receiver, written apart from PrinterLink, that says which
// bytes complete a frame and what the frame's record is: DLE STX opens a
// frame (whatever came between them is ignored, and the frame starts with no
// DLE pending), the first DLE of a pair is data and its partner is dropped,
// a DLE that another byte follows still waits for its partner, DLE ETX
// closes the frame, and a record longer than kMaxReplyRaw is dropped.
struct ModelReceiver {
  enum class State { HuntDle, ExpectStx, InFrame } state = State::HuntDle;
  bool dlePending = false;
  Bytes raw;

  // SendQuery: hunting for a new frame, nothing collected.
  void NewQuery() {
    state = State::HuntDle;
    raw.clear();
  }
  // True when the byte completes a frame.
  bool Feed(std::uint8_t b) {
    if (state == State::HuntDle) {
      if (b == kDle) state = State::ExpectStx;
      return false;
    }
    if (state == State::ExpectStx) {
      if (b == kStx) {
        state = State::InFrame;
        dlePending = false;
        raw.clear();
      }
      return false;
    }
    const bool pairedDle = b == kDle && dlePending;
    if (!pairedDle) raw += static_cast<char>(b);
    if (b == kEtx && dlePending) {
      state = State::HuntDle;
      dlePending = false;
      return true;
    }
    if (b == kDle) dlePending = !dlePending;
    if (raw.size() > PrinterLink::kMaxReplyRaw) {
      state = State::HuntDle;
      dlePending = false;
      raw.clear();
    }
    return false;
  }
};

bool IsUpperHex(const std::string& text) {
  return std::ranges::all_of(
      text, [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

int HexDigitValue(char c) {
  return c <= '9' ? c - '0' : c - 'A' + 10;
}

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

// A command frame as the register expects it, built independently of
// FrameCommand: head, "A" + keys with every 0x10 doubled, DLE ETX.
Bytes ExpectedKeyFrame(std::string_view keys) {
  Bytes frame = MakeFrameHead();
  frame += 'A';
  for (char c : keys) {
    frame += c;
    if (static_cast<unsigned char>(c) == kDle) frame += c;
  }
  return frame + MakeFrameTail();
}

// A reply record on the wire: DLE STX, the record with 0x10 doubled, DLE ETX.
Bytes WireFrame(std::string_view record) {
  Bytes wire{static_cast<char>(kDle), static_cast<char>(kStx)};
  for (char c : record) {
    wire += c;
    if (static_cast<unsigned char>(c) == kDle) wire += c;
  }
  return wire + MakeFrameTail();
}

// The far end of the link: serial port, clock and event pump in one, driven by
// the fuzz input. Time stands still except when a pump pass lets it pass.
class FuzzRegister : public SerialPort, public Clock, public EventPump {
 public:
  explicit FuzzRegister(InputReader& in) : in_(in) {}

  void Attach(PrinterLink& link) { link_ = &link; }

  void Write(const Bytes& bytes) override {
    if (bytes == Bytes(1, static_cast<char>(kAck))) {
      ++acks;
    } else {
      lastWrite = bytes;
      ++commandWrites;
    }
  }

  nanoseconds Now() override { return now; }

  void RunPendingEvents(nanoseconds maxBlock) override {
    OVIX_FUZZ_CHECK(maxBlock > 0ns);
    if (scripted_) {
      const Bytes wire = std::move(*scripted_);
      scripted_.reset();
      now += std::min<nanoseconds>(1ms, maxBlock);
      for (unsigned char b : wire) Feed(b);
      return;
    }
    if (in_.Empty()) {
      now += maxBlock;
      return;
    }
    const std::uint8_t control = in_.Byte();
    if (control < kFirstPause) {
      now += std::min<nanoseconds>(1ms, maxBlock);
      for (unsigned char b : in_.Bytes(control + 1u)) Feed(b);
      return;
    }
    now += std::min<nanoseconds>(maxBlock, (control - kFirstPause + 1) * 250ms);
  }

  // The first pump pass of the next wait delivers these bytes.
  void Script(Bytes wire) { scripted_ = std::move(wire); }

  // Passes one byte to the receiver and checks what it did with it against
  // the model: an ACK exactly for a completed frame, and then the record's
  // data as the reply.
  void Feed(std::uint8_t b) {
    PrinterLink& link = *link_;
    const int acksBefore = acks;
    const int writesBefore = commandWrites;
    const std::string hexBefore = link.ReplyHex();

    link.OnByte(b);
    const bool completes = model.Feed(b);

    OVIX_FUZZ_CHECK(acks == acksBefore + (completes ? 1 : 0));
    OVIX_FUZZ_CHECK(commandWrites == writesBefore);
    OVIX_FUZZ_CHECK(model.raw.size() <= kMaxReplyRawSeen);
    if (completes) {
      OVIX_FUZZ_CHECK(!model.raw.empty() && model.raw.back() == static_cast<char>(kEtx));
      OVIX_FUZZ_CHECK(link.ReplyHex().size() % 2 == 0 && IsUpperHex(link.ReplyHex()));
      OVIX_FUZZ_CHECK(link.ReplyHex() == ReplyHexOf(model.raw));
    } else {
      OVIX_FUZZ_CHECK(link.ReplyHex() == hexBefore);
    }
  }

  ModelReceiver model;
  nanoseconds now{1000s};
  int acks = 0;
  int commandWrites = 0;
  Bytes lastWrite;

 private:
  InputReader& in_;
  PrinterLink* link_ = nullptr;
  std::optional<Bytes> scripted_;
};

struct Rig {
  explicit Rig(InputReader& input) : in(input), reg(input), link(reg, reg, reg) {
    reg.Attach(link);
    link.StartReceiving();
  }
  InputReader& in;
  FuzzRegister reg;
  PrinterLink link;
};

void CheckLinkState(const PrinterLink& link) {
  OVIX_FUZZ_CHECK(int(link.JobError()) >= 0 && int(link.JobError()) <= 2);
  OVIX_FUZZ_CHECK(link.ReplyHex().size() % 2 == 0 && IsUpperHex(link.ReplyHex()));
  OVIX_FUZZ_CHECK(link.SecondStatus() >= 0 && link.SecondStatus() <= 99);
}

// SendQuery, checking the frame written and the verdict. Returns whether the
// wait timed out.
bool Query(Rig& rig, char letter) {
  const nanoseconds start = rig.reg.now;
  const int writes = rig.reg.commandWrites;
  const int acks = rig.reg.acks;
  // Whatever an earlier command left in JobError(), SendQuery clears it.
  rig.reg.model.NewQuery();
  rig.link.SendQuery(letter);
  const bool timedOut = rig.reg.now - start > PrinterLink::kShortLimit;
  OVIX_FUZZ_CHECK(rig.reg.commandWrites == writes + 1);
  OVIX_FUZZ_CHECK(rig.reg.lastWrite == MakeFrameHead() + letter + MakeFrameTail());
  OVIX_FUZZ_CHECK(int(rig.link.JobError()) == (timedOut ? 1 : 0));
  if (!timedOut) OVIX_FUZZ_CHECK(rig.reg.acks > acks);
  return timedOut;
}

// With `forget`, the failures of the job so far are forgotten first;
// otherwise JobError() is whatever the earlier operations left.
void Keys(Rig& rig, bool forget, const std::string& keys) {
  const nanoseconds start = rig.reg.now;
  const int writes = rig.reg.commandWrites;
  const int acks = rig.reg.acks;
  if (forget) rig.link.ForgetFailures();
  const int presetJobError = int(rig.link.JobError());
  rig.reg.model.raw.clear();
  rig.link.SendKeys(keys);
  const bool timedOut = rig.reg.now - start > PrinterLink::kShortLimit;
  OVIX_FUZZ_CHECK(rig.reg.commandWrites == writes + 1);
  OVIX_FUZZ_CHECK(rig.reg.lastWrite == ExpectedKeyFrame(keys));
  const std::string& hex = rig.link.ReplyHex();
  if (timedOut) {
    OVIX_FUZZ_CHECK(int(rig.link.JobError()) == 2);
  } else if (presetJobError != 0) {
    OVIX_FUZZ_CHECK(int(rig.link.JobError()) == presetJobError);
  } else {
    OVIX_FUZZ_CHECK(rig.reg.acks > acks);
    const bool errorStatus =
        hex.size() < 4 || ((16 * HexDigitValue(hex[2]) + HexDigitValue(hex[3])) & 0x0C) != 0;
    OVIX_FUZZ_CHECK(int(rig.link.JobError()) == (errorStatus ? 2 : 0));
  }
}

void KeysLong(Rig& rig, bool forget, const std::string& keys) {
  const int writes = rig.reg.commandWrites;
  if (forget) rig.link.ForgetFailures();
  rig.reg.model.raw.clear();
  rig.link.SendCommandLong(keys);
  OVIX_FUZZ_CHECK(rig.reg.commandWrites == writes + 1);
  OVIX_FUZZ_CHECK(rig.reg.lastWrite == ExpectedKeyFrame(keys));
  OVIX_FUZZ_CHECK(int(rig.link.JobError()) == 0);
}

// A query answered at once by a well-formed frame carrying `record`: the
// receiver must hand back exactly the record's data (its bytes from the fifth).
void WellFormedReply(Rig& rig, const std::string& record) {
  const int acks = rig.reg.acks;
  rig.reg.Script(WireFrame(record));
  const bool timedOut = Query(rig, 'S');
  if (record.size() >= PrinterLink::kMaxReplyRaw) return;
  OVIX_FUZZ_CHECK(!timedOut);
  OVIX_FUZZ_CHECK(rig.reg.acks == acks + 1);
  OVIX_FUZZ_CHECK(rig.reg.model.raw == record + MakeFrameTail());
  OVIX_FUZZ_CHECK(rig.link.ReplyHex() ==
                  HexOf(std::string_view(record).substr(std::min<std::size_t>(4, record.size()))));
}

// A key command answered at once by a well-formed frame with `record`. SendKeys
// leaves the receiver as it is, so the reply is only sure to be taken when the
// receiver is hunting for a frame with no DLE pending.
void WellFormedCommandReply(Rig& rig, const std::string& keys, const std::string& record) {
  const bool cleanStart =
      rig.reg.model.state == ModelReceiver::State::HuntDle && !rig.reg.model.dlePending;
  const int acks = rig.reg.acks;
  const nanoseconds start = rig.reg.now;
  rig.reg.Script(WireFrame(record));
  Keys(rig, true, keys);
  if (!cleanStart || record.size() >= PrinterLink::kMaxReplyRaw) return;
  OVIX_FUZZ_CHECK(rig.reg.now - start <= PrinterLink::kShortLimit);
  OVIX_FUZZ_CHECK(rig.reg.acks == acks + 1);
  OVIX_FUZZ_CHECK(rig.reg.model.raw == record + MakeFrameTail());
}

// The operation byte, modulo 6, chooses: 0 feed bytes straight to the receiver
// (count byte, bytes); 1 SendQuery (letter byte); 2 SendKeys and 3
// SendCommandLong (a byte whose value modulo 3 is 0 forgets the job's failures
// first, count byte, keys); 4 a query answered by
// a well-formed frame (two-byte record length, record); 5 a key command
// answered by one (count byte, keys, two-byte record length, record).
void RunOperation(Rig& rig) {
  InputReader& in = rig.in;
  switch (in.Byte() % 6) {
    case 0:
      for (unsigned char b : in.Bytes(in.Byte())) rig.reg.Feed(b);
      break;
    case 1:
      Query(rig, static_cast<char>(in.Byte()));
      break;
    case 2: {
      const bool forget = in.Byte() % 3 == 0;
      Keys(rig, forget, in.Bytes(in.Byte()));
      break;
    }
    case 3: {
      const bool forget = in.Byte() % 3 == 0;
      KeysLong(rig, forget, in.Bytes(in.Byte()));
      break;
    }
    case 4:
      WellFormedReply(rig, in.Bytes(in.Word() % (PrinterLink::kMaxReplyRaw + 64)));
      break;
    default: {
      const std::string keys = in.Bytes(in.Byte());
      WellFormedCommandReply(rig, keys, in.Bytes(in.Word() % (PrinterLink::kMaxReplyRaw + 64)));
      break;
    }
  }
  CheckLinkState(rig.link);
}

}  // namespace
}  // namespace ovix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ovix::fuzz::InputReader in(data, size);
  ovix::fuzz::Rig rig(in);
  while (!in.Empty()) ovix::fuzz::RunOperation(rig);
  return 0;
}
