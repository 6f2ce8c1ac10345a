// NtlmKeyMaterial: the NTLM state of one security context that responses, session keys and
// message security work on — the negotiated flags, the server challenge, the exported
// session key, the signing and sealing keys, the RC4 states and the sequence counters.
//
// The context object embeds one record. The exchange fills NegotiateFlags and
// ServerChallenge; the client's response computation sets ExportedSessionKey and, with SIGN
// or SEAL, calls DeriveSessionKeys once; MakeSignature, VerifySignature, EncryptMessage and
// DecryptMessage then move the counters and RC4 states. Not locked itself: the caller holds
// the lock of the context's entry for every call that touches the record.
#pragma once

#include "cryptlib.h"
#include "ntlm_flags.h"
#include "windows.h"

struct NtlmKeyMaterial {
  NtlmKeyMaterial() = default;
  // The keys never outlive the record.
  ~NtlmKeyMaterial();
  NtlmKeyMaterial(const NtlmKeyMaterial&) = delete;
  NtlmKeyMaterial& operator=(const NtlmKeyMaterial&) = delete;

  // Overwrites every field with zeros (flags and counters included).
  void Wipe();

  DWORD NegotiateFlags = 0;
  // The challenge of this exchange; the server's local verification replaces it with the
  // NTLM2 session challenge when it checks such a response.
  BYTE ServerChallenge[NTLM_CHALLENGE_LENGTH] = {};
  // Zero until the client's response computation sets it (or the NEGOTIATE builder draws it
  // for key exchange).
  BYTE ExportedSessionKey[NTLM_SESSION_KEY_LENGTH] = {};
  BYTE OutboundSigningKey[16] = {};
  BYTE InboundSigningKey[16] = {};
  BYTE OutboundSealingKey[16] = {};
  BYTE InboundSealingKey[16] = {};
  RC4_KEYSTRUCT OutboundRc4 = {};
  RC4_KEYSTRUCT InboundRc4 = {};
  ULONG OutboundSeqNum = 0;
  ULONG InboundSeqNum = 0;
};

// Which side a record belongs to: the client sends with the client-to-server keys, a server
// with the server-to-client ones.
enum class NtlmRole { Client, Server };

// Derives the four signing and sealing keys from ExportedSessionKey, keys both RC4 states
// and sets both counters to 0.
void DeriveSessionKeys(NtlmKeyMaterial& keys, NtlmRole role);
