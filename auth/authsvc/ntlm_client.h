// The client's side of the NTLM computations: random bytes for challenges and keys, the
// response the AUTHENTICATE message carries, the session key it may send, and the context's
// signing and sealing keys.
//
// The AUTHENTICATE builder calls ComputeClientResponse once per exchange, on the thread that
// holds the context's entry lock (the record is the context's).
#pragma once

#include <string_view>

#include "ntlm_flags.h"
#include "ntlm_keys.h"
#include "sspi.h"
#include "windows.h"

// What the client's credential gives the response computation. Pointers are borrowed for the
// call; a null one-way value is absent.
struct NtlmClientCredential {
  std::u16string_view UserName;
  std::u16string_view DomainName;
  const BYTE* LmOwf = nullptr;  // 16 bytes
  const BYTE* NtOwf = nullptr;  // 16 bytes
};

// What goes into the AUTHENTICATE message. The NT response is always empty.
struct NtlmClientResponse {
  BYTE LmChallengeResponse[NTLM_RESPONSE_LENGTH] = {};
  // Valid when HasEncryptedRandomSessionKey (key exchange kept).
  BYTE EncryptedRandomSessionKey[NTLM_SESSION_KEY_LENGTH] = {};
  bool HasEncryptedRandomSessionKey = false;
};

// Fills `buffer` with unpredictable bytes from the platform's provider (a context acquired
// and released for the call). SEC_E_INTERNAL_ERROR when the provider fails.
SECURITY_STATUS NtlmGenerateRandom(BYTE* buffer, DWORD cb);

// Computes the response for keys.NegotiateFlags and keys.ServerChallenge with a fresh random
// client challenge, then the session keys:
// - with extended session security the LMv2 response (needs the NT value), session base key
//   HMAC-MD5(NTLMv2 value, LMv2 proof); otherwise the DES response of the LM value and the
//   server challenge (needs the LM value), session base key zero. A missing value gives
//   SEC_E_NO_CREDENTIALS.
// - with key exchange, keys.ExportedSessionKey (drawn when the NEGOTIATE was built) is sent
//   RC4-encrypted under the session base key; otherwise it becomes the session base key.
// - with SIGN or SEAL, the client's signing and sealing keys are derived.
// On failure `keys` keeps its previous content.
SECURITY_STATUS ComputeClientResponse(NtlmKeyMaterial& keys, const NtlmClientCredential& cred,
                                      NtlmClientResponse* out);
// The same with a given client challenge (8 bytes).
SECURITY_STATUS ComputeClientResponseWithChallenge(NtlmKeyMaterial& keys, const NtlmClientCredential& cred,
                                                   const BYTE clientChallenge[8], NtlmClientResponse* out);
