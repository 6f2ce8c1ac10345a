// The Reg* API on a private database: value round trips, names without regard to case,
// enumeration, key information, deletion, handle validation and unusable database files.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cehost/text.h"
#include "test_registry.h"
#include "winreg.h"
#include "wstring.h"

namespace {

using cehost::test::ScopedTestRegistry;

HKEY Create(HKEY parent, const char16_t* path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            disposition),
            ERROR_SUCCESS);
  return key;
}

LONG Open(HKEY parent, const char16_t* path, HKEY* key) {
  return RegOpenKeyExW(parent, path, 0, KEY_READ, key);
}

std::vector<BYTE> Bytes(const void* p, size_t n) {
  const auto* b = static_cast<const BYTE*>(p);
  return std::vector<BYTE>(b, b + n);
}

// Reads a value with the usual two passes: size first, then the data.
std::vector<BYTE> Query(HKEY key, const char16_t* name, DWORD* type) {
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, nullptr, &size), ERROR_SUCCESS);
  std::vector<BYTE> data(size);
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, data.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, data.size());
  return data;
}

TEST(Registry, ValuesOfEveryTypeRoundTripAndPersist) {
  ScopedTestRegistry registry;
  const char16_t sz[] = u"Caf\u00e9 \u65e5\u672c";
  const char16_t multi[] = u"one\0two\0\0";
  const DWORD dword = 0xDEADBEEF;
  const BYTE binary[] = {0, 1, 2, 0xFF, 0, 0x80};
  const uint64_t qword = 0x0123456789ABCDEFull;
  struct Case {
    const char16_t* name;
    DWORD type;
    std::vector<BYTE> data;
  };
  const std::vector<Case> cases = {
      {u"String", REG_SZ, Bytes(sz, sizeof sz)},
      {u"Multi", REG_MULTI_SZ, Bytes(multi, sizeof multi)},
      {u"Number", REG_DWORD, Bytes(&dword, 4)},
      {u"Blob", REG_BINARY, Bytes(binary, sizeof binary)},
      {u"Wide", REG_QWORD, Bytes(&qword, 8)},
      {u"Empty", REG_BINARY, {}},
      {u"Unknown", 0x12345, Bytes("raw", 3)},
      {nullptr, REG_SZ, Bytes(u"default", 16)},  // the key's unnamed value
  };
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\RoundTrip");
  for (const Case& c : cases)
    ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, c.data.data(),
                             static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
  RegCloseKey(key);

  // Read back after the database was closed and reopened.
  cehost::ReopenRegistry();
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"Software\\RoundTrip", &key), ERROR_SUCCESS);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? cehost::ToUtf8(c.name) : "default value");
    DWORD type = 0;
    EXPECT_EQ(Query(key, c.name, &type), c.data);
    EXPECT_EQ(type, c.type);
  }
  EXPECT_EQ(RegQueryValueExW(key, u"", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS)
      << "an empty name is the default value too";

  // A buffer one byte short: ERROR_MORE_DATA, the size reported, the buffer left alone.
  BYTE small[sizeof sz - 1];
  std::memset(small, 0xAA, sizeof small);
  DWORD size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, u"String", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof sz);
  EXPECT_EQ(small[0], 0xAA);
  // A data buffer without a size, and a value that is not there.
  EXPECT_EQ(RegQueryValueExW(key, u"String", nullptr, nullptr, small, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST(Registry, NamesCompareWithoutCaseAndKeepTheirOwn) {
  ScopedTestRegistry registry;
  DWORD disposition = 0;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Mixed\\\u00c4rger\u03a3", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(key);

  key = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\mIXED\\\u00e4RGER\u03c3", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExW(key, u"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  const DWORD two = 2;
  ASSERT_EQ(RegSetValueExW(key, u"VALUE", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4),
            ERROR_SUCCESS);
  DWORD type;
  EXPECT_EQ(Query(key, u"vAlUe", &type), Bytes(&two, 4));
  RegCloseKey(key);

  // One key and one value, each with the case it was created with.
  HKEY mixed;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"software\\MIXED", &mixed), ERROR_SUCCESS);
  WCHAR name[64];
  DWORD chars = 64;
  ASSERT_EQ(RegEnumKeyExW(mixed, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, chars), u"\u00c4rger\u03a3");
  chars = 64;
  EXPECT_EQ(RegEnumKeyExW(mixed, 1, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  HKEY sub;
  ASSERT_EQ(Open(mixed, u"\u00e4rger\u03c3", &sub), ERROR_SUCCESS);
  chars = 64;
  ASSERT_EQ(RegEnumValueW(sub, 0, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, chars), u"Value");
  RegCloseKey(sub);
  RegCloseKey(mixed);

  // The trees are separate.
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Software\\Mixed", &key), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, PathsAreCheckedAndIntermediateKeysCreated) {
  ScopedTestRegistry registry;
  HKEY key;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"A\\B", &key), ERROR_FILE_NOT_FOUND);
  key = Create(HKEY_LOCAL_MACHINE, u"A\\B\\C\\");
  RegCloseKey(key);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"A\\B", &key), ERROR_SUCCESS);
  HKEY same;
  ASSERT_EQ(Open(key, nullptr, &same), ERROR_SUCCESS);  // the key itself, a new handle
  EXPECT_NE(same, key);
  RegCloseKey(same);
  RegCloseKey(key);

  const std::u16string too_long(256, u'x');
  struct Case {
    std::u16string path;
    LONG error;
  };
  for (const Case& c : std::vector<Case>{{u"\\A", ERROR_BAD_PATHNAME},
                                         {u"A\\\\B", ERROR_BAD_PATHNAME},
                                         {u"A\\\\", ERROR_BAD_PATHNAME},
                                         {too_long, ERROR_INVALID_PARAMETER}}) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, c.path.c_str(), 0, nullptr, 0, 0, nullptr, &k,
                              nullptr),
              c.error)
        << cehost::ToUtf8(c.path);
  }
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"A", 0, nullptr, 0, 0, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST(Registry, EnumerationFollowsCreationOrderAndEnds) {
  ScopedTestRegistry registry;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Enum");
  for (const char16_t* sub : {u"zeta", u"Alpha", u"mid"}) RegCloseKey(Create(key, sub));
  const BYTE data[] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const char16_t* value : {u"second", u"first", u"LongestValueName"})
    ASSERT_EQ(RegSetValueExW(key, value, 0, REG_BINARY, data, 4), ERROR_SUCCESS);
  // Rewriting a value keeps its place.
  ASSERT_EQ(RegSetValueExW(key, u"SECOND", 0, REG_BINARY, data, 8), ERROR_SUCCESS);

  std::vector<std::u16string> keys;
  for (DWORD i = 0;; ++i) {
    WCHAR name[16];
    DWORD chars = 16;
    const LONG r = RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    keys.emplace_back(name, chars);
  }
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"zeta", u"Alpha", u"mid"}));

  std::vector<std::u16string> values;
  for (DWORD i = 0;; ++i) {
    WCHAR name[32];
    DWORD chars = 32, type = 0, size = sizeof data;
    BYTE buffer[sizeof data];
    const LONG r = RegEnumValueW(key, i, name, &chars, nullptr, &type, buffer, &size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(size, i == 0 ? 8u : 4u);
    values.emplace_back(name, chars);
  }
  EXPECT_EQ(values, (std::vector<std::u16string>{u"second", u"first", u"LongestValueName"}));

  // Too-small buffers: the size needed (with the terminator) comes back.
  WCHAR name[4];
  DWORD chars = 4;
  EXPECT_EQ(RegEnumKeyExW(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(chars, 6u);
  chars = 4;
  DWORD size = 0, type = 0;
  EXPECT_EQ(RegEnumValueW(key, 2, name, &chars, nullptr, &type, nullptr, &size), ERROR_MORE_DATA);
  EXPECT_EQ(chars, 17u);
  EXPECT_EQ(size, 4u);
  WCHAR big[32];
  chars = 32;
  BYTE one;
  size = 1;
  EXPECT_EQ(RegEnumValueW(key, 0, big, &chars, nullptr, nullptr, &one, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(RegEnumValueW(key, 0, nullptr, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);

  DWORD subkeys = 0, max_subkey = 0, count = 0, max_name = 0, max_data = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &max_subkey, nullptr,
                             &count, &max_name, &max_data, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 3u);
  EXPECT_EQ(max_subkey, 5u);  // "Alpha"
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(max_name, 16u);  // "LongestValueName"
  EXPECT_EQ(max_data, 8u);
  RegCloseKey(key);
}

TEST(Registry, DeletingRemovesSubtreesAndStrandsOpenHandles) {
  ScopedTestRegistry registry;
  HKEY top = Create(HKEY_LOCAL_MACHINE, u"Top");
  HKEY deep = Create(top, u"Mid\\Deep");
  const DWORD v = 7;
  ASSERT_EQ(RegSetValueExW(deep, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(top, u"keep", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
            ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteValueW(top, u"absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(top, u"absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(top, u""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(RegDeleteKeyW(top, u"MID"), ERROR_SUCCESS);

  HKEY k;
  EXPECT_EQ(Open(top, u"Mid", &k), ERROR_FILE_NOT_FOUND);
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExW(deep, u"v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExW(deep, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyExW(deep, u"again", 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(deep), ERROR_SUCCESS);

  // Recreating the key gives a fresh, empty one: the old values are gone with the subtree.
  deep = Create(top, u"Mid\\Deep");
  EXPECT_EQ(RegQueryValueExW(deep, u"v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(top, u"keep", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(top, u"KEEP"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(top, u"keep", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(deep);
  RegCloseKey(top);
}

TEST(Registry, HandlesAreValidated) {
  ScopedTestRegistry registry;
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Handles");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  HKEY made_up = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x7777));
  HKEY not_a_root = reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<LONG>(0x80000004)));
  for (HKEY bad : {key, made_up, not_a_root, static_cast<HKEY>(nullptr)}) {
    HKEY out;
    DWORD size = 0;
    EXPECT_EQ(RegCloseKey(bad), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Open(bad, u"x", &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(bad, u"x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExW(bad, u"x", 0, REG_BINARY, nullptr, 0), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryInfoKeyW(bad, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
  }
  // Predefined roots are never closed; handles die with a reopened database.
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  key = Create(HKEY_LOCAL_MACHINE, u"Handles");
  cehost::ReopenRegistry();
  EXPECT_EQ(RegFlushKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST(Registry, UnusableDatabaseFileGivesErrors) {
  ScopedTestRegistry registry;
  {
    std::ofstream junk(registry.path(), std::ios::binary);
    junk << std::string(4096, 'J');
  }
  cehost::ReopenRegistry();
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"X", 0, nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_BADDB);
  EXPECT_EQ(key, nullptr);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, u"x", nullptr, nullptr, nullptr, &size),
            ERROR_BADDB);
  // The junk is left as it was: nothing is lost by trying.
  EXPECT_EQ(std::filesystem::file_size(registry.path()), 4096u);
}

}  // namespace
