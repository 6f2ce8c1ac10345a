// The analysed frame that the frame coder hands to the quantiser: stereo mode, and per
// channel the coded flag, 25 exponents and the normalised coefficients, plus the run-level
// list the quantiser leaves behind when it writes the channel.
//
// Plain data inside one encoder instance; touched only by that encoder's calls.
#pragma once

#include <cstdint>

#include "wma_tables.h"

inline constexpr int kWmaFrameLength = 2048;
inline constexpr int kWmaCodedCoefs = 1864;
inline constexpr int kWmaMaxChannels = 2;

struct WmaChannel {
  // The transform's work area, then the coefficients (the first 1864 are coded).
  int32_t coefs[kWmaFrameLength];
  int16_t exponents[kWmaBands];
  uint32_t scale[kWmaBands];
  uint32_t activity;
  bool coded;
  // Non-zero keeps the channel coded whatever its content (the priming frame).
  int forceCoded;
  const WmaRunLevelSet* codeSet;  // borrowed static table
  uint32_t countedBits;           // bits of the coefficients at the last count
  // (run, level | 0x8000 when positive) pairs of the last write; level 0 is the end of block.
  uint16_t runLevel[2 * (kWmaCodedCoefs + 1)];
  int runLevelPairs;
};

struct WmaFrame {
  int channels;    // 1 or 2
  int stereoMode;  // 1 mid/side, 0 left/right
  WmaChannel ch[kWmaMaxChannels];

  bool AnyCoded() const {
    for (int c = 0; c < channels; ++c)
      if (ch[c].coded) return true;
    return false;
  }
};
