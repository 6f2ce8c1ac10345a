// The published NTLM test values (user "User", domain "Domain", password "Password", server
// challenge 0123456789abcdef, client challenge aa..aa, random session key 55..55, message
// "Plaintext" in UTF-16LE), and the values of this service's dialect computed from the same
// inputs: LMv2 in the LM field, 128-bit keys, signing and sealing only with extended session
// security, the checksum RC4-encrypted only with key exchange.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ntlm_client.h"
#include "ntlm_message_security.h"
#include "ntlm_owf.h"
#include "ntlm_response.h"
#include "ntlm_test_util.h"
#include "ntlm_verify.h"

namespace {

using ntlmtest::Hex;
using ntlmtest::Message;
using ntlmtest::ToHex;

const std::u16string kUser = u"User";
const std::u16string kDomain = u"Domain";
const std::u16string kPassword = u"Password";
const std::string kServerChallenge = "0123456789abcdef";
const std::string kClientChallenge = "aaaaaaaaaaaaaaaa";
const std::string kRandomSessionKey = "55555555555555555555555555555555";
const std::string kLmOwf = "e52cac67419a9a224a3b108f3fa6cb6d";
const std::string kNtOwf = "a4f49c406510bdcab6824ee7c30fd852";

const std::vector<BYTE> kPlaintext = ntlmtest::Utf16Le(u"Plaintext");

constexpr DWORD kBaseFlags = NTLMSSP_NEGOTIATE_OEM | NTLMSSP_NEGOTIATE_NTLM | NTLMSSP_NEGOTIATE_ALWAYS_SIGN;
constexpr DWORD kSecureFlags = kBaseFlags | NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY | NTLMSSP_NEGOTIATE_TARGET_INFO |
                               NTLMSSP_NEGOTIATE_SIGN | NTLMSSP_NEGOTIATE_SEAL | NTLMSSP_NEGOTIATE_128;

std::string Hex16(const BYTE* p) { return ToHex(p, 16); }

TEST(PublishedNtlmValues, OneWayValues) {
  BYTE lm[16], nt[16], v2[16], v2NoDomain[16], lmEmpty[16], ntEmpty[16];
  ASSERT_TRUE(ComputeLmOwf(kPassword, lm));
  ASSERT_TRUE(ComputeNtOwf(kPassword, nt));
  ComputeNtOwfV2(nt, kUser, kDomain, v2);
  ComputeNtOwfV2(nt, kUser, u"", v2NoDomain);
  ASSERT_TRUE(ComputeLmOwf(u"", lmEmpty));
  ASSERT_TRUE(ComputeNtOwf(u"", ntEmpty));
  const std::pair<std::string, std::string> cases[] = {
      {Hex16(lm), kLmOwf},
      {Hex16(nt), kNtOwf},
      {Hex16(v2), "0c868a403bfd7a93a3001ef22ef02e3f"},
      {Hex16(v2NoDomain), "4cf86da43b3cd4785ab26bcee1e1884b"},
      {Hex16(lmEmpty), "aad3b435b51404eeaad3b435b51404ee"},
      {Hex16(ntEmpty), "31d6cfe0d16ae931b73c59d7e0c089c0"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

TEST(PublishedNtlmValues, Responses) {
  const auto sc = Hex(kServerChallenge), cc = Hex(kClientChallenge), lmOwf = Hex(kLmOwf), ntOwf = Hex(kNtOwf);
  BYTE ntlmv1[24], lmv1[24], ntlm2[24], lmv2[24], lmv2NoDomain[24], v2[16];
  ASSERT_TRUE(ComputeDesResponse(ntOwf.data(), sc.data(), ntlmv1));
  ASSERT_TRUE(ComputeDesResponse(lmOwf.data(), sc.data(), lmv1));
  ASSERT_TRUE(ComputeDesResponse(ntOwf.data(), Hex("5af2559e6bcb5c25").data(), ntlm2));
  ComputeNtOwfV2(ntOwf.data(), kUser, kDomain, v2);
  ComputeLmv2Response(v2, sc.data(), cc.data(), lmv2);
  ComputeNtOwfV2(ntOwf.data(), kUser, u"", v2);
  ComputeLmv2Response(v2, sc.data(), cc.data(), lmv2NoDomain);
  const std::pair<std::string, std::string> cases[] = {
      {ToHex(ntlmv1), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94"},
      {ToHex(lmv1), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13"},
      {ToHex(ntlm2), "7537f803ae367128ca458204bde7caf81e97ed2683267232"},
      {ToHex(lmv2), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa"},
      {ToHex(lmv2NoDomain), "b6c8a15e6bf5480e85b84d3a85db0cd5aaaaaaaaaaaaaaaa"},
  };
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

// An account store holding the published user.
class PublishedAccount : public NtlmAccountValues {
 public:
  bool GetUserValue(const WCHAR* user, DWORD level, BYTE value[16]) override {
    if (std::u16string(user) != u"USER") return false;
    const auto v = Hex(level == NTLM_ACCOUNT_VALUE_LM ? kLmOwf : kNtOwf);
    std::memcpy(value, v.data(), 16);
    return true;
  }
};

TEST(PublishedNtlmValues, ServerAcceptsEachPublishedResponse) {
  const struct {
    const char* name;
    DWORD serverFlags, contextFlags;
    std::string lm, nt, domain;
    std::string challengeAfter;
  } cases[] = {
      {"LMv1", NTLM_COMPAT_LM | NTLM_COMPAT_NTLM | NTLM_COMPAT_NTLMV2, kBaseFlags,
       "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13", "", "Domain", kServerChallenge},
      {"NTLMv1", NTLM_COMPAT_NTLM | NTLM_COMPAT_NTLMV2, kBaseFlags, "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13",
       "67c43011f30298a2ad35ece64f16331c44bdbed927841f94", "Domain", kServerChallenge},
      {"NTLM2 session", NTLM_COMPAT_NTLM | NTLM_COMPAT_NTLMV2, kSecureFlags,
       "aaaaaaaaaaaaaaaa00000000000000000000000000000000", "7537f803ae367128ca458204bde7caf81e97ed2683267232",
       "Domain", "5af2559e6bcb5c25"},
      {"LMv2", NTLM_COMPAT_NTLMV2, kSecureFlags, "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa", "", "Domain",
       kServerChallenge},
      {"LMv2 of an empty domain", NTLM_COMPAT_NTLM | NTLM_COMPAT_NTLMV2, kSecureFlags,
       "b6c8a15e6bf5480e85b84d3a85db0cd5aaaaaaaaaaaaaaaa", "", "Domain", kServerChallenge},
  };
  for (const auto& c : cases) {
    NtlmKeyMaterial keys;
    keys.NegotiateFlags = c.contextFlags;
    std::memcpy(keys.ServerChallenge, Hex(kServerChallenge).data(), 8);
    const auto lm = Hex(c.lm), nt = Hex(c.nt), user = ntlmtest::Bytes("User"), domain = ntlmtest::Bytes(c.domain);
    PublishedAccount accounts;
    EXPECT_EQ(VerifyLocalLogon(keys, c.serverFlags, {lm, nt, user, domain}, accounts), SEC_E_OK) << c.name;
    EXPECT_EQ(ToHex(keys.ServerChallenge), c.challengeAfter) << c.name;
  }
}

TEST(PublishedNtlmValues, ClientResponseWithoutExtendedSessionSecurity) {
  NtlmKeyMaterial keys;
  keys.NegotiateFlags = kBaseFlags;
  std::memcpy(keys.ServerChallenge, Hex(kServerChallenge).data(), 8);
  const auto lmOwf = Hex(kLmOwf);
  NtlmClientCredential cred{kUser, kDomain, lmOwf.data(), nullptr};
  NtlmClientResponse out;
  ASSERT_EQ(ComputeClientResponseWithChallenge(keys, cred, Hex(kClientChallenge).data(), &out), SEC_E_OK);
  EXPECT_EQ(ToHex(out.LmChallengeResponse), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
  EXPECT_FALSE(out.HasEncryptedRandomSessionKey);
  EXPECT_EQ(ToHex(keys.ExportedSessionKey), std::string(32, '0'));  // the zero session base key
}

// A client context completed with the published inputs and the given flags.
void CompleteClient(NtlmKeyMaterial& keys, DWORD flags, NtlmClientResponse* out) {
  keys.NegotiateFlags = flags;
  std::memcpy(keys.ServerChallenge, Hex(kServerChallenge).data(), 8);
  if (flags & NTLMSSP_NEGOTIATE_KEY_EXCH) std::memcpy(keys.ExportedSessionKey, Hex(kRandomSessionKey).data(), 16);
  const auto ntOwf = Hex(kNtOwf);
  NtlmClientCredential cred{kUser, kDomain, nullptr, ntOwf.data()};
  ASSERT_EQ(ComputeClientResponseWithChallenge(keys, cred, Hex(kClientChallenge).data(), out), SEC_E_OK);
}

TEST(PublishedNtlmValues, DialectKeysSignaturesAndSealedMessages) {
  const struct {
    const char* name;
    DWORD flags;
    std::string encryptedKey, exportedKey, outSeal, outSign, inSeal, inSign;
    std::string seal1, sig1, seal2, sig2, signFirst, serverSeal, serverSig;
  } cases[] = {
      {"key exchange kept", kSecureFlags | NTLMSSP_NEGOTIATE_KEY_EXCH, "cdd647c9676d1522d19419b6631fe6b1",
       kRandomSessionKey, "59f600973cc4960a25480a7c196e4c58", "4788dc861b4782f35d43fd98fe1a2d39",
       "9355f3a957c1583d25c4c2f11e40390e", "d04d6f10741041d1d246d64188d7a8ad",
       "54e50165bf1936dc996020c1811b0f06fb5f", "010000007fb38ec5c55d497600000000",
       "64c308e09ea236e7f4232553c94a01e700fa", "01000000255405955d31d8c401000000",
       "0100000074d045342c4f1cd500000000", "160871b730ba74e946c453d7465b54278dd0",
       "01000000b298b847ce7c580700000000"},
      {"key exchange dropped", kSecureFlags, "", "79fc6113707eacb96d5d7e0b81bee408",
       "850b80cc1543b85ee8a0e8d33c770e5b", "6e331198ce4cd316522ff2756ebadfaf", "57fbf9bcf07272ffad7433991dd8c714",
       "ca86d5f5ca20d4e0d94b34ec1986b484", "a073a45ee93a8381c7c0b71199555663e62f",
       "010000009af714abf7fa558000000000", "895b1a1ba0fb24ef5500fceac7116598b4e0",
       "01000000aa0456720160719a01000000", "010000009af714abf7fa558000000000",
       "893e8cabd1c44e95c2de17e027da47f0117b", "01000000adfcc09856fd2b3700000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NtlmKeyMaterial client;
    NtlmClientResponse response;
    CompleteClient(client, c.flags, &response);
    EXPECT_EQ(ToHex(response.LmChallengeResponse), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");
    EXPECT_EQ(response.HasEncryptedRandomSessionKey, !c.encryptedKey.empty());
    if (response.HasEncryptedRandomSessionKey) {
      EXPECT_EQ(ToHex(response.EncryptedRandomSessionKey), c.encryptedKey);
    }
    EXPECT_EQ(ToHex(client.ExportedSessionKey), c.exportedKey);
    EXPECT_EQ(ToHex(client.OutboundSealingKey), c.outSeal);
    EXPECT_EQ(ToHex(client.OutboundSigningKey), c.outSign);
    EXPECT_EQ(ToHex(client.InboundSealingKey), c.inSeal);
    EXPECT_EQ(ToHex(client.InboundSigningKey), c.inSign);

    // Two sealed messages in a row on one outbound state.
    Message first(kPlaintext), second(kPlaintext);
    ASSERT_EQ(EncryptMessage(client, 0, first.Desc(), 0), SEC_E_OK);
    ASSERT_EQ(EncryptMessage(client, 0, second.Desc(), 0), SEC_E_OK);
    EXPECT_EQ(ToHex(first.data), c.seal1);
    EXPECT_EQ(first.TokenHex(), c.sig1);
    EXPECT_EQ(ToHex(second.data), c.seal2);
    EXPECT_EQ(second.TokenHex(), c.sig2);

    // A signature as the first call of a fresh context.
    NtlmKeyMaterial fresh;
    NtlmClientResponse ignored;
    CompleteClient(fresh, c.flags, &ignored);
    Message signedOnly(kPlaintext);
    ASSERT_EQ(MakeSignature(fresh, 0, signedOnly.Desc(), 0), SEC_E_OK);
    EXPECT_EQ(signedOnly.TokenHex(), c.signFirst);
    EXPECT_EQ(signedOnly.data, kPlaintext);

    // The server's first sealed message, which the client unseals.
    NtlmKeyMaterial server;
    server.NegotiateFlags = c.flags;
    std::memcpy(server.ExportedSessionKey, client.ExportedSessionKey, 16);
    DeriveSessionKeys(server, NtlmRole::Server);
    Message reply(kPlaintext);
    ASSERT_EQ(EncryptMessage(server, 0, reply.Desc(), 0), SEC_E_OK);
    EXPECT_EQ(ToHex(reply.data), c.serverSeal);
    EXPECT_EQ(reply.TokenHex(), c.serverSig);
    EXPECT_EQ(DecryptMessage(client, reply.Desc(), 0, nullptr), SEC_E_OK);
    EXPECT_EQ(reply.data, kPlaintext);
  }
}

TEST(PublishedNtlmValues, SigningKeysAndChecksumOfTheSessionSecurityExample) {
  // The exported session key of the NTLM2-session example, 128-bit signing without key
  // exchange: the checksum is not RC4-encrypted.
  NtlmKeyMaterial client, server;
  client.NegotiateFlags = server.NegotiateFlags = kBaseFlags | NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY |
                                                  NTLMSSP_NEGOTIATE_SIGN | NTLMSSP_NEGOTIATE_128;
  std::memcpy(client.ExportedSessionKey, Hex("eb93429a8bd952f8b89c55b87f475edc").data(), 16);
  std::memcpy(server.ExportedSessionKey, client.ExportedSessionKey, 16);
  DeriveSessionKeys(client, NtlmRole::Client);
  DeriveSessionKeys(server, NtlmRole::Server);
  EXPECT_EQ(ToHex(client.OutboundSigningKey), "60e799be5c72fc92922ae8ebe961fb8d");
  EXPECT_EQ(ToHex(client.InboundSigningKey), "10df49862ab2dab51f62c27e93bb655d");
  EXPECT_EQ(ToHex(server.InboundSigningKey), "60e799be5c72fc92922ae8ebe961fb8d");

  Message m(kPlaintext);
  ASSERT_EQ(MakeSignature(client, 0, m.Desc(), 0), SEC_E_OK);
  EXPECT_EQ(m.TokenHex(), "01000000ff2aeb52f681793a00000000");
  EXPECT_EQ(VerifySignature(server, m.Desc(), 0, nullptr), SEC_E_OK);
}

}  // namespace
