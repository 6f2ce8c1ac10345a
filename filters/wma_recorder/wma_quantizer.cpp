#include "wma_quantizer.h"

#include <cassert>
#include <cstdlib>

namespace {

// Quantised level of coefficient c at gain g: |c| / step rounded to the nearest level, so
// that each level covers one step centred on it, as levels 0 (below half a step) and 1 (up
// to 1.5 steps) do. Flooring the signed product instead would shrink positive and grow
// negative coefficients by half a step on average, four times the noise power of rounding.
inline uint32_t LevelOf(int32_t c, uint32_t half, uint32_t big, uint32_t reciprocal) {
  uint32_t a = c < 0 ? 0u - static_cast<uint32_t>(c) : static_cast<uint32_t>(c);
  if (a < half) return 0;
  if (a < big) return 1;
  return static_cast<uint32_t>((uint64_t{a} * reciprocal + (uint64_t{1} << 31)) >> 32);
}

}  // namespace

void WmaQuantizer::Open(int channels, bool rate32000, uint32_t budget) {
  assert(channels == 1 || channels == 2);
  channels_ = channels;
  rate32000_ = rate32000;
  budget_ = budget;
  SetGain(63);
  levelBits_ = 9;  // the width of j = 64, as the format starts
  largestLevel_ = 511;
  firstFrame_ = true;
  overflow_ = false;
}

void WmaQuantizer::SetGain(int g) {
  assert(g >= 0 && g < kWmaGainTableSize);
  gain_ = g;
  int j = g + 1;
  if (j <= 14) {
    levelBits_ = 13;
  } else if (j <= 31) {
    levelBits_ = 12;
  } else if (j <= 39) {
    levelBits_ = 11;
  } else if (j <= 44) {
    levelBits_ = 10;
  } else {
    levelBits_ = 9;
  }
  largestLevel_ = (1u << levelBits_) - 1;
}

uint32_t WmaQuantizer::CountHeader(const WmaFrame& frame) const {
  uint32_t bits = 0;
  if (firstFrame_) bits += rate32000_ ? 4 : 6;
  bits += rate32000_ ? 2 : 3;
  bits += channels_ == 2 ? 3 : 1;
  if (!frame.AnyCoded()) return bits;
  bits += 7 * (gain_ / 127 + 1);
  for (int c = 0; c < channels_; ++c) {
    const WmaChannel& ch = frame.ch[c];
    if (!ch.coded) continue;
    int prev = 36;
    for (int i = 0; i < kWmaBands; ++i) {
      int d = ch.exponents[i] - prev;
      assert(d >= -60 && d <= 60);
      bits += kWmaExponentLength[d + 60];
      prev = ch.exponents[i];
    }
  }
  return bits;
}

uint32_t WmaQuantizer::CountChannel(WmaChannel& ch) {
  const uint32_t step = kWmaQuantStep[gain_];
  const uint32_t half = step >> 1, big = step + (step >> 1);
  const uint32_t reciprocal = kWmaQuantReciprocal[gain_];
  const WmaRunLevelSet& set = *ch.codeSet;
  const uint32_t escapeBits = set.lengths[0] + levelBits_ + kRunBits + 1;
  uint32_t bits = 0;
  int run = 0;
  for (int i = 0; i < kWmaCodedCoefs; ++i) {
    uint32_t level = LevelOf(ch.coefs[i], half, big, reciprocal);
    if (level == 0) {
      ++run;
      continue;
    }
    if (level > largestLevel_) {
      overflow_ = true;
    } else if (run < set.RunCount(level)) {
      bits += set.lengths[set.start[level + 1] + run] + 1;
    } else {
      bits += escapeBits;
    }
    run = 0;
  }
  if (run > 0) bits += set.lengths[1];
  ch.countedBits = bits;
  return bits;
}

int WmaQuantizer::InitialJ(const WmaFrame& frame, uint32_t avail) const {
  uint32_t sum = 0;
  int n = 0;
  for (int c = 0; c < channels_; ++c) {
    const WmaChannel& ch = frame.ch[c];
    if (!ch.coded) continue;
    n += kWmaCodedCoefs;
    for (int i = 0; i < kWmaCodedCoefs; i += 4) {
      uint32_t group = 0;
      for (int k = 0; k < 4; ++k) {
        int32_t v = ch.coefs[i + k];
        group += v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
      }
      sum += group >> 5;
    }
  }
  if (n == 0) return 1;
  int32_t q = (4 * static_cast<int32_t>(avail) - n) >> 3;
  if (q < 1) return 65;
  if (sum == 0) return 2;
  uint32_t h = sum / static_cast<uint32_t>(q);
  int value = kWmaGainEstimateValue[21];  // beyond the last threshold: the largest estimate
  for (int i = 0; i < 22; ++i) {
    if (kWmaGainEstimateThreshold[i] >= h) {
      value = kWmaGainEstimateValue[i];
      break;
    }
  }
  return value == 0 ? 2 : value;
}

void WmaQuantizer::DropUnforced(WmaFrame& frame) const {
  for (int c = 0; c < channels_; ++c)
    if (frame.ch[c].forceCoded == 0) frame.ch[c].coded = false;
}

bool WmaQuantizer::SearchGain(WmaFrame& frame) {
  const uint32_t header = CountHeader(frame);
  if (header >= budget_) {
    DropUnforced(frame);
    return false;
  }
  const uint32_t avail = budget_ - header;
  int j = InitialJ(frame, avail);
  int lo = 0, hi = kMaxJ + 1, passes = 0;
  bool fallback = false;
  for (;;) {
    if (j > kMaxJ) j = kMaxJ;  // the estimate can exceed the tables at tiny budgets
    SetGain(j - 1);
    overflow_ = false;
    uint32_t used = 0;
    for (int c = 0; c < channels_; ++c)
      if (frame.ch[c].coded) used += CountChannel(frame.ch[c]);
    ++passes;
    if (overflow_) used = 2 * budget_ - header;

    if (fallback) {
      if (used <= avail) return true;
      if (j >= kMaxJ) break;
      ++j;
      continue;
    }
    if (used > avail && j == hi - 1) {
      if (j >= kMaxJ) break;
      lo = j;
      j = j + 1;
      continue;
    }
    if (used <= avail && (used >= avail - avail / 4 || (j >= lo - 8 && j <= lo + 8))) return true;

    uint32_t ratio = static_cast<uint32_t>((uint64_t{used} * 256) / avail);
    int k = 0;
    while (k < 67 && kWmaGainStep[k] < ratio) ++k;
    if (used > avail) {
      lo = j;
    } else {
      hi = j;
    }
    j = j + k - 32;
    if (j <= lo) {
      j = lo + 1;
    } else if (j >= hi) {
      j = hi - 1;
    }
    if (passes >= kAdjustPasses) {
      // Out of adjusting passes. Giving up here would code the frame as silence although
      // it fits at some gain: take the lowest gain seen to fit, or else climb one step at
      // a time from the highest gain seen not to fit.
      fallback = true;
      j = hi <= kMaxJ ? hi : lo + 1;
    }
  }
  DropUnforced(frame);
  return false;
}

void WmaQuantizer::QuantiseForWriting(WmaChannel& ch) {
  const uint32_t step = kWmaQuantStep[gain_];
  const uint32_t half = step >> 1, big = step + (step >> 1);
  const uint32_t reciprocal = kWmaQuantReciprocal[gain_];
  int pairs = 0;
  int run = 0;
  for (int i = 0; i < kWmaCodedCoefs; ++i) {
    int32_t c = ch.coefs[i];
    uint32_t level = LevelOf(c, half, big, reciprocal);
    if (level == 0) {
      ++run;
      continue;
    }
    if (level > largestLevel_) level = largestLevel_;
    ch.runLevel[2 * pairs] = static_cast<uint16_t>(run);
    ch.runLevel[2 * pairs + 1] = static_cast<uint16_t>(level | (c > 0 ? 0x8000u : 0u));
    ++pairs;
    run = 0;
  }
  if (run > 0) {
    ch.runLevel[2 * pairs] = static_cast<uint16_t>(run);
    ch.runLevel[2 * pairs + 1] = 0;
    ++pairs;
  }
  ch.runLevelPairs = pairs;
}

void WmaQuantizer::WriteChannel(const WmaChannel& ch, WmaBitWriter& out) const {
  const WmaRunLevelSet& set = *ch.codeSet;
  for (int p = 0; p < ch.runLevelPairs; ++p) {
    uint32_t run = ch.runLevel[2 * p];
    uint32_t level = ch.runLevel[2 * p + 1] & 0x7FFFu;
    uint32_t positive = ch.runLevel[2 * p + 1] >> 15;
    if (level == 0) {
      out.Put(set.codes[1], set.lengths[1]);
    } else if (run < static_cast<uint32_t>(set.RunCount(level))) {
      int index = set.start[level + 1] + static_cast<int>(run);
      out.Put(set.codes[index], set.lengths[index]);
      out.Put(positive, 1);
    } else {
      out.Put(set.codes[0], set.lengths[0]);
      out.Put(level, levelBits_);
      out.Put(run, kRunBits);
      out.Put(positive, 1);
    }
  }
}

void WmaQuantizer::PutTotalGain(int g, WmaBitWriter& out) {
  assert(g >= 0);
  for (; g >= 127; g -= 127) out.Put(127, 7);
  out.Put(static_cast<uint32_t>(g), 7);
}

uint32_t WmaQuantizer::WriteFrame(WmaFrame& frame, WmaBitWriter& out) {
  const uint32_t start = out.BitCount();
  if (firstFrame_) {
    int width = rate32000_ ? 2 : 3;
    out.Put(0, width);
    out.Put(0, width);
    firstFrame_ = false;
  }
  out.Put(0, rate32000_ ? 2 : 3);
  if (channels_ == 2) {
    out.Put(static_cast<uint32_t>(frame.stereoMode), 1);
    out.Put(frame.ch[0].coded ? 1 : 0, 1);
    out.Put(frame.ch[1].coded ? 1 : 0, 1);
  } else {
    out.Put(frame.ch[0].coded ? 1 : 0, 1);
  }
  if (!frame.AnyCoded()) return out.BitCount() - start;

  PutTotalGain(gain_, out);
  for (int c = 0; c < channels_; ++c) {
    const WmaChannel& ch = frame.ch[c];
    if (!ch.coded) continue;
    int prev = 36;
    for (int i = 0; i < kWmaBands; ++i) {
      int d = ch.exponents[i] - prev + 60;
      out.Put(kWmaExponentCode[d], kWmaExponentLength[d]);
      prev = ch.exponents[i];
    }
  }
  for (int c = 0; c < channels_; ++c) {
    WmaChannel& ch = frame.ch[c];
    if (!ch.coded) continue;
    QuantiseForWriting(ch);
    WriteChannel(ch, out);
  }
  return out.BitCount() - start;
}
