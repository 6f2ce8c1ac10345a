#include "asf_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "testsupport.h"

namespace {

using cehost::AsfAudioFormat;
using cehost::AsfWriter;

uint64_t Le(const std::vector<unsigned char>& d, size_t at, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | d.at(at + i);
  return v;
}

std::vector<uint8_t> Packet(uint32_t size, uint32_t send, uint16_t duration, uint32_t presentation) {
  std::vector<uint8_t> p(size, 0);
  const uint8_t head[] = {0x82, 0, 0, 0x08, 0x5D, 2};
  std::copy(std::begin(head), std::end(head), p.begin());
  for (int i = 0; i < 4; ++i) p[6 + i] = static_cast<uint8_t>(send >> (8 * i));
  p[10] = static_cast<uint8_t>(duration);
  p[11] = static_cast<uint8_t>(duration >> 8);
  for (int i = 0; i < 4; ++i) p[23 + i] = static_cast<uint8_t>(presentation >> (8 * i));
  return p;
}

AsfAudioFormat Format() {
  AsfAudioFormat f;
  f.avgBytesPerSec = 16002;
  f.blockAlign = 5945;
  f.samplesPerBlock = 16384;
  f.encodeOptions = 0x000F;
  f.superBlockAlign = 5945;
  return f;
}

TEST(AsfWriter, WritesHeaderObjectsAndFixesUpCountsOnClose) {
  cehost::test::TempDir dir;
  const uint32_t size = 5974;
  {
    AsfWriter w;
    ASSERT_TRUE(w.Open(dir / "a.wma", Format(), size, 1486)) << w.Error();
    ASSERT_TRUE(w.WritePacket(Packet(size, 0, 278, 1486).data(), size));
    ASSERT_TRUE(w.WritePacket(Packet(size, 278, 371, 1764).data(), size));
    ASSERT_TRUE(w.WritePacket(Packet(size, 649, 372, 2135).data(), size));
    ASSERT_TRUE(w.Close()) << w.Error();
  }
  auto d = cehost::test::ReadFileBytes(dir / "a.wma");
  ASSERT_EQ(d.size(), 286u + 50 + 3 * size);
  // Header Object GUID 75B22630-668E-11CF-A6D9-00AA0062CE6C, first groups little-endian.
  const unsigned char headerGuid[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  EXPECT_TRUE(std::equal(std::begin(headerGuid), std::end(headerGuid), d.begin()));
  struct Field {
    const char* name;
    size_t at;
    int bytes;
    uint64_t value;
  };
  const Field fields[] = {
      {"header size", 16, 8, 286},          {"header objects", 24, 4, 3},
      {"reserved", 28, 2, 0x0201},          {"file properties size", 46, 8, 104},
      {"file size", 70, 8, d.size()},       {"packet count", 86, 8, 3},
      {"play duration", 94, 8, (2135 + 372) * 10000ull},
      {"send duration", 102, 8, (649 + 372) * 10000ull},
      {"preroll", 110, 8, 1486},            {"flags", 118, 4, 2},
      {"min packet", 122, 4, size},         {"max packet", 126, 4, size},
      {"max bitrate", 130, 4, 128016},      {"stream properties size", 150, 8, 106},
      {"type-specific length", 198, 4, 28}, {"stream number", 206, 2, 1},
      {"format tag", 212, 2, 0x0161},       {"channels", 214, 2, 2},
      {"rate", 216, 4, 44100},              {"bytes per second", 220, 4, 16002},
      {"block align", 224, 2, 5945},        {"bits", 226, 2, 16},
      {"cbSize", 228, 2, 10},               {"samples per block", 230, 4, 16384},
      {"encode options", 234, 2, 0x000F},   {"super block align", 236, 4, 5945},
      {"extension size", 256, 8, 46},       {"extension reserved", 280, 2, 6},
      {"data size", 302, 8, 50 + 3 * size}, {"data packets", 326, 8, 3},
      {"data reserved", 334, 2, 0x0101},
  };
  for (const auto& f : fields) EXPECT_EQ(Le(d, f.at, f.bytes), f.value) << f.name;
  // The file id of the file properties and of the data object are the same.
  EXPECT_TRUE(std::equal(d.begin() + 54, d.begin() + 70, d.begin() + 310));
  EXPECT_EQ(d[336], 0x82);  // first packet follows the data object header
}

TEST(AsfWriter, RefusesPacketsOfAnotherLayoutOrSize) {
  cehost::test::TempDir dir;
  AsfWriter w;
  EXPECT_FALSE(w.WritePacket(Packet(100, 0, 1, 0).data(), 100));  // not open
  ASSERT_TRUE(w.Open(dir / "b.wma", Format(), 100, 0));
  EXPECT_FALSE(w.WritePacket(Packet(99, 0, 1, 0).data(), 99));
  auto odd = Packet(100, 0, 1, 0);
  odd[4] = 0x59;
  EXPECT_FALSE(w.WritePacket(odd.data(), 100));
  EXPECT_FALSE(w.WritePacket(nullptr, 100));
  EXPECT_TRUE(w.WritePacket(Packet(100, 0, 1, 0).data(), 100));
  EXPECT_TRUE(w.Close());
  EXPECT_EQ(cehost::test::ReadFileBytes(dir / "b.wma").size(), 286u + 50 + 100);
  EXPECT_FALSE(w.Open(dir / "missing-dir" / "c.wma", Format(), 100, 0));
}

}  // namespace
