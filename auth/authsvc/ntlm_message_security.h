// Message integrity and confidentiality over a completed NTLM context: MakeSignature,
// VerifySignature, EncryptMessage and DecryptMessage on the context's NtlmKeyMaterial.
//
// The message is a SecBufferDesc whose data buffers (type low byte SECBUFFER_DATA) are
// signed, or sealed and unsealed in place, and whose first token buffer (low byte
// SECBUFFER_TOKEN, at least 16 bytes) carries the signature. DecryptMessage also takes the
// stream form: one SECBUFFER_STREAM buffer holding the signature followed by the sealed data,
// plus a data buffer that is pointed at the data. The descriptor and its buffers are
// borrowed for the call. Callers hold the context's entry lock: each call moves the
// context's counters and RC4 states.
//
// Signature (the 16 bytes of the token buffer):
//
// | Offset | Size | Field                                                         |
// |--------|------|---------------------------------------------------------------|
// | 0      | 4    | Version, 1                                                    |
// | 4      | 8    | Checksum: HMAC-MD5 over SeqNum and the data, first 8 bytes,   |
// |        |      | RC4-encrypted when key exchange was negotiated; 0 without SIGN |
// | 12     | 4    | SeqNum                                                        |
//
// All integers are little-endian.
#pragma once

#include "ntlm_keys.h"
#include "sspi.h"
#include "windows.h"

#define NTLM_SIGNATURE_LENGTH 16
#define NTLM_SIGNATURE_VERSION 1

// Signs the data buffers with the outbound key and counter. Without SIGN the signature is
// {1, 0, 0}. The quality of protection is ignored. In datagram contexts the sequence number
// is `MessageSeqNo`.
SECURITY_STATUS MakeSignature(NtlmKeyMaterial& keys, ULONG fQOP, PSecBufferDesc pMessage, ULONG MessageSeqNo);
// Checks a received signature with the inbound key and counter: SEC_E_INVALID_TOKEN for a
// wrong version, then SEC_E_OUT_OF_SEQUENCE for a wrong sequence number, then
// SEC_E_MESSAGE_ALTERED for a wrong checksum. The inbound state advances whatever the outcome. In datagram
// contexts a zero `MessageSeqNo` means "the signature's own". pfQOP is never written.
SECURITY_STATUS VerifySignature(NtlmKeyMaterial& keys, PSecBufferDesc pMessage, ULONG MessageSeqNo, ULONG* pfQOP);
// Signs and then encrypts the data buffers in place; needs SEAL (SEC_E_UNSUPPORTED_FUNCTION).
SECURITY_STATUS EncryptMessage(NtlmKeyMaterial& keys, ULONG fQOP, PSecBufferDesc pMessage, ULONG MessageSeqNo);
// Decrypts the data buffers in place and checks the signature as VerifySignature does; needs
// SEAL. In the stream form, after success the plaintext is also copied to the memory the
// data buffer described before the call, when it is long enough.
SECURITY_STATUS DecryptMessage(NtlmKeyMaterial& keys, PSecBufferDesc pMessage, ULONG MessageSeqNo, ULONG* pfQOP);
