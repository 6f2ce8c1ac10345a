// The WAV header parser: the layouts it accepts, and a table of damaged or foreign headers
// it refuses without reading outside the bytes it has.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_byte_source.h"
#include "wav_parser.h"

namespace {

using cehost::MemoryByteSource;
using cehost::ParseWav;
using cehost::WavInfo;

struct Bytes {
  std::vector<uint8_t> b;
  Bytes& Text(const char* t) {
    for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(t[i]));
    return *this;
  }
  Bytes& U16(uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  Bytes& U32(uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& U64(uint64_t v) { return U32(static_cast<uint32_t>(v)).U32(static_cast<uint32_t>(v >> 32)); }
  Bytes& Zeros(size_t n) {
    b.resize(b.size() + n, 0);
    return *this;
  }
  Bytes& Raw(std::initializer_list<uint8_t> bytes) {
    for (uint8_t v : bytes) b.push_back(v);
    return *this;
  }
  Bytes& Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint32_t size = 16) {
    const uint16_t block = static_cast<uint16_t>(channels * bits / 8);
    Text("fmt ").U32(size).U16(tag).U16(channels).U32(rate).U32(rate * block).U16(block).U16(bits);
    return Zeros(size - 16);
  }
};

Bytes Riff() {
  Bytes b;
  b.Text("RIFF").U32(0).Text("WAVE");
  return b;
}

HRESULT Parse(const Bytes& bytes, WavInfo* info, std::string* why = nullptr) {
  MemoryByteSource source(bytes.b.data(), bytes.b.size());
  return ParseWav(source, info, why);
}

TEST(WavParser, PlainFileWithOtherChunksAround) {
  Bytes b = Riff();
  b.Text("LIST").U32(3).Zeros(4);  // odd size: one pad byte follows
  b.Fmt(1, 2, 44100, 16);
  b.Text("data").U32(10).Zeros(10);  // 2.5 frames: the partial one is not counted
  b.Text("junk").U32(4).Zeros(4);
  WavInfo info;
  ASSERT_EQ(Parse(b, &info), S_OK);
  EXPECT_EQ(info.format.nChannels, 2);
  EXPECT_EQ(info.format.nSamplesPerSec, 44100u);
  EXPECT_EQ(info.dataOffset, 12u + 8 + 4 + 24 + 8);
  EXPECT_EQ(info.dataBytes, 8u);
  EXPECT_EQ(info.Frames(), 2u);
}

TEST(WavParser, DataBeforeFormatAndExtensiblePcm) {
  Bytes b = Riff();
  b.Text("data").U32(6).Zeros(6);
  b.Text("fmt ").U32(40).U16(0xFFFE).U16(3).U32(48000).U32(48000 * 9).U16(9).U16(24).U16(22).U16(24).U32(7);
  b.U32(0x00000001).U16(0x0000).U16(0x0010).Raw({0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
  WavInfo info;
  ASSERT_EQ(Parse(b, &info), S_OK);
  EXPECT_EQ(info.format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(info.format.nChannels, 3);
  EXPECT_EQ(info.format.wBitsPerSample, 24);
  EXPECT_EQ(info.dataOffset, 20u);
  EXPECT_EQ(info.dataBytes, 0u);  // 6 bytes: less than one 9-byte frame
}

TEST(WavParser, SizesBeyondTheFileMeanToTheEnd) {
  Bytes b = Riff();
  b.Fmt(1, 1, 8000, 16);
  b.Text("data").U32(0xFFFFFFFF).Zeros(100);
  WavInfo info;
  ASSERT_EQ(Parse(b, &info), S_OK);
  EXPECT_EQ(info.dataBytes, 100u);

  // RF64: the data size comes from ds64.
  Bytes r;
  r.Text("RF64").U32(0xFFFFFFFF).Text("WAVE");
  r.Text("ds64").U32(28).U64(0).U64(64).U64(0).U32(0);
  r.Fmt(1, 2, 48000, 16);
  r.Text("data").U32(0xFFFFFFFF).Zeros(100);
  ASSERT_EQ(Parse(r, &info), S_OK);
  EXPECT_EQ(info.dataBytes, 64u);
}

TEST(WavParser, RefusesDamagedAndForeignFiles) {
  struct Case {
    const char* name;
    Bytes bytes;
    HRESULT hr;
    const char* why;
  };
  auto withFmt = [](uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b = Riff();
    b.Fmt(tag, channels, rate, bits);
    b.Text("data").U32(4).Zeros(4);
    return b;
  };
  Bytes shortFmt = Riff();
  shortFmt.Text("fmt ").U32(14).Zeros(14).Text("data").U32(0);
  Bytes truncatedFmt = Riff();
  truncatedFmt.Text("fmt ").U32(16).Zeros(8);
  Bytes noData = Riff();
  noData.Fmt(1, 1, 8000, 16);
  Bytes badBlock = withFmt(1, 2, 8000, 16);
  badBlock.b[12 + 8 + 12] = 3;  // nBlockAlign
  Bytes rf64NoDs64;
  rf64NoDs64.Text("RF64").U32(0xFFFFFFFF).Text("WAVE").Fmt(1, 1, 8000, 16).Text("data").U32(0xFFFFFFFF);
  Bytes extensibleFloat = Riff();
  extensibleFloat.Text("fmt ").U32(40).U16(0xFFFE).U16(1).U32(8000).U32(32000).U16(4).U16(32).U16(22).U16(32);
  extensibleFloat.U32(4).U32(3).U16(0).U16(0x10).Raw({0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
  extensibleFloat.Text("data").U32(0);
  Bytes hugeChunk = Riff();
  hugeChunk.Text("LIST").U32(0xFFFFFFF0);

  const Case cases[] = {
      {"empty", Bytes{}, VFW_E_INVALID_FILE_FORMAT, "shorter than a WAV header"},
      {"not RIFF", Bytes{}.Text("RIFX").U32(0).Text("WAVE"), VFW_E_INVALID_FILE_FORMAT, "not a RIFF WAVE file"},
      {"not WAVE", Bytes{}.Text("RIFF").U32(0).Text("AVI "), VFW_E_INVALID_FILE_FORMAT, "not a RIFF WAVE file"},
      {"no chunks", Riff(), VFW_E_INVALID_FILE_FORMAT, "no fmt chunk"},
      {"fmt under 16 bytes", shortFmt, VFW_E_INVALID_FILE_FORMAT, "fmt chunk shorter than 16 bytes"},
      {"fmt cut off", truncatedFmt, VFW_E_INVALID_FILE_FORMAT, "truncated fmt chunk"},
      {"no data", noData, VFW_E_INVALID_FILE_FORMAT, "no data chunk"},
      {"chunk past the end", hugeChunk, VFW_E_INVALID_FILE_FORMAT, "no fmt chunk"},
      {"IEEE float", withFmt(3, 1, 8000, 32), VFW_E_UNSUPPORTED_STREAM, "not PCM"},
      {"extensible float", extensibleFloat, VFW_E_UNSUPPORTED_STREAM, "not PCM"},
      {"no channels", withFmt(1, 0, 8000, 16), VFW_E_INVALID_FILE_FORMAT, "inconsistent PCM format"},
      {"rate 0", withFmt(1, 1, 0, 16), VFW_E_INVALID_FILE_FORMAT, "inconsistent PCM format"},
      {"12 bits", withFmt(1, 1, 8000, 12), VFW_E_INVALID_FILE_FORMAT, "inconsistent PCM format"},
      {"block align", badBlock, VFW_E_INVALID_FILE_FORMAT, "inconsistent PCM format"},
      {"RF64 without ds64", rf64NoDs64, VFW_E_INVALID_FILE_FORMAT, "RF64 without ds64 chunk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WavInfo info;
    std::string why;
    EXPECT_EQ(Parse(c.bytes, &info, &why), c.hr);
    EXPECT_EQ(why, c.why);
  }
}

}  // namespace
