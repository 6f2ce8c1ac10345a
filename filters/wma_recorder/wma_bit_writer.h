// Bit writer of the WMA encoder: packs fields most significant bit first into consecutive
// bytes of a caller-owned buffer (the bit buffer of one superframe). Frames follow each other
// without byte alignment, so one writer lives for a whole superframe and each frame simply
// continues at the bit after the previous one.
//
// Used by the frame writer and the superframe header on the encoder's thread; an instance
// belongs to one encoder and is not shared between threads.
#pragma once

#include <cstdint>

class WmaBitWriter {
 public:
  // buffer is borrowed for the writer's lifetime; capacity in bytes.
  WmaBitWriter(uint8_t* buffer, uint32_t capacity) : buffer_(buffer), capacity_(capacity) {}

  // Back to bit 0 of the buffer, overflow flag cleared.
  void Reset() {
    acc_ = 0;
    pending_ = 0;
    stored_ = 0;
    overflow_ = false;
  }

  // Appends the low `bits` bits of value, 1 <= bits <= 32.
  void Put(uint32_t value, int bits);

  // Stores the bits still in the accumulator (the last byte zero-padded) so that
  // WholeBytes()/the partial byte can be read; writing may continue afterwards.
  void Flush();

  uint32_t BitCount() const { return stored_ * 8 + pending_; }
  // Bytes whose 8 bits are all written.
  uint32_t WholeBytes() const { return BitCount() / 8; }
  // A field did not fit the buffer; the bits past the end were dropped.
  bool Overflowed() const { return overflow_; }

 private:
  void Store(uint32_t word);

  uint8_t* buffer_;
  uint32_t capacity_;
  uint64_t acc_ = 0;      // pending bits in the low `pending_` bits
  int pending_ = 0;       // 0..31
  uint32_t stored_ = 0;   // bytes stored in whole 32-bit words
  bool overflow_ = false;
};
