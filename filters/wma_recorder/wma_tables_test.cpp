#include "wma_tables.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct TableValue {
  const char* name;
  int64_t actual;
  int64_t expected;
};

TEST(WmaTables, ArithmeticTablesHoldTheTellingValues) {
  const TableValue cases[] = {
      {"step g=0", kWmaQuantStep[0], 36},
      {"step g=1", kWmaQuantStep[1], 40},
      {"step g=5", kWmaQuantStep[5], 64},
      {"step g=100", kWmaQuantStep[100], 3590459},
      {"step g=138", kWmaQuantStep[138], 285200300},
      {"reciprocal g=0", kWmaQuantReciprocal[0], 119621676},
      {"reciprocal g=100", kWmaQuantReciprocal[100], 1196},
      {"reciprocal g=138", kWmaQuantReciprocal[138], 15},
      {"gain step k=0", kWmaGainStep[0], 6},
      {"gain step k=2", kWmaGainStep[2], 8},
      {"gain step k=32", kWmaGainStep[32], 256},
      {"gain step k=66", kWmaGainStep[66], 12830},
      {"window n=0", kWmaWindow[0], 32767},
      {"window n=2047", kWmaWindow[2047], 12},
      {"pre-rotation re k=0", kWmaPreRotation[0], 2104533820},
      {"pre-rotation im k=0", kWmaPreRotation[1], -807078},
      {"twiddle k=0", kWmaFftCos[0], 2147483647},
      {"twiddle k=128", kWmaFftCos[128], 1518500224},
      {"twiddle k=256", kWmaFftCos[256], 0},
      {"post-rotation re k=0", kWmaPostRotation[0], 2147483646},
      {"post-rotation im k=0", kWmaPostRotation[1], 0},
      {"exponent scale k=0", kWmaExponentScale[0], 3829128257},
      {"exponent scale k=57", kWmaExponentScale[57], 1 << 20},
      {"exponent scale k=114", kWmaExponentScale[114], 287},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;
}

TEST(WmaTables, ReciprocalIsTheInverseOfTheStep) {
  for (int g = 0; g < kWmaGainTableSize; ++g) {
    double product = double(kWmaQuantStep[g]) * kWmaQuantReciprocal[g] / 4294967296.0;
    EXPECT_NEAR(product, 1.0, 0.02) << "g=" << g;
  }
}

TEST(WmaTables, ExponentCodeHoldsTheTellingRows) {
  struct Row {
    int d;
    uint32_t code;
    int length;
  };
  const Row rows[] = {{0, 0x0, 1},     {-1, 0x4, 3},        {1, 0xA, 4},         {-2, 0xB, 4},
                      {2, 0xC, 4},     {-60, 0x3FFE8, 18},  {60, 0x7FFF3, 19}};
  for (const auto& r : rows) {
    EXPECT_EQ(kWmaExponentCode[r.d + 60], r.code) << "d=" << r.d;
    EXPECT_EQ(kWmaExponentLength[r.d + 60], r.length) << "d=" << r.d;
  }
}

TEST(WmaTables, RunLevelSetsHoldTheTellingRows) {
  struct Row {
    const WmaRunLevelSet* set;
    int levels, codes, longest;
    uint32_t escape;
    int escapeLength;
    uint32_t eob;
    int eobLength;
    int level1Runs;
    uint32_t level1Run0;
    int level1Run0Length;
    int highestRuns;  // direct codes the encoder uses for the highest level
  };
  const Row rows[] = {
      {&kWmaRunLevel70, 70, 476, 21, 0xF01, 12, 0x1E, 6, 113, 0x0, 2, 1},
      {&kWmaRunLevel40, 40, 435, 18, 0x347, 10, 0xB, 4, 214, 0x1, 2, 1},
      {&kWmaRunLevel340, 340, 1336, 22, 0x3E6, 11, 0xF6, 9, 181, 0x0, 2, 0},
      {&kWmaRunLevel180, 180, 1072, 20, 0x1B2, 9, 0x69, 7, 351, 0x0, 2, 0},
  };
  for (const auto& r : rows) {
    const WmaRunLevelSet& s = *r.set;
    SCOPED_TRACE(r.levels);
    EXPECT_EQ(s.levels, r.levels);
    EXPECT_EQ(s.codeCount, r.codes);
    EXPECT_EQ(*std::max_element(s.lengths, s.lengths + s.codeCount), r.longest);
    EXPECT_EQ(s.codes[0], r.escape);
    EXPECT_EQ(s.lengths[0], r.escapeLength);
    EXPECT_EQ(s.codes[1], r.eob);
    EXPECT_EQ(s.lengths[1], r.eobLength);
    EXPECT_EQ(s.RunCount(1), r.level1Runs);
    EXPECT_EQ(s.codes[s.start[2]], r.level1Run0);
    EXPECT_EQ(s.lengths[s.start[2]], r.level1Run0Length);
    EXPECT_EQ(s.RunCount(static_cast<uint32_t>(s.levels)), r.highestRuns);
    EXPECT_EQ(s.RunCount(static_cast<uint32_t>(s.levels) + 1), 0);
  }
}

}  // namespace
