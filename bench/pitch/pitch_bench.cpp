// Throughput of ChangeSpeed on 44100 Hz stereo, reported as times realtime: seconds of input
// audio processed per second of wall time (the counter "x_realtime"). The target for the
// compensated speeds is at least 500.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "change_speed.h"

namespace {

constexpr INT kRate = 44100;
constexpr INT kChannels = 2;
constexpr INT kFramesPerBuffer = 1024;  // one media sample of 4096 bytes

void BM_ChangeSpeed(benchmark::State& state) {
  const INT percent = (INT)state.range(0);
  const BOOL compensate = (BOOL)state.range(1);
  auto shifter = std::make_unique<PitchShifter>();
  if (shifter->PitchShifterReset((FLOAT)percent / 100.0f, kChannels, kRate) != S_OK) {
    state.SkipWithError("reset refused");
    return;
  }
  // One second of a two-tone signal, cycled through buffer by buffer.
  std::vector<SHORT> signal((size_t)kRate * kChannels);
  for (INT i = 0; i < kRate; ++i) {
    const double t = (double)i / kRate;
    signal[2 * i] = (SHORT)(12000 * std::sin(2 * std::numbers::pi * 440 * t));
    signal[2 * i + 1] = (SHORT)(12000 * std::sin(2 * std::numbers::pi * 660 * t));
  }
  const LONG bufferBytes = kFramesPerBuffer * kChannels * 2;
  std::vector<BYTE> out(2 * (size_t)bufferBytes);
  const INT buffersInSignal = kRate / kFramesPerBuffer;
  INT buffer = 0;
  for (auto _ : state) {
    const BYTE* in = reinterpret_cast<const BYTE*>(signal.data()) + (size_t)buffer * bufferBytes;
    benchmark::DoNotOptimize(
        ChangeSpeed(*shifter, percent, compensate, kChannels, out.data(), in, bufferBytes));
    benchmark::ClobberMemory();
    buffer = (buffer + 1) % buffersInSignal;
  }
  const double audioSeconds = (double)state.iterations() * kFramesPerBuffer / kRate;
  state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
  state.SetBytesProcessed(state.iterations() * bufferBytes);
}

BENCHMARK(BM_ChangeSpeed)
    ->ArgNames({"percent", "compensate"})
    ->Args({150, 1})
    ->Args({70, 1})
    ->Args({150, 0})
    ->Args({70, 0});

}  // namespace
