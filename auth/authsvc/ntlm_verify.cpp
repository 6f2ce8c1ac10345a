// Local verification of LMv1, NTLMv1, NTLM2-session and LMv2 responses.
#include "ntlm_verify.h"

#include <cstring>
#include <new>
#include <string>

#include "cryptlib.h"
#include "ntlm_flags.h"
#include "ntlm_owf.h"
#include "ntlm_response.h"
#include "securezero.h"

namespace {

constexpr size_t kMaxUserName = 256;

// Converts 8-bit ANSI text to UTF-16; false when the conversion fails.
bool AnsiToWide(std::span<const BYTE> text, std::u16string* out) {
  out->clear();
  if (text.empty()) return true;
  out->resize(text.size());  // one character per byte in the ANSI page
  const int n = MultiByteToWideChar(NTLM_ANSI_CODE_PAGE, 0, reinterpret_cast<const char*>(text.data()),
                                    static_cast<int>(text.size()), out->data(), static_cast<int>(out->size()));
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return true;
}

// Constant-time comparison: how many leading bytes of a guess match must not leak.
bool SameBytes(const BYTE* a, const BYTE* b, size_t n) {
  BYTE diff = 0;
  for (size_t i = 0; i < n; ++i) diff |= static_cast<BYTE>(a[i] ^ b[i]);
  return diff == 0;
}

bool DesResponseMatches(const BYTE owf[16], const BYTE challenge[8], std::span<const BYTE> received) {
  BYTE expected[NTLM_RESPONSE_LENGTH];
  const bool match = ComputeDesResponse(owf, challenge, expected) &&
                     SameBytes(expected, received.data(), sizeof expected);
  SecureZeroMemory(expected, sizeof expected);
  return match;
}

bool Lmv2Matches(const BYTE ntOwf[16], const std::u16string& user, const std::u16string& domain,
                 const BYTE serverChallenge[8], std::span<const BYTE> received) {
  BYTE ntOwfV2[NTLM_OWF_LENGTH];
  BYTE expected[NTLM_RESPONSE_LENGTH];
  ComputeNtOwfV2(ntOwf, user, domain, ntOwfV2);
  ComputeLmv2Response(ntOwfV2, serverChallenge, received.data() + 16, expected);
  const bool match = SameBytes(expected, received.data(), 16);
  SecureZeroMemory(ntOwfV2, sizeof ntOwfV2);
  SecureZeroMemory(expected, sizeof expected);
  return match;
}

// The account's values for the duration of one verification, wiped on every way out.
struct FetchedValues {
  ~FetchedValues() { SecureZeroMemory(this, sizeof *this); }
  BYTE Lm[16];
  BYTE Nt[16];
  bool HaveLm = false;
  bool HaveNt = false;
};

SECURITY_STATUS Verify(NtlmKeyMaterial& keys, DWORD serverFlags, const NtlmLogonFields& f,
                       NtlmAccountValues& accounts) {
  if (f.UserName.empty() || f.UserName.size() > kMaxUserName) return SEC_E_INVALID_TOKEN;

  // The account name is the user name with ASCII letters upper-cased.
  BYTE upperUser[kMaxUserName];
  for (size_t i = 0; i < f.UserName.size(); ++i) {
    const BYTE b = f.UserName[i];
    upperUser[i] = (b >= 'a' && b <= 'z') ? static_cast<BYTE>(b - 'a' + 'A') : b;
  }
  std::u16string user, domain;
  if (!AnsiToWide(std::span<const BYTE>(upperUser, f.UserName.size()), &user) ||
      !AnsiToWide(f.DomainName, &domain))
    return SEC_E_LOGON_DENIED;

  const DWORD flags = keys.NegotiateFlags;
  const bool extended = (serverFlags & NTLM_COMPAT_NTLMV2) && (flags & NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY);
  FetchedValues values;
  if (serverFlags & NTLM_COMPAT_LM) {
    if (!accounts.GetUserValue(user.c_str(), NTLM_ACCOUNT_VALUE_LM, values.Lm)) return SEC_E_LOGON_DENIED;
    values.HaveLm = true;
  }
  if (serverFlags & (NTLM_COMPAT_NTLM | NTLM_COMPAT_NTLMV2)) {
    if (!accounts.GetUserValue(user.c_str(), NTLM_ACCOUNT_VALUE_NT, values.Nt)) return SEC_E_LOGON_DENIED;
    values.HaveNt = true;
  }

  // The LMv2 proof covers the challenge the server sent, even when an NTLM2-session check
  // below has replaced the stored one.
  BYTE sentChallenge[NTLM_CHALLENGE_LENGTH];
  std::memcpy(sentChallenge, keys.ServerChallenge, sizeof sentChallenge);

  const bool lm24 = f.LmChallengeResponse.size() == NTLM_RESPONSE_LENGTH;
  if ((serverFlags & NTLM_COMPAT_NTLM) && f.NtChallengeResponse.size() == NTLM_RESPONSE_LENGTH && values.HaveNt) {
    if (extended) {
      // NTLM2 session response: the challenge becomes MD5(server challenge, client challenge),
      // the client challenge being the first 8 bytes of the LM field.
      if (!lm24) return SEC_E_LOGON_DENIED;
      MD5_CTX md5;
      MD5Init(&md5);
      MD5Update(&md5, keys.ServerChallenge, NTLM_CHALLENGE_LENGTH);
      MD5Update(&md5, f.LmChallengeResponse.data(), 8);
      MD5Final(&md5);
      std::memcpy(keys.ServerChallenge, md5.digest, NTLM_CHALLENGE_LENGTH);
    }
    if (DesResponseMatches(values.Nt, keys.ServerChallenge, f.NtChallengeResponse)) return SEC_E_OK;
  }

  if (lm24) {
    if (!extended) {
      if ((serverFlags & NTLM_COMPAT_LM) && values.HaveLm &&
          DesResponseMatches(values.Lm, keys.ServerChallenge, f.LmChallengeResponse))
        return SEC_E_OK;
    } else if (values.HaveNt) {
      // A peer may have computed the proof with the message's domain or with none.
      if (Lmv2Matches(values.Nt, user, domain, sentChallenge, f.LmChallengeResponse) ||
          Lmv2Matches(values.Nt, user, std::u16string(), sentChallenge, f.LmChallengeResponse))
        return SEC_E_OK;
    }
  }
  return SEC_E_LOGON_DENIED;
}

}  // namespace

SECURITY_STATUS VerifyLocalLogon(NtlmKeyMaterial& keys, DWORD serverFlags, const NtlmLogonFields& fields,
                                 NtlmAccountValues& accounts) {
  try {
    return Verify(keys, serverFlags, fields, accounts);
  } catch (const std::bad_alloc&) {
    return SEC_E_INSUFFICIENT_MEMORY;
  }
}
