#include "alac_decoder.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "alac_bit_reader.h"
#include "debug_print.h"

namespace lossless_reader {

namespace {

constexpr uint32_t kMaxCoefficients = 31;  // a 5-bit count

// Arithmetic on decoded samples wraps at 32 bits, as the bit-stream's arithmetic does;
// these keep that defined for any input.
inline int32_t Add(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
inline int32_t Sub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
inline int32_t Mul(int32_t a, int32_t b) { return int32_t(uint32_t(a) * uint32_t(b)); }

// Arithmetic right shift that also means floor(x / 2^d) for shifts of 32 and more.
inline int32_t ShiftRight(int32_t x, unsigned d) { return d >= 31 ? (x < 0 ? -1 : 0) : x >> d; }

// Sign extension from w bits, 1 <= w <= 32.
inline int32_t SignExtend(int32_t v, int w) {
  const int s = 32 - w;
  return int32_t(uint32_t(v) << s) >> s;
}

inline int LeadingZeros(uint32_t x) { return x ? __builtin_clz(x) : 32; }

struct ChannelHeader {
  uint32_t mode;
  uint32_t shift;      // quantisation shift Q
  uint32_t modifier;   // Rice modifier M
  uint32_t count;      // coefficient count C
  int16_t coefficients[kMaxCoefficients];
};

void ReadChannelHeader(AlacBitReader& bits, ChannelHeader* h) {
  h->mode = bits.Read(4);
  h->shift = bits.Read(4);
  h->modifier = bits.Read(3);
  h->count = bits.Read(5);
  for (uint32_t i = 0; i < h->count; ++i) h->coefficients[i] = int16_t(bits.Read(16));
}

// Adaptive Rice decoding of n residuals of width `width`. Returns false when a zero run
// would end beyond the frame.
bool decode_residuals(AlacBitReader& bits, int32_t* out, uint32_t n, int width, uint32_t history_mult,
                      uint32_t initial_history, uint32_t k_modifier) {
  const uint32_t run_mask = k_modifier >= 32 ? ~0u : (1u << k_modifier) - 1;
  const uint32_t width_mask = width >= 32 ? ~0u : (1u << width) - 1;
  uint32_t history = initial_history;
  uint32_t sign_modifier = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t k = uint32_t(31 - LeadingZeros((history >> 9) + 3));
    if (k > k_modifier) k = k_modifier;

    uint32_t x = bits.ReadRiceCode<true>(k, (1u << k) - 1);
    if (x == AlacBitReader::kEscape) x = bits.Read(unsigned(width)) & width_mask;  // the value itself, raw

    x += sign_modifier;
    const uint32_t magnitude = uint32_t((uint64_t{x} + 1) >> 1);
    out[i] = int32_t((x & 1) ? 0u - magnitude : magnitude);
    history += x * history_mult - ((history * history_mult) >> 9);
    sign_modifier = 0;

    if (x > 0xFFFF) {
      history = 0xFFFF;
      continue;
    }
    // A quiet history announces a run of zero residuals (never after the last sample).
    if (history < 128 && i + 1 < n) {
      sign_modifier = 1;
      const uint32_t kz = uint32_t(LeadingZeros(history)) + ((history + 16) >> 6) - 24;
      uint32_t run = bits.ReadRiceCode<false>(kz, ((1u << kz) - 1) & run_mask);
      if (run == AlacBitReader::kEscape) run = bits.Read(16);
      if (run > 0) {
        if (run > n - i - 1) return false;
        std::memset(out + i + 1, 0, size_t{run} * sizeof(int32_t));
        i += run;
      }
      if (run > 0xFFFF) sign_modifier = 0;
      history = 0;
    }
  }
  return true;
}

// Moves the coefficients towards a smaller error for as long as the error keeps its sign,
// the most recent samples' coefficients first: for coefficient j, with v = -delta[j] (the
// oldest sample of the window less the sample coefficient j weighs) and g the sign of v (its
// opposite while the error is negative), c[j] -= g and the error loses ((v x g) >> shift) x
// (count - j). The coefficients are 16-bit and wrap.
//
// Each step moves the error towards 0 by a term that does not depend on the error, so the
// error still has its sign at coefficient j exactly when |err| exceeds the sum of the terms of
// the coefficients before it. Those sums come from a chain of additions and every coefficient
// decides on its own, without a chain of unpredictable branches. This needs terms that cannot
// overflow, which holds for samples of up to 17 bits (|delta| < 2^18, terms below 2^23).
template <uint32_t kTaps>
inline void Adapt(int32_t* c, const int32_t* delta, uint32_t taps, int32_t err, uint32_t shift) {
  const uint32_t count = kTaps ? kTaps : taps;
  if (err == 0) return;
  const int32_t negative = err < 0 ? -1 : 0;  // all ones while the error is negative
  const int32_t magnitude = (err ^ negative) - negative;
  // A negative error moves by ceil(|v| / 2^shift) per unit, a positive one by floor.
  const int32_t round_up = negative & ((int32_t(1) << shift) - 1);
  int32_t used = 0;  // the error's movement so far, towards 0
#pragma GCC unroll 8
  for (int j = int(count) - 1; j >= 0; --j) {
    const int32_t d = delta[j];
    const int32_t sign = (d > 0) - (d < 0);
    const int32_t abs_d = d < 0 ? -d : d;
    const int g = (sign ^ ~negative) - ~negative;  // -sign for a positive error, sign otherwise
    c[j] = magnitude > used ? int16_t(c[j] - g) : c[j];
    used += ((abs_d + round_up) >> shift) * (int32_t(count) - j);
  }
}

// The adaptive FIR predictor: rebuilds n samples of width `width` (at most 17) from their
// residuals. The coefficients adapt as it goes (only for this frame). kTaps is the coefficient
// count when it is known at compile time (the common orders get their own unrolled copy), 0
// otherwise.
template <uint32_t kTaps>
void PredictWithTaps(const int32_t* e, int32_t* y, uint32_t n, int width, const int16_t* coefficients,
                     uint32_t taps, uint32_t shift) {
  const uint32_t count = kTaps ? kTaps : taps;
  // Local copies: the compiler may keep them in registers, as stores to y cannot touch them.
  int32_t c[kMaxCoefficients];
  for (uint32_t j = 0; j < count; ++j) c[j] = coefficients[j];

  const uint32_t warm_up = count < n - 1 ? count : n - 1;
  for (uint32_t i = 1; i <= warm_up; ++i) y[i] = SignExtend(Add(y[i - 1], e[i]), width);

  const int32_t round = shift ? int32_t(1) << (shift - 1) : 0;
  int32_t last = y[warm_up];  // y[i - 1], kept out of memory
  for (uint32_t i = count + 1; i < n; ++i) {
    const int32_t* window = y + (i - count - 1);  // window[0] is the oldest sample
    const int32_t base = window[0];
    int32_t delta[kMaxCoefficients];  // window[count - j] - base, for coefficient j
    delta[0] = Sub(last, base);
    int32_t sum = Mul(delta[0], c[0]);
#pragma GCC unroll 8
    for (uint32_t j = 1; j < count; ++j) {
      delta[j] = Sub(window[count - j], base);
      sum = Add(sum, Mul(delta[j], c[j]));
    }
    last = SignExtend(Add(Add(base, Add(sum, round) >> shift), e[i]), width);
    y[i] = last;
    Adapt<kTaps>(c, delta, count, e[i], shift);
  }
}

void predict_adaptive_fir(const int32_t* e, int32_t* y, uint32_t n, int width, const int16_t* c, uint32_t count,
                          uint32_t shift) {
  if (n == 0) return;
  y[0] = e[0];
  if (count == 0) {
    std::memcpy(y + 1, e + 1, size_t{n - 1} * sizeof(int32_t));
    return;
  }
  if (count == 31) {
    // Not a 31-tap filter: the code for a first-order difference.
    for (uint32_t i = 1; i < n; ++i) y[i] = SignExtend(Add(y[i - 1], e[i]), width);
    return;
  }
  switch (count) {
    case 4: return PredictWithTaps<4>(e, y, n, width, c, count, shift);
    case 5: return PredictWithTaps<5>(e, y, n, width, c, count, shift);
    case 6: return PredictWithTaps<6>(e, y, n, width, c, count, shift);
    case 8: return PredictWithTaps<8>(e, y, n, width, c, count, shift);
    default: return PredictWithTaps<0>(e, y, n, width, c, count, shift);
  }
}

inline void Put16(uint8_t* out, size_t index, int32_t v) {
  out[2 * index] = uint8_t(v);
  out[2 * index + 1] = uint8_t(uint32_t(v) >> 8);
}

// Left and right from the two coded channels: with weight 0 they are the channels as coded;
// otherwise the second holds the difference and the first a weighted mix.
void unmix_stereo_16(const int32_t* a, const int32_t* b, uint8_t* out, uint32_t n, uint32_t shift, int32_t weight,
                     uint32_t stride) {
  for (uint32_t i = 0; i < n; ++i) {
    int32_t left = a[i];
    int32_t right = b[i];
    if (weight != 0) {
      right = Sub(a[i], ShiftRight(Mul(b[i], weight), shift));
      left = Add(right, b[i]);
    }
    Put16(out, size_t{i} * stride, left);
    // A mono file has no slot for the second channel.
    if (stride >= 2) Put16(out, size_t{i} * stride + 1, right);
  }
}

void Corrupt(uint32_t* output_bytes, const char* why) {
  DebugPrint(u"decode_frame : corrupt frame (%hs), nothing decoded", why);
  *output_bytes = 0;
}

// Decodes one channel's residuals and prediction; false when the residuals are corrupt.
bool DecodeChannel(AlacDecoder* alac, AlacBitReader& bits, ChannelHeader* h, int32_t* residuals, int32_t* out,
                   uint32_t n, int width) {
  if (!decode_residuals(bits, residuals, n, width, uint32_t(alac->history_mult) * h->modifier / 4,
                        alac->initial_history, alac->k_modifier))
    return false;
  if (h->mode != 0) {
    // Left as it was: the caller passes on whatever the buffer held.
    DebugPrint(u"decode_frame : FIXME: unhandled predicition type: %i", int(h->mode));
    return true;
  }
  // Wider samples come only from depths above 16 bits, which are never output.
  if (width <= 17) predict_adaptive_fir(residuals, out, n, width, h->coefficients, h->count, h->shift);
  return true;
}

}  // namespace

void alac_configure_output(int sample_size, int channels, AlacDecoder* alac) {
  alac->sample_size = sample_size;
  alac->channels = channels;
  alac->bytes_per_frame = channels * (sample_size / 8);
}

int alac_load_config(AlacDecoder* alac, const uint8_t* config) {
  const uint8_t* p = config + 24;
  auto be32 = [](const uint8_t* b) {
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  };
  alac->frame_length = be32(p);
  alac->compatible_version = p[4];
  alac->bit_depth = p[5];
  alac->history_mult = p[6];
  alac->initial_history = p[7];
  alac->k_modifier = p[8];
  alac->config_channels = p[9];
  alac->max_run = uint16_t((p[10] << 8) | p[11]);
  alac->max_frame_bytes = be32(p + 12);
  alac->avg_bit_rate = be32(p + 16);
  alac->config_sample_rate = be32(p + 20);

  alac_free_buffers(alac);
  if (alac->frame_length == 0 || alac->frame_length > kAlacMaxFrameLength) {
    DebugPrint(u"alac_load_config : unsupported frame length %lu", alac->frame_length);
    return 0;
  }
  const size_t bytes = size_t{alac->frame_length} * sizeof(int32_t);
  alac->residual_a = static_cast<int32_t*>(std::malloc(bytes));
  alac->residual_b = static_cast<int32_t*>(std::malloc(bytes));
  alac->output_a = static_cast<int32_t*>(std::malloc(bytes));
  alac->output_b = static_cast<int32_t*>(std::malloc(bytes));
  if (!alac->residual_a || !alac->residual_b || !alac->output_a || !alac->output_b) {
    alac_free_buffers(alac);
    DebugPrint(u"alac_load_config : work buffer allocation failed");
    return 0;
  }
  // Defined contents for the frames that leave them untouched (unhandled prediction modes).
  std::memset(alac->output_a, 0, bytes);
  std::memset(alac->output_b, 0, bytes);
  return 1;
}

uint64_t alac_max_frame_bytes(const AlacDecoder* alac) {
  const uint64_t per_frame = uint64_t(alac->bytes_per_frame > 0 ? alac->bytes_per_frame : 0);
  const uint64_t written = uint64_t(alac->channels > 0 ? alac->channels : 0) * 2;
  return uint64_t{alac->frame_length} * (per_frame > written ? per_frame : written);
}

void decode_frame(AlacDecoder* alac, const uint8_t* input, uint32_t input_size, uint8_t* output,
                  uint32_t output_capacity, uint32_t* output_bytes) {
  assert(alac->residual_a && "decode_frame before a successful alac_load_config");
  AlacBitReader bits(input, input_size);
  // Where reading stopped, for whoever looks at the decoder afterwards.
  struct SyncPosition {
    AlacDecoder* alac;
    const uint8_t* input;
    const AlacBitReader& bits;
    ~SyncPosition() {
      alac->input = input + bits.BytePosition();
      alac->bit_position = bits.BitPosition();
    }
  } sync{alac, input, bits};

  if (!alac->residual_a) return Corrupt(output_bytes, "decoder not configured");
  if (alac_max_frame_bytes(alac) > output_capacity) return Corrupt(output_bytes, "output buffer too small");
  const uint32_t bytes_per_frame = uint32_t(alac->bytes_per_frame > 0 ? alac->bytes_per_frame : 0);
  *output_bytes = alac->frame_length * bytes_per_frame;

  const uint32_t tag = bits.Read(3);
  if (tag > 1) return;  // not a channel element: nothing to decode
  const bool pair = tag == 1;

  (void)bits.Read(4);
  (void)bits.Read(12);
  const bool has_size = bits.Read(1);
  const uint32_t wasted = bits.Read(2);
  const bool uncompressed = bits.Read(1);
  uint32_t n = alac->frame_length;
  if (has_size) {
    n = bits.Read(32);
    if (n > alac->frame_length) return Corrupt(output_bytes, "sample count above the frame length");
    *output_bytes = n * bytes_per_frame;
  }

  const int depth = alac->bit_depth;
  const int width = depth - 8 * int(wasted) + (pair ? 1 : 0);
  // Why the frame's samples cannot be trusted, if they cannot. Only 16-bit frames are output;
  // for other depths nothing is written whatever the frame holds.
  const char* damage = nullptr;
  bool decodable = width >= 1 && width <= 32;
  if (uncompressed && pair) decodable = decodable && depth >= 1 && depth <= 32;
  if (!decodable) damage = "sample width";

  uint32_t mix_shift = 0;
  int32_t mix_weight = 0;
  if (decodable && uncompressed) {
    if (pair) {
      for (uint32_t i = 0; i < n; ++i) {
        alac->output_a[i] = SignExtend(int32_t(bits.Read(unsigned(depth))), depth);
        alac->output_b[i] = SignExtend(int32_t(bits.Read(unsigned(depth))), depth);
      }
    } else {
      for (uint32_t i = 0; i < n; ++i) alac->output_a[i] = SignExtend(int32_t(bits.Read(unsigned(width))), width);
    }
  } else if (decodable) {
    ChannelHeader first;
    ChannelHeader second;
    if (pair) {
      mix_shift = bits.Read(8);
      mix_weight = int32_t(bits.Read(8));
      ReadChannelHeader(bits, &first);
      ReadChannelHeader(bits, &second);
    } else {
      (void)bits.Read(16);
      ReadChannelHeader(bits, &first);
    }
    if (wasted != 0) DebugPrint(u"decode_frame : FIXME: unimplemented, unhandling of wasted_bytes");
    if (!DecodeChannel(alac, bits, &first, alac->residual_a, alac->output_a, n, width) ||
        (pair && !DecodeChannel(alac, bits, &second, alac->residual_b, alac->output_b, n, width)))
      damage = "zero run past the end of the frame";
  }
  if (!damage && bits.Overrun()) damage = "contents run past the end of the frame";

  switch (depth) {
    case 16: {
      if (damage) return Corrupt(output_bytes, damage);
      const uint32_t stride = uint32_t(alac->channels > 0 ? alac->channels : 0);
      if (stride == 0) break;
      if (pair) {
        unmix_stereo_16(alac->output_a, alac->output_b, output, n, mix_shift, mix_weight, stride);
      } else {
        for (uint32_t i = 0; i < n; ++i) Put16(output, size_t{i} * stride, alac->output_a[i]);
      }
      break;
    }
    case 20:
    case 24:
    case 32:
      DebugPrint(u"decode_frame : FIXME: unimplemented sample size %i", depth);
      break;
    default:
      break;
  }
}

void alac_free_buffers(AlacDecoder* alac) {
  std::free(alac->residual_a);
  std::free(alac->residual_b);
  std::free(alac->output_a);
  std::free(alac->output_b);
  alac->residual_a = alac->residual_b = alac->output_a = alac->output_b = nullptr;
}

}  // namespace lossless_reader
