// Client responses and session keys.
#include "ntlm_client.h"

#include <cassert>
#include <cstring>

#include "cryptlib.h"
#include "ntlm_owf.h"
#include "ntlm_response.h"
#include "securezero.h"
#include "wincrypt.h"

namespace {

// No key container, no provider name, a verification context that never prompts.
constexpr DWORD kProviderFlags = CRYPT_VERIFYCONTEXT | CRYPT_SILENT;

}  // namespace

SECURITY_STATUS NtlmGenerateRandom(BYTE* buffer, DWORD cb) {
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, kProviderFlags))
    return SEC_E_INTERNAL_ERROR;
  const BOOL ok = CryptGenRandom(prov, cb, buffer);
  CryptReleaseContext(prov, 0);
  return ok ? SEC_E_OK : SEC_E_INTERNAL_ERROR;
}

SECURITY_STATUS ComputeClientResponse(NtlmKeyMaterial& keys, const NtlmClientCredential& cred,
                                      NtlmClientResponse* out) {
  BYTE clientChallenge[8];
  const SECURITY_STATUS status = NtlmGenerateRandom(clientChallenge, sizeof clientChallenge);
  if (status != SEC_E_OK) return status;
  return ComputeClientResponseWithChallenge(keys, cred, clientChallenge, out);
}

SECURITY_STATUS ComputeClientResponseWithChallenge(NtlmKeyMaterial& keys, const NtlmClientCredential& cred,
                                                   const BYTE clientChallenge[8], NtlmClientResponse* out) {
  assert(clientChallenge && out);
  const DWORD flags = keys.NegotiateFlags;
  NtlmClientResponse response;
  BYTE sessionBaseKey[NTLM_SESSION_KEY_LENGTH] = {};
  if (flags & NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY) {
    if (!cred.NtOwf) return SEC_E_NO_CREDENTIALS;
    BYTE ntOwfV2[NTLM_OWF_LENGTH];
    ComputeNtOwfV2(cred.NtOwf, cred.UserName, cred.DomainName, ntOwfV2);
    ComputeLmv2Response(ntOwfV2, keys.ServerChallenge, clientChallenge, response.LmChallengeResponse);
    HMACMD5_CTX hmac;
    HMACMD5Init(&hmac, ntOwfV2, sizeof ntOwfV2);
    HMACMD5Update(&hmac, response.LmChallengeResponse, 16);  // the proof
    HMACMD5Final(&hmac, sessionBaseKey);
    SecureZeroMemory(ntOwfV2, sizeof ntOwfV2);
  } else {
    if (!cred.LmOwf) return SEC_E_NO_CREDENTIALS;
    if (!ComputeDesResponse(cred.LmOwf, keys.ServerChallenge, response.LmChallengeResponse))
      return SEC_E_INTERNAL_ERROR;
  }

  if (flags & NTLMSSP_NEGOTIATE_KEY_EXCH) {
    RC4_KEYSTRUCT rc4State;
    rc4_key(&rc4State, sizeof sessionBaseKey, sessionBaseKey);
    std::memcpy(response.EncryptedRandomSessionKey, keys.ExportedSessionKey, NTLM_SESSION_KEY_LENGTH);
    rc4(&rc4State, NTLM_SESSION_KEY_LENGTH, response.EncryptedRandomSessionKey);
    response.HasEncryptedRandomSessionKey = true;
    SecureZeroMemory(&rc4State, sizeof rc4State);
  } else {
    std::memcpy(keys.ExportedSessionKey, sessionBaseKey, NTLM_SESSION_KEY_LENGTH);
  }
  SecureZeroMemory(sessionBaseKey, sizeof sessionBaseKey);

  if (flags & (NTLMSSP_NEGOTIATE_SIGN | NTLMSSP_NEGOTIATE_SEAL)) DeriveSessionKeys(keys, NtlmRole::Client);
  *out = response;
  return SEC_E_OK;
}
