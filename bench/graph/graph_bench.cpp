// Throughput of graphs run without a clock (the way files are converted):
//   WavFileToNullRenderer: a 44.1 kHz stereo WAV file through the file source into the null
//     audio renderer, reported as bytes per second and times realtime;
//   SmallSamples: the fixed cost per sample of the base classes (allocator, delivery,
//     renderer scheduling), with 64-byte samples from the push source.
// The streaming threads read their priorities from the registry: the program uses a
// private registry file under the temporary directory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "cehost/text.h"
#include "filter_graph.h"
#include "null_audio_renderer.h"
#include "pcm_format.h"
#include "push_source.h"
#include "wav_file_source.h"

namespace {

std::filesystem::path g_dir;

template <typename T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

void Put32(std::ofstream& out, uint32_t v) {
  const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
  out.write(b, 4);
}

std::filesystem::path TestFile(uint32_t seconds) {
  const std::filesystem::path path = g_dir / ("tone" + std::to_string(seconds) + ".wav");
  if (std::filesystem::exists(path)) return path;
  const uint32_t bytes = seconds * 44100 * 4;
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4);
  Put32(out, 36 + bytes);
  out.write("WAVEfmt ", 8);
  Put32(out, 16);
  Put32(out, 1 | (2 << 16));
  Put32(out, 44100);
  Put32(out, 44100 * 4);
  Put32(out, 4 | (16 << 16));
  out.write("data", 4);
  Put32(out, bytes);
  std::vector<char> data(bytes);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i * 7);
  out.write(data.data(), data.size());
  return path;
}

// Runs the graph to completion; false (and the benchmark's error) on any failure.
bool RunToEnd(benchmark::State& state, cehost::FilterGraph* graph) {
  LONG code = 0;
  if (FAILED(graph->Run()) || graph->WaitForCompletion(60000, &code) != S_OK || code != EC_COMPLETE) {
    state.SkipWithError("the graph did not complete");
    return false;
  }
  graph->Stop();
  return true;
}

void WavFileToNullRenderer(benchmark::State& state) {
  const uint32_t seconds = 20;
  const std::u16string path = cehost::FromUtf8(TestFile(seconds).string());
  for (auto _ : state) {
    cehost::FilterGraph* graph = nullptr;
    cehost::CWavFileSource* source = nullptr;
    cehost::CNullAudioRenderer* renderer = nullptr;
    cehost::FilterGraph::Create(&graph);
    cehost::CWavFileSource::Create(&source);
    cehost::CNullAudioRenderer::Create(&renderer);
    const bool ok = SUCCEEDED(source->Load(path.c_str(), nullptr)) && SUCCEEDED(graph->AddFilter(source, u"Source")) &&
                    SUCCEEDED(graph->AddFilter(renderer, u"Renderer")) &&
                    SUCCEEDED(graph->ConnectFilters(source, renderer)) && RunToEnd(state, graph) &&
                    renderer->BytesConsumed() == uint64_t{seconds} * 44100 * 4;
    if (!ok) state.SkipWithError("the graph failed or lost data");
    Release(graph);
    Release(source);
    Release(renderer);
    if (!ok) return;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * seconds * 44100 * 4);
  state.counters["realtime"] =
      benchmark::Counter(static_cast<double>(seconds) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(WavFileToNullRenderer)->Unit(benchmark::kMillisecond)->UseRealTime();

void SmallSamples(benchmark::State& state) {
  const int count = 20000;
  cehost::PushSourceConfig config;
  WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
  cehost::MediaTypeFromPcmFormat(wfx, &config.outputType);
  config.buffers.resize(count);
  for (auto& b : config.buffers) b.bytes.assign(64, 1);
  for (auto _ : state) {
    cehost::FilterGraph* graph = nullptr;
    cehost::CPushSource* source = nullptr;
    cehost::CNullAudioRenderer* renderer = nullptr;
    cehost::FilterGraph::Create(&graph);
    cehost::CPushSource::Create(config, &source);
    cehost::CNullAudioRenderer::Create(&renderer);
    const bool ok = SUCCEEDED(graph->AddFilter(source, u"Source")) && SUCCEEDED(graph->AddFilter(renderer, u"Renderer")) &&
                    SUCCEEDED(graph->ConnectFilters(source, renderer)) && RunToEnd(state, graph) &&
                    renderer->SamplesConsumed() == static_cast<uint64_t>(count);
    if (!ok) state.SkipWithError("the graph failed or lost data");
    Release(graph);
    Release(source);
    Release(renderer);
    if (!ok) return;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
}
BENCHMARK(SmallSamples)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "graph-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  g_dir = pattern;
  setenv("CEHOST_REGISTRY", (g_dir / "registry.db").c_str(), 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
