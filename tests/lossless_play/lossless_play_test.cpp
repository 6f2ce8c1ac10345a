// The LosslessReader deliverable as the player and a user meet it: registered by its own
// DllRegisterServer and created by CLSID, and driven by "mediahost play" into WAV files that
// must hold the encoder's source PCM bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cehost/text.h"
#include "filter_registration.h"
#include "lossless_reader_clsid.h"
#include "objbase.h"
#include "strmif.h"
#include "test_registry.h"
#include "testsupport.h"

namespace {

using cehost::test::ReadFileBytes;
using cehost::test::SourcePath;
using cehost::test::TempDir;

std::filesystem::path Fixture(const std::string& name) { return SourcePath("tests/fixtures/alac/" + name); }

TEST(LosslessReaderServer, RegistersItsFilterAndIsCreatedByClsid) {
  cehost::test::ScopedTestRegistry registry;
  HMODULE library = LoadLibraryW(cehost::FromUtf8(LOSSLESS_READER_LIBRARY).c_str());
  ASSERT_NE(library, nullptr);
  auto entry = [library](const char* name) { return reinterpret_cast<HRESULT (*)()>(GetProcAddress(library, name)); };
  ASSERT_NE(entry("DllRegisterServer"), nullptr);
  ASSERT_EQ(entry("DllRegisterServer")(), S_OK);

  cehost::dshow::RegisteredFilter filter;
  ASSERT_EQ(cehost::dshow::ReadFilterRegistration(CLSID_LosslessReader, &filter), S_OK);
  EXPECT_EQ(filter.name, u"Lossless Reader Filter");
  EXPECT_EQ(filter.merit, 0x200000u);
  EXPECT_TRUE(std::filesystem::equivalent(cehost::ToUtf8(filter.modulePath), LOSSLESS_READER_LIBRARY));
  EXPECT_EQ(filter.threadingModel, u"Both");
  ASSERT_EQ(filter.pins.size(), 1u);
  const cehost::dshow::RegisteredPin& pin = filter.pins[0];
  EXPECT_EQ(pin.name, u"Output");
  EXPECT_TRUE(pin.output);
  EXPECT_FALSE(pin.rendered);
  EXPECT_FALSE(pin.zero);
  EXPECT_FALSE(pin.many);
  EXPECT_EQ(pin.connectsToFilter, GUID_NULL);
  EXPECT_EQ(pin.connectsToPin, u"Input");
  ASSERT_EQ(pin.types.size(), 1u);
  EXPECT_EQ(pin.types[0].majorType, GUID_NULL);
  EXPECT_EQ(pin.types[0].subType, GUID_NULL);

  IFileSourceFilter* source = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_LosslessReader, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSourceFilter,
                             reinterpret_cast<void**>(&source)),
            S_OK);
  EXPECT_EQ(source->Load(cehost::FromUtf8(Fixture("stereo44.m4a").string()).c_str(), nullptr), S_OK);
  IBaseFilter* base = nullptr;
  ASSERT_EQ(source->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base)), S_OK);
  CLSID clsid{};
  EXPECT_EQ(base->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_LosslessReader);
  IPin* output = nullptr;
  ASSERT_EQ(base->FindPin(u"Output", &output), S_OK);
  IMediaSeeking* seeking = nullptr;
  EXPECT_EQ(output->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
  LONGLONG duration = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 6000000);
  seeking->Release();
  output->Release();
  base->Release();
  source->Release();
  EXPECT_EQ(entry("DllCanUnloadNow")(), S_OK) << "no object of the library is left";

  ASSERT_EQ(entry("DllUnregisterServer")(), S_OK);
  EXPECT_FALSE(cehost::dshow::IsComClassRegistered(CLSID_LosslessReader));
  EXPECT_EQ(cehost::dshow::ReadFilterRegistration(CLSID_LosslessReader, &filter),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  FreeLibrary(library);
}

using Outcome = cehost::test::CommandOutcome;

Outcome Mediahost(const std::string& args) { return cehost::test::RunProgram(MEDIAHOST, args); }

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

uint32_t Le32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<unsigned char>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// The PCM of a WAV file as mediahost writes it (a 44-byte header), after checking the header
// against the format.
std::vector<unsigned char> WavData(const std::filesystem::path& wav, uint16_t channels, uint32_t rate) {
  const std::vector<unsigned char> file = ReadFileBytes(wav);
  if (file.size() < 44) {
    ADD_FAILURE() << wav << " is too short";
    return {};
  }
  EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
  EXPECT_EQ(std::memcmp(file.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(Le16(file, 20), 1);                     // PCM
  EXPECT_EQ(Le16(file, 22), channels);
  EXPECT_EQ(Le32(file, 24), rate);
  EXPECT_EQ(Le32(file, 28), rate * channels * 2u);  // nAvgBytesPerSec
  EXPECT_EQ(Le16(file, 32), channels * 2);          // nBlockAlign
  EXPECT_EQ(Le16(file, 34), 16);
  EXPECT_EQ(std::memcmp(file.data() + 36, "data", 4), 0);
  EXPECT_EQ(Le32(file, 40), file.size() - 44);
  return std::vector<unsigned char>(file.begin() + 44, file.end());
}

class MediahostPlay : public testing::Test {
 protected:
  cehost::test::ScopedTestRegistry registry_;  // inherited by mediahost
  TempDir dir_;
};

TEST_F(MediahostPlay, EveryFixtureBecomesItsSourcePcm) {
  struct Case {
    const char* name;
    uint16_t channels;
    uint32_t rate;
  };
  const Case cases[] = {{"stereo44", 2, 44100},   {"mono44", 1, 44100},  {"stereo48", 2, 48000},
                        {"same_lr", 2, 44100},    {"one_silent", 2, 44100}, {"clipped", 2, 44100},
                        {"silence", 2, 44100},    {"short", 2, 44100},   {"surround6", 6, 44100}};
  bool first = true;
  for (const Case& c : cases) {
    std::vector<unsigned char> expected = ReadFileBytes(Fixture(std::string(c.name) + ".pcm"));
    if (c.channels == 6) {
      // Only the first element (the centre channel) is decoded; the other channels are silent.
      std::vector<unsigned char> centre(expected.size(), 0);
      for (size_t i = 0; i < expected.size() / 12; ++i) {
        centre[i * 12] = expected[i * 12 + 4];
        centre[i * 12 + 1] = expected[i * 12 + 5];
      }
      expected = centre;
    }
    for (const std::string layout : {".m4a", "_faststart.m4a"}) {
      SCOPED_TRACE(c.name + layout);
      const std::filesystem::path wav = dir_ / (c.name + layout + ".wav");
      const Outcome run = Mediahost("play " + Quoted(Fixture(c.name + layout)) + " --out " + Quoted(wav));
      ASSERT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(run.err, "");
      // The first run registers the library in the empty registry; later runs find it.
      EXPECT_EQ(run.out.find("registered "), first ? 0u : std::string::npos) << run.out;
      first = false;
      EXPECT_NE(run.out.find("wrote " + wav.string() + " ("), std::string::npos) << run.out;
      EXPECT_TRUE(WavData(wav, c.channels, c.rate) == expected);
      EXPECT_FALSE(std::filesystem::exists(wav.string() + ".part"));
    }
  }
}

TEST_F(MediahostPlay, StartPlaysFromTheFrameHoldingTheWholeSecondToTheEnd) {
  const std::filesystem::path wav = dir_ / "from12.wav";
  const Outcome run = Mediahost("play " + Quoted(Fixture("bursts14.m4a")) + " --start 12.7 --out " + Quoted(wav));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<unsigned char> data = WavData(wav, 2, 44100);
  // From sound sample 528384 (frame 129, which holds 12 x 44100) to the end at 617400: the
  // formula of the burst file, one burst at the start of every second.
  ASSERT_EQ(data.size(), (617400u - 528384u) * 4);
  for (uint32_t n = 528384; n < 617400; ++n) {
    const int64_t second = n / 44100, within = n % 44100, t = within % 100;
    const int64_t tri = t < 50 ? t : 100 - t;
    const int16_t left = int16_t(within < 2205 ? (tri - 25) * (second + 1) * 40 : 0);
    const size_t at = size_t(n - 528384) * 4;
    ASSERT_EQ(int16_t(Le16(data, at)), left) << "sound sample " << n;
  }
}

TEST_F(MediahostPlay, WithoutOutPlaysInRealTime) {
  const auto begin = std::chrono::steady_clock::now();
  const Outcome run = Mediahost("play " + Quoted(Fixture("stereo44.m4a")));
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("played " + Fixture("stereo44.m4a").string() + " (0:00.60, 44100 Hz, 2 channels, 16-bit)"),
            std::string::npos)
      << run.out;
  // The null audio sink keeps the pace of the clock: 0.6 s of audio takes at least that long.
  EXPECT_GE(elapsed, std::chrono::milliseconds(600));
}

TEST_F(MediahostPlay, FailuresSayWhyInOneLineAndLeaveNoOutput) {
  const std::filesystem::path wav = dir_ / "out.wav";
  const std::string missing = (dir_ / "missing.m4a").string();
  struct Case {
    std::string args;
    int exitCode;
    std::string err;  // the start of the one line on standard error
  };
  const Case cases[] = {
      {Quoted(Fixture("bits24.m4a")), 1,
       "mediahost play: " + Fixture("bits24.m4a").string() + ": 24-bit audio is not supported (16-bit only)\n"},
      {Quoted(Fixture("rate96.m4a")), 1,
       "mediahost play: " + Fixture("rate96.m4a").string() + ": 96000 Hz audio is not supported\n"},
      {Quoted(Fixture("stereo44.pcm")), 1,
       "mediahost play: " + Fixture("stereo44.pcm").string() + ": not an M4A file with an ALAC track\n"},
      {Quoted(missing), 1, "mediahost play: " + missing + ": cannot open it: No such file or directory\n"},
      {Quoted(Fixture("bursts14.m4a")) + " --start 14", 1,
       "mediahost play: --start 14 is at or past the end of " + Fixture("bursts14.m4a").string() + " (0:14)\n"},
      {"", 2, "mediahost play: no input file given"},
      {Quoted(Fixture("stereo44.m4a")) + " --start soon", 2, "mediahost play: --start wants a number of seconds"},
      {Quoted(Fixture("stereo44.m4a")) + " --fast", 2, "mediahost play: unknown option '--fast'"},
      {Quoted(Fixture("stereo44.m4a")) + " " + Quoted(Fixture("mono44.m4a")), 2, "mediahost play: unexpected argument"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    // An older result under the output name stays as it was.
    { std::ofstream(wav) << "old"; }
    const Outcome run = Mediahost("play " + c.args + " --out " + Quoted(wav));
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
    EXPECT_EQ(cehost::test::CountLines(run.err), 1u) << run.err;
    EXPECT_EQ(cehost::test::ReadFileText(wav), "old");
    EXPECT_FALSE(std::filesystem::exists(wav.string() + ".part"));
  }

  // An output that cannot be written.
  const std::string unwritable = (dir_ / "no" / "such" / "dir.wav").string();
  const Outcome run = Mediahost("play " + Quoted(Fixture("stereo44.m4a")) + " --out '" + unwritable + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "mediahost play: cannot write " + unwritable + ": No such file or directory\n");
}

TEST_F(MediahostPlay, HelpDescribesTheCommand) {
  const Outcome run = Mediahost("play --help");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out.rfind("usage: mediahost play FILE.m4a [--out OUT.wav] [--start SECONDS]\n", 0), 0u) << run.out;
  EXPECT_NE(Mediahost("--help").out.find("  play "), std::string::npos);
}

}  // namespace
