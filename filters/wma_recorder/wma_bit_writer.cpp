#include "wma_bit_writer.h"

#include <cassert>

void WmaBitWriter::Put(uint32_t value, int bits) {
  assert(bits >= 1 && bits <= 32);
  uint64_t field = bits == 32 ? value : (value & ((1u << bits) - 1));
  acc_ = (acc_ << bits) | field;
  pending_ += bits;
  if (pending_ >= 32) {
    pending_ -= 32;
    Store(static_cast<uint32_t>(acc_ >> pending_));
    acc_ &= (uint64_t{1} << pending_) - 1;
  }
}

void WmaBitWriter::Store(uint32_t word) {
  if (stored_ + 4 > capacity_) {
    overflow_ = true;
    stored_ += 4;  // keep counting, so the caller sees how far past the end it went
    return;
  }
  uint8_t* p = buffer_ + stored_;
  p[0] = static_cast<uint8_t>(word >> 24);
  p[1] = static_cast<uint8_t>(word >> 16);
  p[2] = static_cast<uint8_t>(word >> 8);
  p[3] = static_cast<uint8_t>(word);
  stored_ += 4;
}

void WmaBitWriter::Flush() {
  if (pending_ == 0) return;
  uint32_t bytes = (pending_ + 7) / 8;
  if (stored_ + bytes > capacity_) {
    overflow_ = true;
    return;
  }
  // Left-align the pending bits in a 32-bit word and store only the bytes they touch.
  uint32_t word = static_cast<uint32_t>(acc_ << (32 - pending_));
  for (uint32_t i = 0; i < bytes; ++i) buffer_[stored_ + i] = static_cast<uint8_t>(word >> (24 - 8 * i));
}
