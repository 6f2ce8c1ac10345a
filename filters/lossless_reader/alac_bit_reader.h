// AlacBitReader: the frame decoder's bounds-checked bit reader.
//
// Bits are taken most significant first. The next bits wait in a 64-bit cache that is topped up
// eight bytes at a time, so that a code is read without going back to memory. Reads past the
// end of the frame yield zero bits and advance the position as usual, so a corrupt frame cannot
// make the decoder touch memory outside it; Overrun() then tells the decoder that what it read
// was not all in the frame. Used on one thread, inside one decode_frame call.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lossless_reader {

static_assert(std::endian::native == std::endian::little, "Refill() loads big-endian words by swapping");

class AlacBitReader {
 public:
  AlacBitReader(const uint8_t* data, size_t size)
      : data_(data), size_(size), next_(data), loadable_end_(data + (size >= 8 ? size - 7 : 0)) {}

  // The next n bits (0 <= n <= 32) as an unsigned value; 0 for n = 0.
  [[nodiscard, gnu::always_inline]] uint32_t Read(unsigned n) {
    Refill();
    const uint32_t v = n ? uint32_t(cache_ >> (64 - n)) : 0;
    Consume(n);
    return v;
  }

  // One adaptive Rice code: a unary prefix of `ones` 1 bits (at most 8) and its 0, then k bits
  // e (0 <= k <= 23); the value is ones x multiplier + e - 1 when e > 1, else ones x multiplier
  // with the last bit given back (which for k = 1 leaves the prefix alone, and for k = 0 gives
  // back the prefix's 0). Returns kEscape, having consumed the nine 1 bits, when the prefix
  // reaches nine.
  static constexpr uint32_t kEscape = ~0u;
  [[nodiscard, gnu::always_inline]] uint32_t ReadRiceCode(unsigned k, uint32_t multiplier) {
    Refill();
    // The low bit set keeps clz defined; it changes nothing, nine 1 bits being the most counted.
    const unsigned ones = unsigned(__builtin_clzll(~cache_ | 1));
    if (ones >= 9) [[unlikely]] {
      Consume(9);
      return kEscape;
    }
    // Two shifts instead of one by 64 - k keep k = 0 defined (e = 0).
    const uint64_t after_prefix = cache_ << ones << 1;
    const uint32_t e = uint32_t((after_prefix >> 1) >> (63 - k));
    const unsigned big = e > 1;
    Consume(ones + k + big);  // e of 0 or 1 gives its last bit back
    return ones * multiplier + (big ? e - 1 : 0);
  }

  // Makes at least 56 bits wait in the cache (zeros past the end of the frame). The bits
  // below count_ are always either zero or the frame's own, so loading a byte twice is harmless.
  [[gnu::always_inline]] void Refill() {
    if (next_ < loadable_end_) [[likely]] {
      uint64_t w;
      std::memcpy(&w, next_, 8);
      cache_ |= __builtin_bswap64(w) >> count_;
      next_ += 7 - (count_ >> 3);  // the whole bytes that fitted
      count_ |= 56;
      return;
    }
    RefillNearEnd();
  }

  // Drops n bits (n <= 32, and at most the bits waiting).
  [[gnu::always_inline]] void Consume(unsigned n) {
    cache_ <<= n;
    count_ -= n;
  }

  // The waiting bits, the next one most significant: after Refill(), at least 56 of them.
  [[nodiscard]] uint64_t Peek() const { return cache_; }

  // True once the position lies beyond the frame's last bit.
  [[nodiscard]] bool Overrun() const { return Position() > uint64_t{size_} * 8; }

  [[nodiscard]] size_t BytePosition() const {
    const uint64_t byte = Position() >> 3;
    return byte < size_ ? size_t(byte) : size_;
  }
  [[nodiscard]] int BitPosition() const { return int(Position() & 7); }

 private:
  uint64_t Position() const { return (uint64_t(next_ - data_) + zeros_past_end_) * 8 - count_; }

  // Byte by byte, then zeros past the end of the frame.
  [[gnu::always_inline]] void RefillNearEnd() {
    const uint8_t* end = data_ + size_;
    while (count_ <= 56) {
      if (next_ < end) {
        cache_ |= uint64_t{*next_++} << (56 - count_);
      } else {
        ++zeros_past_end_;
      }
      count_ += 8;
    }
  }

  const uint8_t* data_;  // borrowed for the decode call
  size_t size_;
  const uint8_t* next_;  // the next byte to enter the cache
  const uint8_t* loadable_end_;  // eight bytes can be loaded from below here
  uint64_t zeros_past_end_ = 0;  // zero bytes that entered the cache after the last one
  uint64_t cache_ = 0;   // waiting bits, the next one most significant
  unsigned count_ = 0;   // how many bits of cache_ are waiting
};

}  // namespace lossless_reader
