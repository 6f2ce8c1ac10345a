// NTLM negotiate flags, the compatibility-level bits and the code page of NTLM's 8-bit
// strings, as every part of the NTLM service uses them.
#pragma once

#include "windows.h"

// NegotiateFlags bits (the protocol's names).
#define NTLMSSP_NEGOTIATE_UNICODE 0x00000001u
#define NTLMSSP_NEGOTIATE_OEM 0x00000002u
#define NTLMSSP_REQUEST_TARGET 0x00000004u
#define NTLMSSP_NEGOTIATE_SIGN 0x00000010u
#define NTLMSSP_NEGOTIATE_SEAL 0x00000020u
#define NTLMSSP_NEGOTIATE_DATAGRAM 0x00000040u
#define NTLMSSP_NEGOTIATE_NTLM 0x00000200u
#define NTLMSSP_NEGOTIATE_ALWAYS_SIGN 0x00008000u
#define NTLMSSP_TARGET_TYPE_DOMAIN 0x00010000u
#define NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY 0x00080000u
#define NTLMSSP_NEGOTIATE_IDENTIFY 0x00100000u
#define NTLMSSP_NEGOTIATE_TARGET_INFO 0x00800000u
#define NTLMSSP_NEGOTIATE_128 0x20000000u
#define NTLMSSP_NEGOTIATE_KEY_EXCH 0x40000000u

// Compatibility flags derived from the LmCompatibilityLevel settings: which one-way values a
// credential or account carries and which responses are sent or accepted.
#define NTLM_COMPAT_LM 0x1u
#define NTLM_COMPAT_NTLM 0x2u
#define NTLM_COMPAT_NTLMV2 0x4u

// The ANSI code page: passwords are cut and upper-cased in it for the LM one-way value, and
// the user and domain names that credentials put into AUTHENTICATE messages (and that the
// server reads back from them) are converted with it.
#define NTLM_ANSI_CODE_PAGE CP_ACP

#define NTLM_OWF_LENGTH 16
#define NTLM_CHALLENGE_LENGTH 8
#define NTLM_RESPONSE_LENGTH 24
#define NTLM_SESSION_KEY_LENGTH 16
