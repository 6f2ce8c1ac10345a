// Encode speed of the WMA encoder, and in the same run the speed of Debian's ffmpeg WMA v2
// encoder at 128 kbit/s on the same input, with the ratio (ours / peer; below 1 is faster).
//
//   BM_EncoderCore      the encoder alone, in process, one core
//   BM_OursProcess      wma_encode IN.wav OUT.wma (read, encode, write a .wma file)
//   BM_PeerProcess      ffmpeg -threads 1 -i IN.wav -c:a wmav2 -b:a 128k OUT.wma
//
// The two process benchmarks do the same job end to end; their ratio is printed last.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "wma_encoder.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;

std::vector<int16_t> MusicLike() {
  std::mt19937 rng(1);
  std::normal_distribution<double> noise(0, 1);
  std::vector<int16_t> pcm(2 * kRate * kSeconds);
  for (int n = 0; n < kRate * kSeconds; ++n) {
    double t = double(n) / kRate, beat = std::fmod(t, 0.5);
    for (int c = 0; c < 2; ++c) {
      double d = 1.0 + 0.01 * c;
      double v = 0.22 * std::sin(2 * M_PI * 220 * d * t) + 0.12 * std::sin(2 * M_PI * 330 * d * t + 1) +
                 0.08 * std::sin(2 * M_PI * 1245 * d * t) + 0.03 * std::sin(2 * M_PI * 4400 * d * t) +
                 0.12 * std::exp(-beat * 30) * noise(rng) + 0.002 * noise(rng);
      pcm[2 * n + c] = static_cast<int16_t>(std::lround(std::fmax(-1, std::fmin(1, v)) * 32767));
    }
  }
  return pcm;
}

const std::vector<int16_t>& Input() {
  static const std::vector<int16_t> pcm = MusicLike();
  return pcm;
}

std::filesystem::path WorkDir() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("wma_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

std::filesystem::path InputWav() {
  static const std::filesystem::path path = [] {
    auto p = WorkDir() / "in.wav";
    const auto& pcm = Input();
    std::ofstream f(p, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    uint32_t bytes = static_cast<uint32_t>(pcm.size() * 2);
    f.write("RIFF", 4);
    u32(36 + bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(kRate);
    u32(kRate * 4);
    u16(4);
    u16(16);
    f.write("data", 4);
    u32(bytes);
    f.write(reinterpret_cast<const char*>(pcm.data()), bytes);
    return p;
  }();
  return path;
}

std::filesystem::path SelfDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path(); }

double g_oursSeconds = 0, g_peerSeconds = 0;

void BM_EncoderCore(benchmark::State& state) {
  const auto& pcm = Input();
  std::vector<BYTE> area(kWmaMaxOutputPerEncode);
  DWORD count = 0;
  for (auto _ : state) {
    WMAENC* enc = nullptr;
    if (!WMAEncAppInit(&enc, area.data(), static_cast<DWORD>(area.size()), &count)) {
      state.SkipWithError("WMAEncAppInit failed");
      return;
    }
    for (size_t f = 0; f + 4096 <= pcm.size(); f += 4096) {
      WMAEncAppEncode(enc, pcm.data() + f);
      count = 0;
    }
    WMAEncAppClose(enc);
  }
  state.counters["x_realtime"] = benchmark::Counter(
      double(kSeconds) * state.iterations(), benchmark::Counter::kIsRate);
}

double TimeCommand(benchmark::State& state, const std::string& command) {
  double total = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(s);
    total += s;
    if (rc != 0) {
      state.SkipWithError(("failed: " + command).c_str());
      return 0;
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(double(kSeconds) * state.iterations() / total);
  return total / state.iterations();
}

void BM_OursProcess(benchmark::State& state) {
  const std::string cmd = "'" + (SelfDir() / "wma_encode").string() + "' '" + InputWav().string() +
                          "' '" + (WorkDir() / "ours.wma").string() + "' >/dev/null";
  g_oursSeconds = TimeCommand(state, cmd);
}

void BM_PeerProcess(benchmark::State& state) {
  const std::string cmd = "ffmpeg -nostdin -v error -y -threads 1 -i '" + InputWav().string() +
                          "' -c:a wmav2 -b:a 128k '" + (WorkDir() / "peer.wma").string() + "'";
  g_peerSeconds = TimeCommand(state, cmd);
}

BENCHMARK(BM_EncoderCore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursProcess)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_PeerProcess)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_oursSeconds > 0 && g_peerSeconds > 0) {
    std::printf("%d s of 44100 Hz stereo: ours %.0f x realtime, peer %.0f x realtime, ratio ours/peer %.3f\n",
                kSeconds, kSeconds / g_oursSeconds, kSeconds / g_peerSeconds, g_oursSeconds / g_peerSeconds);
  }
  std::error_code ec;
  std::filesystem::remove_all(WorkDir(), ec);
  return 0;
}
