#include "resampler.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "resampler_coefs.h"
#include "windows.h"

// Work-area layout, each piece starting at an 8-byte boundary:
//
//   piece             size in bytes
//   ResampleState     sizeof(ResampleState)
//   coefficient sets  L * 10 * 4 (none for a copy): L = down sets of 10 Q31 taps
//   history buffer    (9 + block size) * channels * 2: 16-bit samples, interleaved when
//                     stereo; 9 frames of history followed by room for one block
//
// Timing: outAcc and inAcc count time in units of 1 / (from * down) seconds, so one output
// period is `up` units and one input period `down` units. After each output outAcc advances by
// up and the input steps forward until inAcc catches up; when the two meet the L-output cycle
// starts again at set 0. Output k of a cycle therefore lies d/down of an input period before
// the newest input sample it reads, d = (-up * k) mod down, and set k is designed for a delay
// of 4 + d/down samples: every output is the input 4 samples earlier.

namespace {

// Frames before the newest one that a set reads.
constexpr int kHistory = kResampleTaps - 1;

using ResampleKernel = int (*)(ResampleState* state, int16_t* outLeft, int16_t* outRight,
                               int end);

struct RateEntry {
  int32_t key;  // from * 2048 + to
  // The folded table: sets 0..L/2 of the pair; null for equal rates, which copy.
  const int32_t (*table)[kResampleTaps];
  // Multiplier and right shift applied by the decimating kernels.
  int32_t gain;
  int32_t shift;
};

constexpr int kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

constexpr int32_t Key(int from, int to) { return from * 2048 + to; }

constexpr RateEntry Copy(int rate) { return {Key(rate, rate), nullptr, 1, 31}; }

constexpr RateEntry Filter(int from, int to, const int32_t (*table)[kResampleTaps]) {
  return {Key(from, to), table, 1, 31};
}

constexpr RateEntry kEntries[] = {
    Copy(8000),
    Copy(11025),
    Copy(12000),
    Copy(16000),
    Copy(22050),
    Copy(24000),
    Copy(32000),
    Copy(44100),
    Copy(48000),
    Filter(48000, 44100, kResampleCoefs48000To44100),
    Filter(44100, 48000, kResampleCoefs44100To48000),
};

// Each table holds sets 0..L/2 of its pair.
static_assert(std::size(kResampleCoefs48000To44100) == 147 / 2 + 1);
static_assert(std::size(kResampleCoefs44100To48000) == 160 / 2 + 1);

const RateEntry* FindEntry(int from, int to) {
  const auto known = [](int rate) {
    return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
  };
  // Known rates first, which also keeps the key from overflowing.
  if (!known(from) || !known(to)) return nullptr;
  for (const RateEntry& entry : kEntries) {
    if (entry.key == Key(from, to)) return &entry;
  }
  return nullptr;
}

int Gcd(int a, int b) {
  while (b != 0) {
    const int r = a % b;
    a = b;
    b = r;
  }
  return a;
}

constexpr int64_t AlignUp(int64_t n) { return (n + 7) & ~int64_t{7}; }

}  // namespace

struct ResampleState {
  int32_t used;  // bytes of the work area taken, from its start

  ResampleKernel kernel;
  int32_t channels;
  int32_t blockSize;
  int32_t up;    // from / gcd: time units per output sample
  int32_t down;  // to / gcd: time units per input sample, and the number of sets L
  int32_t gain;
  int32_t shift;
  const int32_t* coefs;  // L sets of kResampleTaps, in the work area; null for a copy
  int16_t* history;      // (kHistory + blockSize) frames, in the work area

  const int32_t* currentSet;
  int32_t outAcc;
  int32_t inAcc;
  // Frame of `history` holding the newest input sample of the next output. At least
  // kHistory between calls; above it when the last call's input position overshot its input.
  int32_t position;
  int32_t carried;           // outputs per channel held back from the last call, 0..3
  int16_t carry[2][3];
};

namespace {

int16_t Saturate(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

// Equal rates: every input frame is an output frame.
template <int kChannels>
int CopyKernel(ResampleState* s, int16_t* outLeft, int16_t* outRight, int end) {
  int produced = 0;
  for (int n = s->position; n < end; ++n, ++produced) {
    outLeft[produced] = s->history[n * kChannels];
    if constexpr (kChannels == 2) outRight[produced] = s->history[n * 2 + 1];
  }
  s->position = end;
  return produced;
}

// Interpolating (up < down: the input steps at most once per output) and decimating (one or
// more steps per output, with the entry's gain and shift) kernels. Produces outputs while the
// newest input sample they need is before `end`.
template <int kChannels, bool kDecimate>
int FilterKernel(ResampleState* s, int16_t* outLeft, int16_t* outRight, int end) {
  const int16_t* const x = s->history;
  const int32_t up = s->up;
  const int32_t down = s->down;
  const int shift = kDecimate ? s->shift : 31;
  const int64_t gain = kDecimate ? s->gain : 1;
  const int64_t half = int64_t{1} << (shift - 1);  // rounds to nearest instead of down
  const int32_t* set = s->currentSet;
  int32_t outAcc = s->outAcc;
  int32_t inAcc = s->inAcc;
  int n = s->position;
  int produced = 0;
  while (n < end) {
    const int16_t* newest = x + n * kChannels;
    int64_t left = 0;
    int64_t right = 0;
    for (int k = 0; k < kResampleTaps; ++k) {
      left += int64_t{set[k]} * newest[-k * kChannels];
      if constexpr (kChannels == 2) right += int64_t{set[k]} * newest[-k * 2 + 1];
    }
    outLeft[produced] = Saturate((left * gain + half) >> shift);
    if constexpr (kChannels == 2) outRight[produced] = Saturate((right * gain + half) >> shift);
    ++produced;

    outAcc += up;
    if constexpr (kDecimate) {
      while (inAcc < outAcc) {
        inAcc += down;
        ++n;
      }
    } else if (inAcc < outAcc) {
      inAcc += down;
      ++n;
    }
    if (outAcc == inAcc) {
      outAcc = 0;
      inAcc = 0;
      set = s->coefs;
    } else {
      set += kResampleTaps;
    }
  }
  s->currentSet = set;
  s->outAcc = outAcc;
  s->inAcc = inAcc;
  s->position = n;
  return produced;
}

ResampleKernel ChooseKernel(int from, int to, int channels) {
  const bool stereo = channels == 2;
  if (from == to) return stereo ? CopyKernel<2> : CopyKernel<1>;
  if (from < to) return stereo ? FilterKernel<2, false> : FilterKernel<1, false>;
  return stereo ? FilterKernel<2, true> : FilterKernel<1, true>;
}

}  // namespace

int ResampleInit(ResampleState** state, int fromRate, int toRate, int channels, int blockSize,
                 void* workArea, int workAreaSize) {
  if (state == nullptr) return kResampleBadArgument;
  *state = nullptr;
  if (workArea == nullptr || workAreaSize <= 0) return kResampleBadArgument;
  const auto base = reinterpret_cast<uintptr_t>(workArea);
  const int64_t headerStart = static_cast<int64_t>(((base + 7) & ~uintptr_t{7}) - base);
  const int64_t coefsStart = AlignUp(headerStart + static_cast<int64_t>(sizeof(ResampleState)));
  if (coefsStart > workAreaSize) return kResampleBadArgument;
  if (channels != 1 && channels != 2) return kResampleBadChannels;
  const RateEntry* entry = FindEntry(fromRate, toRate);
  if (entry == nullptr) return kResampleBadArgument;
  if (blockSize < 1) return kResampleNoHistory;

  const int g = Gcd(fromRate, toRate);
  const int up = fromRate / g;
  const int down = toRate / g;
  const int sets = entry->table != nullptr ? down : 0;
  const int64_t historyStart = coefsStart + AlignUp(int64_t{sets} * kResampleTaps * 4);
  const int64_t used =
      historyStart + AlignUp((int64_t{kHistory} + blockSize) * channels * int64_t{sizeof(int16_t)});
  if (used > workAreaSize) return kResampleNoRoom;

  auto* bytes = static_cast<uint8_t*>(workArea);
  auto* s = new (bytes + headerStart) ResampleState{};
  s->used = static_cast<int32_t>(used);
  s->kernel = ChooseKernel(fromRate, toRate, channels);
  s->channels = channels;
  s->blockSize = blockSize;
  s->up = up;
  s->down = down;
  s->gain = entry->gain;
  s->shift = entry->shift;

  if (sets > 0) {
    auto* coefs = reinterpret_cast<int32_t*>(bytes + coefsStart);
    const int half = down / 2;
    for (int k = 0; k <= half; ++k) {
      std::copy_n(entry->table[k], kResampleTaps, coefs + k * kResampleTaps);
    }
    for (int k = 1; k < down - half; ++k) {
      std::reverse_copy(entry->table[k], entry->table[k] + kResampleTaps,
                        coefs + (down - k) * kResampleTaps);
    }
    s->coefs = coefs;
  }
  s->history = reinterpret_cast<int16_t*>(bytes + historyStart);
  std::fill_n(s->history, (kHistory + blockSize) * channels, int16_t{0});

  // The first output lies on an input sample, as after every completed cycle.
  s->currentSet = s->coefs;
  s->outAcc = 0;
  s->inAcc = 0;
  s->position = kHistory;
  s->carried = 0;

  char line[48];
  std::snprintf(line, sizeof line, "Total Heap size is %4d\n", s->used);
  OutputDebugStringA(line);
  *state = s;
  return kResampleOk;
}

int ResampleProcess(ResampleState* s, const int16_t* inLeft, const int16_t* inRight,
                    int16_t* outLeft, int16_t* outRight, int count) {
  if (s == nullptr || count < 0 || count > s->blockSize) return -1;
  const bool stereo = s->channels == 2;
  if (outLeft == nullptr || (stereo && outRight == nullptr)) return -1;
  if (count > 0 && (inLeft == nullptr || (stereo && inRight == nullptr))) return -1;

  int16_t* fresh = s->history + kHistory * s->channels;
  if (stereo) {
    for (int i = 0; i < count; ++i) {
      fresh[2 * i] = inLeft[i];
      fresh[2 * i + 1] = inRight[i];
    }
  } else if (count > 0) {
    std::copy_n(inLeft, count, fresh);
  }

  const int carried = s->carried;
  std::copy_n(s->carry[0], carried, outLeft);
  if (stereo) std::copy_n(s->carry[1], carried, outRight);
  const int total =
      carried + s->kernel(s, outLeft + carried, stereo ? outRight + carried : nullptr,
                          kHistory + count);

  // The last kHistory frames become the history of the next call; the input position moves
  // with them.
  std::memmove(s->history, s->history + count * s->channels,
               sizeof(int16_t) * kHistory * s->channels);
  s->position -= count;

  const int keep = total % 4;
  const int returned = total - keep;
  std::copy_n(outLeft + returned, keep, s->carry[0]);
  if (stereo) std::copy_n(outRight + returned, keep, s->carry[1]);
  s->carried = keep;
  return returned;
}

int ResampleMaxOutput(const ResampleState* s) {
  assert(s != nullptr);
  // A call reads `count` new frames; the outputs whose newest frame is among them number at
  // most count * down / up + 1, and up to 3 carried outputs come first.
  return static_cast<int>(int64_t{s->blockSize} * s->down / s->up + 1 + 3);
}
