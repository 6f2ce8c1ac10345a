#include "alac_predictor.h"

#include <atomic>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lossless_reader {

namespace {

constexpr uint32_t kMaxTaps = 30;  // a count of 31 codes the first-order difference

// Whether a coefficient can leave the 16-bit range within a frame of n samples: each moves by
// at most 1 per sample. When none can, plain arithmetic gives the wrapped values.
bool CoefficientsMayWrap(const int16_t* c, uint32_t count, uint32_t n) {
  int32_t largest = 0;
  for (uint32_t j = 0; j < count; ++j) {
    const int32_t magnitude = c[j] < 0 ? -int32_t{c[j]} : c[j];
    if (magnitude > largest) largest = magnitude;
  }
  return int64_t{largest} + n > INT16_MAX;
}

// The portable path. kTaps is the coefficient count (1..30) when it is known at compile time
// (the common orders get their own unrolled copy), 0 otherwise; kWraps keeps the coefficients
// 16-bit.
//
// The adaptation: for coefficient j, from count - 1 down to 0, while the error keeps its sign,
// c_j moves by sign(d_j) x sign(err) and the error loses |d_j| >> shift (rounded up for a
// negative error) times (count - j). Each step moves the error towards 0 by a term that does
// not depend on the error, so the error still has its sign at coefficient j exactly when |err|
// exceeds the sum of the terms before it. Every coefficient then decides on its own, with
// masks rather than a chain of unpredictable branches.
template <uint32_t kTaps, bool kWraps>
void PredictPortable(ResidualReader& reader, int32_t* y, uint32_t n, int width, const int16_t* coefficients,
                     uint32_t taps, uint32_t shift) {
  const uint32_t count = kTaps ? kTaps : taps;
  ResidualReader residuals = reader;  // a local copy stays in registers
  int32_t c[kMaxTaps];
  for (uint32_t j = 0; j < count; ++j) c[j] = coefficients[j];

  y[0] = residuals.Next(0);
  const uint32_t warm_up = count < n - 1 ? count : n - 1;
  for (uint32_t i = 1; i <= warm_up; ++i) y[i] = SignExtend(Add(y[i - 1], residuals.Next(i)), width);

  const uint32_t round = shift ? 1u << (shift - 1) : 0;
  const int32_t low_bits = (int32_t(1) << shift) - 1;
  int32_t last = y[warm_up];  // y[i - 1], kept out of memory
  for (uint32_t i = count + 1; i < n; ++i) {
    const int32_t err = residuals.Next(i);
    const int32_t* window = y + (i - count - 1);  // window[0] is the oldest sample
    const int32_t base = window[0];
    int32_t delta[kMaxTaps];  // window[count - j] - base, for coefficient j
    // The older samples' share first: it does not wait for the newest sample.
    uint32_t sum = 0;
#pragma GCC unroll 8
    for (uint32_t j = count - 1; j >= 1; --j) {
      delta[j] = Sub(window[count - j], base);
      sum += uint32_t(delta[j]) * uint32_t(c[j]);
    }
    delta[0] = Sub(last, base);
    sum += uint32_t(delta[0]) * uint32_t(c[0]);
    last = SignExtend(Add(Add(base, err), int32_t(sum + round) >> shift), width);
    y[i] = last;

    const int32_t flip = err >> 31;  // all ones for a negative error
    const int32_t magnitude = (err ^ flip) - flip;
    const int32_t round_up = flip & low_bits;
    // The first window's base, y[0], is a raw residual of up to 26 bits: the terms then fit
    // 32 bits, their sum only 64.
    int64_t used = 0;
#pragma GCC unroll 8
    for (int j = int(count) - 1; j >= 0; --j) {
      const int32_t d = delta[j];
      const int32_t negative = d >> 31;
      const int32_t sign = negative | int32_t(uint32_t(-d) >> 31);
      const int32_t step = ((sign ^ flip) - flip) & int32_t((used - magnitude) >> 63);
      c[j] = kWraps ? int16_t(c[j] + step) : c[j] + step;
      used += (((d ^ negative) - negative + round_up) >> shift) * (int32_t(count) - j);
    }
  }
  reader = residuals;
}

#if defined(__x86_64__)
#define CEHOST_ALAC_VECTOR_PATH 1

// The vector path, for 2 to 8 coefficients that cannot wrap: lane j of a 256-bit register
// holds what concerns coefficient j. Only the newest sample's product is scalar, on the short
// chain from one sample to the next; the other products and the adaptation run on vectors.
__attribute__((target("avx2,bmi,bmi2"))) void PredictAvx2(ResidualReader& reader, int32_t* y, uint32_t n,
                                                            int width, const int16_t* coefficients, uint32_t count,
                                                            uint32_t shift) {
  ResidualReader residuals = reader;
  y[0] = residuals.Next(0);
  const uint32_t warm_up = count < n - 1 ? count : n - 1;
  for (uint32_t i = 1; i <= warm_up; ++i) y[i] = SignExtend(Add(y[i - 1], residuals.Next(i)), width);
  if (count + 1 >= n) {
    reader = residuals;
    return;
  }

  const uint32_t first = count + 1;
  alignas(32) int32_t c_init[8] = {};
  alignas(32) int32_t window_init[8] = {};
  alignas(32) int32_t all[8] = {};
  // Each lane's weight, count - j (1..7 on lanes 1..), as 2^a + s x 2^b: two shifts and an
  // addition are quicker than a multiplication.
  alignas(32) int32_t weight_a[8] = {};
  alignas(32) int32_t weight_b[8] = {};
  alignas(32) int32_t weight_s[8] = {};
  static constexpr int32_t kA[8] = {0, 0, 1, 1, 2, 2, 2, 3}, kB[8] = {0, 0, 0, 0, 0, 0, 1, 0},
                           kS[8] = {0, 0, 0, 1, 0, 1, 1, -1};
  c_init[0] = coefficients[0];
  all[0] = -1;
  for (uint32_t j = 1; j < count; ++j) {
    c_init[j] = coefficients[j];
    all[j] = -1;
    weight_a[j] = kA[count - j];
    weight_b[j] = kB[count - j];
    weight_s[j] = kS[count - j];
    // Lane j of the window holds y[i-1-j]; lane 0 is filled in each sample.
    window_init[j] = y[first - 1 - j];
  }
  const __m256i lanes = _mm256_load_si256(reinterpret_cast<const __m256i*>(all));
  const __m256i shift_a = _mm256_load_si256(reinterpret_cast<const __m256i*>(weight_a));
  const __m256i shift_b = _mm256_load_si256(reinterpret_cast<const __m256i*>(weight_b));
  const __m256i sign_b = _mm256_load_si256(reinterpret_cast<const __m256i*>(weight_s));
  const __m256i ones = _mm256_set1_epi32(1);
  const __m256i shift_up = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6);
  const __m256i lane_4 = _mm256_setr_epi32(4, 4, 4, 4, 0, 0, 0, 0);
  const __m256i low_half = _mm256_setr_epi32(-1, -1, -1, -1, 0, 0, 0, 0);
  const __m256i shifts = _mm256_set1_epi32(int32_t(shift));
  const __m256i low_bits = _mm256_set1_epi32((int32_t(1) << shift) - 1);
  const uint32_t round = shift ? 1u << (shift - 1) : 0;

  __m256i coefs = _mm256_load_si256(reinterpret_cast<const __m256i*>(c_init));
  __m256i window = _mm256_load_si256(reinterpret_cast<const __m256i*>(window_init));
  int32_t c0 = coefficients[0];
  int32_t last = y[first - 1];  // y[i-1]
  for (uint32_t i = first; i < n; ++i) {
    const int32_t err = residuals.Next(i);
    const int32_t base = y[i - count - 1];
    const __m256i base_v = _mm256_set1_epi32(base);
    window = _mm256_blend_epi32(window, _mm256_set1_epi32(last), 0x01);
    const __m256i delta = _mm256_and_si256(_mm256_sub_epi32(window, base_v), lanes);

    // Lanes 1.. of the sum (lane 0 masked out): low halves of 32 x 32-bit products, even and
    // odd lanes apart.
    const __m256i older = _mm256_blend_epi32(delta, _mm256_setzero_si256(), 0x01);
    const __m256i even = _mm256_mul_epu32(older, coefs);
    const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(older, 32), _mm256_srli_epi64(coefs, 32));
    const __m256i products = _mm256_add_epi64(even, odd);
    __m128i total = _mm_add_epi64(_mm256_castsi256_si128(products), _mm256_extracti128_si256(products, 1));
    total = _mm_add_epi64(total, _mm_unpackhi_epi64(total, total));
    const uint32_t sum = uint32_t(_mm_cvtsi128_si32(total)) + uint32_t(Sub(last, base)) * uint32_t(c0);
    last = SignExtend(Add(Add(base, err), int32_t(sum + round) >> shift), width);
    y[i] = last;

    // Each lane's term, and the sum of the terms of the lanes above each lane.
    const __m256i err_v = _mm256_set1_epi32(err);
    const __m256i round_up = _mm256_and_si256(_mm256_srai_epi32(err_v, 31), low_bits);
    const __m256i units = _mm256_srlv_epi32(_mm256_add_epi32(_mm256_abs_epi32(older), round_up), shifts);
    const __m256i terms = _mm256_add_epi32(_mm256_sllv_epi32(units, shift_a),
                                           _mm256_sign_epi32(_mm256_sllv_epi32(units, shift_b), sign_b));
    __m256i above = _mm256_add_epi32(terms, _mm256_srli_si256(terms, 4));
    above = _mm256_add_epi32(above, _mm256_srli_si256(above, 8));
    above = _mm256_add_epi32(above, _mm256_and_si256(_mm256_permutevar8x32_epi32(above, lane_4), low_half));
    above = _mm256_sub_epi32(above, terms);
    const __m256i active = _mm256_cmpgt_epi32(_mm256_abs_epi32(err_v), above);
    const __m256i step = _mm256_sign_epi32(_mm256_sign_epi32(ones, delta), err_v);
    coefs = _mm256_add_epi32(coefs, _mm256_and_si256(step, active));
    c0 = _mm256_cvtsi256_si32(coefs);
    window = _mm256_permutevar8x32_epi32(window, shift_up);
  }
  reader = residuals;
}

bool VectorPathSupported() {
  static const bool supported =
      __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
  return supported;
}
#endif

std::atomic<bool> g_portable_only{false};  // UsePortablePredictorForTesting; any thread reads

}  // namespace

void predict_adaptive_fir(ResidualReader& residuals, int32_t* y, uint32_t n, int width, const int16_t* c,
                          uint32_t count, uint32_t shift) {
  if (n == 0) return;
  if (count == 0) {
    for (uint32_t i = 0; i < n; ++i) y[i] = residuals.Next(i);
    return;
  }
  if (count == 31) {
    // Not a 31-tap filter: the code for a first-order difference.
    y[0] = residuals.Next(0);
    for (uint32_t i = 1; i < n; ++i) y[i] = SignExtend(Add(y[i - 1], residuals.Next(i)), width);
    return;
  }
  if (CoefficientsMayWrap(c, count, n)) return PredictPortable<0, true>(residuals, y, n, width, c, count, shift);
#if defined(CEHOST_ALAC_VECTOR_PATH)
  if (count >= 2 && count <= 8 && !g_portable_only.load(std::memory_order_relaxed) && VectorPathSupported())
    return PredictAvx2(residuals, y, n, width, c, count, shift);
#endif
  switch (count) {
    case 4: return PredictPortable<4, false>(residuals, y, n, width, c, count, shift);
    case 5: return PredictPortable<5, false>(residuals, y, n, width, c, count, shift);
    case 6: return PredictPortable<6, false>(residuals, y, n, width, c, count, shift);
    case 8: return PredictPortable<8, false>(residuals, y, n, width, c, count, shift);
    default: return PredictPortable<0, false>(residuals, y, n, width, c, count, shift);
  }
}

void UsePortablePredictorForTesting(bool portable) { g_portable_only.store(portable, std::memory_order_relaxed); }

}  // namespace lossless_reader
