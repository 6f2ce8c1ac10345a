// AlacDecoder: turns one compressed ALAC frame into interleaved signed 16-bit PCM.
//
// The source filter embeds a zeroed AlacDecoder, calls alac_configure_output with the
// container's sample size and channel count and alac_load_config with its codec
// configuration once per file, then decode_frame once per frame, and finally
// alac_free_buffers. Only the first element of a frame is decoded (a single channel or a
// channel pair), and only 16-bit audio is output; other depths, prediction modes other than 0
// and frames with shifted-out low bits are reported with "FIXME" messages and not decoded
// correctly. No allocation or system call per frame. Single-threaded: one thread at a time
// (the filter's worker) uses a decoder.
//
// ALAC configuration (24 bytes, big-endian, at byte 24 of the container's codec_config):
//   +0 frame length (4)   +4 compatible version (1)  +5 bit depth (1)  +6 history mult (1)
//   +7 initial history (1) +8 k modifier (1)  +9 channels (1)  +10 max run (2)
//   +12 max frame bytes (4)  +16 average bit rate (4)  +20 sample rate (4)
//
// Frame (bits, most significant first; only the first element is read):
//   element tag (3): 0 single channel, 1 channel pair, anything else: nothing to decode
//   4 + 12 unused, has-size (1), wasted bytes W (2), uncompressed (1), [sample count N (32)]
//   uncompressed: N samples (single) or N sample pairs of the sample width each
//   compressed single: 16 unused, then one channel header; residuals
//   compressed pair: mixing shift (8), mixing weight (8), two channel headers; residuals of
//     the first channel, then of the second
//   channel header: mode (4), quantisation shift (4), Rice modifier (3), coefficient count C
//     (5), C signed 16-bit coefficients
//   residuals: adaptive Rice codes with zero runs (see alac_residual_reader.h), predicted as
//     in alac_predictor.h
#pragma once

#include <cstdint>

namespace lossless_reader {

// Frame lengths above this are refused when the configuration is loaded: the work buffers
// would be needlessly large, and no encoder uses them (4096 is usual).
constexpr uint32_t kAlacMaxFrameLength = 65536;

struct AlacDecoder {
  // Where the last decode_frame stopped reading: a pointer into that call's frame, which the
  // caller owns; not to be followed once the frame's buffer is reused.
  const uint8_t* input;
  int32_t bit_position;  // bits of *input already consumed, from the most significant
  int32_t sample_size;   // output bits per sample (container)
  int32_t channels;      // output channels (container); the interleave stride
  int32_t bytes_per_frame;
  // Work buffers of frame_length entries each, owned (malloc): residuals and reconstructed
  // samples of the first and second channel.
  int32_t* residual_a;
  int32_t* residual_b;
  int32_t* output_a;
  int32_t* output_b;
  // The ALAC configuration, in its stored order.
  uint32_t frame_length;
  uint8_t compatible_version;  // not used
  uint8_t bit_depth;
  uint8_t history_mult;
  uint8_t initial_history;
  uint8_t k_modifier;
  uint8_t config_channels;  // not used (the container's count is)
  uint16_t max_run;          // not used
  uint32_t max_frame_bytes;  // not used
  uint32_t avg_bit_rate;     // not used
  uint32_t config_sample_rate;  // not used here (the container reader falls back to it)
};

void alac_configure_output(int sample_size, int channels, AlacDecoder* alac);

// Reads the ALAC configuration from bytes 24..47 of `config` (the container's codec_config)
// and allocates the work buffers (freeing earlier ones). Returns 1 on success; 0 after a
// message when the frame length is 0 or above kAlacMaxFrameLength or the buffers cannot be
// allocated, in which case the decoder has no buffers and must not be used.
[[nodiscard]] int alac_load_config(AlacDecoder* alac, const uint8_t* config);

// The most bytes decode_frame reports or writes for one frame of this file: frame_length
// output frames of bytes_per_frame bytes, or of channels x 2 bytes where that is more (the
// output is always 16-bit). Callers size their output buffer with it.
[[nodiscard]] uint64_t alac_max_frame_bytes(const AlacDecoder* alac);

// Decodes the frame in input[0..input_size) into `output` (both borrowed for the call) as
// interleaved little-endian signed 16-bit samples at stride `channels`, and sets
// *output_bytes to the frame's sound samples x bytes_per_frame. Nothing is read outside the
// frame (no slack past its end is needed) and nothing is written beyond output_capacity, which
// the caller checks against alac_max_frame_bytes once per file.
//
// A frame with an element tag other than 0 or 1, an unhandled prediction mode or an
// unsupported bit depth still reports its full byte count, the output buffer left as it was
// (or holding the previous frame's samples). A 16-bit frame that cannot be decoded safely
// (sample count above the frame length, a zero run past its end, contents running past its
// last byte, an impossible sample width) and a call with output_capacity below
// alac_max_frame_bytes report 0 bytes after a message; a frame of another depth writes nothing
// in any case.
void decode_frame(AlacDecoder* alac, const uint8_t* input, uint32_t input_size, uint8_t* output,
                  uint32_t output_capacity, uint32_t* output_bytes);

// Frees the work buffers; the decoder then needs alac_load_config again.
void alac_free_buffers(AlacDecoder* alac);

}  // namespace lossless_reader
