// The challenge responses: the DES response used by LMv1, NTLMv1 and NTLM2-session
// responses, and the LMv2 response. Plain functions; any thread.
#pragma once

#include "windows.h"

// DES response of a 16-byte key K and an 8-byte challenge C: DES(K[0..6], C),
// DES(K[7..13], C), DES(K[14..15] and five zero bytes, C), 24 bytes. False when DES fails.
[[nodiscard]] bool ComputeDesResponse(const BYTE key[16], const BYTE challenge[8], BYTE response[24]);

// LMv2 response: the proof HMAC-MD5(NTLMv2 value, server challenge, client challenge)
// followed by the client challenge, 24 bytes.
void ComputeLmv2Response(const BYTE ntOwfV2[16], const BYTE serverChallenge[8],
                         const BYTE clientChallenge[8], BYTE response[24]);
