// A WavByteSource over bytes in memory (tests and fuzzing); the size may be declared larger
// than the bytes held, as for a file whose tail was never read.
#pragma once

#include <cstring>

#include "wav_parser.h"

namespace cehost {

class MemoryByteSource : public WavByteSource {
 public:
  MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    if (n) std::memcpy(buffer, data_ + offset, n);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace cehost
