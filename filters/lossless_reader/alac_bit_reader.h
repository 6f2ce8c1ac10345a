// AlacBitReader: the frame decoder's bounds-checked bit reader.
//
// Bits are taken most significant first. Reads past the end of the frame yield zero bits and
// advance the position as usual, so a corrupt frame cannot make the decoder touch memory
// outside it; Overrun() then tells the decoder that what it read was not all in the frame.
// Used on one thread, inside one decode_frame call.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lossless_reader {

static_assert(std::endian::native == std::endian::little, "Window() loads big-endian words by swapping");

class AlacBitReader {
 public:
  AlacBitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // The next n bits (0 <= n <= 32) as an unsigned value; 0 for n = 0.
  [[nodiscard]] uint32_t Read(unsigned n) {
    const uint32_t v = n ? uint32_t(Window() >> (64 - n)) : 0;
    pos_ += n;
    return v;
  }

  // A unary prefix of at most nine 1 bits: stops after the first 0 bit (consumed) or after the
  // ninth 1 bit (nothing more consumed). Returns the count of 1 bits.
  [[nodiscard]] uint32_t ReadOnes9() {
    const uint64_t inverted = ~Window();
    const unsigned ones = inverted == 0 ? 64u : unsigned(__builtin_clzll(inverted));
    if (ones >= 9) {
      pos_ += 9;
      return 9;
    }
    pos_ += ones + 1;
    return ones;
  }

  // Steps back one bit (never before the start).
  void Unread() {
    if (pos_) --pos_;
  }

  // True once the position lies beyond the frame's last bit.
  [[nodiscard]] bool Overrun() const { return pos_ > uint64_t{size_} * 8; }

  [[nodiscard]] size_t BytePosition() const { return size_t(pos_ >> 3) < size_ ? size_t(pos_ >> 3) : size_; }
  [[nodiscard]] int BitPosition() const { return int(pos_ & 7); }

 private:
  // The 64 bits from the current position on (at least 57 of them meaningful), zero past the
  // end of the frame.
  uint64_t Window() const {
    const uint64_t byte = pos_ >> 3;
    uint64_t w;
    if (byte + 8 <= size_) {
      std::memcpy(&w, data_ + byte, 8);
      w = __builtin_bswap64(w);
    } else {
      w = 0;
      for (unsigned i = 0; i < 8; ++i) {
        w <<= 8;
        if (byte + i < size_) w |= data_[byte + i];
      }
    }
    return w << (pos_ & 7);
  }

  const uint8_t* data_;  // borrowed for the decode call
  size_t size_;
  uint64_t pos_ = 0;  // in bits from data_
};

}  // namespace lossless_reader
