// Published values of MD4, MD5, HMAC-MD5, the LM form of DES and RC4.
#include "cryptlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Hex(const std::string& hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const unsigned char* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 15]);
  }
  return s;
}

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// Hashes `text` fed in pieces of `piece` bytes, so the running state is exercised.
template <typename Ctx, void (*Init)(Ctx*), void (*Update)(Ctx*, const unsigned char*, unsigned int),
          void (*Final)(Ctx*)>
std::string Hash(const std::string& text, size_t piece) {
  Ctx ctx;
  Init(&ctx);
  for (size_t at = 0; at < text.size(); at += piece)
    Update(&ctx, Bytes(text) + at, static_cast<unsigned int>(std::min(piece, text.size() - at)));
  Final(&ctx);
  return ToHex(ctx.digest, 16);
}

TEST(Hashes, PublishedDigestsWholeAndInPieces) {
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
  const struct {
    std::string text, md4, md5;
  } cases[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d", "900150983cd24fb0d6963f7d28e17f72"},
      {alphabet, "d79e1c308aa5bbcdeea8ed63df412da9", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "e33b4ddc9c38f2199c3e7b164fcc0536", "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1000}}) {
      EXPECT_EQ((Hash<MD4_CTX, MD4Init, MD4Update, MD4Final>(c.text, piece)), c.md4) << c.text << " / " << piece;
      EXPECT_EQ((Hash<MD5_CTX, MD5Init, MD5Update, MD5Final>(c.text, piece)), c.md5) << c.text << " / " << piece;
    }
  }
}

TEST(Hashes, HmacMd5PublishedValuesIncludingALongKey) {
  const struct {
    std::vector<unsigned char> key;
    std::string data, mac;
  } cases[] = {
      {std::vector<unsigned char>(16, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
      {{'J', 'e', 'f', 'e'}, "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
      // Longer than the 64-byte block: hashed first.
      {std::vector<unsigned char>(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
  };
  for (const auto& c : cases) {
    HMACMD5_CTX ctx;
    HMACMD5Init(&ctx, c.key.data(), static_cast<unsigned int>(c.key.size()));
    const size_t half = c.data.size() / 2;
    HMACMD5Update(&ctx, Bytes(c.data), static_cast<unsigned int>(half));
    HMACMD5Update(&ctx, Bytes(c.data) + half, static_cast<unsigned int>(c.data.size() - half));
    unsigned char mac[16];
    HMACMD5Final(&ctx, mac);
    EXPECT_EQ(ToHex(mac, 16), c.mac) << c.data;
  }
}

TEST(DesEcbLm, ExpandsSevenByteKeysAndUsesWeakKeys) {
  const unsigned char kMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
  const struct {
    std::string key7, out;
  } cases[] = {
      {"50415353574f52", "e52cac67419a9a22"},  // "PASSWOR"
      {"44000000000000", "4a3b108f3fa6cb6d"},  // "D" and zero padding
      {"00000000000000", "aad3b435b51404ee"},  // all-zero key: a weak DES key
  };
  for (const auto& c : cases) {
    const auto key = Hex(c.key7);
    unsigned char block[8];
    ASSERT_TRUE(DES_ECB_LM(ENCRYPT, key.data(), kMagic, block));
    EXPECT_EQ(ToHex(block, 8), c.out) << c.key7;
    // In place, and back again.
    ASSERT_TRUE(DES_ECB_LM(DECRYPT, key.data(), block, block));
    EXPECT_EQ(ToHex(block, 8), ToHex(kMagic, 8));
  }
  unsigned char out[8];
  SetLastError(0);
  EXPECT_FALSE(DES_ECB_LM(2, kMagic, kMagic, out));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(DES_ECB_LM(ENCRYPT, nullptr, kMagic, out));
}

TEST(Rc4, PublishedStreamsAndAStateThatCarriesOn) {
  const struct {
    std::string key, plain, cipher;
  } cases[] = {
      {"4b6579", "506c61696e74657874", "bbf316e8d940af0ad3"},  // "Key" / "Plaintext"
      // A session key of the published NTLM test values encrypting the random session key.
      {"d87262b0cde4b1cb7499becccdf10784", "55555555555555555555555555555555",
       "518822b1b3f350c8958682ecbb3e3cb7"},
      {"8de40ccadbc14a82f15cb0ad0de95ca3", "55555555555555555555555555555555",
       "c5dad2544fc9799094ce1ce90bc9d03e"},
  };
  for (const auto& c : cases) {
    const auto key = Hex(c.key);
    for (size_t split = 0; split <= c.plain.size() / 2; ++split) {
      auto data = Hex(c.plain);
      RC4_KEYSTRUCT ks;
      rc4_key(&ks, static_cast<unsigned int>(key.size()), key.data());
      rc4(&ks, static_cast<unsigned int>(split), data.data());
      rc4(&ks, static_cast<unsigned int>(data.size() - split), data.data() + split);
      EXPECT_EQ(ToHex(data.data(), data.size()), c.cipher) << c.key << " split " << split;
    }
  }
}

}  // namespace
