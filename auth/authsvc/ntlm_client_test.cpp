// The client's response computation: which value each response needs, the random client
// challenge, and which keys are derived.
#include "ntlm_client.h"

#include <gtest/gtest.h>

#include <cstring>

#include "ntlm_owf.h"
#include "ntlm_test_util.h"

namespace {

using ntlmtest::Hex;
using ntlmtest::ToHex;

constexpr DWORD kEss = NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY;
constexpr DWORD kSignSeal = NTLMSSP_NEGOTIATE_SIGN | NTLMSSP_NEGOTIATE_SEAL | NTLMSSP_NEGOTIATE_128;

struct Owfs {
  Owfs() {
    EXPECT_TRUE(ComputeLmOwf(u"Password", lm));
    EXPECT_TRUE(ComputeNtOwf(u"Password", nt));
  }
  BYTE lm[16], nt[16];
};

TEST(ClientResponse, MissingValueForTheChosenResponseLeavesTheContextAlone) {
  const Owfs owfs;
  const struct {
    DWORD flags;
    const BYTE* lm;
    const BYTE* nt;
  } cases[] = {
      {kEss | kSignSeal, owfs.lm, nullptr},  // LMv2 needs the NT value
      {0, nullptr, owfs.nt},                 // LMv1 needs the LM value
  };
  for (const auto& c : cases) {
    NtlmKeyMaterial keys;
    keys.NegotiateFlags = c.flags;
    std::memset(keys.ExportedSessionKey, 0x55, 16);
    NtlmClientResponse out;
    EXPECT_EQ(ComputeClientResponse(keys, {u"User", u"Domain", c.lm, c.nt}, &out), SEC_E_NO_CREDENTIALS);
    EXPECT_EQ(ToHex(keys.ExportedSessionKey), std::string(32, '5'));
    EXPECT_EQ(ToHex(keys.OutboundSigningKey), std::string(32, '0'));
  }
}

TEST(ClientResponse, DrawsAFreshClientChallengeEachTime) {
  const Owfs owfs;
  NtlmKeyMaterial a, b;
  a.NegotiateFlags = b.NegotiateFlags = kEss;
  NtlmClientResponse ra, rb;
  ASSERT_EQ(ComputeClientResponse(a, {u"User", u"Domain", nullptr, owfs.nt}, &ra), SEC_E_OK);
  ASSERT_EQ(ComputeClientResponse(b, {u"User", u"Domain", nullptr, owfs.nt}, &rb), SEC_E_OK);
  EXPECT_NE(ToHex(ra.LmChallengeResponse), ToHex(rb.LmChallengeResponse));
  // The response carries its challenge: recomputing with it gives the same response and key.
  NtlmKeyMaterial again;
  again.NegotiateFlags = kEss;
  NtlmClientResponse rAgain;
  ASSERT_EQ(ComputeClientResponseWithChallenge(again, {u"User", u"Domain", nullptr, owfs.nt},
                                               ra.LmChallengeResponse + 16, &rAgain),
            SEC_E_OK);
  EXPECT_EQ(ToHex(rAgain.LmChallengeResponse), ToHex(ra.LmChallengeResponse));
  EXPECT_EQ(ToHex(again.ExportedSessionKey), ToHex(a.ExportedSessionKey));
  EXPECT_NE(ToHex(a.ExportedSessionKey), ToHex(b.ExportedSessionKey));
}

TEST(ClientResponse, KeysAreDerivedOnlyWithSignOrSeal) {
  const Owfs owfs;
  const BYTE cc[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const struct {
    DWORD flags;
    bool derived;
  } cases[] = {{kEss, false}, {kEss | NTLMSSP_NEGOTIATE_SIGN, true}, {kEss | NTLMSSP_NEGOTIATE_SEAL, true}};
  for (const auto& c : cases) {
    NtlmKeyMaterial keys;
    keys.NegotiateFlags = c.flags;
    keys.OutboundSeqNum = keys.InboundSeqNum = 7;
    NtlmClientResponse out;
    ASSERT_EQ(ComputeClientResponseWithChallenge(keys, {u"User", u"Domain", nullptr, owfs.nt}, cc, &out), SEC_E_OK);
    EXPECT_EQ(ToHex(keys.OutboundSigningKey) != std::string(32, '0'), c.derived) << c.flags;
    EXPECT_EQ(keys.OutboundSeqNum, c.derived ? 0u : 7u);
  }
}

TEST(ClientResponse, RandomBytesFromTheProvider) {
  BYTE a[32] = {}, b[32] = {};
  ASSERT_EQ(NtlmGenerateRandom(a, sizeof a), SEC_E_OK);
  ASSERT_EQ(NtlmGenerateRandom(b, sizeof b), SEC_E_OK);
  EXPECT_NE(ToHex(a), ToHex(b));
}

}  // namespace
