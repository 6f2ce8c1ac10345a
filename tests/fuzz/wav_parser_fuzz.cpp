// The WAV header parser on arbitrary bytes: it must answer, never read outside the input.
#include <cstdint>

#include "memory_byte_source.h"
#include "wav_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cehost::MemoryByteSource source(data, size);
  cehost::WavInfo info;
  if (SUCCEEDED(cehost::ParseWav(source, &info))) {
    // What it found lies inside the input.
    if (info.dataOffset > size || info.dataBytes > size - info.dataOffset) __builtin_trap();
    if (info.format.nBlockAlign == 0 || info.dataBytes % info.format.nBlockAlign != 0) __builtin_trap();
  }
  return 0;
}
