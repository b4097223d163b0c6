// Micro-benchmarks of the codec, the receiver and the line translation, so a
// regression in any of them shows on its own.
#include <benchmark/benchmark.h>

#include "link/frame_codec.h"
#include "link/printer_link.h"
#include "spool/digit_keys.h"
#include "spool/translation.h"

namespace ovix {
namespace {

class NullPort : public SerialPort, public Clock, public EventPump {
 public:
  void Write(const Bytes&) override {}
  std::chrono::nanoseconds Now() override { return {}; }
  void RunPendingEvents(std::chrono::nanoseconds) override {}
};

class CountingSink : public KeyCommandSink {
 public:
  std::size_t bytes = 0;
  void SendKeys(std::string_view keys) override { bytes += keys.size(); }
  bool CommandFailed() const override { return false; }
};

void BM_FrameCommand(benchmark::State& state) {
  const Bytes composed =
      MakeFrameHead() + "A\x13\x14PAINE ALBA \x10\x10       \x31" + MakeFrameTail();
  for (auto _ : state) {
    Bytes text = composed;
    FrameCommand(text);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FrameCommand);

void BM_EncodeDigits(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EncodeDigits("00000450", true));
}
BENCHMARK(BM_EncodeDigits);

void BM_KeyAmount(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(KeyAmount("0012345", true));
}
BENCHMARK(BM_KeyAmount);

// One reply frame of 40 data bytes, byte by byte through the receiver.
void BM_ReceiveReply(benchmark::State& state) {
  NullPort port;
  PrinterLink link(port, port, port);
  Bytes wire("\x10\x02\0\0\0\0", 6);
  wire += Bytes(40, 'A');
  wire += "\x10\x03";
  // Each frame leaves the receiver hunting for the next one.
  link.StartReceiving();
  for (auto _ : state) {
    for (unsigned char b : wire) link.OnByte(b);
    benchmark::DoNotOptimize(link.ReplyHex());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}
BENCHMARK(BM_ReceiveReply);

void BM_TranslateSaleItem(benchmark::State& state) {
  const DriverSettings settings;
  CountingSink sink;
  for (auto _ : state) {
    TranslateReceiptLine("PAINE ALBA           0002.500 00000450 01", settings, true, sink);
  }
  benchmark::DoNotOptimize(sink.bytes);
}
BENCHMARK(BM_TranslateSaleItem);

void BM_TranslateTotal(benchmark::State& state) {
  const DriverSettings settings;
  CountingSink sink;
  for (auto _ : state) TranslateReceiptLine("<5000", settings, true, sink);
  benchmark::DoNotOptimize(sink.bytes);
}
BENCHMARK(BM_TranslateTotal);

}  // namespace
}  // namespace ovix

BENCHMARK_MAIN();
