// Wide strings, device-style formatting, UTF conversion, code pages, case and classes.
#include <gtest/gtest.h>

#include <string>

#include "cehost/debug_capture.h"
#include "cehost/text.h"
#include "windows.h"

namespace {

using cehost::FormatWideF;

TEST(WideFormat, DeviceConversionRules) {
  const char narrow[] = "abc";
  const struct {
    std::u16string got;
    std::u16string want;
  } cases[] = {
      {FormatWideF(u"%s|%S|%hs|%ls", u"wide", narrow, narrow, u"w"), u"wide|abc|abc|w"},
      {FormatWideF(u"%c%C%hc", u'\x20AC', 'x', 'y'), u"\x20ACxy"},
      {FormatWideF(u"%d %i %u %x %X %o", -7, 8, 9u, 255u, 255u, 8u), u"-7 8 9 ff FF 10"},
      // "l" is 32 bits on the device: a LONG argument is read as such.
      {FormatWideF(u"%ld %lu", static_cast<LONG>(-3), static_cast<ULONG>(0xFFFFFFFFu)), u"-3 4294967295"},
      {FormatWideF(u"%I64d %lld %I64X", static_cast<LONGLONG>(-1) << 40, 1LL << 40, 0xABCDEF0123ull),
       u"-1099511627776 1099511627776 ABCDEF0123"},
      {FormatWideF(u"%5d|%-5d|%05d|%+d", 42, 42, 42, 42), u"   42|42   |00042|+42"},
      {FormatWideF(u"%*d|%.3s|%-4s|%4s", 4, 1, u"abcdef", u"ab", u"ab"), u"   1|abc|ab  |  ab"},
      {FormatWideF(u"%.2f %e", 3.14159, 1.0), u"3.14 1.000000e+00"},
      {FormatWideF(u"%s %S", static_cast<const WCHAR*>(nullptr), static_cast<const char*>(nullptr)),
       u"(null) (null)"},
      {FormatWideF(u"100%% %"), u"100% %"},
      {FormatWideF(u"%hd %hu", 70000, 70000), u"4464 4464"},
  };
  for (const auto& c : cases) EXPECT_EQ(cehost::ToUtf8(c.got), cehost::ToUtf8(c.want));
}

TEST(WideFormat, TruncationRulesOfEachForm) {
  WCHAR buf[8];
  // _snwprintf: fits -> length and terminator; exactly count -> no terminator; more -> -1.
  EXPECT_EQ(_snwprintf(buf, 8, u"%s", u"abc"), 3);
  EXPECT_EQ(std::u16string(buf), u"abc");
  buf[5] = u'Z';
  EXPECT_EQ(_snwprintf(buf, 5, u"%s", u"abcde"), 5);
  EXPECT_EQ(buf[5], u'Z');
  EXPECT_EQ(_snwprintf(buf, 4, u"%s", u"abcdef"), -1);
  // swprintf: always terminated, -1 when cut.
  EXPECT_EQ(swprintf(buf, 4, u"%d", 123456), -1);
  EXPECT_EQ(std::u16string(buf), u"123");
  // StringCchPrintfW: cut, terminated, reported.
  EXPECT_EQ(StringCchPrintfW(buf, 4, u"%s", u"abcdef"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_EQ(StringCchPrintfW(buf, 8, u"%d", 7), S_OK);
  EXPECT_EQ(StringCchCopyW(buf, 0, u"x"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchCopyW(buf, 3, u"abc"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buf), u"ab");
}

TEST(WideStrings, CompareSearchAndConvert) {
  EXPECT_EQ(wcslen(u"hello"), 5u);
  EXPECT_EQ(_wcsicmp(u"HeLLo", u"hello"), 0);
  EXPECT_EQ(_wcsicmp(u"\x00C9t\x00C9", u"\x00E9t\x00E9"), 0);  // É vs é
  EXPECT_LT(_wcsicmp(u"abc", u"ABD"), 0);
  EXPECT_EQ(_wcsnicmp(u"abcX", u"ABCy", 3), 0);
  EXPECT_LT(wcscmp(u"a", u"b"), 0);
  const WCHAR* s = u"path/to/file.m4a";
  EXPECT_EQ(wcsrchr(s, u'/'), s + 7);
  EXPECT_EQ(wcschr(s, u'.'), s + 12);
  EXPECT_EQ(wcsstr(s, u"to"), s + 5);
  EXPECT_EQ(wcstoul(u"0x1F", nullptr, 16), 31u);
  EXPECT_EQ(wcstoul(u"99999999999", nullptr, 10), 0xFFFFFFFFu);
  EXPECT_EQ(wcstol(u"-42xyz", nullptr, 10), -42);
  EXPECT_EQ(_wtoi(u"  17"), 17);
  WCHAR* end = nullptr;
  wcstoul(u"zz", &end, 10);
  EXPECT_EQ(std::u16string(end), u"zz");
}

TEST(Utf, RoundTripAndRepair) {
  const std::u16string text = u"A\x00E9\x20AC\xD83D\xDE00";  // A é € and an astral character
  EXPECT_EQ(cehost::ToUtf8(text), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(cehost::FromUtf8(cehost::ToUtf8(text)), text);
  bool invalid = false;
  EXPECT_EQ(cehost::FromUtf8("a\xFF" "b", &invalid), u"a\xFFFD" u"b");
  EXPECT_TRUE(invalid);
  EXPECT_EQ(cehost::ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(CodePages, RoundTripAsciiAndHighCharacters) {
  struct Case {
    UINT page;
    std::string bytes;
    std::u16string wide;
  };
  const Case cases[] = {
      {CP_ACP, "Hello, World 123", u"Hello, World 123"},
      {1252, "\x80\x8A\x99\xE9\xFF", u"\x20AC\x0160\x2122\x00E9\x00FF"},
      {CP_OEMCP, "\x80\x81\xE1\xFE", u"\x00C7\x00FC\x00DF\x25A0"},
      {437, "\xB0\xC9\xE0", u"\x2591\x2554\x03B1"},
      {CP_UTF8, "\xE2\x82\xAC", u"\x20AC"},
  };
  for (const auto& c : cases) {
    WCHAR wide[32];
    const int nw = MultiByteToWideChar(c.page, 0, c.bytes.data(), static_cast<int>(c.bytes.size()), wide, 32);
    ASSERT_EQ(nw, static_cast<int>(c.wide.size())) << c.page;
    EXPECT_EQ(std::u16string(wide, nw), c.wide) << c.page;
    char back[32];
    const int nb = WideCharToMultiByte(c.page, 0, wide, nw, back, 32, nullptr, nullptr);
    ASSERT_EQ(nb, static_cast<int>(c.bytes.size())) << c.page;
    EXPECT_EQ(std::string(back, nb), c.bytes) << c.page;
  }
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(GetOEMCP(), 437u);
}

TEST(CodePages, SizesDefaultsAndErrors) {
  // -1 counts the terminator; a zero-sized output asks for the size.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
  WCHAR small[2];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", -1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  char out[8];
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(437, 0, u"a\x20AC", 2, out, 8, nullptr, &used), 2);
  EXPECT_TRUE(used);
  EXPECT_EQ(out[1], '?');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CaseAndClasses, UnicodeSimpleMappingAndMasks) {
  WCHAR s[] = u"user\x00E9\x0171\x0434z1";
  CharUpperW(s);
  EXPECT_EQ(std::u16string(s), u"USER\x00C9\x0170\x0414Z1");
  EXPECT_EQ(towlower(u'\x0130'), u'i');
  EXPECT_EQ(towupper(u'\x00FF'), u'\x0178');
  EXPECT_NE(iswctype(u'a', 0x107), 0);
  EXPECT_NE(iswctype(u'7', 0x107), 0);
  EXPECT_NE(iswctype(u'\x00E9', 0x107), 0);
  EXPECT_EQ(iswctype(u'-', 0x107), 0);
  EXPECT_EQ(iswctype(u' ', 0x107), 0);
  EXPECT_EQ(iswctype(u'A', _UPPER), _UPPER);
  EXPECT_EQ(iswctype(u'a', _UPPER), 0);
  EXPECT_NE(iswctype(u' ', _SPACE), 0);
}

TEST(DebugOutput, CaptureSeesEveryForm) {
  cehost::DebugCapture capture;
  OutputDebugStringW(u"LOSSLESSREADER:wide\r\n");
  OutputDebugStringA("[Fail] narrow(12) - MediaType\r\n");
  NKDbgPrintfW(u"value=%d %s\r\n", 5, u"x");
  const auto messages = capture.Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "LOSSLESSREADER:wide\r\n");
  EXPECT_EQ(messages[1], "[Fail] narrow(12) - MediaType\r\n");
  EXPECT_EQ(messages[2], "value=5 x\r\n");
  EXPECT_TRUE(capture.Contains("narrow(12)"));
}

}  // namespace
