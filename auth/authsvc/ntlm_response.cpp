// DES and LMv2 responses.
#include "ntlm_response.h"

#include <cassert>
#include <cstring>

#include "cryptlib.h"
#include "securezero.h"

bool ComputeDesResponse(const BYTE key[16], const BYTE challenge[8], BYTE response[24]) {
  assert(key && challenge && response);
  BYTE last[7] = {key[14], key[15], 0, 0, 0, 0, 0};
  const bool ok = DES_ECB_LM(ENCRYPT, key, challenge, response) &&
                  DES_ECB_LM(ENCRYPT, key + 7, challenge, response + 8) &&
                  DES_ECB_LM(ENCRYPT, last, challenge, response + 16);
  SecureZeroMemory(last, sizeof last);
  if (!ok) SecureZeroMemory(response, 24);
  return ok;
}

void ComputeLmv2Response(const BYTE ntOwfV2[16], const BYTE serverChallenge[8],
                         const BYTE clientChallenge[8], BYTE response[24]) {
  assert(ntOwfV2 && serverChallenge && clientChallenge && response);
  HMACMD5_CTX hmac;
  HMACMD5Init(&hmac, ntOwfV2, 16);
  HMACMD5Update(&hmac, serverChallenge, 8);
  HMACMD5Update(&hmac, clientChallenge, 8);
  // The client challenge is copied first: the caller may pass a response buffer that holds it.
  BYTE cc[8];
  std::memcpy(cc, clientChallenge, 8);
  HMACMD5Final(&hmac, response);
  std::memcpy(response + 16, cc, 8);
}
