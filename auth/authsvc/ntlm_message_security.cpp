// Signing, verifying, sealing and unsealing messages.
#include "ntlm_message_security.h"

#include <cstring>

#include "cryptlib.h"
#include "ntlm_flags.h"
#include "securezero.h"

namespace {

enum class Op { Sign, Verify, Seal, Unseal };

bool Outbound(Op op) { return op == Op::Sign || op == Op::Seal; }
bool Sealing(Op op) { return op == Op::Seal || op == Op::Unseal; }

bool IsData(const SecBuffer& b) { return (b.BufferType & 0xFF) == SECBUFFER_DATA; }
bool IsToken(const SecBuffer& b) { return (b.BufferType & 0xFF) == SECBUFFER_TOKEN; }
bool IsStream(const SecBuffer& b) { return (b.BufferType & ~SECBUFFER_ATTRMASK) == SECBUFFER_STREAM; }

struct Signature {
  ULONG Version = NTLM_SIGNATURE_VERSION;
  BYTE Checksum[8] = {};
  ULONG SeqNum = 0;
};

ULONG ReadLe32(const BYTE* p) {
  return static_cast<ULONG>(p[0]) | static_cast<ULONG>(p[1]) << 8 | static_cast<ULONG>(p[2]) << 16 |
         static_cast<ULONG>(p[3]) << 24;
}

void WriteLe32(ULONG v, BYTE* p) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
  p[2] = static_cast<BYTE>(v >> 16);
  p[3] = static_cast<BYTE>(v >> 24);
}

// The one reader of received signatures.
[[nodiscard]] bool ReadSignature(const BYTE* p, size_t cb, Signature* sig) {
  if (!p || cb < NTLM_SIGNATURE_LENGTH) return false;
  sig->Version = ReadLe32(p);
  std::memcpy(sig->Checksum, p + 4, 8);
  sig->SeqNum = ReadLe32(p + 12);
  return true;
}

void WriteSignature(const Signature& sig, BYTE* p) {
  WriteLe32(sig.Version, p);
  std::memcpy(p + 4, sig.Checksum, 8);
  WriteLe32(sig.SeqNum, p + 12);
}

// Where the signature lives for this call: a token buffer, or the head of a stream buffer.
struct Layout {
  PSecBuffer token = nullptr;
  PSecBuffer stream = nullptr;
  PSecBuffer data = nullptr;  // the first data buffer; the stream's data is described by it
  Signature received;         // verify and unseal only
};

SECURITY_STATUS FindBuffers(Op op, PSecBufferDesc desc, Layout* layout) {
  if (!desc || (desc->cBuffers && !desc->pBuffers)) return SEC_E_INVALID_TOKEN;
  for (ULONG i = 0; i < desc->cBuffers; ++i) {
    SecBuffer& b = desc->pBuffers[i];
    if (!layout->token && IsToken(b)) layout->token = &b;
    if (!layout->data && IsData(b)) layout->data = &b;
    if (op == Op::Unseal && !layout->stream && IsStream(b)) layout->stream = &b;
  }
  if (layout->stream) {
    // The stream's bytes are decrypted in place, so a read-only stream cannot be unsealed.
    const SecBuffer& s = *layout->stream;
    if (layout->token || !layout->data || s.cbBuffer < NTLM_SIGNATURE_LENGTH || !s.pvBuffer ||
        (s.BufferType & SECBUFFER_READONLY))
      return SEC_E_INVALID_TOKEN;
    if (!ReadSignature(static_cast<const BYTE*>(s.pvBuffer), s.cbBuffer, &layout->received))
      return SEC_E_INVALID_TOKEN;
    return SEC_E_OK;
  }
  if (!layout->token || layout->token->cbBuffer < NTLM_SIGNATURE_LENGTH || !layout->token->pvBuffer)
    return SEC_E_INVALID_TOKEN;
  if (!Outbound(op) &&
      !ReadSignature(static_cast<const BYTE*>(layout->token->pvBuffer), layout->token->cbBuffer, &layout->received))
    return SEC_E_INVALID_TOKEN;
  return SEC_E_OK;
}

// Every data buffer that will be hashed must be writable and present. Checked before any
// state moves or any byte changes, so a refused call costs the caller neither its data nor
// a sequence number.
bool DataBuffersUsable(const SecBufferDesc& desc) {
  for (ULONG i = 0; i < desc.cBuffers; ++i) {
    const SecBuffer& b = desc.pBuffers[i];
    if (!IsData(b) || b.cbBuffer == 0) continue;
    if ((b.BufferType & SECBUFFER_READONLY) || !b.pvBuffer) return false;
  }
  return true;
}

// The sequence number is compared before the checksum: a message that arrives out of order
// also fails its checksum (the HMAC covers the expected number), and must be reported as out
// of sequence, not as altered.
SECURITY_STATUS Compare(const Signature& computed, const Signature& received) {
  if (received.Version != NTLM_SIGNATURE_VERSION) return SEC_E_INVALID_TOKEN;
  if (computed.SeqNum != received.SeqNum) return SEC_E_OUT_OF_SEQUENCE;
  if (std::memcmp(computed.Checksum, received.Checksum, sizeof computed.Checksum) != 0) return SEC_E_MESSAGE_ALTERED;
  return SEC_E_OK;
}

// Signs, verifies, seals or unseals one message (see the header).
SECURITY_STATUS Process(NtlmKeyMaterial& keys, Op op, PSecBufferDesc desc, ULONG messageSeqNo) {
  Layout layout;
  SECURITY_STATUS status = FindBuffers(op, desc, &layout);
  if (status != SEC_E_OK) return status;

  const DWORD flags = keys.NegotiateFlags;
  Signature computed;
  if (!Sealing(op) && !(flags & NTLMSSP_NEGOTIATE_SIGN)) {
    // Without SIGN the signature is a constant {1, 0, 0}.
    layout.token->cbBuffer = NTLM_SIGNATURE_LENGTH;
    if (op == Op::Sign) {
      WriteSignature(computed, static_cast<BYTE*>(layout.token->pvBuffer));
      return SEC_E_OK;
    }
    return Compare(computed, layout.received);
  }
  if (Sealing(op) && !(flags & NTLMSSP_NEGOTIATE_SEAL)) return SEC_E_UNSUPPORTED_FUNCTION;

  BYTE* streamData = nullptr;
  PVOID callerData = nullptr;
  ULONG callerDataLength = 0;
  if (layout.stream) {
    streamData = static_cast<BYTE*>(layout.stream->pvBuffer) + NTLM_SIGNATURE_LENGTH;
    callerData = layout.data->pvBuffer;
    callerDataLength = layout.data->cbBuffer;
    layout.data->pvBuffer = streamData;
    layout.data->cbBuffer = layout.stream->cbBuffer - NTLM_SIGNATURE_LENGTH;
  }
  if (!DataBuffersUsable(*desc)) {
    if (layout.stream) {
      layout.data->pvBuffer = callerData;
      layout.data->cbBuffer = callerDataLength;
    }
    return SEC_E_INVALID_TOKEN;
  }

  const bool outbound = Outbound(op);
  const BYTE* signingKey = outbound ? keys.OutboundSigningKey : keys.InboundSigningKey;
  const BYTE* sealingKey = outbound ? keys.OutboundSealingKey : keys.InboundSealingKey;
  RC4_KEYSTRUCT& rc4State = outbound ? keys.OutboundRc4 : keys.InboundRc4;
  ULONG& counter = outbound ? keys.OutboundSeqNum : keys.InboundSeqNum;

  if (!(flags & NTLMSSP_NEGOTIATE_DATAGRAM)) {
    computed.SeqNum = counter++;
  } else {
    computed.SeqNum = (outbound || messageSeqNo != 0) ? messageSeqNo : layout.received.SeqNum;
  }
  BYTE seqBytes[4];
  WriteLe32(computed.SeqNum, seqBytes);

  // Datagrams may arrive in any order, so each one gets an RC4 state of its own.
  if ((flags & NTLMSSP_NEGOTIATE_DATAGRAM) && (Sealing(op) || (flags & NTLMSSP_NEGOTIATE_KEY_EXCH))) {
    MD5_CTX md5;
    MD5Init(&md5);
    MD5Update(&md5, sealingKey, 16);
    MD5Update(&md5, seqBytes, sizeof seqBytes);
    MD5Final(&md5);
    rc4_key(&rc4State, 16, md5.digest);
    SecureZeroMemory(&md5, sizeof md5);
  }

  HMACMD5_CTX hmac;
  HMACMD5Init(&hmac, signingKey, 16);
  HMACMD5Update(&hmac, seqBytes, sizeof seqBytes);
  for (ULONG i = 0; i < desc->cBuffers; ++i) {
    SecBuffer& b = desc->pBuffers[i];
    if (!IsData(b) || b.cbBuffer == 0) continue;
    BYTE* bytes = static_cast<BYTE*>(b.pvBuffer);
    if (op == Op::Unseal) rc4(&rc4State, b.cbBuffer, bytes);
    HMACMD5Update(&hmac, bytes, b.cbBuffer);
    if (op == Op::Seal) rc4(&rc4State, b.cbBuffer, bytes);
  }
  BYTE mac[16];
  HMACMD5Final(&hmac, mac);
  std::memcpy(computed.Checksum, mac, sizeof computed.Checksum);
  SecureZeroMemory(mac, sizeof mac);
  if (flags & NTLMSSP_NEGOTIATE_KEY_EXCH) rc4(&rc4State, sizeof computed.Checksum, computed.Checksum);

  if (layout.token) layout.token->cbBuffer = NTLM_SIGNATURE_LENGTH;
  if (outbound) {
    WriteSignature(computed, static_cast<BYTE*>(layout.token->pvBuffer));
    return SEC_E_OK;
  }
  status = Compare(computed, layout.received);
  if (status == SEC_E_OK && layout.stream && callerData && callerDataLength >= layout.data->cbBuffer)
    std::memmove(callerData, streamData, layout.data->cbBuffer);
  return status;
}

}  // namespace

SECURITY_STATUS MakeSignature(NtlmKeyMaterial& keys, ULONG fQOP, PSecBufferDesc pMessage, ULONG MessageSeqNo) {
  (void)fQOP;
  return Process(keys, Op::Sign, pMessage, MessageSeqNo);
}

SECURITY_STATUS VerifySignature(NtlmKeyMaterial& keys, PSecBufferDesc pMessage, ULONG MessageSeqNo, ULONG* pfQOP) {
  (void)pfQOP;
  return Process(keys, Op::Verify, pMessage, MessageSeqNo);
}

SECURITY_STATUS EncryptMessage(NtlmKeyMaterial& keys, ULONG fQOP, PSecBufferDesc pMessage, ULONG MessageSeqNo) {
  (void)fQOP;
  return Process(keys, Op::Seal, pMessage, MessageSeqNo);
}

SECURITY_STATUS DecryptMessage(NtlmKeyMaterial& keys, PSecBufferDesc pMessage, ULONG MessageSeqNo, ULONG* pfQOP) {
  (void)pfQOP;
  return Process(keys, Op::Unseal, pMessage, MessageSeqNo);
}
