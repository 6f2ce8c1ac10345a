// The header of a PCM WAV file: where its samples are and what they are.
//
// File layout (all numbers little-endian):
//
//   Offset  Size  Field
//   0       4     "RIFF", or "RF64" for files of 4 GiB and more
//   4       4     bytes after this field (RF64: 0xFFFFFFFF, the real size is in "ds64")
//   8       4     "WAVE"
//   12      ...   chunks, each: id (4 bytes), size n (4 bytes), n bytes, one pad byte if n is odd
//
//   "ds64" (RF64 only, the first chunk):
//   0       8     RIFF size
//   8       8     data chunk size (used when the data chunk's own size is 0xFFFFFFFF)
//   16      8     sample count
//   24      4     table length (entries follow; ignored)
//
//   "fmt " (at least 16 bytes):
//   0       2     format tag: 1 (PCM), or 0xFFFE (extensible) with a PCM sub-format
//   2       2     channels
//   4       4     samples per second
//   8       4     average bytes per second
//   12      2     block align (bytes per frame)
//   14      2     bits per sample
//   16      2     size of the extension (tag 0xFFFE: at least 22)
//   18      2     valid bits per sample (extensible)
//   20      4     channel mask (extensible)
//   24      16    sub-format GUID (extensible: KSDATAFORMAT_SUBTYPE_PCM)
//
//   "data": the frames. A size beyond the end of the file (a file whose writer never fixed
//   its sizes, 0xFFFFFFFF in a streamed RIFF) means "to the end of the file". A trailing
//   partial frame is not counted.
//
// Other chunks are skipped. Every read is bounds-checked against the source's size.
//
// Threads: a parse uses only its arguments.
#pragma once

#include <cstdint>
#include <string>

#include "mmreg.h"
#include "vfwmsgs.h"

namespace cehost {

// Random access to the bytes of a file (or of a buffer, for tests and fuzzing).
class WavByteSource {
 public:
  virtual ~WavByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly n bytes at offset; false when they are not all there.
  [[nodiscard]] virtual bool ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

struct WavInfo {
  WAVEFORMATEX format{};    // a valid PCM format (tag 1, cbSize 0)
  uint64_t dataOffset = 0;  // file offset of the first frame
  uint64_t dataBytes = 0;   // whole frames only
  uint64_t Frames() const { return dataBytes / format.nBlockAlign; }
};

// S_OK with *info filled; VFW_E_INVALID_FILE_FORMAT for a damaged or foreign file,
// VFW_E_UNSUPPORTED_STREAM for a WAV file that does not hold PCM. *why (when given)
// receives a short reason for a failure.
[[nodiscard]] HRESULT ParseWav(WavByteSource& source, WavInfo* info, std::string* why = nullptr);

}  // namespace cehost
