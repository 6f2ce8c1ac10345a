// Speed change: the frame patterns, the copy at 100 percent, bounds of the output, argument
// checks, compensation, and what the ear hears (the dominant frequency of a tone).
#include "change_speed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr INT kPercents[] = {70, 80, 90, 110, 120, 130, 140, 150};

std::vector<BYTE> ToBytes(const std::vector<SHORT>& samples) {
  std::vector<BYTE> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

std::vector<SHORT> ToSamples(const BYTE* bytes, LONG count) {
  std::vector<SHORT> samples((size_t)count / 2);
  std::memcpy(samples.data(), bytes, samples.size() * 2);
  return samples;
}

// Interleaved frames of arbitrary full-range values, both signs, so that many neighbour sums
// are odd and negative (where rounding down and rounding toward zero differ), plus one pair of
// full-scale frames whose sum overflows 16 bits.
std::vector<SHORT> TestFrames(INT frames, INT channels) {
  std::mt19937 random(frames * 10 + channels);
  std::uniform_int_distribution<INT> value(-32768, 32767);
  std::vector<SHORT> samples((size_t)frames * channels);
  for (SHORT& s : samples) s = (SHORT)value(random);
  if (frames >= 2) {
    for (INT j = 0; j < channels; ++j) {
      samples[j] = (SHORT)(j == 0 ? 32767 : -32768);
      samples[channels + j] = samples[j];
    }
  }
  return samples;
}

struct Source {
  INT a, b;  // output frame = midpoint of input frames a and b; a == b for a kept frame
};

TEST(ChangeSpeed, FramePatternsWithoutCompensation) {
  auto kept = [](std::initializer_list<INT> frames) {
    std::vector<Source> v;
    for (INT f : frames) v.push_back({f, f});
    return v;
  };
  const struct {
    INT percent, channels, frames;
    std::vector<Source> expect;
  } cases[] = {
      {150, 2, 9, kept({0, 1, 3, 4, 6, 7})},
      {130, 2, 13, kept({0, 1, 2, 3, 5, 6, 7, 9, 10, 11})},
      {140, 2, 8, kept({0, 1, 2, 4, 5, 7})},
      {120, 2, 12, kept({0, 1, 2, 3, 4, 6, 7, 8, 9, 10})},
      {110, 1, 23,
       kept({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22})},
      {80, 2, 8, {{0, 0}, {0, 1}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {4, 5}, {5, 5}, {6, 6}, {7, 7}}},
      {70, 2, 7, {{0, 0}, {0, 1}, {1, 1}, {2, 2}, {2, 3}, {3, 3}, {4, 4}, {4, 5}, {5, 5}, {6, 6}}},
      // An insertion after the buffer's last frame repeats that frame.
      {90,
       2,
       10,
       {{0, 0},
        {0, 1},
        {1, 1},
        {2, 2},
        {3, 3},
        {4, 4},
        {5, 5},
        {6, 6},
        {7, 7},
        {8, 8},
        {9, 9},
        {9, 9}}},
      {80, 1, 5, {{0, 0}, {0, 1}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {4, 4}}},
      {70, 2, 1, {{0, 0}, {0, 0}}},
      // Speeds outside the tables keep every frame.
      {105, 2, 4, kept({0, 1, 2, 3})},
      {60, 1, 3, kept({0, 1, 2})},
      {0, 2, 2, kept({0, 1})},
  };
  for (const auto& c : cases) {
    const LONG frameBytes = 2 * c.channels;
    const std::vector<SHORT> samples = TestFrames(c.frames, c.channels);
    std::vector<SHORT> expect;
    for (const Source& s : c.expect) {
      for (INT j = 0; j < c.channels; ++j) {
        const double sum = samples[s.a * c.channels + j] + samples[s.b * c.channels + j];
        expect.push_back((SHORT)std::floor(sum / 2.0));
      }
    }
    // Trailing bytes short of a frame are ignored.
    for (LONG extra : {0, 1, (INT)frameBytes - 1}) {
      SCOPED_TRACE(testing::Message() << c.percent << " percent, " << c.channels << " channels, "
                                      << c.frames << " frames + " << extra);
      std::vector<BYTE> in = ToBytes(samples);
      in.resize(in.size() + extra, 0x11);
      const LONG byteCount = (LONG)in.size();
      std::vector<BYTE> out(2 * in.size(), 0xA5);
      PitchShifter shifter;
      const LONG written =
          ChangeSpeed(shifter, c.percent, FALSE, c.channels, out.data(), in.data(), byteCount);
      ASSERT_EQ(written, (LONG)expect.size() * 2);
      EXPECT_EQ(ToSamples(out.data(), written), expect);
      EXPECT_TRUE(std::all_of(out.begin() + written, out.end(), [](BYTE b) { return b == 0xA5; }));
    }
  }
}

TEST(ChangeSpeed, HundredPercentCopiesBytesWhateverTheSwitch) {
  std::vector<BYTE> in(37);
  for (size_t i = 0; i < in.size(); ++i) in[i] = (BYTE)(i * 37 + 5);
  for (BOOL compensate : {FALSE, TRUE}) {
    for (INT channels : {0, 1, 2}) {
      PitchShifter shifter;
      ASSERT_EQ(shifter.PitchShifterReset(1.0f, 2, 44100), S_OK);
      std::vector<BYTE> out(2 * in.size(), 0xA5);
      EXPECT_EQ(ChangeSpeed(shifter, 100, compensate, channels, out.data(), in.data(), 37), 37);
      EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()));
      EXPECT_EQ(out[37], 0xA5);
      EXPECT_EQ(shifter.ChannelForTesting(0).writeIndex, 0);  // the shifter did not run
    }
  }
}

// Every speed and buffer size fits the 2 x input output buffer (sized exactly, so that the
// address sanitizer sees any overrun), and nothing is written past the count returned.
TEST(ChangeSpeed, NeverWritesBeyondTwiceItsInputOrItsResult) {
  PitchShifter shifter;
  for (INT percent : {70, 80, 90, 100, 110, 120, 130, 140, 150, 95, 175}) {
    for (INT channels : {1, 2}) {
      ASSERT_EQ(shifter.PitchShifterReset((FLOAT)percent / 100.0f, channels, 44100), S_OK);
      for (LONG byteCount = 1; byteCount <= 64; ++byteCount) {
        SCOPED_TRACE(testing::Message() << percent << " percent, " << channels << " channels, "
                                        << byteCount << " bytes");
        std::vector<BYTE> in((size_t)byteCount, 0x40);
        std::vector<BYTE> out(2 * (size_t)byteCount, 0xA5);
        for (BOOL compensate : {FALSE, TRUE}) {
          std::fill(out.begin(), out.end(), 0xA5);
          const LONG written =
              ChangeSpeed(shifter, percent, compensate, channels, out.data(), in.data(), byteCount);
          ASSERT_GE(written, 0);
          ASSERT_LE(written, 2 * byteCount);
          ASSERT_TRUE(
              std::all_of(out.begin() + written, out.end(), [](BYTE b) { return b == 0xA5; }));
        }
      }
    }
  }
}

TEST(ChangeSpeed, UnusableArgumentsWriteNothing) {
  PitchShifter shifter;
  std::vector<BYTE> in(64, 0x40), out(128, 0xA5);
  const struct {
    INT percent, channels;
    BYTE* out;
    const BYTE* in;
    LONG byteCount;
  } cases[] = {
      {150, 2, out.data(), in.data(), 0},
      {150, 2, out.data(), in.data(), -4},
      {150, 0, out.data(), in.data(), 64},
      {80, -2, out.data(), in.data(), 64},
      {150, 2, nullptr, in.data(), 64},
      {100, 2, out.data(), nullptr, 64},
      {100, 2, out.data(), in.data(), 0x40000000},
      {80, 2, out.data(), in.data(), 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChangeSpeed(shifter, c.percent, TRUE, c.channels, c.out, c.in, c.byteCount), 0);
  }
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](BYTE b) { return b == 0xA5; }));
}

// With compensation every emitted sample, inserted ones included, goes through the shifter
// channel by channel in stream order: the same as the plain pattern fed to a second shifter.
TEST(ChangeSpeed, CompensationRunsEveryEmittedSampleThroughTheShifter) {
  for (INT percent : {70, 150, 125}) {
    SCOPED_TRACE(percent);
    const FLOAT ratio = (FLOAT)percent / 100.0f;
    PitchShifter viaChangeSpeed, byHand, unused;
    ASSERT_EQ(viaChangeSpeed.PitchShifterReset(ratio, 2, 44100), S_OK);
    ASSERT_EQ(byHand.PitchShifterReset(ratio, 2, 44100), S_OK);
    for (INT buffer = 0; buffer < 4; ++buffer) {
      const std::vector<BYTE> in = ToBytes(TestFrames(1001 + buffer, 2));
      const LONG byteCount = (LONG)in.size();
      std::vector<BYTE> compensated(2 * in.size()), plain(2 * in.size());
      const LONG a =
          ChangeSpeed(viaChangeSpeed, percent, TRUE, 2, compensated.data(), in.data(), byteCount);
      const LONG b = ChangeSpeed(unused, percent, FALSE, 2, plain.data(), in.data(), byteCount);
      ASSERT_EQ(a, b);
      std::vector<SHORT> expect = ToSamples(plain.data(), b);
      for (size_t i = 0; i < expect.size(); ++i) {
        expect[i] = byHand.PitchShifterSample((INT)(i % 2), expect[i]);
      }
      ASSERT_EQ(ToSamples(compensated.data(), a), expect);
    }
  }
}

// In-place radix-2 FFT; size a power of two.
void Fft(std::vector<std::complex<double>>& x) {
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -2.0 * std::numbers::pi / (double)len);
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> wk = 1.0;
      for (size_t k = 0; k < len / 2; ++k, wk *= w) {
        const std::complex<double> u = x[i + k], v = x[i + k + len / 2] * wk;
        x[i + k] = u + v;
        x[i + k + len / 2] = u - v;
      }
    }
  }
}

// Frequency of the strongest spectral line in `samples`: Hann window, FFT, then a parabola
// through the log magnitudes around the peak bin for the fraction of a bin.
double DominantFrequency(const std::vector<SHORT>& samples, double rate) {
  const size_t n = samples.size();
  std::vector<std::complex<double>> x(n);
  for (size_t i = 0; i < n; ++i) {
    x[i] = samples[i] * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (double)i / (double)n));
  }
  Fft(x);
  size_t peak = 1;
  for (size_t k = 1; k < n / 2 - 1; ++k) {
    if (std::abs(x[k]) > std::abs(x[peak])) peak = k;
  }
  const double l = std::log(std::abs(x[peak - 1])), c = std::log(std::abs(x[peak])),
               r = std::log(std::abs(x[peak + 1]));
  const double offset = 0.5 * (l - r) / (l - 2.0 * c + r);
  return ((double)peak + offset) * rate / (double)n;
}

// The ear test: a 440 Hz tone played at each speed. Without compensation its pitch moves by
// the speed factor; with it the pitch stays within 2 % of 440 Hz. The output length follows
// each pattern exactly (36036 frames is a whole number of every pattern's periods).
TEST(ChangeSpeed, ToneKeepsItsPitchOnlyWithCompensation) {
  constexpr INT kRate = 44100, kFrames = 36036, kBuffers = 2;
  const struct {
    INT percent, outPerPeriod, period;
  } patterns[] = {{70, 10, 7}, {80, 5, 4},    {90, 10, 9}, {110, 10, 11},
                  {120, 5, 6}, {130, 10, 13}, {140, 5, 7}, {150, 2, 3}};
  for (const auto& p : patterns) {
    for (BOOL compensate : {FALSE, TRUE}) {
      SCOPED_TRACE(testing::Message() << p.percent << " percent, compensation " << compensate);
      auto shifter = std::make_unique<PitchShifter>();
      ASSERT_EQ(shifter->PitchShifterReset((FLOAT)p.percent / 100.0f, 2, kRate), S_OK);
      std::vector<SHORT> left;
      for (INT buffer = 0; buffer < kBuffers; ++buffer) {
        std::vector<SHORT> frames;
        for (INT i = buffer * kFrames; i < (buffer + 1) * kFrames; ++i) {
          const SHORT s =
              (SHORT)std::lround(16000 * std::sin(2.0 * std::numbers::pi * 440.0 * i / kRate));
          frames.push_back(s);
          frames.push_back(s);
        }
        const std::vector<BYTE> in = ToBytes(frames);
        std::vector<BYTE> out(2 * in.size());
        const LONG written =
            ChangeSpeed(*shifter, p.percent, compensate, 2, out.data(), in.data(), (LONG)in.size());
        ASSERT_EQ(written, kFrames / p.period * p.outPerPeriod * 4);
        const std::vector<SHORT> samples = ToSamples(out.data(), written);
        for (size_t i = 0; i < samples.size(); i += 2) {
          ASSERT_EQ(samples[i], samples[i + 1]);
          left.push_back(samples[i]);
        }
      }
      // Past the warm-up of the pitch shifter.
      const std::vector<SHORT> steady(left.begin() + 8192, left.begin() + 8192 + 32768);
      const double hz = DominantFrequency(steady, kRate);
      const double expect = compensate ? 440.0 : 440.0 * p.percent / 100.0;
      EXPECT_NEAR(hz, expect, 0.02 * expect);
      RecordProperty("hz_" + std::to_string(p.percent) + (compensate ? "_on" : "_off"),
                     std::to_string(hz));
    }
  }
}

}  // namespace
