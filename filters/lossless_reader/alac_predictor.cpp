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
  // The residuals are read a sample ahead of the prediction (see PredictAvx2).
  int32_t ahead = count + 1 < n ? residuals.Next(count + 1) : 0;
  for (uint32_t i = count + 1; i < n; ++i) {
    const int32_t err = ahead;
    if (i + 1 < n) ahead = residuals.Next(i + 1);
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
      const int32_t sign = negative | int32_t((0u - uint32_t(d)) >> 31);
      const int32_t step = ((sign ^ flip) - flip) & int32_t((used - magnitude) >> 63);
      c[j] = kWraps ? int16_t(c[j] + step) : c[j] + step;
      used += (((d ^ negative) - negative + round_up) >> shift) * (int32_t(count) - j);
    }
  }
  reader = residuals;
}

#if defined(__x86_64__)
#define CEHOST_ALAC_VECTOR_PATH 1

// The 32-bit value at p in every lane.
__attribute__((target("avx2"))) inline __m256i Broadcast(const int32_t* p) {
  return _mm256_castps_si256(_mm256_broadcast_ss(reinterpret_cast<const float*>(p)));
}

// The vector path, for kCount = 2 to 8 coefficients that cannot wrap: lane j of a 256-bit
// register holds what concerns coefficient j. The newest sample, y[i-1], stays out of the
// vectors (its product is scalar, and coefficient 0 adapts in a register of its own), so that
// the chain from one sample to the next is short and the vectors only wait for y[i-2] and
// older. The first window's base, y[0], is a raw residual of up to 26 bits; the terms and
// their sums still fit 31 bits, the weights of lanes 1.. adding up to at most 28.
template <uint32_t kCount>
__attribute__((target("avx2,bmi,bmi2"))) void PredictAvx2(ResidualReader& reader, int32_t* y, uint32_t n,
                                                            int width, const int16_t* coefficients, uint32_t shift) {
  ResidualReader residuals = reader;
  y[0] = residuals.Next(0);
  const uint32_t warm_up = kCount < n - 1 ? kCount : n - 1;
  for (uint32_t i = 1; i <= warm_up; ++i) y[i] = SignExtend(Add(y[i - 1], residuals.Next(i)), width);
  if (kCount + 1 >= n) {
    reader = residuals;
    return;
  }

  int32_t c_init[8] = {};
  int32_t window_init[8] = {};
  int32_t from_1[8] = {};
  // Each lane's weight, kCount - j (1..7 on lanes 1..), as 2^a + s x 2^b: two shifts and an
  // addition are quicker than a multiplication.
  int32_t weight_a[8] = {};
  int32_t weight_b[8] = {};
  int32_t weight_s[8] = {};
  static constexpr int32_t kA[8] = {0, 0, 1, 1, 2, 2, 2, 3}, kB[8] = {0, 0, 0, 0, 0, 0, 1, 0},
                           kS[8] = {0, 0, 0, 1, 0, 1, 1, -1};
  for (uint32_t j = 1; j < kCount; ++j) {
    c_init[j] = coefficients[j];
    from_1[j] = -1;
    // Lane j of the window holds y[i-1-j].
    window_init[j] = y[kCount - j];
    weight_a[j] = kA[kCount - j];
    weight_b[j] = kB[kCount - j];
    weight_s[j] = kS[kCount - j];
  }
  const __m256i lanes_1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from_1));
  const __m256i shift_a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight_a));
  const __m256i shift_b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight_b));
  const __m256i sign_b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight_s));
  const __m256i shifts = _mm256_set1_epi32(int32_t(shift));
  const uint32_t round = shift ? 1u << (shift - 1) : 0;

  __m256i coefs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c_init));  // lane 0 unused
  // Lanes 2.. of the window; lane 1 is filled in each sample.
  __m256i shifted = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window_init));
  int32_t c0 = coefficients[0];
  __m128i coef_0 = _mm_cvtsi32_si128(c0);
  int32_t last = y[kCount];  // y[i-1]
  // The residuals are read a sample ahead of the prediction, so that the processor works on
  // the Rice chain of the next sample while the predictor's chain waits.
  int32_t ahead = residuals.Next(kCount + 1);
  for (uint32_t i = kCount + 1; i < n; ++i) {
    const int32_t err = ahead;
    if (i + 1 < n) ahead = residuals.Next(i + 1);
    const int32_t base = y[i - kCount - 1];
    // Both broadcast straight from memory: no work for the vector units.
    const __m256i base_v = Broadcast(y + i - kCount - 1);
    const __m256i window = _mm256_blend_epi32(shifted, Broadcast(y + i - 2), 0x02);
    const __m256i delta = _mm256_and_si256(_mm256_sub_epi32(window, base_v), lanes_1);

    // Lanes 1.. of the sum: low halves of 32 x 32-bit products, even and odd lanes apart.
    const __m256i even = _mm256_mul_epu32(delta, coefs);
    const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(delta, 32), _mm256_srli_epi64(coefs, 32));
    const __m256i products = _mm256_add_epi64(even, odd);
    __m128i total = _mm_add_epi64(_mm256_castsi256_si128(products), _mm256_extracti128_si256(products, 1));
    total = _mm_add_epi64(total, _mm_unpackhi_epi64(total, total));
    const int32_t d0 = Sub(last, base);
    const uint32_t sum = uint32_t(_mm_cvtsi128_si32(total)) + uint32_t(d0) * uint32_t(c0);
    const int32_t sample = SignExtend(Add(Add(base, err), int32_t(sum + round) >> shift), width);
    y[i] = sample;

    // Each lane's term: |d| >> shift, rounded down for a positive error and up for a negative
    // one (as -((-|d|) >> shift)), times the lane's weight; then for each lane the sum of the
    // terms of the lanes above it (for lane 0, coefficient 0's, of all the others).
    const __m256i err_v = _mm256_set1_epi32(err);
    const __m256i units = _mm256_sign_epi32(
        _mm256_srav_epi32(_mm256_sign_epi32(_mm256_abs_epi32(delta), err_v), shifts), err_v);
    const __m256i terms = _mm256_add_epi32(_mm256_sllv_epi32(units, shift_a),
                                           _mm256_sign_epi32(_mm256_sllv_epi32(units, shift_b), sign_b));
    __m256i above = _mm256_add_epi32(terms, _mm256_srli_si256(terms, 4));
    above = _mm256_add_epi32(above, _mm256_srli_si256(above, 8));
    // The upper half's total (its lowest lane) added to the lower half.
    above = _mm256_add_epi32(above, _mm256_shuffle_epi32(_mm256_permute2x128_si256(above, above, 0x81), 0));
    above = _mm256_sub_epi32(above, terms);
    const __m256i active = _mm256_cmpgt_epi32(_mm256_abs_epi32(err_v), above);
    // -sign(d) x sign(err), taken away where active.
    const __m256i step = _mm256_sign_epi32(_mm256_sign_epi32(_mm256_set1_epi32(-1), delta), err_v);
    coefs = _mm256_sub_epi32(coefs, _mm256_and_si256(step, active));

    // Coefficient 0 the same way, in a register of its own: the products do not wait for it.
    const __m128i step_0 = _mm_sign_epi32(_mm_sign_epi32(_mm_set1_epi32(-1), _mm_cvtsi32_si128(d0)),
                                          _mm256_castsi256_si128(err_v));
    coef_0 = _mm_sub_epi32(coef_0, _mm_and_si128(step_0, _mm256_castsi256_si128(active)));
    c0 = _mm_cvtsi128_si32(coef_0);

    shifted = _mm256_permutevar8x32_epi32(window, _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6));
    last = sample;
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
  if (count >= 2 && count <= 8 && !g_portable_only.load(std::memory_order_relaxed) && VectorPathSupported()) {
    switch (count) {
      case 2: return PredictAvx2<2>(residuals, y, n, width, c, shift);
      case 3: return PredictAvx2<3>(residuals, y, n, width, c, shift);
      case 4: return PredictAvx2<4>(residuals, y, n, width, c, shift);
      case 5: return PredictAvx2<5>(residuals, y, n, width, c, shift);
      case 6: return PredictAvx2<6>(residuals, y, n, width, c, shift);
      case 7: return PredictAvx2<7>(residuals, y, n, width, c, shift);
      default: return PredictAvx2<8>(residuals, y, n, width, c, shift);
    }
  }
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
