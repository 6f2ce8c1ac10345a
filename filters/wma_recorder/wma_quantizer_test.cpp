#include "wma_quantizer.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "wma_test_reader.h"

namespace {

using wma_test::BitReader;
using wma_test::ReadFrame;
using wma_test::StreamFormat;

struct Fixture {
  std::unique_ptr<WmaFrame> frame = std::make_unique<WmaFrame>();
  std::vector<uint8_t> buffer = std::vector<uint8_t>(8192, 0);
  WmaBitWriter writer{buffer.data(), 8192};
  WmaQuantizer q;

  explicit Fixture(int channels, uint32_t budget = 5944) {
    *frame = WmaFrame{};
    frame->channels = channels;
    frame->stereoMode = channels == 2 ? 1 : 0;
    for (int c = 0; c < channels; ++c) {
      frame->ch[c].coded = true;
      frame->ch[c].codeSet = (c == 1) ? &kWmaRunLevel40 : &kWmaRunLevel70;
      for (int i = 0; i < kWmaBands; ++i) frame->ch[c].exponents[i] = 36;
    }
    q.Open(channels, false, budget);
  }

  wma_test::FrameRead WriteAndRead() {
    const bool first = q.FirstFrame();
    writer.Reset();
    uint32_t bits = q.WriteFrame(*frame, writer);
    writer.Flush();
    BitReader r(buffer.data(), (bits + 7) / 8);
    StreamFormat f;
    f.channels = frame->channels;
    auto fr = ReadFrame(r, f, first);
    EXPECT_EQ(fr.bits, bits);
    return fr;
  }
};

TEST(WmaQuantizer, TotalGainIsWrittenIn7BitFieldsOf127) {
  struct Case {
    int g;
    std::vector<uint32_t> fields;
  };
  const Case cases[] = {{200, {127, 73}}, {126, {126}}, {127, {127, 0}}, {0, {0}}, {257, {127, 127, 3}}};
  for (const auto& c : cases) {
    std::vector<uint8_t> buf(8, 0);
    WmaBitWriter w(buf.data(), 8);
    WmaQuantizer::PutTotalGain(c.g, w);
    w.Flush();
    ASSERT_EQ(w.BitCount(), 7 * c.fields.size()) << c.g;
    BitReader r(buf.data(), buf.size());
    for (uint32_t f : c.fields) EXPECT_EQ(r.Get(7), f) << c.g;
  }
}

TEST(WmaQuantizer, LevelsRoundToTheNearestStepFromHalfAStepOn) {
  Fixture fx(1);
  const int g = 40;
  fx.q.SetGainForTesting(g);
  const int32_t step = static_cast<int32_t>(kWmaQuantStep[g]);
  struct Case {
    int32_t coef;
    int level;
  };
  const Case cases[] = {
      {step / 2 - 1, 0},          {step / 2, 1},               {-(step / 2), -1},
      {step + step / 2 - 1, 1},   {step + step / 2 + 1, 2},    {-(step + step / 2 + 1), -2},
      {step * 2 + step * 2 / 5, 2}, {-(step * 2 + step * 2 / 5), -2},
      {step * 7 + step * 3 / 5, 8}, {-(step * 7 + step * 3 / 5), -8},
  };
  WmaChannel& ch = fx.frame->ch[0];
  for (size_t i = 0; i < std::size(cases); ++i) ch.coefs[10 * i] = cases[i].coef;
  auto fr = fx.WriteAndRead();
  ASSERT_TRUE(fr.ch[0].coded);
  EXPECT_EQ(fr.gain, g);
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(fr.ch[0].levels[10 * i], cases[i].level) << "coef " << cases[i].coef;
}

TEST(WmaQuantizer, EndOfBlockOnlyWhenZerosRemainAndLongRunsEscape) {
  struct Case {
    const char* name;
    std::vector<int> positions;  // coefficients set to one step
    bool endOfBlock;
    int escapes;
  };
  const Case cases[] = {
      {"last coefficient non-zero", {5, kWmaCodedCoefs - 1}, false, 1},
      {"zeros after the last level", {5}, true, 0},
      {"run of 112 is direct", {112}, true, 0},
      {"run of 113 is escaped", {113}, true, 1},
      {"all zero", {}, true, 0},
  };
  for (const auto& c : cases) {
    Fixture fx(1);
    fx.q.SetGainForTesting(50);
    const int32_t step = static_cast<int32_t>(kWmaQuantStep[50]);
    for (int p : c.positions) fx.frame->ch[0].coefs[p] = step;
    auto fr = fx.WriteAndRead();
    EXPECT_EQ(fr.ch[0].endOfBlock, c.endOfBlock) << c.name;
    EXPECT_EQ(fr.ch[0].escapes, c.escapes) << c.name;
    for (int p : c.positions) EXPECT_EQ(fr.ch[0].levels[p], 1) << c.name;
  }
}

TEST(WmaQuantizer, WritingClampsLevelsToTheLargestAndCountingRefusesThem) {
  Fixture fx(1);
  fx.q.SetGainForTesting(63);  // j = 64: 9 level bits, largest level 511
  fx.frame->ch[0].coefs[3] = static_cast<int32_t>(kWmaQuantStep[63]) * 1000;
  EXPECT_EQ(fx.q.LevelBits(), 9);
  auto fr = fx.WriteAndRead();
  EXPECT_EQ(fr.ch[0].levels[3], 511);
}

TEST(WmaQuantizer, PrimingFrameIsAcceptedAtGainOneWithEndOfBlockCodesOnly) {
  Fixture fx(2);
  for (int c = 0; c < 2; ++c) fx.frame->ch[c].forceCoded = 2;
  EXPECT_TRUE(fx.q.SearchGain(*fx.frame));
  EXPECT_EQ(fx.q.Gain(), 1);
  auto fr = fx.WriteAndRead();
  EXPECT_EQ(fr.firstCodes[0], 0);
  EXPECT_EQ(fr.firstCodes[1], 0);
  EXPECT_EQ(fr.gain, 1);
  for (int c = 0; c < 2; ++c) {
    EXPECT_TRUE(fr.ch[c].coded);
    EXPECT_TRUE(fr.ch[c].endOfBlock);
  }
  // Header (6 + 3 + 3 + 7 + 2 x 25 one-bit exponent codes) and the two end-of-block codes.
  EXPECT_EQ(fr.bits, 6u + 3 + 3 + 7 + 50 + kWmaRunLevel70.lengths[1] + kWmaRunLevel40.lengths[1]);
}

TEST(WmaQuantizer, SearchFitsTheBudgetAndTheCountMatchesTheWrittenBits) {
  std::mt19937 rng(7);
  for (uint32_t budget : {5944u, 3000u, 1200u}) {
    Fixture fx(2, budget);
    std::normal_distribution<double> noise(0.0, 3e5);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < kWmaCodedCoefs; ++i)
        fx.frame->ch[c].coefs[i] = static_cast<int32_t>(noise(rng) / (1 + i / 64));
    ASSERT_TRUE(fx.q.SearchGain(*fx.frame)) << budget;
    uint32_t header = fx.q.CountHeader(*fx.frame);
    uint32_t counted = fx.frame->ch[0].countedBits + fx.frame->ch[1].countedBits;
    auto fr = fx.WriteAndRead();
    EXPECT_EQ(fr.bits, header + counted) << budget;
    EXPECT_LE(fr.bits, budget);
    // Accepted either close to the budget or right above a gain that did not fit.
    EXPECT_GT(fr.bits, budget / 2) << budget;
  }
}

TEST(WmaQuantizer, FrameThatCannotFitDropsUnforcedChannels) {
  Fixture fx(2, 40);  // the header alone (6 + 3 + 3 + 7 + 50 bits) exceeds 40 bits
  fx.frame->ch[0].forceCoded = 1;
  fx.frame->ch[0].coefs[0] = 1 << 20;
  fx.frame->ch[1].coefs[0] = 1 << 20;
  EXPECT_FALSE(fx.q.SearchGain(*fx.frame));
  EXPECT_TRUE(fx.frame->ch[0].coded);
  EXPECT_FALSE(fx.frame->ch[1].coded);

  Fixture silent(2, 40);
  EXPECT_FALSE(silent.q.SearchGain(*silent.frame));
  auto fr = silent.WriteAndRead();
  EXPECT_FALSE(fr.ch[0].coded);
  EXPECT_FALSE(fr.ch[1].coded);
  EXPECT_EQ(fr.bits, 12u);
}

}  // namespace
