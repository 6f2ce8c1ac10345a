// FileStream: the container reader's sequential byte source over a C file handle.
//
// The source filter opens the file ("rb"), binds it with stream_init, and from then on every
// read of the container and of the compressed frames goes through these functions. Values
// are big-endian, as everywhere in the container. A read that obtains no byte at all sets
// `eof`, which stays set until the next stream_init; a value read at end of file is 0.
// Not thread-safe: one thread at a time uses a stream (the filter keeps loading, streaming
// and seeking apart).
#pragma once

#include <cstdint>
#include <cstdio>

namespace lossless_reader {

struct FileStream {
  FILE* file;  // borrowed: opened and closed by the owner of the stream
  int eof;     // 1 once a read obtained nothing; cleared only by stream_init
};

void stream_init(FileStream* stream, FILE* file);

// Reads n bytes into buffer (which holds at least n): first n/4 units of 4 bytes, then the
// remaining bytes one by one. Sets eof when nothing at all was obtained and n is not 0.
// Bytes that could not be read are left as they were in buffer.
void stream_read(FileStream* stream, uint32_t n, void* buffer);

[[nodiscard]] uint32_t stream_read_u32(FileStream* stream);
[[nodiscard]] uint16_t stream_read_u16(FileStream* stream);
[[nodiscard]] uint8_t stream_read_u8(FileStream* stream);

// Moves by n bytes (n may be negative). Forward skips also work on a stream that cannot
// seek (a pipe): the bytes are then read and dropped. Does not touch eof.
void stream_skip(FileStream* stream, int64_t n);

// The current position, or -1 when the stream cannot tell it.
[[nodiscard]] int64_t stream_tell(FileStream* stream);

// Moves to an absolute position; 0 on success, non-zero on failure (negative position,
// unseekable stream).
[[nodiscard]] int stream_set_position(FileStream* stream, int64_t position);

[[nodiscard]] int stream_eof(const FileStream* stream);

}  // namespace lossless_reader
