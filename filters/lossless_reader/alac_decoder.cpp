#include "alac_decoder.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "alac_bit_reader.h"
#include "alac_predictor.h"
#include "alac_residual_reader.h"
#include "debug_print.h"

namespace lossless_reader {

namespace {

constexpr uint32_t kMaxCoefficients = 31;  // a 5-bit count

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

// Stores v truncated to 16 bits, little-endian, as sample `index` of the output.
inline void Put16(uint8_t* out, size_t index, int32_t v) {
  const int16_t sample = int16_t(v);
  std::memcpy(out + 2 * index, &sample, 2);
}

// Left and right from the two coded channels: with weight 0 they are the channels as coded;
// otherwise the second holds the difference and the first a weighted mix.
void unmix_stereo_16(const int32_t* a, const int32_t* b, uint8_t* out, uint32_t n, uint32_t shift, int32_t weight,
                     uint32_t stride) {
  // floor(x / 2^shift), which for shifts of 31 and more is the sign.
  const uint32_t d = shift < 31 ? shift : 31;
  auto unmix = [&](uint32_t i, int32_t* left, int32_t* right) {
    *right = weight ? Sub(a[i], Mul(b[i], weight) >> d) : b[i];
    *left = weight ? Add(*right, b[i]) : a[i];
  };
  if (stride == 2) {
    // Both samples of an output frame in one store: a loop the compiler can vectorise.
    for (uint32_t i = 0; i < n; ++i) {
      int32_t left, right;
      unmix(i, &left, &right);
      const uint32_t pair = (uint32_t(left) & 0xFFFF) | (uint32_t(right) << 16);
      std::memcpy(out + 4 * size_t{i}, &pair, 4);
    }
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    int32_t left, right;
    unmix(i, &left, &right);
    Put16(out, size_t{i} * stride, left);
    // A mono file has no slot for the second channel.
    if (stride >= 2) Put16(out, size_t{i} * stride + 1, right);
  }
}

void Corrupt(uint32_t* output_bytes, const char* why) {
  DebugPrint(u"decode_frame : corrupt frame (%hs), nothing decoded", why);
  *output_bytes = 0;
}

// Decodes n residuals into out (a work buffer), for a channel whose samples are not predicted.
void decode_residuals(ResidualReader& residuals, int32_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) out[i] = residuals.Next(i);
}

// Decodes one channel's residuals and, for prediction mode 0, its samples; false when the
// residuals are corrupt.
bool DecodeChannel(AlacDecoder* alac, AlacBitReader& bits, ChannelHeader* h, int32_t* residuals, int32_t* out,
                   uint32_t n, int width) {
  ResidualReader reader(bits, n, width, uint32_t(alac->history_mult) * h->modifier / 4, alac->initial_history,
                        alac->k_modifier);
  if (h->mode != 0) {
    // The residuals are still read, to find the next channel's. The samples are left as they
    // were: the caller passes on whatever the buffer held.
    decode_residuals(reader, residuals, n);
    if (!reader.Failed()) DebugPrint(u"decode_frame : FIXME: unhandled predicition type: %i", int(h->mode));
  } else if (width <= 17) {
    predict_adaptive_fir(reader, out, n, width, h->coefficients, h->count, h->shift);
  } else {
    // Wider samples come only from depths above 16 bits, which are never output.
    decode_residuals(reader, residuals, n);
  }
  bits = reader.Bits();
  return !reader.Failed();
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
