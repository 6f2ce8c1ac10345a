#include "change_speed.h"

#include <cassert>
#include <cstring>

namespace {

// Frame positions within a period, as bits of `positions`.
struct SpeedPattern {
  INT percent;
  INT period;
  UINT positions;
};

// Above 100 percent: input frame j is dropped when bit (j mod period) is set.
constexpr SpeedPattern kDropPatterns[] = {
    {110, 11, 1u << 10},
    {120, 6, 1u << 5},
    {130, 13, (1u << 4) | (1u << 8) | (1u << 12)},
    {140, 7, (1u << 3) | (1u << 6)},
    {150, 3, 1u << 2},
};

// Below 100 percent: a frame is inserted after input frame k when bit ((k + 1) mod period)
// is set.
constexpr SpeedPattern kInsertPatterns[] = {
    {70, 7, (1u << 1) | (1u << 3) | (1u << 5)},
    {80, 4, 1u << 1},
    {90, 9, 1u << 1},
};

template <size_t N>
SpeedPattern FindPattern(const SpeedPattern (&table)[N], INT percent) {
  for (const SpeedPattern& pattern : table) {
    if (pattern.percent == percent) return pattern;
  }
  return {percent, 1, 0};  // keeps every frame
}

inline bool InPattern(const SpeedPattern& pattern, LONG position) {
  return (pattern.positions >> (position % pattern.period)) & 1u;
}

inline SHORT LoadSample(const BYTE* p) {
  SHORT s;
  std::memcpy(&s, p, sizeof s);
  return s;
}

// Writes emitted frames to the output, through the pitch shifter when compensating.
class FrameWriter {
 public:
  FrameWriter(PitchShifter& shifter, BOOL compensate, INT channels, BYTE* out)
      : shifter_(shifter), compensate_(compensate), channels_(channels), out_(out) {}

  // `next` is the frame after `frame`; the sample written is their midpoint, or `frame`
  // itself when both are the same frame.
  void Emit(const BYTE* frame, const BYTE* next) {
    for (INT j = 0; j < channels_; ++j) {
      SHORT s = (SHORT)((LoadSample(frame + 2 * j) + LoadSample(next + 2 * j)) >> 1);
      if (compensate_) s = shifter_.PitchShifterSample(j, s);
      std::memcpy(out_, &s, sizeof s);
      out_ += sizeof s;
    }
    ++frames_;
  }
  void Emit(const BYTE* frame) { Emit(frame, frame); }

  LONG frames() const { return frames_; }

 private:
  PitchShifter& shifter_;  // borrowed for the call
  const BOOL compensate_;
  const INT channels_;
  BYTE* out_;
  LONG frames_ = 0;
};

}  // namespace

LONG ChangeSpeed(PitchShifter& shifter, INT percent, BOOL compensate, INT channels, BYTE* out,
                 const BYTE* in, LONG byteCount) {
  // Twice the largest count must still be a LONG: that is the most this can write.
  if (out == nullptr || in == nullptr || byteCount <= 0 || byteCount > 0x3FFFFFFF) return 0;
  if (percent == 100) {
    std::memcpy(out, in, (size_t)byteCount);
    return byteCount;
  }
  if (channels < 1) return 0;

  const LONG frameBytes = 2 * channels;
  const LONG n = byteCount / frameBytes;
  FrameWriter writer(shifter, compensate, channels, out);
  if (percent > 100) {
    const SpeedPattern pattern = FindPattern(kDropPatterns, percent);
    for (LONG i = 0; i < n;) {
      writer.Emit(in + i * frameBytes);
      ++i;
      if (InPattern(pattern, i)) ++i;
    }
  } else {
    const SpeedPattern pattern = FindPattern(kInsertPatterns, percent);
    for (LONG k = 0; k < n; ++k) {
      const BYTE* frame = in + k * frameBytes;
      writer.Emit(frame);
      if (InPattern(pattern, k + 1)) writer.Emit(frame, k + 1 < n ? frame + frameBytes : frame);
    }
  }
  // Every pattern emits at most two frames per input frame: the output fits 2 * byteCount.
  assert(writer.frames() <= 2 * n);
  return writer.frames() * frameBytes;
}
