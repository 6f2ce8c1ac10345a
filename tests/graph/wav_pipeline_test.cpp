// WAV files in and out of the graph: the writer's files read back by an independent reader
// (Python's wave module), and the file source's samples, times and seeking, up to files
// beyond 4 GiB.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture_sink.h"
#include "cehost/text.h"
#include "graph_test_util.h"
#include "push_source.h"
#include "test_filters.h"
#include "testsupport.h"
#include "wav_file_source.h"
#include "wav_writer.h"

namespace cehost::test {
namespace {

struct PythonWav {
  int channels = 0, width = 0, rate = 0, frames = 0;
  std::vector<BYTE> data;
};

// Reads a WAV file with Debian's Python (the wave module), which checks the RIFF structure
// on its own terms.
bool ReadWithPython(const std::filesystem::path& wav, const TempDir& dir, PythonWav* out) {
  const std::filesystem::path raw = dir / "frames.raw";
  const std::string command = "/usr/bin/python3 -c \"import sys, wave\n"
                              "w = wave.open(sys.argv[1], 'rb')\n"
                              "open(sys.argv[2], 'wb').write(w.readframes(w.getnframes()))\n"
                              "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\" '" +
                              wav.string() + "' '" + raw.string() + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  char line[512] = {};
  const bool got = std::fgets(line, sizeof(line), pipe) != nullptr;
  const int status = pclose(pipe);
  if (!got || status != 0) {
    ADD_FAILURE() << "python could not read " << wav << ": " << line;
    return false;
  }
  std::istringstream fields(line);
  fields >> out->channels >> out->width >> out->rate >> out->frames;
  out->data = ReadFileBytes(raw);
  return true;
}

std::vector<BYTE> Negated16(const std::vector<BYTE>& in) {
  std::vector<BYTE> out(in.size());
  for (size_t i = 0; i + 1 < in.size(); i += 2) {
    int16_t v;
    std::memcpy(&v, &in[i], 2);
    v = static_cast<int16_t>(-v);
    std::memcpy(&out[i], &v, 2);
  }
  return out;
}

Ref<CWavWriter> NewWriter(const std::filesystem::path& path) {
  Ref<CWavWriter> writer;
  EXPECT_EQ(CWavWriter::Create(writer.out()), S_OK);
  EXPECT_EQ(writer->SetFileName(FromUtf8(path.string()).c_str(), nullptr), S_OK);
  return writer;
}

Ref<CPushSource> NewPush(const CMediaType& type, std::vector<PushBuffer> buffers, LONG pieceSize = 0) {
  PushSourceConfig config;
  config.outputType = type;
  config.buffers = std::move(buffers);
  config.pieceSize = pieceSize;
  Ref<CPushSource> source;
  EXPECT_EQ(CPushSource::Create(std::move(config), source.out()), S_OK);
  return source;
}

PushBuffer Bytes(std::vector<BYTE> bytes) {
  PushBuffer b;
  b.bytes = std::move(bytes);
  return b;
}

TEST(WavPipeline, PushSourceThroughATransformIntoAWavFile) {
  TempDir dir;
  const std::filesystem::path wav = dir / "out.wav";
  const std::vector<BYTE> a = Ramp(4000), b = Ramp(1000, 4000), c = Ramp(4, 5000);
  Ref<FilterGraph> graph;
  ASSERT_EQ(FilterGraph::Create(graph.out()), S_OK);
  Ref<CPushSource> source = NewPush(PcmType(44100, 2), {Bytes(a), Bytes(b), Bytes(c)}, 700);
  Ref<CGainTransform> gain(CGainTransform::Create());
  Ref<CWavWriter> writer = NewWriter(wav);
  ASSERT_EQ(graph->AddFilter(source.get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(gain.get(), u"Gain"), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.get(), u"Writer"), S_OK);
  ASSERT_EQ(graph->ConnectFilters(source.get(), gain.get()), S_OK);
  ASSERT_EQ(graph->ConnectFilters(gain.get(), writer.get()), S_OK);
  ASSERT_EQ(graph->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  ASSERT_EQ(graph->Stop(), S_OK);
  EXPECT_EQ(source->PiecesDelivered(), 6 + 2 + 1);  // 700-byte pieces

  PythonWav read;
  ASSERT_TRUE(ReadWithPython(wav, dir, &read));
  EXPECT_EQ(read.channels, 2);
  EXPECT_EQ(read.width, 2);
  EXPECT_EQ(read.rate, 44100);
  EXPECT_EQ(read.frames, 5004 / 4);
  std::vector<BYTE> all = a;
  all.insert(all.end(), b.begin(), b.end());
  all.insert(all.end(), c.begin(), c.end());
  EXPECT_EQ(read.data, Negated16(all));
}

TEST(WavPipeline, WriterHandlesEveryPcmFormatAndCreatesTheFileOnlyWhenRunning) {
  struct Format {
    DWORD rate;
    WORD channels, bits;
    size_t bytes;
  };
  const Format formats[] = {
      {8000, 1, 8, 3},         // odd data size: padded in the file
      {44100, 2, 16, 4000},
      {48000, 6, 24, 18 * 100},
      {96000, 1, 32, 4 * 50},
  };
  for (const Format& f : formats) {
    SCOPED_TRACE(testing::Message() << f.rate << " Hz, " << f.channels << " channels, " << f.bits << " bits");
    TempDir dir;
    const std::filesystem::path wav = dir / "out.wav";
    const std::vector<BYTE> data = Ramp(f.bytes);
    Ref<FilterGraph> graph;
    ASSERT_EQ(FilterGraph::Create(graph.out()), S_OK);
    Ref<CPushSource> source = NewPush(PcmType(f.rate, f.channels, f.bits), {Bytes(data)});
    Ref<CWavWriter> writer = NewWriter(wav);
    ASSERT_EQ(graph->AddFilter(source.get(), u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(writer.get(), u"Writer"), S_OK);
    ASSERT_EQ(graph->ConnectFilters(source.get(), writer.get()), S_OK);

    ASSERT_EQ(graph->Pause(), S_OK);
    EXPECT_FALSE(std::filesystem::exists(wav));
    ASSERT_EQ(graph->Run(), S_OK);
    EXPECT_TRUE(std::filesystem::exists(wav));
    LONG code = 0;
    ASSERT_EQ(graph->WaitForCompletion(5000, &code), S_OK);
    ASSERT_EQ(graph->Stop(), S_OK);

    EXPECT_EQ(std::filesystem::file_size(wav), 44 + f.bytes + (f.bytes & 1));
    PythonWav read;
    ASSERT_TRUE(ReadWithPython(wav, dir, &read));
    EXPECT_EQ(read.channels, f.channels);
    EXPECT_EQ(read.width, f.bits / 8);
    EXPECT_EQ(read.rate, static_cast<int>(f.rate));
    EXPECT_EQ(read.frames, static_cast<int>(f.bytes / (f.channels * f.bits / 8)));
    EXPECT_EQ(read.data, data);
  }
}

TEST(WavPipeline, WriterRefusesAFormatChangeAndKeepsWhatItWrote) {
  TempDir dir;
  const std::filesystem::path wav = dir / "out.wav";
  PushBuffer changed = Bytes(Ramp(400));
  changed.type = PcmType(22050, 2);
  Ref<FilterGraph> graph;
  ASSERT_EQ(FilterGraph::Create(graph.out()), S_OK);
  Ref<CPushSource> source = NewPush(PcmType(44100, 2), {Bytes(Ramp(800)), changed});
  Ref<CWavWriter> writer = NewWriter(wav);
  ASSERT_EQ(graph->AddFilter(source.get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.get(), u"Writer"), S_OK);
  ASSERT_EQ(graph->ConnectFilters(source.get(), writer.get()), S_OK);
  ASSERT_EQ(graph->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  ASSERT_EQ(graph->Stop(), S_OK);
  PythonWav read;
  ASSERT_TRUE(ReadWithPython(wav, dir, &read));
  EXPECT_EQ(read.rate, 44100);
  EXPECT_EQ(read.data, Ramp(800));
}

TEST(WavPipeline, RunFailsWhenTheFileCannotBeCreated) {
  TempDir dir;
  Ref<FilterGraph> graph;
  ASSERT_EQ(FilterGraph::Create(graph.out()), S_OK);
  Ref<CPushSource> source = NewPush(PcmType(8000, 1), {Bytes(Ramp(10))});
  Ref<CWavWriter> writer = NewWriter(dir / "missing" / "out.wav");
  ASSERT_EQ(graph->AddFilter(source.get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.get(), u"Writer"), S_OK);
  ASSERT_EQ(graph->ConnectFilters(source.get(), writer.get()), S_OK);
  EXPECT_EQ(graph->Run(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  FILTER_STATE state;
  graph->GetState(0, &state);
  EXPECT_EQ(state, State_Stopped);
}

// ---- The file source ----

void Put(std::vector<BYTE>& out, const char* text) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<BYTE>(text[i]));
}
void Put32(std::vector<BYTE>& out, uint32_t v) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}
void Put16(std::vector<BYTE>& out, uint16_t v) {
  out.push_back(static_cast<BYTE>(v));
  out.push_back(static_cast<BYTE>(v >> 8));
}

// A plain RIFF header for 16-bit PCM with `dataBytes` of samples following.
std::vector<BYTE> RiffHeader(DWORD rate, WORD channels, uint32_t dataBytes) {
  std::vector<BYTE> h;
  Put(h, "RIFF");
  Put32(h, 36 + dataBytes);
  Put(h, "WAVE");
  Put(h, "fmt ");
  Put32(h, 16);
  Put16(h, 1);
  Put16(h, channels);
  Put32(h, rate);
  Put32(h, rate * channels * 2);
  Put16(h, static_cast<uint16_t>(channels * 2));
  Put16(h, 16);
  Put(h, "data");
  Put32(h, dataBytes);
  return h;
}

class WavSource : public testing::Test {
 protected:
  void Open(const std::filesystem::path& file) {
    ASSERT_EQ(FilterGraph::Create(graph_.out()), S_OK);
    ASSERT_EQ(CWavFileSource::Create(source_.out()), S_OK);
    ASSERT_EQ(source_->Load(FromUtf8(file.string()).c_str(), nullptr), S_OK) << source_->LoadError();
    ASSERT_EQ(CCaptureSink::Create(nullptr, sink_.out()), S_OK);
    ASSERT_EQ(graph_->AddFilter(source_.get(), u"Source"), S_OK);
    ASSERT_EQ(graph_->AddFilter(sink_.get(), u"Sink"), S_OK);
    ASSERT_EQ(graph_->ConnectFilters(source_.get(), sink_.get()), S_OK);
  }
  void RunToTheEnd() {
    ASSERT_EQ(graph_->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(graph_->WaitForCompletion(10000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_EQ(graph_->Stop(), S_OK);
  }
  void TearDown() override {
    if (graph_.get()) graph_->Stop();
  }
  TempDir dir_;
  Ref<FilterGraph> graph_;
  Ref<CWavFileSource> source_;
  Ref<CCaptureSink> sink_;
};

TEST_F(WavSource, DeliversTimeStampedSamplesAndSeeks) {
  // 8000 Hz stereo, 1.05 s: ten 100 ms samples and a 50 ms one.
  const uint32_t bytes = 8400 * 4;
  std::vector<BYTE> file = RiffHeader(8000, 2, bytes);
  const std::vector<BYTE> samples = Ramp(bytes);
  file.insert(file.end(), samples.begin(), samples.end());
  std::ofstream(dir_ / "in.wav", std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  Open(dir_ / "in.wav");

  EXPECT_TRUE(sink_->ConnectionType() == PcmType(8000, 2));
  LONGLONG duration = 0;
  ASSERT_EQ(graph_->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, UNITS * 105 / 100);
  RunToTheEnd();
  std::vector<CapturedSample> got = sink_->Samples();
  ASSERT_EQ(got.size(), 11u);
  EXPECT_EQ(sink_->Bytes(), samples);
  EXPECT_EQ(got[1].start, UNITS / 10);
  EXPECT_EQ(got[1].stop, 2 * UNITS / 10);
  EXPECT_EQ(got[1].mediaStart, 800);
  EXPECT_EQ(got[10].stop, duration);
  EXPECT_TRUE(got[0].discontinuity);
  EXPECT_FALSE(got[1].discontinuity);

  // Seeking while stopped: the next run starts there, stamped from 0.
  LONGLONG start = UNITS / 2;
  ASSERT_EQ(graph_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  RunToTheEnd();
  got = sink_->Samples();
  ASSERT_EQ(got.size(), 11u + 6u);
  EXPECT_EQ(got[11].mediaStart, 4000);
  EXPECT_EQ(got[11].start, 0);
  EXPECT_TRUE(got[11].discontinuity);
  const std::vector<CaptureEvent> events = sink_->Events();
  const auto segment = std::find_if(events.rbegin(), events.rend(),
                                    [](const CaptureEvent& e) { return e.kind == CaptureEvent::kNewSegment; });
  ASSERT_NE(segment, events.rend());
  EXPECT_EQ(segment->start, UNITS / 2);
}

TEST_F(WavSource, ReadsRf64FilesBeyondFourGigabytes) {
  // An RF64 header claiming 5 GiB of 48 kHz stereo; the file is sparse, so it costs no disk.
  const uint64_t dataBytes = 5ull << 30;
  std::vector<BYTE> h;
  Put(h, "RF64");
  Put32(h, 0xFFFFFFFFu);
  Put(h, "WAVE");
  Put(h, "ds64");
  Put32(h, 28);
  for (uint64_t v : {dataBytes + 72, dataBytes, dataBytes / 4}) {
    Put32(h, static_cast<uint32_t>(v));
    Put32(h, static_cast<uint32_t>(v >> 32));
  }
  Put32(h, 0);
  const std::vector<BYTE> fmt = RiffHeader(48000, 2, 0);
  h.insert(h.end(), fmt.begin() + 12, fmt.begin() + 36);  // the fmt chunk
  Put(h, "data");
  Put32(h, 0xFFFFFFFFu);
  const std::filesystem::path path = dir_ / "big.wav";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(h.data()), h.size());
  }
  std::filesystem::resize_file(path, h.size() + dataBytes);
  Open(path);

  const uint64_t frames = dataBytes / 4;
  EXPECT_EQ(source_->Info().Frames(), frames);
  LONGLONG duration = 0;
  ASSERT_EQ(graph_->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, static_cast<LONGLONG>(frames / 48000 * UNITS + frames % 48000 * UNITS / 48000));

  // The last quarter second, at a frame number far beyond 32 bits of bytes.
  LONGLONG start = static_cast<LONGLONG>(frames - 12000) * UNITS / 48000;
  ASSERT_EQ(graph_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  RunToTheEnd();
  const std::vector<CapturedSample> got = sink_->Samples();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front().mediaStart, static_cast<LONGLONG>(frames - 12000));
  EXPECT_EQ(got.back().mediaStop, static_cast<LONGLONG>(frames));
  EXPECT_EQ(sink_->Bytes().size(), 12000u * 4);
}

TEST(WavSourceLoad, RefusesWhatItCannotPlay) {
  TempDir dir;
  Ref<CWavFileSource> source;
  ASSERT_EQ(CWavFileSource::Create(source.out()), S_OK);
  EXPECT_EQ(source->Load(FromUtf8((dir / "none.wav").string()).c_str(), nullptr), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  std::ofstream(dir / "text.wav") << "hello, not a wave file at all";
  EXPECT_EQ(source->Load(FromUtf8((dir / "text.wav").string()).c_str(), nullptr), VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(source->LoadError(), "not a RIFF WAVE file");
  // Nothing loaded: the pin has no type to offer.
  IPin* pin = nullptr;
  ASSERT_EQ(source->FindPin(u"Output", &pin), S_OK);
  IEnumMediaTypes* types = nullptr;
  ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* mt = nullptr;
  ULONG n = 0;
  EXPECT_EQ(types->Next(1, &mt, &n), S_FALSE);
  types->Release();
  pin->Release();
}

}  // namespace
}  // namespace cehost::test
