// Sample-rate converter for 16-bit PCM, one or two channels: a fixed-point polyphase FIR
// resampler with 10 taps per phase (Q31 coefficients, products summed in 64 bits, results
// rounded and saturated to 16 bits). The recording filter uses it to bring 48000 Hz input to
// the encoder's 44100 Hz.
//
// Use: ResampleInit once with the two rates, the channel count, the largest block and a work
// area owned by the caller; it carves the converter's state, its coefficient sets and its
// input history out of that area and allocates nothing. Then ResampleProcess once per block
// of input, in stream order. The output is delayed by 4 input samples (the filter's centre)
// and is the same whatever the block sizes: splitting the input differently changes only how
// much of the output each call returns. Each call returns a multiple of 4 samples per channel
// and holds the remaining 0..3 back for the next call.
//
// Pairs of rates: the nine rates 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 and
// 48000 Hz are known. Equal rates copy the input unchanged; 48000 -> 44100 and 44100 -> 48000
// carry designed filters; every other pair is refused with -1.
//
// Threads: a state is used by one thread at a time; separate states share nothing.
#pragma once

#include <cstdint>

// Lives at the start (8-byte aligned) of the caller's work area.
struct ResampleState;

// Results of ResampleInit.
enum : int {
  kResampleOk = 0,
  // No state out pointer, no work area or one too small for the state header, or a pair of
  // rates without a table.
  kResampleBadArgument = -1,
  // A block size below 1 leaves the history buffer without room for new input.
  kResampleNoHistory = -2,
  // A channel count other than 1 or 2.
  kResampleBadChannels = -4,
  // The coefficient sets or the history buffer do not fit in the work area.
  kResampleNoRoom = -111,
};

// Sets up a converter from fromRate to toRate Hz for `channels` channels and blocks of at most
// blockSize samples per channel, inside workArea (workAreaSize bytes, owned by the caller,
// which must keep it alive and untouched while the state is used). On success stores the
// state (inside the work area) in *state, prints "Total Heap size is %4d\n" with the bytes of
// the work area used, and returns kResampleOk. On failure returns one of the codes above,
// stores nullptr in *state (when state is not null) and writes nothing outside the work area.
int ResampleInit(ResampleState** state, int fromRate, int toRate, int channels, int blockSize,
                 void* workArea, int workAreaSize);

// Converts `count` input samples per channel (0..block size) from inLeft and, for two
// channels, inRight (ignored for one channel). Writes the output to outLeft (and outRight),
// which must hold ResampleMaxOutput(state) samples each and must not overlap the inputs; the
// samples past the returned count are scratch. All four buffers are the caller's, borrowed
// for the call. Returns the number of output samples per
// channel, a multiple of 4, or -1 (nothing read, written or changed) for a null state, a count
// outside 0..block size, or a missing buffer.
int ResampleProcess(ResampleState* state, const int16_t* inLeft, const int16_t* inRight,
                    int16_t* outLeft, int16_t* outRight, int count);

// The most samples per channel one ResampleProcess call of this state can write: what the
// output buffers must hold.
int ResampleMaxOutput(const ResampleState* state);
