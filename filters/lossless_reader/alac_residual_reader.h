// ResidualReader: the adaptive Rice decoding of one channel's residuals, one at a time.
//
// The frame decoder makes one per channel over a copy of its bit reader, then either takes
// the n residuals with Next() into a buffer or hands the reader to the predictor, which takes
// each residual as soon as it is read: the two dependency chains, the Rice history's and the
// predictor's, then run side by side. Bits() gives back where reading stopped. Used on one
// thread, inside one decode_frame call.
//
// Per residual, with history h (32-bit, wrapping), k = min(31 - leading_zeros((h >> 9) + 3),
// k_modifier):
//   a unary prefix of up to nine 1 bits, ended by a 0 unless there are nine;
//   nine ones: the folded value follows raw at the channel's sample width;
//   fewer: x = ones x (2^k - 1), then k bits e: x += e - 1 when e > 1, and otherwise the last
//   bit read goes back to the stream;
//   x plus the sign modifier is the folded value (even: x / 2, odd: -(x + 1) / 2), and
//   h += x x m - ((h x m) >> 9) with the channel's history multiplier m;
//   x above 0xFFFF sets h to 0xFFFF; otherwise, before any residual but the last, h below 128
//   announces a run of zeros, coded the same way with k = leading_zeros(h) + ((h + 16) >> 6)
//   - 24 and a multiplier masked to k_modifier bits (nine ones: 16 raw bits); after a run the
//   sign modifier is 1 (0 for runs above 0xFFFF) and h is 0.
#pragma once

#include <cstdint>

#include "alac_bit_reader.h"

namespace lossless_reader {

class ResidualReader {
 public:
  ResidualReader(const AlacBitReader& bits, uint32_t n, int width, uint32_t history_mult, uint32_t initial_history,
                 uint32_t k_modifier)
      : bits_(bits),
        n_(n),
        width_(unsigned(width)),
        width_mask_(width >= 32 ? ~0u : (1u << width) - 1),
        history_mult_(history_mult),
        history_(initial_history),
        k_limit_(k_modifier),
        run_mask_(k_modifier >= 32 ? ~0u : (1u << k_modifier) - 1) {}

  // Residual i; to be called for i = 0 .. n - 1 in turn. After a zero run that claims more
  // residuals than are left, the rest are zeros, nothing more is read, and Failed() is true.
  //
  // Written for the chain that bounds it, history -> k -> e -> history: whatever does not need
  // e (the unary prefix, the decay of the history) is worked out beside it.
  [[gnu::always_inline]] int32_t Next(uint32_t i) {
    uint32_t sign_modifier = 0;
    if (pending_ != 0) [[unlikely]] {
      if (pending_ >= 2) {
        pending_ -= 2;
        return 0;
      }
      pending_ = 0;
      sign_modifier = 1;
    }
    // 31 - leading_zeros((h >> 9) + 3), the 3 added before the shift.
    uint32_t k = uint32_t(63 ^ __builtin_clzll(uint64_t{history_} + 1536)) - 9;
    if (k > k_limit_) k = k_limit_;
    const uint32_t decayed = history_ - ((history_ * history_mult_) >> 9);
    bits_.Refill();
    const uint64_t cache = bits_.Peek();
    // The low bit set keeps clz defined; it changes nothing, nine 1 bits being the most counted.
    const uint32_t ones = uint32_t(__builtin_clzll(~cache | 1));
    uint32_t x;
    if (ones < 9) [[likely]] {
      // The prefix's 0 and the k bits after it: e itself, the 0 being the top bit.
      const uint32_t e = uint32_t((cache << ones) >> (63 ^ k));
      bits_.Consume(ones + k + 1 - (e < 2));
      x = (ones << k) - ones + sign_modifier + e - (e != 0);
    } else {
      bits_.Consume(9);
      x = (bits_.Read(width_) & width_mask_) + sign_modifier;
    }
    history_ = decayed + x * history_mult_;
    if (x > 0xFFFF) {
      history_ = 0xFFFF;
    } else if (history_ < 128) [[unlikely]] {
      if (i + 1 < n_) ReadZeroRun(n_ - 1 - i);
    }
    return int32_t((x >> 1) ^ (0u - (x & 1)));
  }

  [[nodiscard]] bool Failed() const { return failed_; }
  [[nodiscard]] const AlacBitReader& Bits() const { return bits_; }

 private:
  [[gnu::always_inline]] void ReadZeroRun(uint32_t left) {
    const uint32_t k = uint32_t(history_ ? __builtin_clz(history_) : 32) + ((history_ + 16) >> 6) - 24;
    uint32_t run = bits_.ReadRiceCode(k, ((1u << k) - 1) & run_mask_);
    if (run == AlacBitReader::kEscape) run = bits_.Read(16);
    const uint32_t sign_modifier = run > 0xFFFF ? 0 : 1;
    if (run > left) {
      failed_ = true;
      run = left;
    }
    pending_ = 2 * run + sign_modifier;
    history_ = 0;
  }

  // A copy, so that the compiler can keep it in registers: stores to the sample buffers
  // might otherwise alias it.
  AlacBitReader bits_;
  uint32_t n_;
  // Twice the zeros of a run still to hand out, plus 1 while the sign modifier waits for the
  // value after them.
  uint32_t pending_ = 0;
  unsigned width_;
  uint32_t width_mask_;
  uint32_t history_mult_;
  uint32_t history_;
  uint32_t k_limit_;
  uint32_t run_mask_;
  bool failed_ = false;
};

}  // namespace lossless_reader
