// Provider contexts: the acquisition the NTLM service makes, random bytes, stale handles.
#include "wincrypt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(CryptProvider, VerificationContextGivesRandomBytes) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT));
  ASSERT_NE(prov, 0u);
  // More than one getrandom call may be needed for a large request.
  std::vector<BYTE> a(100000), b(100000);
  ASSERT_TRUE(CryptGenRandom(prov, static_cast<DWORD>(a.size()), a.data()));
  ASSERT_TRUE(CryptGenRandom(prov, static_cast<DWORD>(b.size()), b.data()));
  EXPECT_NE(a, b);
  // Every byte value turns up in 100000 random bytes; a buffer left partly unfilled would not.
  std::vector<bool> seen(256);
  for (BYTE x : a) seen[x] = true;
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](bool s) { return s; }));
  EXPECT_TRUE(CryptGenRandom(prov, 0, nullptr));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));

  SetLastError(0);
  EXPECT_FALSE(CryptGenRandom(prov, 8, a.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CryptReleaseContext(prov, 0));
  EXPECT_FALSE(CryptGenRandom(0, 8, a.data()));
}

TEST(CryptProvider, RefusesWhatThisProviderDoesNotHave) {
  const struct {
    const WCHAR* container;
    const WCHAR* provider;
    DWORD type, flags;
    HRESULT error;
  } cases[] = {
      {u"keys", nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, NTE_BAD_KEYSET},
      {nullptr, nullptr, PROV_RSA_FULL, 0, NTE_BAD_KEYSET},
      {nullptr, nullptr, 24, CRYPT_VERIFYCONTEXT, NTE_BAD_PROV_TYPE},
      {nullptr, u"Other", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, NTE_PROV_DOES_NOT_EXIST},
      {nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | 0x1, NTE_BAD_FLAGS},
  };
  for (const auto& c : cases) {
    HCRYPTPROV prov = 123;
    SetLastError(0);
    EXPECT_FALSE(CryptAcquireContextW(&prov, c.container, c.provider, c.type, c.flags));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error));
    EXPECT_EQ(prov, 0u);
  }
  EXPECT_FALSE(CryptAcquireContextW(nullptr, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
}

TEST(CryptProvider, ReleaseWithFlagsFailsButReleases) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, 0xF0000040));
  SetLastError(0);
  EXPECT_FALSE(CryptReleaseContext(prov, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_FLAGS));
  BYTE b[4];
  EXPECT_FALSE(CryptGenRandom(prov, sizeof b, b));
}

}  // namespace
