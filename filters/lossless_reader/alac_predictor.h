// The ALAC adaptive FIR predictor: rebuilds one channel's samples from its residuals as the
// ResidualReader decodes them, adapting its coefficients as it goes (for this frame only).
//
// Called by the frame decoder once per channel of a frame with prediction mode 0. On x86-64
// processors with AVX2 and BMI2 the common orders (2 to 8 coefficients) run on a vector path
// chosen at run time; everything else, and every other processor, takes the portable path.
// Both give the same samples. Stateless apart from the test switch: any thread may call it.
#pragma once

#include <cstdint>

#include "alac_residual_reader.h"

namespace lossless_reader {

// Arithmetic on decoded samples wraps at 32 bits, as the bit-stream's arithmetic does; these
// keep that defined for any input.
inline int32_t Add(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
inline int32_t Sub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
inline int32_t Mul(int32_t a, int32_t b) { return int32_t(uint32_t(a) * uint32_t(b)); }

// Sign extension from w bits, 1 <= w <= 32.
inline int32_t SignExtend(int32_t v, int w) {
  const int s = 32 - w;
  return int32_t(uint32_t(v) << s) >> s;
}

// Rebuilds y[0..n) (n residuals taken from `residuals`) at sample width `width` (at most 17)
// from the `count` 16-bit coefficients c and quantisation shift `shift` (0..15); y and c are
// the caller's, borrowed for the call, and c is only read:
//   y[0] = e[0]; count 0: y[i] = e[i]; count 31: y[i] = sign-extend(y[i-1] + e[i], width);
//   otherwise y[i] = sign-extend(y[i-1] + e[i], width) for i <= count, and after that, with
//   b = i - count - 1 and d_j = y[b + count - j] - y[b],
//   y[i] = sign-extend(y[b] + ((sum of c_j d_j + 2^(shift-1)) >> shift) + e[i], width)
//   (no rounding term for shift 0), each c_j then moving by one step towards a smaller error,
//   the most recent first, for as long as the error keeps its sign.
void predict_adaptive_fir(ResidualReader& residuals, int32_t* y, uint32_t n, int width, const int16_t* c,
                          uint32_t count, uint32_t shift);

// True: every frame takes the portable path, so that tests can compare it with the vector
// one. Set it only while no frame is being decoded.
void UsePortablePredictorForTesting(bool portable);

}  // namespace lossless_reader
