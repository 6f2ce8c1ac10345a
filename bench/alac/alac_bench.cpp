// Frame decoding throughput of the ALAC decoder, reported as times realtime (seconds of audio
// decoded per second), on the predictor this processor takes (portable:0) and on the portable
// one (portable:1). The frames of one M4A file are held in memory, so only decoding is
// measured.
//
//   alac_bench FILE.m4a [--benchmark_... flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "alac_movie.h"
#include "alac_predictor.h"

namespace {

AlacMovie* g_movie = nullptr;  // loaded once by main, before any benchmark runs

void BM_DecodeFrames(benchmark::State& state) {
  // Argument 1: the portable predictor even where the vector one would run.
  lossless_reader::UsePortablePredictorForTesting(state.range(0) == 1);
  std::vector<uint8_t> out(g_movie->max_frame_bytes());
  uint64_t bytes = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < g_movie->frame_count(); ++i) bytes += g_movie->Decode(i, &out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(bytes));
  state.counters["x_realtime"] = benchmark::Counter(g_movie->seconds(), benchmark::Counter::kIsIterationInvariantRate);
  lossless_reader::UsePortablePredictorForTesting(false);
}
BENCHMARK(BM_DecodeFrames)->ArgName("portable")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: alac_bench FILE.m4a [--benchmark_... flags]\n");
    return 2;
  }
  AlacMovie movie;
  std::string error;
  if (!movie.Load(argv[1], &error)) {
    std::fprintf(stderr, "alac_bench: %s\n", error.c_str());
    return 1;
  }
  g_movie = &movie;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
