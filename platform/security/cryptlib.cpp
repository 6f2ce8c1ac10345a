// MD4, MD5, HMAC-MD5, LM-form DES and RC4 over Nettle.
#include "cryptlib.h"

#include <nettle/arcfour.h>
#include <nettle/des.h>
#include <nettle/hmac.h>
#include <nettle/md4.h>
#include <nettle/md5.h>

#include <cassert>
#include <cstddef>

#include "securezero.h"

namespace {

// The public structures hold Nettle's state in place; a Nettle update that outgrows them
// must fail the build, not corrupt memory.
static_assert(sizeof(md4_ctx) <= sizeof(MD4_CTX::State) && alignof(md4_ctx) <= 8);
static_assert(sizeof(md5_ctx) <= sizeof(MD5_CTX::State) && alignof(md5_ctx) <= 8);
static_assert(sizeof(hmac_md5_ctx) <= sizeof(HMACMD5_CTX::State) && alignof(hmac_md5_ctx) <= 8);
// RC4_KEYSTRUCT is Nettle's arcfour state, field for field.
static_assert(sizeof(arcfour_ctx) == sizeof(RC4_KEYSTRUCT));
static_assert(offsetof(arcfour_ctx, S) == offsetof(RC4_KEYSTRUCT, S) &&
              offsetof(arcfour_ctx, i) == offsetof(RC4_KEYSTRUCT, i) &&
              offsetof(arcfour_ctx, j) == offsetof(RC4_KEYSTRUCT, j));

md4_ctx* Md4(MD4_CTX* ctx) { return reinterpret_cast<md4_ctx*>(ctx->State); }
md5_ctx* Md5(MD5_CTX* ctx) { return reinterpret_cast<md5_ctx*>(ctx->State); }
hmac_md5_ctx* Hmac(HMACMD5_CTX* ctx) { return reinterpret_cast<hmac_md5_ctx*>(ctx->State); }
arcfour_ctx* Arcfour(RC4_KEYSTRUCT* ks) { return reinterpret_cast<arcfour_ctx*>(ks); }

// Spreads 56 key bits over eight bytes, seven per byte from the top, and sets odd parity in
// the low bit of each.
void ExpandLmKey(const unsigned char* k, uint8_t out[8]) {
  out[0] = k[0];
  out[1] = static_cast<uint8_t>(k[0] << 7 | k[1] >> 1);
  out[2] = static_cast<uint8_t>(k[1] << 6 | k[2] >> 2);
  out[3] = static_cast<uint8_t>(k[2] << 5 | k[3] >> 3);
  out[4] = static_cast<uint8_t>(k[3] << 4 | k[4] >> 4);
  out[5] = static_cast<uint8_t>(k[4] << 3 | k[5] >> 5);
  out[6] = static_cast<uint8_t>(k[5] << 2 | k[6] >> 6);
  out[7] = static_cast<uint8_t>(k[6] << 1);
  des_fix_parity(8, out, out);
}

}  // namespace

extern "C" {

void MD4Init(MD4_CTX* ctx) {
  assert(ctx);
  md4_init(Md4(ctx));
}

void MD4Update(MD4_CTX* ctx, const unsigned char* data, unsigned int len) {
  assert(ctx && (data || len == 0));
  if (len) md4_update(Md4(ctx), len, data);
}

void MD4Final(MD4_CTX* ctx) {
  assert(ctx);
  md4_digest(Md4(ctx), MD4_DIGEST_LEN, ctx->digest);
  SecureZeroMemory(ctx->State, sizeof ctx->State);
}

void MD5Init(MD5_CTX* ctx) {
  assert(ctx);
  md5_init(Md5(ctx));
}

void MD5Update(MD5_CTX* ctx, const unsigned char* data, unsigned int len) {
  assert(ctx && (data || len == 0));
  if (len) md5_update(Md5(ctx), len, data);
}

void MD5Final(MD5_CTX* ctx) {
  assert(ctx);
  md5_digest(Md5(ctx), MD5_DIGEST_LEN, ctx->digest);
  SecureZeroMemory(ctx->State, sizeof ctx->State);
}

void HMACMD5Init(HMACMD5_CTX* ctx, const unsigned char* key, unsigned int keyLen) {
  assert(ctx && (key || keyLen == 0));
  static const unsigned char kEmpty = 0;
  hmac_md5_set_key(Hmac(ctx), keyLen, keyLen ? key : &kEmpty);
}

void HMACMD5Update(HMACMD5_CTX* ctx, const unsigned char* data, unsigned int len) {
  assert(ctx && (data || len == 0));
  if (len) hmac_md5_update(Hmac(ctx), len, data);
}

void HMACMD5Final(HMACMD5_CTX* ctx, unsigned char digest[MD5_DIGEST_LEN]) {
  assert(ctx && digest);
  hmac_md5_digest(Hmac(ctx), MD5_DIGEST_LEN, digest);
  SecureZeroMemory(ctx->State, sizeof ctx->State);
}

BOOL DES_ECB_LM(DWORD dwOp, const unsigned char* key7, const unsigned char* input,
                unsigned char* output) {
  if (!key7 || !input || !output || (dwOp != ENCRYPT && dwOp != DECRYPT)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint8_t key[DES_KEY_SIZE];
  ExpandLmKey(key7, key);
  des_ctx des;
  // The result only reports a weak key; the schedule is built either way and the LM form
  // must use it (an all-zero half of a password gives one).
  (void)des_set_key(&des, key);
  if (dwOp == ENCRYPT)
    des_encrypt(&des, DES_BLOCK_SIZE, output, input);
  else
    des_decrypt(&des, DES_BLOCK_SIZE, output, input);
  SecureZeroMemory(key, sizeof key);
  SecureZeroMemory(&des, sizeof des);
  return TRUE;
}

void rc4_key(RC4_KEYSTRUCT* ks, unsigned int keyLen, const unsigned char* key) {
  assert(ks && key && keyLen >= ARCFOUR_MIN_KEY_SIZE && keyLen <= ARCFOUR_MAX_KEY_SIZE);
  arcfour_set_key(Arcfour(ks), keyLen, key);
}

void rc4(RC4_KEYSTRUCT* ks, unsigned int len, unsigned char* data) {
  assert(ks && (data || len == 0));
  if (len) arcfour_crypt(Arcfour(ks), len, data, data);
}

}  // extern "C"
