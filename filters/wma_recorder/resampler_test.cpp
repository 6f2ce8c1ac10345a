#include "resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cehost/debug_capture.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A converter with its own 8-byte aligned work area, collecting everything it returns.
class Converter {
 public:
  Converter(int from, int to, int channels, int blockSize)
      : channels_(channels),
        work_((16384 + (16 + int64_t{blockSize}) * channels * 2) / 8) {
    EXPECT_EQ(ResampleInit(&state_, from, to, channels, blockSize, work_.data(),
                           static_cast<int>(work_.size() * 8)),
              kResampleOk);
  }

  Converter(Converter&&) = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  ResampleState* state() { return state_; }

  // Converts one block; the output buffers hold exactly ResampleMaxOutput samples, followed by
  // guard samples that must stay untouched.
  int Feed(const int16_t* left, const int16_t* right, int count) {
    const size_t room = static_cast<size_t>(ResampleMaxOutput(state_));
    std::vector<int16_t> outLeft(room + kGuard, kSentinel);
    std::vector<int16_t> outRight(room + kGuard, kSentinel);
    const int n = ResampleProcess(state_, left, right, outLeft.data(),
                                  channels_ == 2 ? outRight.data() : nullptr, count);
    EXPECT_GE(n, 0);
    for (size_t i = room; i < room + kGuard; ++i) {
      EXPECT_EQ(outLeft[i], kSentinel);
      EXPECT_EQ(outRight[i], kSentinel);
    }
    if (n > 0) {
      left_.insert(left_.end(), outLeft.begin(), outLeft.begin() + n);
      if (channels_ == 2) right_.insert(right_.end(), outRight.begin(), outRight.begin() + n);
    }
    return n;
  }

  const std::vector<int16_t>& left() const { return left_; }
  const std::vector<int16_t>& right() const { return right_; }

 private:
  static constexpr size_t kGuard = 8;
  static constexpr int16_t kSentinel = 0x5A5A;
  int channels_;
  std::vector<uint64_t> work_;
  ResampleState* state_ = nullptr;
  std::vector<int16_t> left_, right_;
};

std::vector<int16_t> Noise(size_t n, unsigned seed, int amplitude = 20000) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(-amplitude, amplitude);
  std::vector<int16_t> v(n);
  for (auto& s : v) s = static_cast<int16_t>(dist(rng));
  return v;
}

// The whole signal through one converter whose block holds all of it, in a single call.
Converter OneRun(int from, int to, const std::vector<int16_t>& left,
                 const std::vector<int16_t>& right, int channels) {
  Converter c(from, to, channels, static_cast<int>(left.size()));
  c.Feed(left.data(), right.data(), static_cast<int>(left.size()));
  return c;
}

struct Pair {
  int from;
  int to;
};

constexpr Pair kFilteredPairs[] = {{48000, 44100}, {44100, 48000}};

TEST(ResamplerTest, EqualRatesCopyTheInputExactly) {
  for (int rate : {8000, 44100, 48000}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
      const auto left = Noise(6000, 1, 32768);
      const auto right = Noise(6000, 2, 32768);
      Converter c(rate, rate, channels, 512);
      std::mt19937 rng(3);
      size_t fed = 0;
      while (fed < left.size()) {
        const int count = std::min<int>(std::uniform_int_distribution<int>(0, 512)(rng),
                                        static_cast<int>(left.size() - fed));
        EXPECT_EQ(c.Feed(left.data() + fed, right.data() + fed, count) % 4, 0);
        fed += count;
      }
      ASSERT_EQ(c.left().size(), left.size() / 4 * 4);
      EXPECT_TRUE(std::equal(c.left().begin(), c.left().end(), left.begin()));
      if (channels == 2) {
        EXPECT_TRUE(std::equal(c.right().begin(), c.right().end(), right.begin()));
      }
    }
  }
}

TEST(ResamplerTest, InitRefusesBadArguments) {
  struct Case {
    const char* what;
    int from, to, channels, blockSize, workBytes;
    int expected;
  };
  const Case cases[] = {
      {"no work area", 48000, 44100, 2, 2048, 0, kResampleBadArgument},
      {"work area below the state header", 48000, 44100, 2, 2048, 16, kResampleBadArgument},
      {"unknown rate", 96000, 48000, 2, 2048, 65536, kResampleBadArgument},
      {"pair without a table", 48000, 32000, 2, 2048, 65536, kResampleBadArgument},
      {"pair without a table, up", 22050, 44100, 1, 2048, 65536, kResampleBadArgument},
      {"no channels", 48000, 44100, 0, 2048, 65536, kResampleBadChannels},
      {"three channels", 48000, 44100, 3, 2048, 65536, kResampleBadChannels},
      {"empty block", 48000, 44100, 2, 0, 65536, kResampleNoHistory},
      {"negative block", 48000, 44100, 2, -4, 65536, kResampleNoHistory},
      {"history larger than the area", 48000, 44100, 2, 1 << 30, 65536, kResampleNoRoom},
      {"history size past 32 bits", 48000, 48000, 2, 0x7fffffff, 65536, kResampleNoRoom},
  };
  std::vector<uint64_t> work(65536 / 8);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cehost::DebugCapture capture;
    ResampleState* state = reinterpret_cast<ResampleState*>(&work);
    EXPECT_EQ(ResampleInit(&state, c.from, c.to, c.channels, c.blockSize,
                           c.workBytes ? work.data() : nullptr, c.workBytes),
              c.expected);
    EXPECT_EQ(state, nullptr);
    EXPECT_FALSE(capture.Contains("Total Heap size"));
  }
  EXPECT_EQ(ResampleInit(nullptr, 48000, 44100, 2, 2048, work.data(), 65536),
            kResampleBadArgument);
}

// The bytes reported by "Total Heap size is %4d\n" for a set-up.
int ReportedHeapSize(int from, int to, int channels, int blockSize) {
  std::vector<uint64_t> work(65536);
  ResampleState* state = nullptr;
  cehost::DebugCapture capture;
  EXPECT_EQ(ResampleInit(&state, from, to, channels, blockSize, work.data(), 65536 * 8),
            kResampleOk);
  // One line: the prefix, the byte count right-aligned in at least 4 characters, "\n".
  const std::string text = capture.Text();
  const std::string prefix = "Total Heap size is ";
  const size_t digits = text.find_first_not_of(' ', prefix.size());
  const bool wellFormed = text.starts_with(prefix) && text.size() >= prefix.size() + 5 &&
                          text.back() == '\n' && digits < text.size() - 1 &&
                          text.find_first_not_of("0123456789", digits) == text.size() - 1;
  EXPECT_TRUE(wellFormed) << text;
  return wellFormed ? std::stoi(text.substr(digits)) : -1;
}

TEST(ResamplerTest, ReportedHeapSizeIsExactlyWhatTheWorkAreaMustHold) {
  struct Case {
    int from, to, channels, blockSize;
  };
  for (const Case& c : {Case{48000, 44100, 2, 2048}, Case{44100, 48000, 1, 100},
                        Case{44100, 44100, 1, 1}}) {
    SCOPED_TRACE(testing::Message() << c.from << "->" << c.to << " block " << c.blockSize);
    const int used = ReportedHeapSize(c.from, c.to, c.channels, c.blockSize);
    ASSERT_GT(used, 0);
    // The area is placed 64 bytes into a guarded buffer: a failed set-up must leave every
    // byte outside the area alone, and a successful one must stay inside it.
    for (int size : {used - 8, used - 1, used}) {
      SCOPED_TRACE(size);
      std::vector<uint64_t> buffer((used + 128) / 8 + 1, 0xA5A5A5A5A5A5A5A5u);
      auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
      ResampleState* state = nullptr;
      const int rc = ResampleInit(&state, c.from, c.to, c.channels, c.blockSize, bytes + 64, size);
      EXPECT_EQ(rc, size >= used ? kResampleOk : kResampleNoRoom);
      const auto untouched = [](const uint8_t* p, const uint8_t* end) {
        return std::all_of(p, end, [](uint8_t b) { return b == 0xA5; });
      };
      EXPECT_TRUE(untouched(bytes, bytes + 64));
      EXPECT_TRUE(untouched(bytes + 64 + size, bytes + buffer.size() * 8));
    }
  }
  // The recording filter gives the converter 26008 bytes for stereo blocks of 2048.
  EXPECT_LE(ReportedHeapSize(48000, 44100, 2, 2048), 26008);
}

TEST(ResamplerTest, RefusedCallsChangeNothing) {
  const auto left = Noise(3000, 4);
  const auto right = Noise(3000, 5);
  Converter plain(48000, 44100, 2, 256);
  Converter probed(48000, 44100, 2, 256);
  std::vector<int16_t> outLeft(ResampleMaxOutput(probed.state()), 7);
  std::vector<int16_t> outRight(outLeft);
  for (size_t fed = 0; fed + 200 <= left.size(); fed += 200) {
    plain.Feed(left.data() + fed, right.data() + fed, 200);
    EXPECT_EQ(ResampleProcess(probed.state(), left.data(), right.data(), outLeft.data(),
                              outRight.data(), 257), -1);
    EXPECT_EQ(ResampleProcess(probed.state(), left.data(), right.data(), outLeft.data(),
                              outRight.data(), -1), -1);
    EXPECT_EQ(ResampleProcess(probed.state(), left.data(), nullptr, outLeft.data(),
                              outRight.data(), 200), -1);
    EXPECT_EQ(ResampleProcess(probed.state(), left.data(), right.data(), outLeft.data(),
                              nullptr, 200), -1);
    EXPECT_EQ(ResampleProcess(nullptr, left.data(), right.data(), outLeft.data(),
                              outRight.data(), 200), -1);
    EXPECT_TRUE(std::all_of(outLeft.begin(), outLeft.end(), [](int16_t s) { return s == 7; }));
    EXPECT_TRUE(std::all_of(outRight.begin(), outRight.end(), [](int16_t s) { return s == 7; }));
    probed.Feed(left.data() + fed, right.data() + fed, 200);
  }
  EXPECT_EQ(probed.left(), plain.left());
  EXPECT_EQ(probed.right(), plain.right());
}

TEST(ResamplerTest, OutputCountsAreMultiplesOfFourAndFollowTheRatio) {
  for (const Pair& p : kFilteredPairs) {
    SCOPED_TRACE(testing::Message() << p.from << "->" << p.to);
    const auto left = Noise(2048, 6);
    Converter c(p.from, p.to, 2, 2048);
    int64_t in = 0, out = 0;
    for (int block = 0; block < 200; ++block) {
      const int n = c.Feed(left.data(), left.data(), 2048);
      EXPECT_EQ(n % 4, 0);
      in += 2048;
      out += n;
    }
    // 48000 -> 44100 gives 147 outputs per 160 inputs; the last call holds back at most 3.
    const double expected = static_cast<double>(in) * p.to / p.from;
    EXPECT_NEAR(static_cast<double>(out), expected, 4.0);
  }
}

TEST(ResamplerTest, FullScaleInputSaturatesInsteadOfWrapping) {
  // Full-scale noise drives the filter's overshoot past 16 bits. The converter is linear
  // below that, so the clamped result of the same input at half scale, doubled, is what the
  // full-scale output must be.
  std::mt19937 rng(7);
  std::vector<int16_t> full(8000), half(8000);
  for (size_t i = 0; i < full.size(); ++i) {
    half[i] = (rng() & 1) ? 16383 : -16383;
    full[i] = static_cast<int16_t>(2 * half[i]);
  }
  for (const Pair& p : kFilteredPairs) {
    SCOPED_TRACE(testing::Message() << p.from << "->" << p.to);
    const Converter high = OneRun(p.from, p.to, full, full, 2);
    const Converter low = OneRun(p.from, p.to, half, half, 2);
    ASSERT_EQ(high.left().size(), low.left().size());
    int clampedHigh = 0, clampedLow = 0;
    for (size_t i = 0; i < high.left().size(); ++i) {
      const int linear = 2 * low.left()[i];
      ASSERT_NEAR(high.left()[i], std::clamp(linear, -32768, 32767), 1) << "at " << i;
      ASSERT_EQ(high.right()[i], high.left()[i]);
      clampedHigh += linear > 32768;
      clampedLow += linear < -32769;
    }
    EXPECT_GT(clampedHigh, 10);
    EXPECT_GT(clampedLow, 10);
  }
}

TEST(ResamplerTest, SineKeepsItsFrequencyGainAndTiming) {
  for (const Pair& p : kFilteredPairs) {
    SCOPED_TRACE(testing::Message() << p.from << "->" << p.to);
    const double f = 1000.0, amplitude = 16000.0;
    std::vector<int16_t> x(p.from / 2);
    for (size_t i = 0; i < x.size(); ++i) {
      x[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * kPi * f * i / p.from)));
    }
    Converter c(p.from, p.to, 1, 2048);
    for (size_t fed = 0; fed < x.size(); fed += 2000) {
      c.Feed(x.data() + fed, nullptr, static_cast<int>(std::min<size_t>(2000, x.size() - fed)));
    }
    const std::vector<int16_t>& y = c.left();
    // Least-squares fit of a sine and cosine at exactly f over the settled output.
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    for (size_t i = 20; i < y.size(); ++i) {
      const double s = std::sin(2 * kPi * f * i / p.to), co = std::cos(2 * kPi * f * i / p.to);
      ss += s * s, sc += s * co, cc += co * co, ys += y[i] * s, yc += y[i] * co;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    EXPECT_NEAR(20 * std::log10(std::hypot(a, b) / amplitude), 0.0, 0.1);
    // Sample by sample, the output is the input sine 4 input samples later, to within the
    // rounding of input and output and the filter's small error at 1 kHz.
    double worst = 0;
    for (size_t i = 20; i < y.size(); ++i) {
      const double t = static_cast<double>(i) / p.to - 4.0 / p.from;
      worst = std::max(worst, std::abs(y[i] - amplitude * std::sin(2 * kPi * f * t)));
    }
    EXPECT_LT(worst, 3.0);
  }
}

TEST(ResamplerTest, ConstantInputComesOutUnchangedOnEveryPhase) {
  for (const Pair& p : kFilteredPairs) {
    for (int16_t level : {int16_t{12345}, int16_t{32767}, int16_t{-32768}}) {
      SCOPED_TRACE(testing::Message() << p.from << "->" << p.to << " level " << level);
      const std::vector<int16_t> x(1000, level);
      const Converter c = OneRun(p.from, p.to, x, x, 1);
      ASSERT_GT(c.left().size(), 900u);
      // Past the first 10 outputs no set reads the zeroed history.
      EXPECT_TRUE(std::all_of(c.left().begin() + 10, c.left().end(),
                              [&](int16_t s) { return s == level; }));
    }
  }
}

TEST(ResamplerTest, AnyBlockSplitGivesTheOutputOfOneRun) {
  const auto left = Noise(20000, 8, 32768);
  const auto right = Noise(20000, 9, 32768);
  for (const Pair& p : kFilteredPairs) {
    const Converter whole = OneRun(p.from, p.to, left, right, 2);
    for (unsigned seed : {10u, 11u, 12u}) {
      SCOPED_TRACE(testing::Message() << p.from << "->" << p.to << " seed " << seed);
      std::mt19937 rng(seed);
      Converter split(p.from, p.to, 2, 2048);
      size_t fed = 0;
      int call = 0;
      while (fed < left.size()) {
        // Mostly small pieces, with the extremes 0, 1 and a full block among them.
        int count = std::uniform_int_distribution<int>(0, 300)(rng);
        if (call % 7 == 3) count = 2048;
        if (call % 11 == 5) count = call % 2;
        count = std::min<int>(count, static_cast<int>(left.size() - fed));
        split.Feed(left.data() + fed, right.data() + fed, count);
        fed += count;
        ++call;
      }
      EXPECT_EQ(split.left(), whole.left());
      EXPECT_EQ(split.right(), whole.right());
    }
  }
}

TEST(ResamplerTest, StereoChannelsMatchTwoMonoRuns) {
  const auto left = Noise(5000, 13);
  const auto right = Noise(5000, 14);
  for (const Pair& p : kFilteredPairs) {
    SCOPED_TRACE(testing::Message() << p.from << "->" << p.to);
    const Converter stereo = OneRun(p.from, p.to, left, right, 2);
    EXPECT_EQ(stereo.left(), OneRun(p.from, p.to, left, left, 1).left());
    EXPECT_EQ(stereo.right(), OneRun(p.from, p.to, right, right, 1).left());
  }
}

}  // namespace
