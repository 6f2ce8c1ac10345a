#include "wma_bit_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Bits(const std::vector<uint8_t>& bytes, uint32_t count) {
  std::string s;
  for (uint32_t i = 0; i < count; ++i) s += ((bytes[i / 8] >> (7 - i % 8)) & 1) ? '1' : '0';
  return s;
}

TEST(WmaBitWriter, PacksFieldsMostSignificantBitFirstAcrossWords) {
  std::vector<uint8_t> buf(16, 0xEE);
  WmaBitWriter w(buf.data(), static_cast<uint32_t>(buf.size()));
  struct Field {
    uint32_t value;
    int bits;
  };
  const Field fields[] = {{0x5, 3}, {0x1, 1}, {0xABCDE, 20}, {0, 7}, {0xFFFFFFFF, 32},
                          {0x2, 2}, {0x12345678, 32}, {1, 1}};
  std::string expected;
  for (const auto& f : fields) {
    w.Put(f.value | (f.bits < 32 ? 0xF0000000u & ~((1u << f.bits) - 1) : 0), f.bits);
    for (int i = f.bits - 1; i >= 0; --i) expected += ((f.value >> i) & 1) ? '1' : '0';
  }
  w.Flush();
  ASSERT_EQ(w.BitCount(), expected.size());
  EXPECT_EQ(Bits(buf, w.BitCount()), expected);
  // The partial last byte is padded with zeros.
  EXPECT_EQ(buf[w.BitCount() / 8] & ((1u << (8 - w.BitCount() % 8)) - 1), 0u);
  EXPECT_FALSE(w.Overflowed());
}

TEST(WmaBitWriter, FlushMidwayLetsWritingContinueInThePartialByte) {
  std::vector<uint8_t> buf(8, 0);
  WmaBitWriter w(buf.data(), 8);
  w.Put(0x3, 2);
  w.Flush();
  EXPECT_EQ(buf[0], 0xC0);
  EXPECT_EQ(w.WholeBytes(), 0u);
  w.Put(0x3F, 6);
  w.Put(0x1, 3);
  w.Flush();
  EXPECT_EQ(buf[0], 0xFF);
  EXPECT_EQ(buf[1], 0x20);
  EXPECT_EQ(w.BitCount(), 11u);
  EXPECT_EQ(w.WholeBytes(), 1u);
}

TEST(WmaBitWriter, NeverWritesPastTheBufferAndReportsIt) {
  std::vector<uint8_t> buf(8, 0xAA);
  WmaBitWriter w(buf.data(), 4);
  w.Put(0, 32);
  EXPECT_FALSE(w.Overflowed());
  w.Put(0, 32);
  w.Flush();
  EXPECT_TRUE(w.Overflowed());
  for (int i = 4; i < 8; ++i) EXPECT_EQ(buf[i], 0xAA);
}

}  // namespace
