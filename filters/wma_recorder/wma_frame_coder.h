// Frame coder of the WMA version 2 encoder: turns one frame of 2048 samples per channel into
// one coded frame. It chooses the stereo representation (mid/side or left/right) and which
// channels are coded, windows and transforms each coded channel, derives the band exponents
// from band levels and a simple masking model, normalises the coefficients, and hands the
// frame to the quantiser (wma_quantizer.h), which fits it to the bit budget and writes it.
//
// Usage: Open() once per stream, then CodeFrame() per frame; the first frame after Open() is
// the priming frame, which codes silence with both channels forced. Integer arithmetic only;
// no allocation. One instance belongs to one encoder and is called from its thread only.
#pragma once

#include <cstdint>

#include "wma_bit_writer.h"
#include "wma_frame.h"
#include "wma_quantizer.h"

class WmaFrameCoder {
 public:
  // channels 1 or 2; sampleRate 44100 or 32000; actualBitrate picks the code sets; budget is
  // the frame's bit budget for the gain search.
  void Open(int channels, int sampleRate, uint32_t actualBitrate, uint32_t budget);

  // Codes one frame (right is ignored for mono) and appends it to `out`; returns its bits.
  uint32_t CodeFrame(const int16_t* left, const int16_t* right, WmaBitWriter& out);

  WmaQuantizer& Quantizer() { return quantizer_; }
  // The frame as last coded: stereo mode, coded flags, exponents.
  const WmaFrame& LastFrameForTesting() const { return frame_; }

 private:
  void Represent(const int16_t* left, const int16_t* right);
  void RepresentPriming();
  void Analyse(WmaChannel& ch) const;

  int channels_ = 2;
  const uint16_t* edges_ = nullptr;    // static band tables of the rate
  const uint16_t* offsets_ = nullptr;
  const WmaRunLevelSet* mainSet_ = nullptr;
  const WmaRunLevelSet* sideSet_ = nullptr;
  bool started_ = false;
  // Decision sums of the previous frame: mid, side, left, right.
  uint32_t prevSums_[4] = {};
  int16_t prevLeft_[kWmaFrameLength] = {};
  int16_t prevRight_[kWmaFrameLength] = {};
  // The current and previous frame in the frame's representation, per channel.
  int16_t cur_[kWmaMaxChannels][kWmaFrameLength] = {};
  int16_t prev_[kWmaMaxChannels][kWmaFrameLength] = {};
  WmaFrame frame_ = {};
  WmaQuantizer quantizer_;
};
