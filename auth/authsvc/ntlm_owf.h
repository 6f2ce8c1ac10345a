// The NTLM one-way values of a password: the LM value, the NT value and the NTLMv2 value of
// an NT value, a user and a domain.
//
// Plain functions without state; any thread. Every temporary copy of a password or of a
// value is wiped before the function returns.
#pragma once

#include <string_view>

#include "windows.h"

// LM one-way value of a UTF-16 password (an empty view for an absent password): the first
// 16 characters in the ANSI code page, ASCII letters upper-cased, cut or zero-padded to 14
// bytes, each half used as a DES key over "KGS!@#$%". False when no LM value can be computed.
[[nodiscard]] bool ComputeLmOwf(std::u16string_view password, BYTE owf[16]);
// The same for an 8-bit password, taken byte for byte (its first 16 bytes).
[[nodiscard]] bool ComputeLmOwfA(std::string_view password, BYTE owf[16]);

// NT one-way value: MD4 over the UTF-16LE password without terminator.
[[nodiscard]] bool ComputeNtOwf(std::u16string_view password, BYTE owf[16]);
// The same for an 8-bit password in the ANSI code page.
[[nodiscard]] bool ComputeNtOwfA(std::string_view password, BYTE owf[16]);

// NTLMv2 one-way value: HMAC-MD5 keyed with the NT value over the user name, each UTF-16
// unit upper-cased with the platform's towupper, followed by the domain as given, both
// UTF-16LE without terminators.
void ComputeNtOwfV2(const BYTE ntOwf[16], std::u16string_view user, std::u16string_view domain,
                    BYTE owf[16]);
