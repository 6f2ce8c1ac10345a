// Integer transform of the WMA encoder: the window-and-fold of two frames into 2048 values and
// the DCT-IV of those values through a 1024-point complex FFT, all in fixed point.
//
// The result, to within rounding, is
//   out[k] = -K * sum(n = 0..4095) w[n] u[n] cos(pi / 2048 * (n + 1/2 + 1024) * (k + 1/2)),
// u the previous frame followed by the current one, w the sine window of length 4096 and
// K = 32767 * 0.98 / 2048: the modified DCT of the two frames, scaled and negated.
//
// Pure functions over caller buffers; safe on any thread.
#pragma once

#include <cstdint>

// Windows and folds the current frame `cur` and the previous frame `prev` (2048 samples each)
// into y[0..2047]. Returns false when every window product was 0.
bool WmaWindowFold(const int16_t* cur, const int16_t* prev, int32_t* y);

// In-place DCT-IV of x[0..2047] (the work area is used as 1024 complex values).
void WmaDctIV(int32_t* x);
