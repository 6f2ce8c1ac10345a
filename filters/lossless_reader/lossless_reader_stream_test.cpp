// The source filter's output pin in a graph, into the capture sink: the PCM of real encoder
// output bit for bit, the sample times, flags and stream events, frames split across samples,
// the end of the stream, and seeking while stopped and while running.
#include "lossless_reader_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "capture_sink.h"
#include "cehost/debug_capture.h"
#include "filter_graph.h"
#include "lossless_reader_test_util.h"
#include "refclock.h"
#include "test_atom_writer.h"
#include "test_bit_writer.h"
#include "test_registry.h"

namespace lossless_reader {
namespace {

using cehost::CaptureEvent;
using cehost::CapturedSample;
using cehost::CCaptureSink;
using cehost::FilterGraph;
using test::Fixture;
using test::Ref;

constexpr DWORD kTimeoutMs = 10000;

// The filter, loaded with a file and connected to a capture sink, in a graph of its own.
struct Playback {
  explicit Playback(const std::filesystem::path& file) {
    EXPECT_EQ(FilterGraph::Create(graph.out()), S_OK);
    EXPECT_EQ(reader.Load(file), S_OK);
    EXPECT_EQ(CCaptureSink::Create(nullptr, sink.out()), S_OK);
    EXPECT_EQ(graph->AddFilter(reader.filter.get(), u"Reader"), S_OK);
    EXPECT_EQ(graph->AddFilter(sink.get(), u"Sink"), S_OK);
    EXPECT_EQ(graph->ConnectFilters(reader.filter.get(), sink.get()), S_OK);
  }
  ~Playback() { graph->Stop(); }

  // Runs to the end; the completion code.
  LONG Run() {
    EXPECT_EQ(graph->Run(), S_OK);
    LONG code = 0;
    EXPECT_EQ(graph->WaitForCompletion(kTimeoutMs, &code), S_OK);
    return code;
  }
  void SeekTo(REFERENCE_TIME start) {
    ASSERT_EQ(graph->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  }

  cehost::test::ScopedTestRegistry registry;  // the streaming threads read their priorities from it
  test::Reader reader;
  Ref<FilterGraph> graph;
  Ref<CCaptureSink> sink;
};

std::vector<uint8_t> Concat(const std::vector<CapturedSample>& samples) {
  std::vector<uint8_t> out;
  for (const CapturedSample& s : samples) out.insert(out.end(), s.bytes.begin(), s.bytes.end());
  return out;
}

// What every delivery must look like: whole sound samples of at most 128 KB, stamped from 0
// without gaps with the duration of their bytes, all sync points, the first one alone marked
// as a discontinuity.
void ExpectContiguousSamples(const std::vector<CapturedSample>& samples, uint32_t block, uint32_t bytes_per_second) {
  REFERENCE_TIME next = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    SCOPED_TRACE("sample " + std::to_string(i));
    const CapturedSample& s = samples[i];
    EXPECT_LE(s.bytes.size(), 131072u);
    EXPECT_EQ(s.bytes.size() % block, 0u);
    ASSERT_EQ(s.timeResult, S_OK);
    EXPECT_EQ(s.start, next);
    EXPECT_EQ(s.stop - s.start, REFERENCE_TIME(s.bytes.size()) * 10000000 / bytes_per_second);
    EXPECT_TRUE(s.syncPoint);
    EXPECT_EQ(s.discontinuity, i == 0);
    next = s.stop;
  }
}

struct FixtureCase {
  const char* name;
  uint16_t channels;
  uint32_t rate;
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.name; }

class EveryFixture : public testing::TestWithParam<FixtureCase> {};

TEST_P(EveryFixture, ComesOutAsItsSourcePcm) {
  const FixtureCase& c = GetParam();
  const auto source = cehost::test::ReadFileBytes(Fixture(std::string(c.name) + ".pcm"));
  ASSERT_FALSE(source.empty());
  std::vector<uint8_t> expected = source;
  if (c.channels == 6) {
    // Only the first element of a 5.1 frame, the centre channel (the source's third), is
    // decoded, into the first slot of each output frame; the other slots stay silent.
    std::fill(expected.begin(), expected.end(), 0);
    for (size_t i = 0; i < source.size() / 12; ++i) {
      expected[i * 12] = source[i * 12 + 4];
      expected[i * 12 + 1] = source[i * 12 + 5];
    }
  }
  for (const std::string layout : {".m4a", "_faststart.m4a"}) {
    SCOPED_TRACE(c.name + layout);
    Playback p(Fixture(c.name + layout));
    EXPECT_EQ(p.Run(), EC_COMPLETE);
    const std::vector<CapturedSample> samples = p.sink->Samples();
    const std::vector<uint8_t> pcm = Concat(samples);
    ASSERT_EQ(pcm.size(), expected.size());
    EXPECT_TRUE(pcm == expected);
    ExpectContiguousSamples(samples, c.channels * 2u, c.channels * 2u * c.rate);

    const std::vector<CaptureEvent> events = p.sink->Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.front().kind, CaptureEvent::kNewSegment);
    EXPECT_EQ(events.front().start, 0);
    EXPECT_EQ(events.front().stop, REFERENCE_TIME(pcm.size() / (c.channels * 2)) * 10000000 / c.rate);
    EXPECT_EQ(events.front().rate, 1.0);
    EXPECT_EQ(events.back().kind, CaptureEvent::kEndOfStream);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EveryFixture,
                         testing::Values(FixtureCase{"stereo44", 2, 44100}, FixtureCase{"mono44", 1, 44100},
                                         FixtureCase{"stereo48", 2, 48000}, FixtureCase{"same_lr", 2, 44100},
                                         FixtureCase{"one_silent", 2, 44100}, FixtureCase{"clipped", 2, 44100},
                                         FixtureCase{"silence", 2, 44100}, FixtureCase{"short", 2, 44100},
                                         FixtureCase{"surround6", 6, 44100}),
                         [](const auto& info) { return std::string(info.param.name); });

// The fourteen-second burst file's PCM (the integer formula of gen_pcm.py's "bursts"), from
// sound sample `from` on.
std::vector<uint8_t> BurstsPcm(uint32_t from) {
  constexpr uint32_t kRate = 44100, kFrames = 14 * kRate;
  std::vector<uint8_t> pcm;
  for (uint32_t n = from; n < kFrames; ++n) {
    const int64_t second = n / kRate, within = n % kRate, t = within % 100;
    const int64_t tri = t < 50 ? t : 100 - t;
    const int64_t left = within < kRate / 20 ? (tri - 25) * (second + 1) * 40 : 0;
    const int64_t right = left >= 0 ? left / 2 : -((-left + 1) / 2);  // floor division
    for (int64_t v : {left, right}) {
      pcm.push_back(uint8_t(v & 0xFF));
      pcm.push_back(uint8_t((v >> 8) & 0xFF));
    }
  }
  return pcm;
}

// The last sample carries what is left; whether the stream then ends on the position reaching
// the stop time or on running out of frames (with its message) depends on the rounding of the
// sample durations.
TEST(LosslessReaderStream, TheLastSampleCarriesTheRestAndTheStreamEnds) {
  struct Case {
    const char* file;
    size_t samples;
    size_t last_bytes;
    bool eof_message;
  };
  const Case cases[] = {
      // 0.6 s in one sample whose duration is exact: the position reaches the stop.
      {"stereo44.m4a", 1, 105840, false},
      // 18 full samples whose durations round down, and 110304 bytes: the frames run out first.
      {"bursts14.m4a", 19, 110304, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    cehost::DebugCapture capture;
    Playback p(Fixture(c.file));
    EXPECT_EQ(p.Run(), EC_COMPLETE);
    const std::vector<CapturedSample> samples = p.sink->Samples();
    ASSERT_EQ(samples.size(), c.samples);
    EXPECT_EQ(samples.back().bytes.size(), c.last_bytes);
    EXPECT_EQ(capture.Contains("LOSSLESSREADER:CLosslessReaderStream::FillBuffer - EOF, pFilter->m_index = 151\r\n"),
              c.eof_message)
        << capture.Text();
  }
}

// Writes a movie of `frames` uncompressed frames of 4096 sound samples, each a channel pair
// (the first element) in a file of `channels` channels, whose duration table covers only the
// first `timed` frames, each as `duration` sound samples. *expected: the PCM of all frames.
std::filesystem::path UncompressedMovie(const cehost::test::TempDir& dir, uint16_t channels, uint32_t frames,
                                        uint32_t timed, uint32_t duration, std::vector<uint8_t>* expected) {
  constexpr uint32_t kLength = 4096;
  std::vector<uint8_t> payload;
  std::vector<uint32_t> sizes;
  for (uint32_t f = 0; f < frames; ++f) {
    // Tag 1 (channel pair), no sample count, no wasted bytes, uncompressed.
    test::BitWriter w;
    w.Put(1, 3);
    w.Put(0, 4);
    w.Put(0, 12);
    w.Put(0, 1);
    w.Put(0, 2);
    w.Put(1, 1);
    for (uint32_t i = 0; i < kLength; ++i) {
      const int16_t left = int16_t(f * 5000 + i * 3 - 16000), right = int16_t(-left / 2);
      w.Put(uint16_t(left), 16);
      w.Put(uint16_t(right), 16);
      std::vector<uint8_t> frame(channels * 2u, 0);
      frame[0] = uint8_t(left);
      frame[1] = uint8_t(uint16_t(left) >> 8);
      frame[2] = uint8_t(right);
      frame[3] = uint8_t(uint16_t(right) >> 8);
      expected->insert(expected->end(), frame.begin(), frame.end());
    }
    const auto bytes = w.Bytes();
    sizes.push_back(uint32_t(bytes.size()));
    payload.insert(payload.end(), bytes.begin(), bytes.end());
  }
  test::MovieParts parts;
  test::AlacConfig config;
  config.channels = uint8_t(channels);
  parts.stsd = test::Stsd({test::SampleEntry("alac", channels, 16, 44100, test::AlacAtom(config))});
  parts.stts = test::Stts({{timed, duration}});
  parts.stsc = test::Stsc({{1, frames}});
  parts.stsz = test::Stsz(sizes);
  parts.payload = payload;
  const std::filesystem::path path = dir / "hand_built.m4a";
  test::WriteBytes(path, test::BuildMovie(parts));
  return path;
}

// Six channels of 4096 sound samples are 49152 bytes a frame: frames do not fit a 128 KB sample
// evenly, so they continue in the next one, and samples end on whole sound samples.
TEST(LosslessReaderStream, FramesContinueAcrossSamples) {
  cehost::test::TempDir dir;
  std::vector<uint8_t> expected;
  Playback p(UncompressedMovie(dir, 6, 6, 6, 4096, &expected));
  EXPECT_EQ(p.Run(), EC_COMPLETE);
  const std::vector<CapturedSample> samples = p.sink->Samples();
  std::vector<size_t> lengths;
  for (const CapturedSample& s : samples) lengths.push_back(s.bytes.size());
  // 131072 rounded down to whole 12-byte sound samples, twice, then the rest of 294912.
  EXPECT_EQ(lengths, (std::vector<size_t>{131064, 131064, 32784}));
  EXPECT_TRUE(Concat(samples) == expected);
  ExpectContiguousSamples(samples, 12, 12 * 44100);
}

// A frame the tables cannot place ends the stream, but the frames decoded before it into the
// same sample are still delivered.
TEST(LosslessReaderStream, AFrameOutsideTheTablesEndsTheStreamAfterWhatCameBefore) {
  cehost::test::TempDir dir;
  std::vector<uint8_t> expected;
  // Five frames, of which the duration table knows three (as twice their length, so that the
  // stop time is not reached first).
  const auto path = UncompressedMovie(dir, 2, 5, 3, 8192, &expected);
  cehost::DebugCapture capture;
  Playback p(path);
  EXPECT_EQ(p.Run(), EC_COMPLETE);
  const std::vector<CapturedSample> samples = p.sink->Samples();
  ASSERT_EQ(samples.size(), 1u);
  expected.resize(3 * 4096 * 4);
  EXPECT_TRUE(samples[0].bytes == expected);
  EXPECT_TRUE(capture.Contains("LOSSLESSREADER:CLosslessReaderStream::FillBuffer - sample failed.\r\n"));
  EXPECT_EQ(p.sink->Events().back().kind, CaptureEvent::kEndOfStream);
}

TEST(LosslessReaderStream, ATrackWithoutFramesEndsAtOnce) {
  test::MovieParts parts;
  parts.stts = test::Stts({});
  parts.stsz = test::Stsz({});
  cehost::test::TempDir dir;
  test::WriteBytes(dir / "empty.m4a", test::BuildMovie(parts));
  Playback p(dir / "empty.m4a");
  EXPECT_EQ(p.Run(), EC_COMPLETE);
  EXPECT_TRUE(p.sink->Samples().empty());
  EXPECT_EQ(p.sink->Events().back().kind, CaptureEvent::kEndOfStream);
}

// 12.7 s on the 44100 Hz file: whole seconds, so sound sample 529200, which frame 129 holds;
// it starts at 129 x 4096 = 528384.
constexpr REFERENCE_TIME kSeek = 127000000;
constexpr uint32_t kSeekFrameStart = 528384;

TEST(LosslessReaderSeek, ASeekWhileStoppedIsWherePlaybackStarts) {
  Playback p(Fixture("bursts14.m4a"));
  p.SeekTo(kSeek);
  EXPECT_EQ(p.Run(), EC_COMPLETE);
  const std::vector<CapturedSample> samples = p.sink->Samples();
  // Everything from the frame's start to the end of the track, stamped from 0.
  EXPECT_TRUE(Concat(samples) == BurstsPcm(kSeekFrameStart));
  ExpectContiguousSamples(samples, 4, 176400);
  const CaptureEvent segment = p.sink->Events().front();
  EXPECT_EQ(segment.kind, CaptureEvent::kNewSegment);
  EXPECT_EQ(segment.start, kSeek);
  EXPECT_EQ(segment.stop, 140000000);

  // A start past the end: nothing more to play.
  ASSERT_EQ(p.graph->Stop(), S_OK);
  cehost::DebugCapture capture;
  p.SeekTo(200000000);
  EXPECT_EQ(p.Run(), EC_COMPLETE);
  EXPECT_EQ(p.sink->Samples().size(), samples.size());
  EXPECT_TRUE(capture.Contains("LOSSLESSREADER:CLosslessReaderStream::OnThreadCreate - alac_seek() failed.\r\n"));
}

// A clock whose time the test sets, so that the running graph holds its first sample.
class ManualClock : public CBaseReferenceClock {
 public:
  ManualClock() : CBaseReferenceClock(nullptr, nullptr, nullptr) { NonDelegatingAddRef(); }
  REFERENCE_TIME GetPrivateTime() override { return now_; }
  void Advance(REFERENCE_TIME by) {
    now_ += by;
    TriggerThread();
  }

 private:
  std::atomic<REFERENCE_TIME> now_{1000000000};
};

TEST(LosslessReaderSeek, ASeekWhileRunningFlushesAndRestartsAtTheFrame) {
  Playback p(Fixture("bursts14.m4a"));
  Ref<ManualClock> clock;
  *clock.out() = new ManualClock();
  ASSERT_EQ(p.graph->SetSyncSource(clock.get()), S_OK);
  // The clock stands still: the first sample waits in the sink for its time.
  ASSERT_EQ(p.graph->Run(), S_OK);
  EXPECT_TRUE(p.sink->Samples().empty());

  p.SeekTo(kSeek);
  clock->Advance(100 * UNITS);
  LONG code = 0;
  ASSERT_EQ(p.graph->WaitForCompletion(kTimeoutMs, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);

  std::vector<CaptureEvent::Kind> kinds;
  std::vector<CaptureEvent> segments;
  for (const CaptureEvent& e : p.sink->Events()) {
    if (e.kind == CaptureEvent::kNewSegment) segments.push_back(e);
    if (kinds.empty() || e.kind != CaptureEvent::kSample || kinds.back() != CaptureEvent::kSample) kinds.push_back(e.kind);
  }
  const std::vector<CaptureEvent::Kind> expected = {CaptureEvent::kNewSegment, CaptureEvent::kBeginFlush,
                                                    CaptureEvent::kEndFlush,   CaptureEvent::kNewSegment,
                                                    CaptureEvent::kSample,     CaptureEvent::kEndOfStream};
  EXPECT_EQ(kinds, expected);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[1].start, kSeek);
  EXPECT_EQ(segments[1].stop, 140000000);

  // Only what follows the seek was drawn: the frame holding 12 s, then the rest of the track.
  const std::vector<CapturedSample> samples = p.sink->Samples();
  EXPECT_TRUE(Concat(samples) == BurstsPcm(kSeekFrameStart));
  ExpectContiguousSamples(samples, 4, 176400);
}

}  // namespace
}  // namespace lossless_reader
