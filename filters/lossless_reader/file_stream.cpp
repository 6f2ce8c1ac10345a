#include "file_stream.h"

#include <sys/types.h>

namespace lossless_reader {

void stream_init(FileStream* stream, FILE* file) {
  stream->file = file;
  stream->eof = 0;
}

void stream_read(FileStream* stream, uint32_t n, void* buffer) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  const size_t units = n / 4;
  const size_t rest = n % 4;
  size_t got = 0;
  if (units) got += std::fread(bytes, 4, units, stream->file);
  if (rest) got += std::fread(bytes + units * 4, 1, rest, stream->file);
  if (got == 0 && n != 0) stream->eof = 1;
}

uint32_t stream_read_u32(FileStream* stream) {
  unsigned char b[4] = {0, 0, 0, 0};
  stream_read(stream, 4, b);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

uint16_t stream_read_u16(FileStream* stream) {
  unsigned char b[2] = {0, 0};
  stream_read(stream, 2, b);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint8_t stream_read_u8(FileStream* stream) {
  unsigned char b = 0;
  stream_read(stream, 1, &b);
  return b;
}

void stream_skip(FileStream* stream, int64_t n) {
  if (n == 0) return;
  if (fseeko(stream->file, static_cast<off_t>(n), SEEK_CUR) == 0) return;
  if (n < 0) return;
  // A pipe cannot seek; reading the bytes moves it forward all the same.
  unsigned char scratch[4096];
  while (n > 0) {
    const size_t chunk = n < static_cast<int64_t>(sizeof(scratch)) ? static_cast<size_t>(n) : sizeof(scratch);
    const size_t got = std::fread(scratch, 1, chunk, stream->file);
    if (got == 0) return;
    n -= static_cast<int64_t>(got);
  }
}

int64_t stream_tell(FileStream* stream) {
  return static_cast<int64_t>(ftello(stream->file));
}

int stream_set_position(FileStream* stream, int64_t position) {
  if (position < 0) return -1;
  return fseeko(stream->file, static_cast<off_t>(position), SEEK_SET) == 0 ? 0 : -1;
}

int stream_eof(const FileStream* stream) { return stream->eof; }

}  // namespace lossless_reader
