#include "wma_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// The scaled, negated modified DCT the integer transform approximates.
double Reference(const std::vector<int16_t>& prev, const std::vector<int16_t>& cur, int k) {
  const double kScale = 32767.0 * 0.98 / 2048.0;
  double sum = 0;
  for (int n = 0; n < 4096; ++n) {
    double u = n < 2048 ? prev[n] : cur[n - 2048];
    double w = std::sin(M_PI * (n + 0.5) / 4096);
    sum += w * u * std::cos(M_PI / 2048 * (n + 0.5 + 1024) * (k + 0.5));
  }
  return -kScale * sum;
}

TEST(WmaTransform, MatchesTheModifiedDctOfTwoFrames) {
  std::mt19937 rng(3);
  struct Case {
    const char* name;
    double amplitude;
    double tone;  // cycles per sample, 0 for noise
    double minSnrDb;
  };
  // The >> 9 after the window and the floored 32-bit halves leave an error of a few hundred
  // units at most, which only matters relative to very quiet input.
  const Case cases[] = {{"noise", 12000, 0, 80},
                        {"loud tone", 30000, 0.0371, 60},
                        {"quiet tone", 40, 0.21, 30}};
  for (const auto& c : cases) {
    std::vector<int16_t> prev(2048), cur(2048);
    std::normal_distribution<double> noise(0, c.amplitude);
    for (int n = 0; n < 4096; ++n) {
      double v = c.tone > 0 ? c.amplitude * std::sin(2 * M_PI * c.tone * n) : noise(rng);
      v = std::fmax(-32768, std::fmin(32767, v));
      (n < 2048 ? prev[n] : cur[n - 2048]) = static_cast<int16_t>(std::lround(v));
    }
    std::vector<int32_t> x(2048);
    ASSERT_TRUE(WmaWindowFold(cur.data(), prev.data(), x.data()));
    WmaDctIV(x.data());
    double signal = 0, error = 0;
    for (int k = 0; k < 2048; k += 3) {
      double ref = Reference(prev, cur, k);
      signal += ref * ref;
      error += (ref - x[k]) * (ref - x[k]);
    }
    EXPECT_GT(10 * std::log10(signal / error), c.minSnrDb) << c.name;
  }
}

TEST(WmaTransform, SilenceFoldsToNothing) {
  std::vector<int16_t> zero(2048, 0), one(2048, 0);
  std::vector<int32_t> x(2048, 5);
  EXPECT_FALSE(WmaWindowFold(zero.data(), zero.data(), x.data()));
  for (int32_t v : x) EXPECT_EQ(v, 0);
  one[700] = 1;
  EXPECT_TRUE(WmaWindowFold(zero.data(), one.data(), x.data()));
}

}  // namespace
