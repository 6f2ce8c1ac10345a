// Session key derivation for signing and sealing.
#include "ntlm_keys.h"

#include "securezero.h"

namespace {

// The derivation constants include their terminating zero byte.
constexpr char kClientSealing[] = "session key to client-to-server sealing key magic constant";
constexpr char kServerSealing[] = "session key to server-to-client sealing key magic constant";
constexpr char kClientSigning[] = "session key to client-to-server signing key magic constant";
constexpr char kServerSigning[] = "session key to server-to-client signing key magic constant";
static_assert(sizeof kClientSealing == 59 && sizeof kServerSigning == 59);

void DeriveKey(const BYTE sessionKey[16], const char (&constant)[59], BYTE key[16]) {
  MD5_CTX md5;
  MD5Init(&md5);
  MD5Update(&md5, sessionKey, 16);
  MD5Update(&md5, reinterpret_cast<const unsigned char*>(constant), sizeof constant);
  MD5Final(&md5);
  for (int i = 0; i < 16; ++i) key[i] = md5.digest[i];
  SecureZeroMemory(&md5, sizeof md5);
}

}  // namespace

NtlmKeyMaterial::~NtlmKeyMaterial() { Wipe(); }

void NtlmKeyMaterial::Wipe() {
  // Every member is plain bytes or integers, so zeroing the object is a valid reset.
  SecureZeroMemory(this, sizeof *this);
}

void DeriveSessionKeys(NtlmKeyMaterial& keys, NtlmRole role) {
  const bool client = role == NtlmRole::Client;
  DeriveKey(keys.ExportedSessionKey, client ? kClientSealing : kServerSealing, keys.OutboundSealingKey);
  DeriveKey(keys.ExportedSessionKey, client ? kServerSealing : kClientSealing, keys.InboundSealingKey);
  DeriveKey(keys.ExportedSessionKey, client ? kClientSigning : kServerSigning, keys.OutboundSigningKey);
  DeriveKey(keys.ExportedSessionKey, client ? kServerSigning : kClientSigning, keys.InboundSigningKey);
  rc4_key(&keys.OutboundRc4, 16, keys.OutboundSealingKey);
  rc4_key(&keys.InboundRc4, 16, keys.InboundSealingKey);
  keys.OutboundSeqNum = 0;
  keys.InboundSeqNum = 0;
}
