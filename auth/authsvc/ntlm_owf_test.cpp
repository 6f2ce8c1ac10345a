// One-way values beyond the published ones: what the LM value ignores, and that a password
// or name gives one value whichever form it arrives in.
#include "ntlm_owf.h"

#include <gtest/gtest.h>

#include <string>

#include "ntlm_test_util.h"

namespace {

using ntlmtest::ToHex;

std::string Lm(std::u16string_view password) {
  BYTE owf[16];
  EXPECT_TRUE(ComputeLmOwf(password, owf));
  return ToHex(owf);
}

std::string LmA(std::string_view password) {
  BYTE owf[16];
  EXPECT_TRUE(ComputeLmOwfA(password, owf));
  return ToHex(owf);
}

std::string Nt(std::u16string_view password) {
  BYTE owf[16];
  EXPECT_TRUE(ComputeNtOwf(password, owf));
  return ToHex(owf);
}

std::string NtA(std::string_view password) {
  BYTE owf[16];
  EXPECT_TRUE(ComputeNtOwfA(password, owf));
  return ToHex(owf);
}

TEST(LmOwf, UsesFourteenBytesAndUpperCasesOnlyAsciiLetters) {
  const std::string published = "e52cac67419a9a224a3b108f3fa6cb6d";  // "Password"
  EXPECT_EQ(Lm(u"password"), published);
  EXPECT_EQ(Lm(u"PASSWORD"), published);
  EXPECT_EQ(Lm(u"pAsSwOrD"), published);
  EXPECT_EQ(Lm(u"abcdefghijklmnopqrstu"), Lm(u"ABCDEFGHIJKLMN"));
  EXPECT_EQ(Lm(u"abcdefghijklmn"), Lm(u"abcdefghijklmnXYZ"));
  EXPECT_NE(Lm(u"abcdefghijklm"), Lm(u"abcdefghijklmX"));
  // Letters outside ASCII keep their case (the ANSI page has both forms of u-umlaut).
  EXPECT_NE(Lm(u"\u00fc"), Lm(u"\u00dc"));
}

TEST(LmOwf, EightBitPasswordIsTakenByteForByte) {
  EXPECT_EQ(LmA("Password"), "e52cac67419a9a224a3b108f3fa6cb6d");
  EXPECT_EQ(LmA(""), "aad3b435b51404eeaad3b435b51404ee");
  EXPECT_EQ(LmA("abcdefghijklmnopqrstuvwxyz"), Lm(u"abcdefghijklmnopqrstuvwxyz"));
  // 0xFC is u-umlaut in the ANSI page, so both forms of the password agree; 0x81 is a byte the
  // page leaves undefined and is used as it stands.
  EXPECT_EQ(LmA("p\xfc"), Lm(u"p\u00fc"));
  EXPECT_NE(LmA("p\x81"), LmA("p\x82"));
}

TEST(NtOwf, EightBitPasswordGivesTheValueOfTheSameText) {
  EXPECT_EQ(NtA("Password"), "a4f49c406510bdcab6824ee7c30fd852");
  EXPECT_EQ(NtA(""), Nt(u""));
  EXPECT_EQ(NtA("p\xfcnktlich"), Nt(u"p\u00fcnktlich"));
  // Longer than the pieces the conversion works in.
  const std::string longA(300, 'x');
  EXPECT_EQ(NtA(longA), Nt(std::u16string(300, u'x')));
  EXPECT_NE(Nt(u"password"), Nt(u"Password"));
}

TEST(NtOwfV2, UserNameIgnoresCaseDomainDoesNot) {
  BYTE nt[16];
  ASSERT_TRUE(ComputeNtOwf(u"Password", nt));
  auto v2 = [&](std::u16string_view user, std::u16string_view domain) {
    BYTE out[16];
    ComputeNtOwfV2(nt, user, domain, out);
    return ToHex(out);
  };
  EXPECT_EQ(v2(u"user", u"Domain"), "0c868a403bfd7a93a3001ef22ef02e3f");
  EXPECT_EQ(v2(u"\u00e9mile", u"Domain"), v2(u"\u00c9MILE", u"Domain"));
  EXPECT_NE(v2(u"User", u"domain"), v2(u"User", u"Domain"));
}

}  // namespace
