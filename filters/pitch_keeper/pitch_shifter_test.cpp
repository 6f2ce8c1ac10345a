// The pitch shifter: derived sizes, refused setups, warm-up, crossfades and jumps, saturation,
// independence of channels and instances.
#include "pitch_shifter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

namespace {

// Compensated speeds as the filter passes them: (float)percent / 100.
constexpr INT kPercents[] = {70, 80, 90, 110, 120, 130, 140, 150};

FLOAT Ratio(INT percent) { return (FLOAT)percent / 100.0f; }

std::unique_ptr<PitchShifter> MakeShifter(FLOAT ratio, INT channels, DWORD rate) {
  auto shifter = std::make_unique<PitchShifter>();
  EXPECT_EQ(shifter->PitchShifterReset(ratio, channels, rate), S_OK);
  return shifter;
}

SHORT Sine(INT i, double hz, DWORD rate, double amplitude) {
  return (SHORT)std::lround(amplitude * std::sin(2.0 * std::numbers::pi * hz * i / rate));
}

TEST(PitchShifterReset, DerivesSizesFromRateAndRatio) {
  const struct {
    DWORD rate;
    FLOAT ratio;
    INT h, length, fade, step, raising, jumpInterval;
  } cases[] = {
      {44100, 0.8f, 1543, 3086, 529, 16383, 1, 1409},
      {48000, 1.5f, 1680, 3360, 576, -21844, 0, 1869},
      {8000, 0.7f, 280, 560, 96, 28086, 1, 237},
      {44100, 1.0f, 1543, 3086, 529, 0, 0, 1541},
      // 12 ms at 48999 Hz is 587 samples: the crossfade is shortened to the tables' 576.
      {48999, 0.7f, 1714, 3428, 576, 28086, 1, 1466},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, ratio " << c.ratio);
    auto shifter = MakeShifter(c.ratio, 2, c.rate);
    ASSERT_EQ(shifter->Channels(), 2);
    for (INT j = 0; j < 2; ++j) {
      const PitchShifterChannel& ch = shifter->ChannelForTesting(j);
      EXPECT_EQ(ch.windowSamples, c.h);
      EXPECT_EQ(ch.guardSamples, 0);
      EXPECT_EQ(ch.length, c.length);
      EXPECT_EQ(ch.fadeLength, c.fade);
      EXPECT_EQ(ch.step, c.step);
      EXPECT_EQ(ch.raising, c.raising);
      EXPECT_EQ(ch.jumpInterval, c.jumpInterval);
      EXPECT_EQ(ch.offsetLowering, c.length - 2);
      EXPECT_EQ(ch.offsetRaising, c.h - 2);
      EXPECT_EQ(ch.tap1, c.raising ? c.h - 2 : c.length - 2);
      EXPECT_EQ(ch.cosTable[0], 10000);
      EXPECT_EQ(ch.sinTable[0], 0);
      EXPECT_EQ(ch.sinTable[c.fade - 1],
                (INT)(std::sin((c.fade - 1) * (std::numbers::pi / 2) / c.fade) * 10000.0));
    }
  }
}

TEST(PitchShifterReset, RefusedSetupLeavesSilence) {
  const FLOAT nan = std::numeric_limits<FLOAT>::quiet_NaN();
  const FLOAT inf = std::numeric_limits<FLOAT>::infinity();
  const struct {
    FLOAT ratio;
    INT channels;
    DWORD rate;
  } cases[] = {
      {0.8f, 0, 44100},  {0.8f, 3, 44100},  {0.8f, -1, 44100}, {0.8f, 2, 0},
      {0.8f, 2, 83},     {0.8f, 2, 300000}, {0.0f, 2, 44100},  {-1.0f, 2, 44100},
      {0.49f, 2, 44100}, {nan, 2, 44100},   {inf, 2, 44100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "ratio " << c.ratio << ", " << c.channels << " channels, " << c.rate << " Hz");
    auto shifter = MakeShifter(0.8f, 2, 44100);
    // Fill the delay line so that a state left usable would have something to say.
    for (INT i = 0; i < 5000; ++i) {
      (void)shifter->PitchShifterSample(0, 20000);
      (void)shifter->PitchShifterSample(1, 20000);
    }
    EXPECT_EQ(shifter->PitchShifterReset(c.ratio, c.channels, c.rate), E_INVALIDARG);
    EXPECT_EQ(shifter->Channels(), 0);
    for (INT i = 0; i < 3000; ++i) {
      ASSERT_EQ(shifter->PitchShifterSample(0, 20000), 0);
      ASSERT_EQ(shifter->PitchShifterSample(1, 20000), 0);
    }
  }
}

TEST(PitchShifterReset, SmallestUsableSetups) {
  for (DWORD rate : {100u, 8000u}) {
    auto shifter = MakeShifter(0.5f, 1, rate);
    INT nonZero = 0;
    for (INT i = 0; i < 4000; ++i) nonZero += shifter->PitchShifterSample(0, 8000) != 0;
    EXPECT_GT(nonZero, 0) << rate;
  }
}

TEST(PitchShifterSample, SilentBeforeAnyResetAndOutsideItsChannels) {
  PitchShifter never;
  EXPECT_EQ(never.PitchShifterSample(0, 12345), 0);
  EXPECT_EQ(never.PitchShifterSample(1, -12345), 0);

  auto mono = MakeShifter(1.5f, 1, 44100);
  for (INT i = 0; i < 100; ++i) {
    EXPECT_EQ(mono->PitchShifterSample(1, 12345), 0);
    EXPECT_EQ(mono->PitchShifterSample(-1, 12345), 0);
  }
  EXPECT_EQ(mono->ChannelForTesting(0).writeIndex, 0);  // the other calls touched nothing
}

// After a reset the delay line is empty: the output stays 0 until the active tap reaches
// samples written since, about h + 2 samples at the tap speed 1/ratio when raising and 2 when
// lowering; then a constant input comes out at unity gain.
TEST(PitchShifterSample, ZerosUntilTheTapReachesWrittenSamples) {
  for (INT percent : kPercents) {
    SCOPED_TRACE(percent);
    const FLOAT ratio = Ratio(percent);
    auto shifter = MakeShifter(ratio, 1, 44100);
    const PitchShifterChannel& ch = shifter->ChannelForTesting(0);
    INT first = -1;
    std::vector<SHORT> out;
    for (INT i = 0; i < 3000; ++i) {
      out.push_back(shifter->PitchShifterSample(0, 1000));
      if (first < 0 && out.back() != 0) first = i;
    }
    ASSERT_GE(first, 1);
    if (percent < 100) {
      EXPECT_NEAR(first, (ch.windowSamples + 2) * ratio, 3);
    } else {
      EXPECT_LE(first, 4);
    }
    EXPECT_NEAR(out[first + 20], 1000, 5);
  }
}

// Over several jumps at every compensated speed: jumps come every (w + 1) phase wraps; each
// starts a crossfade of X samples in which the new tap's gain rises along the cosine table
// and the old one's falls along the sine table, their squares summing to about 10000^2; and
// no audible tap ever reaches the slot the writer overwrites next (which would splice the
// oldest sample into the newest).
TEST(PitchShifterSample, JumpsAndCrossfadesKeepTapsInsideTheWindow) {
  struct Case {
    INT percent;
    DWORD rate;
  };
  std::vector<Case> cases;
  for (INT percent : kPercents) cases.push_back({percent, 44100});
  cases.push_back({70, 48999});
  cases.push_back({150, 48999});
  cases.push_back({80, 8000});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.percent << " percent at " << c.rate << " Hz");
    auto shifter = MakeShifter(Ratio(c.percent), 1, c.rate);
    const PitchShifterChannel& ch = shifter->ChannelForTesting(0);
    const INT h = ch.windowSamples, length = ch.length, fade = ch.fadeLength;
    const double tapRateOffset = 1.0 / Ratio(c.percent) - 1.0;
    const double samplesPerJump = (ch.jumpInterval + 1) * 65536.0 / std::abs(ch.step);
    const INT maxDistance = ch.raising ? h + 2 : (INT)(h + 2 * fade * std::abs(tapRateOffset)) + 2;

    INT jumps = 0, lastJump = -1;
    for (INT i = 0; i < 3 * (INT)c.rate; ++i) {
      (void)shifter->PitchShifterSample(0, Sine(i, 440, c.rate, 10000));
      if (ch.fadeIndex == fade) {
        // Just jumped; the gains change from the next sample on.
        if (lastJump >= 0) {
          ASSERT_NEAR(i - lastJump, samplesPerJump, 2.0);
        }
        lastJump = i;
        ++jumps;
      } else {
        // Outside a crossfade (index 0) the tap that jumped last plays alone.
        const double angle = ch.fadeIndex * (std::numbers::pi / 2) / fade;
        const INT rising = ch.toggle == 0 ? ch.gain2 : ch.gain1;
        const INT falling = ch.toggle == 0 ? ch.gain1 : ch.gain2;
        ASSERT_EQ(rising, (INT)(std::cos(angle) * 10000.0)) << "sample " << i;
        ASSERT_EQ(falling, (INT)(std::sin(angle) * 10000.0)) << "sample " << i;
        ASSERT_NEAR((double)rising * rising + (double)falling * falling, 1e8, 3e4);
      }
      for (auto [tap, gain] : {std::pair{ch.tap1, ch.gain1}, std::pair{ch.tap2, ch.gain2}}) {
        if (gain == 0) continue;
        const INT distance = (ch.writeIndex - tap + length) % length;
        ASSERT_GE(distance, 1) << "sample " << i;
        ASSERT_LE(distance, maxDistance) << "sample " << i;
      }
    }
    EXPECT_GE(jumps, 3);
  }
}

// Two taps in phase at full scale add up to about 1.41 times full scale mid-crossfade: the
// output must stick at the rail rather than wrap to the other sign.
TEST(PitchShifterSample, FullScaleSaturatesWithoutWrapping) {
  for (INT percent : kPercents) {
    for (SHORT level : {(SHORT)32767, (SHORT)-32768}) {
      SCOPED_TRACE(testing::Message() << percent << " percent, level " << level);
      auto shifter = MakeShifter(Ratio(percent), 1, 44100);
      INT lowest = 0, highest = 0;
      for (INT i = 0; i < 44100; ++i) {
        const INT y = shifter->PitchShifterSample(0, level);
        lowest = std::min(lowest, y);
        highest = std::max(highest, y);
      }
      if (level > 0) {
        EXPECT_EQ(lowest, 0);
        EXPECT_EQ(highest, 32767);
      } else {
        EXPECT_EQ(highest, 0);
        EXPECT_EQ(lowest, -32768);
      }
    }
  }
}

// The channels of one shifter, and two shifters, share nothing; a reset forgets the past.
TEST(PitchShifterSample, ChannelsInstancesAndResetsAreIndependent) {
  const INT count = 20000;
  auto run = [&](PitchShifter& s, INT channel, double hz, INT from) {
    std::vector<SHORT> out;
    for (INT i = from; i < from + count; ++i) {
      out.push_back(s.PitchShifterSample(channel, Sine(i, hz, 44100, 12000)));
    }
    return out;
  };
  auto alone80 = MakeShifter(0.8f, 1, 44100);
  auto alone150 = MakeShifter(1.5f, 1, 44100);
  const std::vector<SHORT> expect80 = run(*alone80, 0, 300, 0);
  const std::vector<SHORT> expect150 = run(*alone150, 0, 700, 0);

  auto stereo = MakeShifter(0.8f, 2, 44100);
  auto other = MakeShifter(1.5f, 1, 44100);
  std::vector<SHORT> left, right, otherOut;
  for (INT i = 0; i < count; ++i) {
    right.push_back(stereo->PitchShifterSample(1, Sine(i, 300, 44100, 12000)));
    otherOut.push_back(other->PitchShifterSample(0, Sine(i, 700, 44100, 12000)));
    left.push_back(stereo->PitchShifterSample(0, Sine(i, 1234, 44100, 12000)));
  }
  EXPECT_EQ(right, expect80);
  EXPECT_EQ(otherOut, expect150);
  EXPECT_NE(left, expect80);

  // Same parameters again on a shifter full of another signal: as good as new.
  ASSERT_EQ(other->PitchShifterReset(1.5f, 1, 44100), S_OK);
  EXPECT_EQ(run(*other, 0, 700, 0), expect150);
}

}  // namespace
