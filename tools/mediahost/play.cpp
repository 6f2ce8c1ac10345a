// mediahost play: plays an M4A (ALAC) file through the LosslessReader deliverable, created by
// CLSID as the player creates it. With --out the PCM goes to a WAV file as fast as it decodes
// (no clock); without it the audio plays in real time (system clock) into the null audio sink.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "cehost/text.h"
#include "command.h"
#include "deliverables.h"
#include "demux.h"
#include "file_stream.h"
#include "filter_graph.h"
#include "filter_registration.h"
#include "lossless_reader_clsid.h"
#include "mmreg.h"
#include "mtype.h"
#include "null_audio_renderer.h"
#include "objbase.h"
#include "progress.h"
#include "server_entry.h"
#include "wav_writer.h"

namespace mediahost {
namespace {

constexpr const char* kLibraryName = "LosslessReader";
// How often the progress line is redrawn while waiting for the end.
constexpr DWORD kProgressIntervalMs = 100;

struct PlayOptions {
  std::string input;
  std::string output;  // empty: real time into the null audio sink
  bool hasStart = false;
  double start = 0;       // seconds
  std::string startText;  // as given
};

// Releases one COM reference at scope end.
template <typename T>
class Ref {
 public:
  Ref() = default;
  ~Ref() {
    if (p_) p_->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** out() { return &p_; }
  void** void_out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// Removes the partly written output unless the run got to the end.
class PartialFile {
 public:
  explicit PartialFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~PartialFile() {
    if (!path_.empty()) {
      std::error_code ec;
      std::filesystem::remove(path_, ec);
    }
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  const std::filesystem::path& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::filesystem::path path_;
};

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "mediahost play: %s\n", message.c_str());
  return kExitFailure;
}

// 0, or the exit code after the usage line.
int ParseArguments(const Command& self, const std::vector<std::string>& args, PlayOptions* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--out" || arg == "--start") {
      if (i + 1 == args.size()) return UsageError(self, arg + " needs a value");
      const std::string& value = args[++i];
      if (arg == "--out") {
        if (value.empty()) return UsageError(self, "--out needs a file name");
        options->output = value;
        continue;
      }
      char* end = nullptr;
      const double seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != 0 || !std::isfinite(seconds) || seconds < 0)
        return UsageError(self, "--start wants a number of seconds, not '" + value + "'");
      options->hasStart = true;
      options->start = seconds;
      options->startText = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError(self, "unknown option '" + arg + "'");
    } else if (options->input.empty()) {
      options->input = arg;
    } else {
      return UsageError(self, "unexpected argument '" + arg + "'");
    }
  }
  if (options->input.empty()) return UsageError(self, "no input file given");
  return 0;
}

// Registers this build's LosslessReader library unless the registry already names it. Returns
// 0, or kExitFailure after register's own error line.
int EnsureRegistered(const Command& self) {
  const std::filesystem::path ours = LibraryDirectory() / (std::string(kLibraryName) + ".so");
  cehost::dshow::RegisteredFilter filter;
  if (SUCCEEDED(cehost::dshow::ReadFilterRegistration(CLSID_LosslessReader, &filter)) && !filter.modulePath.empty()) {
    std::error_code ec;
    if (std::filesystem::equivalent(cehost::ToUtf8(filter.modulePath), ours, ec)) return 0;
  }
  return CallServerEntry(self, {ours.string()}, "DllRegisterServer", "registered");
}

// Why the filter refused a file, found by reading its headers the way the filter does.
std::string WhyUnplayable(const std::string& path) {
  if (cehost::FromUtf8(path).size() >= MAX_PATH) return "the path is longer than " + std::to_string(MAX_PATH - 1) + " characters";
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return "is a directory";
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::string("cannot open it: ") + std::strerror(errno);
  lossless_reader::FileStream stream{};
  lossless_reader::stream_init(&stream, file);
  lossless_reader::DemuxResult res{};
  std::string why;
  if (!lossless_reader::qtmovie_read(&stream, &res))
    why = "not an M4A file with an ALAC track";
  else if (res.sound_sample_size == 20 || res.sound_sample_size == 24 || res.sound_sample_size == 32)
    why = std::to_string(res.sound_sample_size) + "-bit audio is not supported (16-bit only)";
  else if (res.sound_sample_rate == 96000)
    why = "96000 Hz audio is not supported";
  else
    why = "the Lossless Reader Filter cannot play it";
  lossless_reader::demux_result_free(&res);
  std::fclose(file);
  return why;
}

// "0:14.00, 44100 Hz, 2 channels, 16-bit" for the loaded file.
std::string Describe(IFileSourceFilter* file, REFERENCE_TIME duration) {
  LPOLESTR name = nullptr;
  CMediaType mt;
  char hundredths[8];
  std::snprintf(hundredths, sizeof hundredths, ".%02d", static_cast<int>(duration / (UNITS / 100) % 100));
  std::string text = ProgressDisplay::FormatTime(duration) + hundredths;
  if (SUCCEEDED(file->GetCurFile(&name, &mt)) && mt.formattype == FORMAT_WaveFormatEx &&
      mt.cbFormat >= sizeof(PCMWAVEFORMAT)) {
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    text += ", " + std::to_string(wfx->nSamplesPerSec) + " Hz, " + std::to_string(wfx->nChannels) +
            (wfx->nChannels == 1 ? " channel, " : " channels, ") + std::to_string(wfx->wBitsPerSample) + "-bit";
  }
  CoTaskMemFree(name);
  return text;
}

}  // namespace

int RunPlay(const Command& self, const std::vector<std::string>& args) {
  PlayOptions options;
  if (const int code = ParseArguments(self, args, &options)) return code;

  // The output is written under a temporary name and renamed once complete, so a failed or
  // interrupted run never leaves a file that looks like a result.
  const bool toFile = !options.output.empty();
  PartialFile partial(toFile ? std::filesystem::path(options.output + ".part") : std::filesystem::path());
  if (toFile) {
    FILE* probe = std::fopen(partial.path().c_str(), "wb");
    if (!probe) return Fail("cannot write " + options.output + ": " + std::strerror(errno));
    std::fclose(probe);
  }

  if (const int code = EnsureRegistered(self)) return code;

  Ref<cehost::FilterGraph> graph;
  HRESULT hr = cehost::FilterGraph::Create(graph.out());
  if (FAILED(hr)) return Fail("cannot create a filter graph (" + Hex(hr) + ")");
  Ref<IBaseFilter> source;
  hr = graph->AddFilterByClsid(CLSID_LosslessReader, u"Lossless Reader", source.out());
  if (FAILED(hr)) return Fail("cannot create the Lossless Reader Filter (" + Hex(hr) + ")");
  Ref<IFileSourceFilter> file;
  hr = source->QueryInterface(IID_IFileSourceFilter, file.void_out());
  if (FAILED(hr)) return Fail("the Lossless Reader Filter has no IFileSourceFilter (" + Hex(hr) + ")");
  if (FAILED(file->Load(cehost::FromUtf8(options.input).c_str(), nullptr)))
    return Fail(options.input + ": " + WhyUnplayable(options.input));

  Ref<IBaseFilter> sink;
  cehost::CWavWriter* writer = nullptr;  // borrowed from sink
  if (toFile) {
    hr = cehost::CWavWriter::Create(&writer);
    if (FAILED(hr)) return Fail("cannot create the WAV writer (" + Hex(hr) + ")");
    *sink.out() = writer;
    hr = writer->SetFileName(cehost::FromUtf8(partial.path().string()).c_str(), nullptr);
    if (FAILED(hr)) return Fail("the WAV writer refused " + partial.path().string() + " (" + Hex(hr) + ")");
  } else {
    cehost::CNullAudioRenderer* renderer = nullptr;
    hr = cehost::CNullAudioRenderer::Create(&renderer);
    if (FAILED(hr)) return Fail("cannot create the null audio renderer (" + Hex(hr) + ")");
    *sink.out() = renderer;
    hr = graph->UseSystemClock();
    if (FAILED(hr)) return Fail("cannot use the system clock (" + Hex(hr) + ")");
  }
  hr = graph->AddFilter(sink.get(), toFile ? u"WAV writer" : u"Audio renderer");
  if (SUCCEEDED(hr)) hr = graph->ConnectFilters(source.get(), sink.get());
  if (FAILED(hr)) return Fail("cannot connect the Lossless Reader Filter to its output (" + Hex(hr) + ")");

  LONGLONG duration = 0;
  graph->GetDuration(&duration);
  if (options.hasStart) {
    if (options.start >= static_cast<double>(duration) / UNITS)
      return Fail("--start " + options.startText + " is at or past the end of " + options.input + " (" +
                  ProgressDisplay::FormatTime(duration) + ")");
    LONGLONG start = std::llround(options.start * UNITS);
    hr = graph->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    if (FAILED(hr)) return Fail("cannot seek to " + options.startText + " s (" + Hex(hr) + ")");
  }

  hr = graph->Run();
  if (FAILED(hr)) {
    graph->Stop();
    return Fail("cannot start playback (" + Hex(hr) + ")");
  }
  LONG code = 0;
  {
    ProgressDisplay progress;
    while ((hr = graph->WaitForCompletion(kProgressIntervalMs, &code)) == E_ABORT) {
      LONGLONG position = 0;
      if (SUCCEEDED(graph->GetCurrentPosition(&position))) progress.Update(position, duration);
    }
    if (SUCCEEDED(hr) && code == EC_COMPLETE) progress.Update(duration, duration);
  }
  const HRESULT stopped = graph->Stop();
  if (FAILED(hr)) return Fail("playback did not complete (" + Hex(hr) + ")");
  if (code != EC_COMPLETE) return Fail("playback failed (event " + std::to_string(code) + ")");
  if (FAILED(stopped)) return Fail("cannot finish " + (toFile ? partial.path().string() : "playback") + " (" + Hex(stopped) + ")");

  const std::string description = Describe(file.get(), duration);
  if (!toFile) {
    std::printf("played %s (%s)\n", options.input.c_str(), description.c_str());
    return 0;
  }
  std::error_code ec;
  std::filesystem::rename(partial.path(), options.output, ec);
  if (ec) return Fail("cannot rename " + partial.path().string() + " to " + options.output + ": " + ec.message());
  partial.Keep();
  std::printf("wrote %s (%s, %llu bytes of PCM)\n", options.output.c_str(), description.c_str(),
              static_cast<unsigned long long>(writer->DataBytes()));
  return 0;
}

}  // namespace mediahost
