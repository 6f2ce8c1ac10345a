// Encodes generated signals into .wma files and decodes them with Debian's ffmpeg (a
// subprocess), which must report no error, return the input's length less the codec's
// fixed delay and the unfinished last superframe, and reach the quality of ffmpeg's own
// WMA v2 encoder at 128 kbit/s on the same signal.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"
#include "wma_file_encoder.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFrame = 2048;
constexpr int kSeconds = 4;
constexpr int kFrames = kRate * kSeconds;  // sample pairs

using Pcm = std::vector<int16_t>;  // interleaved stereo

int16_t Clip(double v) { return static_cast<int16_t>(std::lround(std::fmax(-32768, std::fmin(32767, v)))); }

Pcm Sine1k() {
  Pcm p(2 * kFrames);
  for (int n = 0; n < kFrames; ++n) p[2 * n] = p[2 * n + 1] = Clip(16384 * std::sin(2 * M_PI * 1000.0 * n / kRate));
  return p;
}

// Tones, a little noise and percussive bursts, different in the two channels.
std::vector<double> Music(int seed, double detune) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0, 1);
  std::vector<double> v(kFrames);
  for (int n = 0; n < kFrames; ++n) {
    double t = double(n) / kRate;
    double tones = 0.22 * std::sin(2 * M_PI * 220 * detune * t) + 0.12 * std::sin(2 * M_PI * 330 * detune * t + 1) +
                   0.08 * std::sin(2 * M_PI * 1245 * detune * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 0.7 * t)) +
                   0.03 * std::sin(2 * M_PI * 4400 * detune * t);
    double beat = std::fmod(t, 0.5);
    double burst = 0.12 * std::exp(-beat * 30) * noise(rng);
    v[n] = 32767 * (tones + burst + 0.002 * noise(rng));
  }
  return v;
}

Pcm Stereo(const std::vector<double>& l, const std::vector<double>* r) {
  Pcm p(2 * kFrames);
  for (int n = 0; n < kFrames; ++n) {
    p[2 * n] = Clip(l[n]);
    p[2 * n + 1] = r ? Clip((*r)[n]) : 0;
  }
  return p;
}

void WriteWav(const std::filesystem::path& path, const Pcm& pcm) {
  std::ofstream f(path, std::ios::binary);
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
}

struct ShellRun {
  int status = -1;
  std::string out, err;
};

ShellRun Shell(const std::string& command, const cehost::test::TempDir& dir) {
  ShellRun r;
  const auto errPath = dir / "stderr.txt";
  std::string full = command + " 2>'" + errPath.string() + "'";
  FILE* p = popen(full.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  r.status = pclose(p);
  std::ifstream e(errPath);
  std::stringstream ss;
  ss << e.rdbuf();
  r.err = ss.str();
  return r;
}

// Decodes a .wma file to interleaved stereo 16-bit samples; fails the test on any error.
Pcm Decode(const std::filesystem::path& wma, const cehost::test::TempDir& dir) {
  ShellRun r = Shell("ffmpeg -nostdin -v error -i '" + wma.string() + "' -f s16le -ac 2 -ar 44100 -", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "decoder reported errors for " << wma;
  Pcm p(r.out.size() / 2);
  std::memcpy(p.data(), r.out.data(), p.size() * 2);
  return p;
}

// SNR of dec against ref over ref's pairs [from, to), dec shifted by `delay` pairs
// (dec[i + delay] is compared with ref[i]).
double SnrDb(const Pcm& ref, const Pcm& dec, int delay, size_t from, size_t to) {
  double s = 0, e = 0;
  for (size_t i = 2 * from; i < 2 * to; ++i) {
    double a = ref[i], b = dec[i + 2 * delay];
    s += a * a;
    e += (a - b) * (a - b);
  }
  return e == 0 ? 200 : 10 * std::log10(s / e);
}

// Delay (in sample pairs, -4096..4096) at which the decoded signal best matches the input,
// judged on a stretch in the middle of the signal.
int FindDelay(const Pcm& ref, const Pcm& dec) {
  const long from = 2 * kRate, len = 4096;
  int best = 0;
  double bestErr = -1;
  for (int d = -4096; d <= 4096; ++d) {
    if (2 * (from + len + d) > static_cast<long>(dec.size())) break;
    double e = 0;
    for (long i = 2 * from; i < 2 * (from + len); ++i) {
      double x = ref[i] - dec[i + 2 * d];
      e += x * x;
    }
    if (bestErr < 0 || e < bestErr) {
      bestErr = e;
      best = d;
    }
  }
  return best;
}

struct Signal {
  const char* name;
  std::function<Pcm()> make;
  double minSnrDb;  // absolute floor besides the peer comparison
};

void PrintTo(const Signal& s, std::ostream* os) { *os << s.name; }

class WmaInterop : public ::testing::TestWithParam<Signal> {};

TEST_P(WmaInterop, FfmpegDecodesOurFileAsWellAsItsOwn) {
  const Signal& sig = GetParam();
  cehost::test::TempDir dir;
  const Pcm input = sig.make();

  WmaFileEncoder enc;
  ASSERT_TRUE(enc.Open(dir / "ours.wma")) << enc.Error();
  ASSERT_TRUE(enc.Write(input.data(), kFrames)) << enc.Error();
  ASSERT_TRUE(enc.Close()) << enc.Error();
  const Pcm ours = Decode(dir / "ours.wma", dir);
  ASSERT_FALSE(ours.empty());

  // Length: the first packet yields 7 frames and each later one 8, less the decoder's two
  // frames of start-up delay; the unfinished last superframe is never written. ffmpeg's
  // end-of-stream flush adds the held-back last frame without its overlap partner, so that
  // frame is not compared.
  const size_t packets = enc.PacketsWritten();
  const size_t decodedPairs = ours.size() / 2;
  EXPECT_GE(decodedPairs, (8 * packets - 3) * kFrame);
  EXPECT_LE(decodedPairs, (8 * packets - 2) * kFrame);
  EXPECT_LE(decodedPairs, size_t{kFrames});
  EXPECT_GE(decodedPairs + 11 * kFrame, size_t{kFrames});
  const size_t compared = (8 * packets - 3) * kFrame;

  const bool silent = std::all_of(input.begin(), input.end(), [](int16_t v) { return v == 0; });
  if (silent) {
    for (int16_t v : ours) ASSERT_EQ(v, 0);
    return;
  }
  // The priming frame is the decoder's start-up delay: our output lines up with the input
  // from its first sample.
  if (std::string(sig.name) != "sine") {
    EXPECT_EQ(FindDelay(input, ours), 0);
  }
  const double oursDb = SnrDb(input, ours, 0, 0, compared);

  WriteWav(dir / "in.wav", input);
  ShellRun peer = Shell("ffmpeg -nostdin -v error -i '" + (dir / "in.wav").string() +
                       "' -c:a wmav2 -b:a 128k '" + (dir / "peer.wma").string() + "'",
                   dir);
  ASSERT_EQ(peer.status, 0) << peer.err;
  const Pcm theirs = Decode(dir / "peer.wma", dir);
  const int peerDelay = FindDelay(input, theirs);
  // The peer's output starts 2048 samples into the input (negative delay): compare the
  // stretch both decodings cover.
  const size_t peerFrom = peerDelay < 0 ? size_t(-peerDelay) : 0;
  const size_t peerTo = std::min<size_t>(compared, theirs.size() / 2 - std::max(peerDelay, 0));
  const double peerDb = SnrDb(input, theirs, peerDelay, peerFrom, peerTo);

  std::printf("%s: ours %.2f dB, peer %.2f dB\n", sig.name, oursDb, peerDb);
  EXPECT_GE(oursDb, peerDb - 3.0) << sig.name;
  EXPECT_GE(oursDb, sig.minSnrDb) << sig.name;

  if (std::string(sig.name) == "one_silent_channel") {
    int peak = 0;
    for (size_t i = 1; i < 2 * compared; i += 2) peak = std::max(peak, std::abs(int{ours[i]}));
    EXPECT_LE(peak, 1) << "the silent channel must stay silent";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, WmaInterop,
    ::testing::Values(
        Signal{"sine", Sine1k, 30},
        Signal{"music", [] { auto l = Music(1, 1.0), r = Music(2, 1.01); return Stereo(l, &r); }, 15},
        Signal{"left_equals_right", [] { auto l = Music(3, 1.0); return Stereo(l, &l); }, 15},
        Signal{"one_silent_channel", [] { auto l = Music(4, 1.0); return Stereo(l, nullptr); }, 15},
        Signal{"silence", [] { return Pcm(2 * kFrames, 0); }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WmaInteropTimes, PacketTimesAndTheFirstDecodedFramesLineUp) {
  cehost::test::TempDir dir;
  const Pcm input = Sine1k();
  WmaFileEncoder enc;
  ASSERT_TRUE(enc.Open(dir / "t.wma"));
  ASSERT_TRUE(enc.Write(input.data(), kFrames));
  ASSERT_TRUE(enc.Close());
  const std::string file = (dir / "t.wma").string();

  // Packet times less the 1486 ms preroll: 0, then 278 ms, then 16384 samples apart.
  ShellRun packets = Shell("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 '" + file + "'", dir);
  ASSERT_EQ(packets.status, 0) << packets.err;
  std::istringstream ps(packets.out);
  std::vector<double> pts;
  for (double v; ps >> v;) pts.push_back(v);
  ASSERT_EQ(pts.size(), enc.PacketsWritten());
  EXPECT_DOUBLE_EQ(pts[0], 0.0);
  EXPECT_NEAR(pts[1], 0.278, 1e-9);
  for (size_t k = 2; k < pts.size(); ++k) EXPECT_NEAR(pts[k] - pts[k - 1], 16384.0 / kRate, 0.0011);

  // The first packet (priming frame + 7 input frames) yields 7 frames, of which the decoder
  // drops the first two (4096 samples, 93 ms) as its start-up delay; every later packet
  // yields its 8 frames at its own time.
  ShellRun frames = Shell("ffprobe -v error -show_entries frame=pts,nb_samples -of csv=p=0 '" + file + "'", dir);
  ASSERT_EQ(frames.status, 0) << frames.err;
  std::istringstream fs(frames.out);
  std::vector<std::pair<long, long>> decoded;
  std::string line;
  while (std::getline(fs, line)) {
    long a = 0, b = 0;
    if (std::sscanf(line.c_str(), "%ld,%ld", &a, &b) == 2) decoded.emplace_back(a, b);
  }
  ASSERT_GE(decoded.size(), 3u);
  EXPECT_EQ(decoded[0].first, 93);
  EXPECT_EQ(decoded[0].second, 7 * kFrame - 4096);
  EXPECT_EQ(decoded[1].first, 278);
  for (size_t k = 1; k + 1 < decoded.size() && k < pts.size(); ++k) {
    EXPECT_EQ(decoded[k].second, 8 * kFrame);
    EXPECT_EQ(decoded[k].first, std::lround(pts[k] * 1000));
  }
}

}  // namespace
