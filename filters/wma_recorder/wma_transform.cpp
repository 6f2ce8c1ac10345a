#include "wma_transform.h"

#include <algorithm>

#include "wma_tables.h"

namespace {

constexpr int kFftSize = 1024;

// Upper 32 bits of a signed 64-bit value.
inline int32_t Hi(int64_t v) { return static_cast<int32_t>(v >> 32); }

// Butterfly sums can leave 32 bits only on pathological full-scale input; saturating keeps
// such a frame a loud frame instead of noise.
inline int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

inline int32_t TwiddleCos(int t) { return t <= 256 ? kWmaFftCos[t] : -kWmaFftCos[512 - t]; }
inline int32_t TwiddleSin(int t) { return t <= 256 ? kWmaFftCos[256 - t] : kWmaFftCos[t - 256]; }

void BitReverse(int32_t* z) {
  for (int i = 0, j = 0; i < kFftSize; ++i) {
    if (i < j) {
      std::swap(z[2 * i], z[2 * j]);
      std::swap(z[2 * i + 1], z[2 * j + 1]);
    }
    int bit = kFftSize >> 1;
    while (j & bit) {
      j ^= bit;
      bit >>= 1;
    }
    j |= bit;
  }
}

// Forward FFT, Z[f] = sum z[n] e^(-2 pi j n f / 1024), radix-2 decimation in time, unscaled.
void Fft(int32_t* z) {
  BitReverse(z);
  for (int half = 1; half < kFftSize; half <<= 1) {
    const int stride = (kFftSize / 2) / half;
    for (int k = 0; k < half; ++k) {
      const int t = k * stride;
      const int64_t c = TwiddleCos(t), s = TwiddleSin(t);
      for (int base = k; base < kFftSize; base += 2 * half) {
        int32_t* a = z + 2 * base;
        int32_t* b = z + 2 * (base + half);
        int64_t tr, ti;
        if (t == 0) {
          tr = b[0];
          ti = b[1];
        } else {
          // b * (cos - j sin); each part is the exact sum of its products, taken as 2 * hi.
          tr = (b[0] * c + b[1] * s) >> 31;
          ti = (b[1] * c - b[0] * s) >> 31;
        }
        const int64_t ar = a[0], ai = a[1];
        a[0] = Saturate(ar + tr);
        a[1] = Saturate(ai + ti);
        b[0] = Saturate(ar - tr);
        b[1] = Saturate(ai - ti);
      }
    }
  }
}

}  // namespace

bool WmaWindowFold(const int16_t* cur, const int16_t* prev, int32_t* y) {
  const int16_t* w = kWmaWindow;
  int32_t any = 0;
  for (int m = 0; m < 1024; ++m) {
    // Each sum of two products stays below 1.52e9: the window halves meet at cos(pi / 4).
    int32_t a = cur[1023 - m] * w[1023 - m];
    int32_t b = cur[1024 + m] * w[1024 + m];
    int32_t d = prev[2047 - m] * w[m];
    int32_t e = prev[m] * w[2047 - m];
    y[m] = (a + b) >> 9;
    y[1024 + m] = (d - e) >> 9;
    any |= a | b | d | e;
  }
  return any != 0;
}

void WmaDctIV(int32_t* x) {
  // Pre-rotation z[k] = (y[2k] + j y[2047 - 2k]) * pre[k]. Entries k and 1023 - k read and
  // write the same four slots, so they are done together in place.
  for (int k = 0; k < 512; ++k) {
    const int k2 = 1023 - k;
    const int64_t y0 = x[2 * k], y1 = x[2047 - 2 * k];    // z[k]
    const int64_t y2 = x[2 * k2], y3 = x[2047 - 2 * k2];  // z[1023 - k]
    const int64_t pr = kWmaPreRotation[2 * k], pi = kWmaPreRotation[2 * k + 1];
    const int64_t qr = kWmaPreRotation[2 * k2], qi = kWmaPreRotation[2 * k2 + 1];
    x[2 * k] = Hi(y0 * pr - y1 * pi);
    x[2 * k + 1] = Hi(y0 * pi + y1 * pr);
    x[2 * k2] = Hi(y2 * qr - y3 * qi);
    x[2 * k2 + 1] = Hi(y2 * qi + y3 * qr);
  }

  Fft(x);

  for (int i = 0; i < 512; ++i) {
    const int i2 = 1023 - i;
    const int64_t zr = x[2 * i], zi = x[2 * i + 1];
    const int64_t wr = x[2 * i2], wi = x[2 * i2 + 1];
    const int64_t pc = kWmaPostRotation[2 * i], ps = kWmaPostRotation[2 * i + 1];
    const int64_t qc = kWmaPostRotation[2 * (i + 1)], qs = kWmaPostRotation[2 * (i + 1) + 1];
    // v = Z[i] * post[i]
    x[2 * i] = Hi(zr * pc - zi * ps);
    x[2047 - 2 * i] = Saturate(-int64_t{Hi(zr * ps + zi * pc)});
    // v' = Z[1023 - i] * conj(post[i + 1])
    x[2 * i + 1] = Hi(wr * qc + wi * qs);
    x[2046 - 2 * i] = Hi(wi * qc - wr * qs);
  }
}
