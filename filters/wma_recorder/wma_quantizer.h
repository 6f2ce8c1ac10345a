// Gain search, quantisation and frame writing of the WMA version 2 encoder. Given an analysed
// frame (wma_frame.h), finds the total gain at which its coded channels fit the frame's bit
// budget, quantises the coefficients and writes the frame syntax:
//
//   bits                    field
//   6 (4 at 32000 Hz)       first frame of a superframe only: two block-length codes, 0
//   3 (2 at 32000 Hz)       next block-length code, 0
//   1 | 3                   mono: coded flag; stereo: stereo mode, coded 0, coded 1
//   7 x (g / 127 + 1)       total gain g: g / 127 fields of 127, then g % 127 (only when a
//                           channel is coded, like everything below)
//   25 codes per channel    exponent differences, e[-1] = 36
//   per channel             run-level codes, sign bit 1 = positive; escape: code, level in
//                           "level bits", run in 11 bits, sign; end-of-block code when zeros
//                           remain before coefficient 1864
//
// Owned by one encoder; its calls come from that encoder's thread only.
#pragma once

#include <cstdint>

#include "wma_bit_writer.h"
#include "wma_frame.h"

class WmaQuantizer {
 public:
  // Width of an escaped run: a run is below 2048.
  static constexpr int kRunBits = 11;
  // Highest j (= g + 1) tried, so that g stays within the step and reciprocal tables.
  static constexpr int kMaxJ = kWmaGainTableSize;
  // Counting passes that adjust the gain by the ratio of used to available bits.
  static constexpr int kAdjustPasses = 6;

  // channels 1 or 2; rate32000 selects the shorter block-length codes; budget in bits.
  void Open(int channels, bool rate32000, uint32_t budget);

  // Set at each superframe start: the next frame written carries the two extra codes.
  void SetFirstFrame() { firstFrame_ = true; }
  bool FirstFrame() const { return firstFrame_; }

  // Bits the frame syntax needs before the coefficients, with the current gain.
  uint32_t CountHeader(const WmaFrame& frame) const;

  // Chooses the gain: an estimate from the coefficients' magnitude, then up to
  // kAdjustPasses counting passes that accept a gain using 3/4 of the available bits or
  // more (or one within 8 of the highest gain seen not to fit), then the lowest gain seen
  // to fit. When no gain up to kMaxJ - 1 fits, clears the coded flag of every channel that
  // is not forced and returns false.
  bool SearchGain(WmaFrame& frame);

  // Writes the frame at the current gain; returns the number of bits written.
  uint32_t WriteFrame(WmaFrame& frame, WmaBitWriter& out);

  // Writes total gain g as g / 127 fields of 127 and a last field g % 127, 7 bits each.
  static void PutTotalGain(int g, WmaBitWriter& out);

  int Gain() const { return gain_; }
  int LevelBits() const { return levelBits_; }
  uint32_t LargestLevel() const { return largestLevel_; }
  uint32_t Budget() const { return budget_; }

  // Sets g (and the level width of g + 1) directly.
  void SetGainForTesting(int g) { SetGain(g); }
  // Bits of one channel's coefficients at the current gain (the counting walk).
  uint32_t CountChannelForTesting(WmaChannel& channel) { return CountChannel(channel); }

 private:
  void SetGain(int g);
  uint32_t CountChannel(WmaChannel& channel);
  void QuantiseForWriting(WmaChannel& channel);
  void WriteChannel(const WmaChannel& channel, WmaBitWriter& out) const;
  int InitialJ(const WmaFrame& frame, uint32_t avail) const;
  void DropUnforced(WmaFrame& frame) const;

  int channels_ = 2;
  bool rate32000_ = false;
  uint32_t budget_ = 0;
  int gain_ = 63;
  int levelBits_ = 9;
  uint32_t largestLevel_ = 511;
  bool firstFrame_ = true;
  bool overflow_ = false;
};
