#include "wma_frame_coder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "wma_test_reader.h"

namespace {

constexpr uint32_t kBudget = 5935;

struct Coder {
  std::unique_ptr<WmaFrameCoder> coder = std::make_unique<WmaFrameCoder>();
  std::vector<uint8_t> buffer = std::vector<uint8_t>(8192, 0);
  WmaBitWriter writer{buffer.data(), 8192};

  explicit Coder(int channels = 2) {
    coder->Open(channels, 44100, 128016, kBudget);
    std::vector<int16_t> zero(2048, 0);
    Code(zero, zero);  // priming frame
  }
  // Codes one frame on its own (always as the first frame of a superframe) and reads it back.
  wma_test::FrameRead Code(const std::vector<int16_t>& l, const std::vector<int16_t>& r) {
    writer.Reset();
    coder->Quantizer().SetFirstFrame();
    uint32_t bits = coder->CodeFrame(l.data(), r.data(), writer);
    writer.Flush();
    wma_test::BitReader reader(buffer.data(), (bits + 7) / 8);
    wma_test::StreamFormat f;
    f.channels = coder->LastFrameForTesting().channels;
    auto fr = wma_test::ReadFrame(reader, f, true);
    EXPECT_EQ(fr.bits, bits);
    return fr;
  }
};

std::vector<int16_t> Tone(double freq, double amplitude, int frame, double phase = 0) {
  std::vector<int16_t> v(2048);
  for (int n = 0; n < 2048; ++n)
    v[n] = static_cast<int16_t>(
        std::lround(amplitude * std::sin(2 * M_PI * freq * (frame * 2048 + n) / 44100 + phase)));
  return v;
}

TEST(WmaFrameCoder, PrimingFrameCodesBothChannelsAsSilenceAtGainOne) {
  auto coder = std::make_unique<WmaFrameCoder>();
  coder->Open(2, 44100, 128016, kBudget);
  std::vector<uint8_t> buf(8192);
  WmaBitWriter w(buf.data(), 8192);
  std::vector<int16_t> loud(2048, 20000);  // ignored: the priming frame codes zeros
  uint32_t bits = coder->CodeFrame(loud.data(), loud.data(), w);
  w.Flush();
  wma_test::BitReader r(buf.data(), (bits + 7) / 8);
  auto fr = wma_test::ReadFrame(r, wma_test::StreamFormat{}, true);
  EXPECT_EQ(fr.stereoMode, 1);
  EXPECT_EQ(fr.gain, 1);
  for (int c = 0; c < 2; ++c) {
    EXPECT_TRUE(fr.ch[c].coded);
    EXPECT_TRUE(fr.ch[c].endOfBlock);
    for (int v : fr.ch[c].levels) ASSERT_EQ(v, 0);
  }
}

TEST(WmaFrameCoder, StereoDecisionAndCodedChannels) {
  struct Case {
    const char* name;
    double leftAmp, rightAmp, rightPhase;
    bool tinyRight;  // right samples 0 or 1
    int mode;
    bool coded0, coded1;
  };
  const Case cases[] = {
      {"silence", 0, 0, 0, false, 1, false, false},
      {"identical channels", 12000, 12000, 0, false, 1, true, false},
      {"right silent", 12000, 0, 0, false, 0, true, false},
      {"right only 0 and 1", 12000, 0, 0, true, 0, true, false},
      {"unrelated channels", 12000, 9000, 1.3, false, 0, true, true},
  };
  for (const auto& c : cases) {
    Coder coder;
    wma_test::FrameRead fr;
    for (int f = 0; f < 3; ++f) {
      auto l = Tone(997, c.leftAmp, f);
      auto r = c.rightPhase != 0 ? Tone(1500, c.rightAmp, f, c.rightPhase) : Tone(997, c.rightAmp, f);
      if (c.tinyRight && f == 2)  // after silent frames: |r >> 1| is 0 throughout
        for (int n = 0; n < 2048; ++n) r[n] = static_cast<int16_t>(n & 1);
      fr = coder.Code(l, r);
    }
    EXPECT_EQ(fr.stereoMode, c.mode) << c.name;
    EXPECT_EQ(fr.ch[0].coded, c.coded0) << c.name;
    EXPECT_EQ(fr.ch[1].coded, c.coded1) << c.name;
    if (!c.coded0 && !c.coded1) {
      EXPECT_EQ(fr.bits, 12u) << c.name;  // 6 + 3 + 3 bits only
    }
  }
}

TEST(WmaFrameCoder, ExponentsAndCoefficientsStayWithinTheirRanges) {
  // Full-scale noise next to silence: the loudest and the steepest spectra the coder sees.
  Coder coder;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> full(-32768, 32767);
  for (int f = 0; f < 4; ++f) {
    std::vector<int16_t> l(2048), r(2048, 0);
    for (int n = 0; n < 2048; ++n) l[n] = static_cast<int16_t>(f == 2 ? 0 : full(rng));
    auto fr = coder.Code(l, r);
    const WmaFrame& frame = coder.coder->LastFrameForTesting();
    for (int c = 0; c < 2; ++c) {
      if (!frame.ch[c].coded) continue;
      int prev = 36;
      for (int i = 0; i < kWmaBands; ++i) {
        int e = frame.ch[c].exponents[i];
        EXPECT_LE(std::abs(e - prev), 60);
        EXPECT_LE(std::abs(e), 57);
        prev = e;
      }
      for (int k = 1843; k < kWmaCodedCoefs; ++k) EXPECT_EQ(fr.ch[c].levels[k], 0) << k;
    }
    EXPECT_LE(fr.bits, kBudget + 7) << "frame " << f;
  }
}

TEST(WmaFrameCoder, MonoCodesOnlyWhenThereIsSignal) {
  Coder coder(1);
  std::vector<int16_t> zero(2048, 0);
  auto fr = coder.Code(Tone(440, 8000, 0), zero);
  EXPECT_TRUE(fr.ch[0].coded);
  fr = coder.Code(zero, zero);
  EXPECT_NE(coder.coder->LastFrameForTesting().ch[0].activity, 0u);  // the tone still overlaps
  fr = coder.Code(zero, zero);
  EXPECT_EQ(coder.coder->LastFrameForTesting().ch[0].activity, 0u);
  EXPECT_FALSE(fr.ch[0].coded);
  EXPECT_EQ(fr.bits, 6u + 3 + 1);
}

TEST(WmaFrameCoder, FrameAfterAToneStopsIsStillCoded) {
  // The decaying half of a loud tone needs more adjusting passes than the search allows
  // itself; it must still be coded, within the budget, rather than dropped to silence.
  Coder coder(1);
  std::vector<int16_t> zero(2048, 0);
  coder.Code(Tone(440, 8000, 0), zero);
  auto fr = coder.Code(zero, zero);
  EXPECT_TRUE(fr.ch[0].coded);
  EXPECT_LE(fr.bits, kBudget + 7);  // 7: a gain field longer than the one counted
}

}  // namespace
