// Test helper: writes bit fields most significant first, for hand-made ALAC frames.
#pragma once

#include <cstdint>
#include <vector>

namespace lossless_reader::test {

class BitWriter {
 public:
  // Appends the low `bits` bits of value (0 <= bits <= 32).
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) PutBit((value >> i) & 1);
  }
  size_t bit_count() const { return bits_; }
  // The bytes written so far, the last one padded with zero bits.
  std::vector<uint8_t> Bytes() const { return bytes_; }

 private:
  void PutBit(uint32_t bit) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= uint8_t(0x80 >> (bits_ % 8));
    ++bits_;
  }

  std::vector<uint8_t> bytes_;
  size_t bits_ = 0;
};

}  // namespace lossless_reader::test
