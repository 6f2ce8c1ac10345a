// The byte source under the container reader: big-endian values, the sticky end-of-file
// flag, and moving around in files and pipes.
#include "file_stream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace lossless_reader {
namespace {

TEST(FileStream, ReadsBigEndianValuesAndFlagsTheEnd) {
  std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 0xFE, 0xFF};
  FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
  FileStream s;
  stream_init(&s, f);
  EXPECT_EQ(stream_read_u32(&s), 0x01020304u);
  EXPECT_EQ(stream_read_u16(&s), 0x0506u);
  EXPECT_EQ(stream_read_u8(&s), 7u);
  uint8_t two[3] = {0, 0, 0xAA};
  stream_read(&s, 2, two);
  EXPECT_EQ(two[0], 0xFE);
  EXPECT_EQ(two[1], 0xFF);
  EXPECT_EQ(two[2], 0xAA);
  stream_read(&s, 0, two);
  EXPECT_EQ(stream_eof(&s), 0) << "asking for nothing is not the end";
  EXPECT_EQ(stream_read_u32(&s), 0u);
  EXPECT_EQ(stream_eof(&s), 1);
  // The flag stays set after moving back, until the stream is bound again.
  ASSERT_EQ(stream_set_position(&s, 2), 0);
  EXPECT_EQ(stream_read_u8(&s), 3u);
  EXPECT_EQ(stream_eof(&s), 1);
  stream_init(&s, f);
  EXPECT_EQ(stream_eof(&s), 0);
  stream_skip(&s, -2);
  EXPECT_EQ(stream_tell(&s), 1);
  EXPECT_NE(stream_set_position(&s, -1), 0);
  EXPECT_EQ(stream_tell(&s), 1);
  std::fclose(f);
}

TEST(FileStream, PipesCannotTellButSkipForward) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const uint8_t bytes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_EQ(write(fds[1], bytes, sizeof(bytes)), ssize_t(sizeof(bytes)));
  close(fds[1]);
  FILE* f = fdopen(fds[0], "rb");
  FileStream s;
  stream_init(&s, f);
  EXPECT_EQ(stream_read_u8(&s), 0u);
  EXPECT_EQ(stream_tell(&s), -1);
  EXPECT_NE(stream_set_position(&s, 0), 0);
  stream_skip(&s, 6);
  EXPECT_EQ(stream_read_u8(&s), 7u);
  stream_skip(&s, 10);  // past the end: nothing left, eof untouched until the next read
  EXPECT_EQ(stream_eof(&s), 0);
  EXPECT_EQ(stream_read_u8(&s), 0u);
  EXPECT_EQ(stream_eof(&s), 1);
  std::fclose(f);
}

}  // namespace
}  // namespace lossless_reader
