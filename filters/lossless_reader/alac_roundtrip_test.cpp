// Files made by a real encoder (tests/fixtures/alac, see make_alac_fixtures.sh) read by the
// container reader and decoded frame by frame: ALAC is lossless, so the PCM must come back
// bit for bit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "alac_decoder.h"
#include "cehost/debug_capture.h"
#include "demux.h"
#include "sample_table.h"
#include "testsupport.h"

namespace lossless_reader {
namespace {

struct OpenedMovie {
  FILE* file = nullptr;
  FileStream stream{};
  DemuxResult demux{};
  AlacDecoder alac{};
  ~OpenedMovie() {
    demux_result_free(&demux);
    alac_free_buffers(&alac);
    if (file) std::fclose(file);
  }
};

// Opens a fixture and reads its headers and codec configuration; false (with a test failure)
// when any step fails.
bool Open(const std::string& name, OpenedMovie* m) {
  const auto path = cehost::test::SourcePath("tests/fixtures/alac/" + name);
  m->file = std::fopen(path.c_str(), "rb");
  if (!m->file) {
    ADD_FAILURE() << "cannot open " << path;
    return false;
  }
  stream_init(&m->stream, m->file);
  if (!qtmovie_read(&m->stream, &m->demux)) {
    ADD_FAILURE() << "qtmovie_read failed for " << name;
    return false;
  }
  alac_configure_output(m->demux.sound_sample_size, m->demux.channel_count, &m->alac);
  if (!alac_load_config(&m->alac, m->demux.codec_config)) {
    ADD_FAILURE() << "alac_load_config failed for " << name;
    return false;
  }
  return true;
}

// Decodes every frame in order, the way the source filter streams them, checking on the way
// that each frame starts where the tables say. Output bytes a frame does not write keep the
// value `fill`.
std::vector<uint8_t> DecodeAll(OpenedMovie* m, uint8_t fill = 0) {
  std::vector<uint8_t> pcm;
  std::vector<uint8_t> frame;
  std::vector<uint8_t> out(alac_max_frame_bytes(&m->alac));
  for (uint32_t i = 0; i < m->demux.sample_size_count; ++i) {
    uint32_t duration = 0, size = 0;
    EXPECT_TRUE(lookup_sample(&m->demux, i, &duration, &size));
    EXPECT_EQ(stream_tell(&m->stream), int64_t(sample_file_offset(&m->demux, i))) << "frame " << i;
    frame.assign(size, 0);
    stream_read(&m->stream, size, frame.data());
    std::fill(out.begin(), out.end(), fill);
    uint32_t bytes = 0;
    decode_frame(&m->alac, frame.data(), size, out.data(), uint32_t(out.size()), &bytes);
    EXPECT_EQ(bytes, duration * uint32_t(m->alac.bytes_per_frame)) << "frame " << i;
    pcm.insert(pcm.end(), out.begin(), out.begin() + bytes);
  }
  EXPECT_FALSE(stream_eof(&m->stream));
  return pcm;
}

struct Fixture {
  const char* name;
  uint16_t channels;
  uint32_t rate;
};

void PrintTo(const Fixture& f, std::ostream* os) { *os << f.name; }

class RoundTrip : public ::testing::TestWithParam<Fixture> {};

TEST_P(RoundTrip, DecodesTheSourcePcmExactlyInBothLayouts) {
  const Fixture& f = GetParam();
  const auto source = cehost::test::ReadFileBytes(cehost::test::SourcePath(std::string("tests/fixtures/alac/") + f.name + ".pcm"));
  ASSERT_FALSE(source.empty());
  for (const std::string layout : {".m4a", "_faststart.m4a"}) {
    SCOPED_TRACE(f.name + layout);
    cehost::DebugCapture capture;
    OpenedMovie m;
    ASSERT_TRUE(Open(f.name + layout, &m));
    EXPECT_EQ(m.demux.channel_count, f.channels);
    EXPECT_EQ(m.demux.sound_sample_size, 16);
    EXPECT_EQ(m.demux.sound_sample_rate, f.rate);
    EXPECT_EQ(m.demux.format_fourcc, 0x616C6163u);
    EXPECT_EQ(m.alac.frame_length, 4096u);
    // The stream stands at the first frame, wherever 'mdat' is.
    EXPECT_EQ(stream_tell(&m.stream), int64_t(m.demux.media_data_offset));
    EXPECT_EQ(sample_file_offset(&m.demux, 0), m.demux.media_data_offset);
    const auto pcm = DecodeAll(&m);
    ASSERT_EQ(pcm.size(), source.size());
    EXPECT_TRUE(pcm == source) << "first difference at byte "
                               << (std::mismatch(pcm.begin(), pcm.end(), source.begin()).first - pcm.begin());
    // A clean file decodes without a single complaint.
    EXPECT_EQ(capture.Text(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RoundTrip,
                         ::testing::Values(Fixture{"stereo44", 2, 44100}, Fixture{"mono44", 1, 44100},
                                           Fixture{"stereo48", 2, 48000}, Fixture{"same_lr", 2, 44100},
                                           Fixture{"one_silent", 2, 44100}, Fixture{"clipped", 2, 44100},
                                           Fixture{"silence", 2, 44100}, Fixture{"short", 2, 44100}),
                         [](const auto& info) { return std::string(info.param.name); });

// The fourteen-second burst file: quiet with a 50 ms triangle burst at the start of every
// second (the formula of gen_pcm.py's "bursts"), long enough to span many frames.
std::vector<uint8_t> BurstsPcm(uint32_t rate, uint32_t frames) {
  std::vector<uint8_t> pcm;
  pcm.reserve(size_t{frames} * 4);
  for (uint32_t n = 0; n < frames; ++n) {
    const int64_t second = n / rate, within = n % rate, t = within % 100;
    const int64_t tri = t < 50 ? t : 100 - t;
    const int64_t left = within < rate / 20 ? (tri - 25) * (second + 1) * 40 : 0;
    // Floor division, as the generator's.
    const int64_t right = left >= 0 ? left / 2 : -((-left + 1) / 2);
    for (int64_t v : {left, right}) {
      pcm.push_back(uint8_t(v & 0xFF));
      pcm.push_back(uint8_t((v >> 8) & 0xFF));
    }
  }
  return pcm;
}

TEST(RoundTripLong, FourteenSecondsOfBurstsDecodeExactly) {
  OpenedMovie m;
  ASSERT_TRUE(Open("bursts14.m4a", &m));
  const auto pcm = DecodeAll(&m);
  EXPECT_TRUE(pcm == BurstsPcm(44100, 14 * 44100));
}

TEST(RoundTripLong, SeekLandsOnTheFrameHoldingTheTarget) {
  OpenedMovie m;
  ASSERT_TRUE(Open("bursts14.m4a", &m));
  const auto source = BurstsPcm(44100, 14 * 44100);
  // 12.7 s as the filter computes it: whole seconds times the rate.
  const uint32_t target = 12 * 44100;
  uint32_t done = 0, index = 0;
  ASSERT_TRUE(alac_seek(&m.demux, &m.stream, target, &done, &index));
  EXPECT_EQ(index, target / 4096);
  EXPECT_EQ(done, index * 4096);
  uint32_t duration = 0, size = 0;
  ASSERT_TRUE(lookup_sample(&m.demux, index, &duration, &size));
  std::vector<uint8_t> frame(size), out(alac_max_frame_bytes(&m.alac));
  stream_read(&m.stream, size, frame.data());
  uint32_t bytes = 0;
  decode_frame(&m.alac, frame.data(), size, out.data(), uint32_t(out.size()), &bytes);
  ASSERT_EQ(bytes, 4096u * 4);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + bytes, source.begin() + size_t{done} * 4));
}

TEST(RoundTripSurround, OnlyTheFirstElementIsDecodedAtTheFileStride) {
  OpenedMovie m;
  ASSERT_TRUE(Open("surround6.m4a", &m));
  ASSERT_EQ(m.demux.channel_count, 6);
  EXPECT_EQ(alac_max_frame_bytes(&m.alac), 4096u * 6 * 2);
  const auto source = cehost::test::ReadFileBytes(cehost::test::SourcePath("tests/fixtures/alac/surround6.pcm"));
  const auto pcm = DecodeAll(&m, 0xA5);
  ASSERT_EQ(pcm.size(), source.size());
  // The first element of a 5.1 frame is the centre channel (the source's third); the other
  // five slots of every output frame are not written.
  for (size_t i = 0; i < pcm.size() / 12; ++i) {
    ASSERT_EQ(pcm[i * 12], source[i * 12 + 4]) << "sound sample " << i;
    ASSERT_EQ(pcm[i * 12 + 1], source[i * 12 + 5]) << "sound sample " << i;
    for (size_t b = 2; b < 12; ++b) ASSERT_EQ(pcm[i * 12 + b], 0xA5) << "sound sample " << i;
  }
}

TEST(RoundTripRefused, FilesTheFilterRefusesStillReadTheirDescription) {
  {
    OpenedMovie m;
    ASSERT_TRUE(Open("bits24.m4a", &m));
    EXPECT_EQ(m.demux.sound_sample_size, 24);
    EXPECT_EQ(m.demux.sound_sample_rate, 44100u);
    // Decoding one frame says why nothing comes out and leaves the buffer alone.
    cehost::DebugCapture capture;
    uint32_t duration = 0, size = 0;
    ASSERT_TRUE(lookup_sample(&m.demux, 0, &duration, &size));
    std::vector<uint8_t> frame(size), out(alac_max_frame_bytes(&m.alac), 0x5A);
    stream_read(&m.stream, size, frame.data());
    uint32_t bytes = 0;
    decode_frame(&m.alac, frame.data(), size, out.data(), uint32_t(out.size()), &bytes);
    EXPECT_EQ(bytes, 4096u * 6);
    EXPECT_TRUE(capture.Contains("LOSSLESSREADER:decode_frame : FIXME: unimplemented sample size 24\r\n"));
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x5A), ptrdiff_t(out.size()));
  }
  {
    // The entry's 16-bit rate field holds 0 at 96000 Hz; the configuration has the rate.
    OpenedMovie m;
    ASSERT_TRUE(Open("rate96.m4a", &m));
    EXPECT_EQ(m.demux.sound_sample_rate, 96000u);
    EXPECT_EQ(m.demux.sound_sample_size, 16);
  }
}

}  // namespace
}  // namespace lossless_reader
