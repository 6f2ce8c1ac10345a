// Local verification: which responses each server level accepts, the user-name rules, and
// LMv2 responses computed by peers in different ways.
#include "ntlm_verify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ntlm_client.h"
#include "ntlm_owf.h"
#include "ntlm_response.h"
#include "ntlm_test_util.h"

namespace {

using ntlmtest::Bytes;
using ntlmtest::Hex;

constexpr DWORD kEss = NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY;
// Server compatibility flags of the levels: 0 -> 3, 1 -> 7, default and 2 -> 6, 3 -> 4.
constexpr DWORD kLevel0 = 3, kLevel1 = 7, kDefault = 6, kLevel3 = 4;

// An account store over a map; names compare without regard to ASCII case, as the registry's.
class FakeAccounts : public NtlmAccountValues {
 public:
  struct Values {
    std::optional<std::vector<BYTE>> lm, nt;
  };
  void Add(std::u16string user, std::u16string_view password, bool withLm = true) {
    Values v;
    BYTE owf[16];
    if (withLm && ComputeLmOwf(password, owf)) v.lm = std::vector<BYTE>(owf, owf + 16);
    if (ComputeNtOwf(password, owf)) v.nt = std::vector<BYTE>(owf, owf + 16);
    accounts_[Fold(user)] = v;
  }
  bool GetUserValue(const WCHAR* user, DWORD level, BYTE value[16]) override {
    asked.push_back(user);
    auto it = accounts_.find(Fold(user));
    if (it == accounts_.end()) return false;
    const auto& v = level == NTLM_ACCOUNT_VALUE_LM ? it->second.lm : it->second.nt;
    if (!v) return false;
    std::memcpy(value, v->data(), 16);
    return true;
  }
  std::vector<std::u16string> asked;

 private:
  static std::u16string Fold(std::u16string s) {
    for (auto& c : s) c = towupper(c);
    return s;
  }
  std::map<std::u16string, Values> accounts_;
};

const std::vector<BYTE> kChallenge = Hex("0123456789abcdef");

NtlmKeyMaterial& Prepare(NtlmKeyMaterial& keys, DWORD flags) {
  keys.NegotiateFlags = flags;
  std::memcpy(keys.ServerChallenge, kChallenge.data(), 8);
  return keys;
}

// Responses a peer computes for "Password" against kChallenge.
std::vector<BYTE> DesResponse(bool nt) {
  BYTE owf[16], r[24];
  EXPECT_TRUE(nt ? ComputeNtOwf(u"Password", owf) : ComputeLmOwf(u"Password", owf));
  EXPECT_TRUE(ComputeDesResponse(owf, kChallenge.data(), r));
  return std::vector<BYTE>(r, r + 24);
}

std::vector<BYTE> Lmv2(std::u16string_view user, std::u16string_view domain) {
  BYTE nt[16], v2[16], r[24];
  const BYTE cc[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  EXPECT_TRUE(ComputeNtOwf(u"Password", nt));
  ComputeNtOwfV2(nt, user, domain, v2);
  ComputeLmv2Response(v2, kChallenge.data(), cc, r);
  return std::vector<BYTE>(r, r + 24);
}

TEST(LocalVerification, EachLevelAcceptsItsResponses) {
  const auto lmv1 = DesResponse(false), ntlmv1 = DesResponse(true), lmv2 = Lmv2(u"User", u"Domain");
  const std::vector<BYTE> none;
  const struct {
    const char* name;
    DWORD server, flags;
    const std::vector<BYTE>&lm, &nt;
    SECURITY_STATUS want;
  } cases[] = {
      {"LMv1 at level 1", kLevel1, 0, lmv1, none, SEC_E_OK},
      {"LMv1 at level 0", kLevel0, 0, lmv1, none, SEC_E_OK},
      {"LMv1 refused by default", kDefault, 0, lmv1, none, SEC_E_LOGON_DENIED},
      {"NTLMv1 by default", kDefault, 0, lmv1, ntlmv1, SEC_E_OK},
      {"NTLMv1 refused at level 3", kLevel3, 0, lmv1, ntlmv1, SEC_E_LOGON_DENIED},
      {"LMv2 by default", kDefault, kEss, lmv2, none, SEC_E_OK},
      {"LMv2 at level 3", kLevel3, kEss, lmv2, none, SEC_E_OK},
      {"LMv2 needs extended session security", kDefault, 0, lmv2, none, SEC_E_LOGON_DENIED},
      {"LMv2 refused at level 1 without NTLMv2", kLevel0, kEss, lmv2, none, SEC_E_LOGON_DENIED},
      // A peer that sends an LMv2 response beside a 24-byte NT response that does not verify:
      // the LMv2 proof is checked against the challenge that was sent.
      {"LMv2 beside a wrong NT response", kDefault, kEss, lmv2, ntlmv1, SEC_E_OK},
      {"nothing", kDefault, kEss, none, none, SEC_E_LOGON_DENIED},
  };
  for (const auto& c : cases) {
    FakeAccounts accounts;
    accounts.Add(u"User", u"Password");
    NtlmKeyMaterial keys;
    const auto user = Bytes("User"), domain = Bytes("Domain");
    EXPECT_EQ(VerifyLocalLogon(Prepare(keys, c.flags), c.server, {c.lm, c.nt, user, domain}, accounts), c.want)
        << c.name;
  }
}

TEST(LocalVerification, ChangedByteOrWrongPasswordIsDenied) {
  FakeAccounts accounts;
  accounts.Add(u"User", u"Password");
  const auto user = Bytes("User"), domain = Bytes("Domain");
  for (size_t at : {size_t{0}, size_t{15}, size_t{16}, size_t{23}}) {
    auto lmv2 = Lmv2(u"User", u"Domain");
    lmv2[at] ^= 1;
    NtlmKeyMaterial keys;
    EXPECT_EQ(VerifyLocalLogon(Prepare(keys, kEss), kDefault, {lmv2, {}, user, domain}, accounts), SEC_E_LOGON_DENIED)
        << at;
  }
  accounts.Add(u"User", u"Other");
  NtlmKeyMaterial keys;
  EXPECT_EQ(VerifyLocalLogon(Prepare(keys, 0), kDefault, {DesResponse(false), DesResponse(true), user, domain}, accounts),
            SEC_E_LOGON_DENIED);
}

TEST(LocalVerification, Lmv2WithTheMessagesDomainOrNone) {
  FakeAccounts accounts;
  accounts.Add(u"User", u"Password");
  const auto user = Bytes("User"), domain = Bytes("Domain");
  const struct {
    std::vector<BYTE> response;
    SECURITY_STATUS want;
  } cases[] = {
      {Lmv2(u"User", u"Domain"), SEC_E_OK},
      {Lmv2(u"User", u""), SEC_E_OK},
      {Lmv2(u"User", u"DOMAIN"), SEC_E_LOGON_DENIED},  // the domain is not upper-cased
      {Lmv2(u"User", u"Other"), SEC_E_LOGON_DENIED},
  };
  for (const auto& c : cases) {
    NtlmKeyMaterial keys;
    EXPECT_EQ(VerifyLocalLogon(Prepare(keys, kEss), kDefault, {c.response, {}, user, domain}, accounts), c.want);
  }
}

TEST(LocalVerification, UserNameIsUpperCasedAndBounded) {
  FakeAccounts accounts;
  accounts.Add(u"User", u"Password");
  const auto domain = Bytes("Domain");
  const auto lmv2 = Lmv2(u"User", u"Domain");
  NtlmKeyMaterial keys;
  const auto lower = Bytes("user");
  EXPECT_EQ(VerifyLocalLogon(Prepare(keys, kEss), kDefault, {lmv2, {}, lower, domain}, accounts), SEC_E_OK);
  ASSERT_FALSE(accounts.asked.empty());
  EXPECT_EQ(accounts.asked.front(), u"USER");

  const struct {
    size_t length;
    SECURITY_STATUS want;
  } lengths[] = {{0, SEC_E_INVALID_TOKEN}, {256, SEC_E_LOGON_DENIED}, {257, SEC_E_INVALID_TOKEN}};
  for (const auto& c : lengths) {
    const std::vector<BYTE> name(c.length, 'u');
    EXPECT_EQ(VerifyLocalLogon(Prepare(keys, kEss), kDefault, {lmv2, {}, name, domain}, accounts), c.want) << c.length;
  }
}

TEST(LocalVerification, NonAsciiNamesVerifyAsThisServicesClientComputesThem) {
  // The client upper-cases the whole UTF-16 name; the server gets ANSI bytes in which only
  // ASCII letters were upper-cased, and must arrive at the same NTLMv2 value.
  FakeAccounts accounts;
  accounts.Add(u"J\u00f6rg", u"Password");
  BYTE nt[16];
  ASSERT_TRUE(ComputeNtOwf(u"Password", nt));
  NtlmKeyMaterial client;
  Prepare(client, kEss);
  NtlmClientResponse response;
  ASSERT_EQ(ComputeClientResponse(client, {u"j\u00f6rg", u"Domain", nullptr, nt}, &response), SEC_E_OK);
  const std::vector<BYTE> user = {'j', 0xF6, 'r', 'g'};  // the ANSI page
  const auto domain = Bytes("Domain");
  NtlmKeyMaterial server;
  EXPECT_EQ(VerifyLocalLogon(Prepare(server, kEss), kDefault,
                             {std::span<const BYTE>(response.LmChallengeResponse), {}, user, domain}, accounts),
            SEC_E_OK);
}

TEST(LocalVerification, MissingAccountValueDenies) {
  FakeAccounts accounts;
  accounts.Add(u"User", u"Password", /*withLm=*/false);
  const auto user = Bytes("User"), domain = Bytes("Domain"), stranger = Bytes("Nobody");
  const auto lmv1 = DesResponse(false), ntlmv1 = DesResponse(true);
  NtlmKeyMaterial keys;
  // Level 1 asks for the LM value first: an account without one cannot log on at all.
  EXPECT_EQ(VerifyLocalLogon(Prepare(keys, 0), kLevel1, {lmv1, ntlmv1, user, domain}, accounts), SEC_E_LOGON_DENIED);
  EXPECT_EQ(VerifyLocalLogon(Prepare(keys, 0), kDefault, {lmv1, ntlmv1, user, domain}, accounts), SEC_E_OK);
  EXPECT_EQ(VerifyLocalLogon(Prepare(keys, 0), kDefault, {lmv1, ntlmv1, stranger, domain}, accounts),
            SEC_E_LOGON_DENIED);
}

TEST(LocalVerification, Ntlm2SessionResponseNeedsAFullLmField) {
  FakeAccounts accounts;
  accounts.Add(u"User", u"Password");
  const auto user = Bytes("User"), domain = Bytes("Domain");
  const auto nt = Hex("7537f803ae367128ca458204bde7caf81e97ed2683267232");
  const auto lm = Hex("aaaaaaaaaaaaaaaa00000000000000000000000000000000");
  NtlmKeyMaterial keys;
  EXPECT_EQ(VerifyLocalLogon(Prepare(keys, kEss), kDefault, {lm, nt, user, domain}, accounts), SEC_E_OK);
  const std::vector<BYTE> shortLm(lm.begin(), lm.begin() + 16);
  EXPECT_EQ(VerifyLocalLogon(Prepare(keys, kEss), kDefault, {shortLm, nt, user, domain}, accounts),
            SEC_E_LOGON_DENIED);
  // Without extended session security the same bytes are an NTLMv1 response, which fails.
  EXPECT_EQ(VerifyLocalLogon(Prepare(keys, 0), kDefault, {lm, nt, user, domain}, accounts), SEC_E_LOGON_DENIED);
}

}  // namespace
