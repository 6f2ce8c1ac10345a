// Loading files into the source filter: the output type and duration it derives from real
// encoder output, the files it refuses with their messages, and the rules of Load and
// GetCurFile.
#include "lossless_reader_filter.h"

#include <gtest/gtest.h>

#include <string>

#include "cehost/debug_capture.h"
#include "lossless_reader_test_util.h"
#include "mmreg.h"
#include "objbase.h"
#include "test_atom_writer.h"

namespace lossless_reader {
namespace {

using test::Fixture;
using test::Reader;

struct Loaded {
  std::u16string name;
  CMediaType type;
};

Loaded CurFile(Reader& r) {
  Loaded out;
  LPOLESTR name = nullptr;
  EXPECT_EQ(r.file->GetCurFile(&name, &out.type), S_OK);
  if (name) out.name = name;
  CoTaskMemFree(name);
  return out;
}

struct TypeCase {
  const char* file;
  WORD channels;
  DWORD rate;
  uint64_t sound_samples;
};

TEST(LosslessReaderLoad, OutputTypeAndDurationComeFromTheFile) {
  const TypeCase cases[] = {
      {"stereo44.m4a", 2, 44100, 26460}, {"mono44_faststart.m4a", 1, 44100, 26460},
      {"stereo48.m4a", 2, 48000, 24000}, {"surround6.m4a", 6, 44100, 4410},
      {"short.m4a", 2, 44100, 1000},     {"bursts14.m4a", 2, 44100, 617400},
  };
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.file);
    cehost::DebugCapture capture;
    Reader r;
    ASSERT_EQ(r.Load(Fixture(c.file)), S_OK);
    EXPECT_EQ(capture.Text(), "") << "a clean file loads without a complaint";

    const Loaded loaded = CurFile(r);
    EXPECT_EQ(loaded.name, cehost::FromUtf8(Fixture(c.file).string()));
    const CMediaType& mt = loaded.type;
    EXPECT_EQ(mt.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(mt.formattype, FORMAT_WaveFormatEx);
    ASSERT_EQ(mt.cbFormat, 18u);
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    EXPECT_EQ(wfx->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(wfx->nChannels, c.channels);
    EXPECT_EQ(wfx->nSamplesPerSec, c.rate);
    EXPECT_EQ(wfx->nBlockAlign, c.channels * 2);
    EXPECT_EQ(wfx->nAvgBytesPerSec, c.channels * 2 * c.rate);
    EXPECT_EQ(wfx->wBitsPerSample, 16);
    EXPECT_EQ(wfx->cbSize, 0);

    LONGLONG duration = 0, stop = 0;
    ASSERT_EQ(r.seeking->GetDuration(&duration), S_OK);
    ASSERT_EQ(r.seeking->GetStopPosition(&stop), S_OK);
    EXPECT_EQ(duration, LONGLONG(c.sound_samples * 10000000 / c.rate));
    EXPECT_EQ(stop, duration);
  }
}

// Hand-built files for what no encoder writes.
std::vector<uint8_t> ZeroRateMovie() {
  test::MovieParts parts;
  test::AlacConfig config;
  config.sample_rate = 0;
  parts.stsd = test::Stsd({test::SampleEntry("alac", 2, 16, 0, test::AlacAtom(config))});
  return test::BuildMovie(parts);
}

std::vector<uint8_t> ZeroFrameMovie() {
  test::MovieParts parts;
  parts.stts = test::Stts({});
  parts.stsz = test::Stsz({});
  return test::BuildMovie(parts);
}

TEST(LosslessReaderLoad, RefusedFilesSayWhyAndLeaveTheFilterReusable) {
  cehost::test::TempDir dir;
  test::WriteBytes(dir / "zero_rate.m4a", ZeroRateMovie());
  const std::string missing = (dir / "missing.m4a").string();
  const std::string long_path = (dir / std::string(300, 'x')).string();
  struct Case {
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {Fixture("bits24.m4a").string(), "CLosslessReaderFilter::ReadTheFile - m_demux_res.sound_sample_size = 24"},
      // The sample entry's rate field holds 0; the configuration's 96000 is what is refused.
      {Fixture("rate96.m4a").string(), "CLosslessReaderFilter::ReadTheFile - m_demux_res.sound_sample_rate = 96000"},
      {Fixture("stereo44.pcm").string(),
       "CLosslessReaderFilter::ReadTheFile - failed to load the QuickTime movie headers"},
      // No rate anywhere: refused before anything divides by it.
      {(dir / "zero_rate.m4a").string(),
       "CLosslessReaderFilter::ReadTheFile - failed to load the QuickTime movie headers"},
      {missing, "CLosslessReaderFilter::ReadTheFile - failed to open input file '" + missing + "'."},
      {long_path, "CLosslessReaderFilter::Load - the path is longer than 259 characters."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 120));
    cehost::DebugCapture capture;
    Reader r;
    EXPECT_EQ(r.Load(c.path), E_FAIL);
    EXPECT_TRUE(capture.Contains("LOSSLESSREADER:" + c.message + "\r\n")) << capture.Text();
    Loaded loaded = CurFile(r);
    EXPECT_EQ(loaded.name, u"");
    EXPECT_FALSE(loaded.type.IsValid());
    // Nothing of the refused file was kept: the same filter takes a good one.
    EXPECT_EQ(r.Load(Fixture("stereo44.m4a")), S_OK);
    EXPECT_EQ(CurFile(r).name, cehost::FromUtf8(Fixture("stereo44.m4a").string()));
  }
}

TEST(LosslessReaderLoad, LoadOnceAndGetCurFile) {
  Reader r;
  EXPECT_EQ(r.file->GetCurFile(nullptr, nullptr), E_POINTER);
  LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(r.file->GetCurFile(&name, nullptr), S_OK);
  EXPECT_EQ(name, nullptr);

  EXPECT_EQ(r.file->Load(nullptr, nullptr), E_POINTER);
  ASSERT_EQ(r.Load(Fixture("stereo48.m4a")), S_OK);
  EXPECT_EQ(r.Load(Fixture("stereo44.m4a")), E_FAIL);
  EXPECT_EQ(r.file->Load(nullptr, nullptr), E_FAIL) << "a loaded filter refuses first";
  EXPECT_EQ(CurFile(r).name, cehost::FromUtf8(Fixture("stereo48.m4a").string()));
}

TEST(LosslessReaderLoad, AGivenMediaTypeIsTakenAsItIs) {
  Reader r;
  CMediaType given(&MEDIATYPE_Audio);
  given.SetSubtype(&MEDIASUBTYPE_PCM);
  ASSERT_EQ(r.file->Load(cehost::FromUtf8(Fixture("stereo44.m4a").string()).c_str(), &given), S_OK);
  EXPECT_TRUE(CurFile(r).type == given);
}

TEST(LosslessReaderLoad, ATrackWithoutFramesLoadsWithNoLength) {
  cehost::test::TempDir dir;
  test::WriteBytes(dir / "empty.m4a", ZeroFrameMovie());
  Reader r;
  ASSERT_EQ(r.Load(dir / "empty.m4a"), S_OK);
  LONGLONG duration = -1;
  ASSERT_EQ(r.seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 0);
}

TEST(LosslessReaderSeeking, OnlyTheNormalRate) {
  Reader r;
  ASSERT_EQ(r.Load(Fixture("stereo44.m4a")), S_OK);
  EXPECT_EQ(r.seeking->SetRate(2.0), E_INVALIDARG);
  EXPECT_EQ(r.seeking->SetRate(0.5), E_INVALIDARG);
  double rate = 0;
  ASSERT_EQ(r.seeking->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 1.0);
  EXPECT_EQ(r.seeking->SetRate(1.0), S_OK);
}

}  // namespace
}  // namespace lossless_reader
