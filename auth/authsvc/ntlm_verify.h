// The server's local verification of an AUTHENTICATE message's responses against the
// one-way values of a local account: LMv1, NTLMv1, NTLM2-session and LMv2 responses.
//
// The AUTHENTICATE handler calls VerifyLocalLogon on the thread that holds the context's
// entry lock; the account store behind NtlmAccountValues must be safe to call from any
// thread.
#pragma once

#include <span>

#include "ntlm_keys.h"
#include "sspi.h"
#include "windows.h"

// Levels of the account values, the numbers of the account store's value levels.
#define NTLM_ACCOUNT_VALUE_LM 1
#define NTLM_ACCOUNT_VALUE_NT 2

// The account store as local verification sees it.
class NtlmAccountValues {
 public:
  virtual ~NtlmAccountValues() = default;
  // Required. Copies the one-way value of `level` (NTLM_ACCOUNT_VALUE_LM or _NT) of the
  // account `user` (NUL-terminated, compared without regard to case) into the 16 bytes at
  // `value`. False when the account or the value does not exist, cannot be unsealed or is
  // not 16 bytes long; the bytes at `value` then mean nothing. `user` is borrowed for the call.
  virtual bool GetUserValue(const WCHAR* user, DWORD level, BYTE value[16]) = 0;
};

// The fields of a received AUTHENTICATE message that verification reads, borrowed from the
// message for the call. Names are the message's 8-bit ANSI bytes without terminator.
struct NtlmLogonFields {
  std::span<const BYTE> LmChallengeResponse;
  std::span<const BYTE> NtChallengeResponse;
  std::span<const BYTE> UserName;
  std::span<const BYTE> DomainName;
};

// Verifies the responses with the context's flags and challenge (keys.NegotiateFlags,
// keys.ServerChallenge) under the server compatibility flags `serverFlags` (NTLM_COMPAT_*):
// SEC_E_OK when one accepted response matches, SEC_E_INVALID_TOKEN for a user name that is
// empty or longer than 256 bytes, SEC_E_LOGON_DENIED otherwise. Checking an NTLM2-session
// response replaces keys.ServerChallenge with the NTLM2 session challenge.
SECURITY_STATUS VerifyLocalLogon(NtlmKeyMaterial& keys, DWORD serverFlags, const NtlmLogonFields& fields,
                                 NtlmAccountValues& accounts);
