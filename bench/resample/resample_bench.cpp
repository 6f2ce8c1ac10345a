// Speed of the sample-rate converter on the recorder's blocks: 2048 samples per channel of
// 48000 Hz noise per call. The x_realtime counter is seconds of audio converted per second.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "resampler.h"

namespace {

void Convert(benchmark::State& state, int from, int to, int channels) {
  constexpr int kBlock = 2048;
  std::vector<uint64_t> work(26008 / 8 + 1);
  ResampleState* converter = nullptr;
  if (ResampleInit(&converter, from, to, channels, kBlock, work.data(),
                   static_cast<int>(work.size() * 8)) != kResampleOk) {
    state.SkipWithError("ResampleInit failed");
    return;
  }
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> dist(-20000, 20000);
  std::vector<int16_t> left(kBlock), right(kBlock);
  for (int i = 0; i < kBlock; ++i) {
    left[i] = static_cast<int16_t>(dist(rng));
    right[i] = static_cast<int16_t>(dist(rng));
  }
  std::vector<int16_t> outLeft(ResampleMaxOutput(converter)), outRight(outLeft.size());
  for (auto _ : state) {
    const int n = ResampleProcess(converter, left.data(), right.data(), outLeft.data(),
                                  outRight.data(), kBlock);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  const double frames = static_cast<double>(state.iterations()) * kBlock;
  state.counters["x_realtime"] = benchmark::Counter(frames / from, benchmark::Counter::kIsRate);
  state.SetItemsProcessed(static_cast<int64_t>(frames));
}

void BM_Resample48000To44100Stereo(benchmark::State& state) { Convert(state, 48000, 44100, 2); }
void BM_Resample48000To44100Mono(benchmark::State& state) { Convert(state, 48000, 44100, 1); }
void BM_Resample44100To48000Stereo(benchmark::State& state) { Convert(state, 44100, 48000, 2); }

BENCHMARK(BM_Resample48000To44100Stereo);
BENCHMARK(BM_Resample48000To44100Mono);
BENCHMARK(BM_Resample44100To48000Stereo);

}  // namespace
