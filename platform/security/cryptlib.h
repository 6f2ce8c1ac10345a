// The platform's cryptographic primitives: MD4, MD5, HMAC-MD5, single DES in the LM form and
// RC4, under the names the device's crypto library gives them.
//
// Callers own every context structure (usually on their stack or inside a larger record);
// Init, any number of Update calls, then Final. The structures are sized to hold the state of
// the library that does the work, so they can be embedded and copied like plain data.
// A context is used by one thread at a time; different contexts are independent.
#pragma once

#include "windows.h"

extern "C" {

#define MD4_DIGEST_LEN 16
#define MD5_DIGEST_LEN 16
#define RC4_STATE_LEN 258

// Final writes the hash into `digest` and wipes the running state.
typedef struct _MD4_CTX {
  alignas(8) unsigned char State[128];
  unsigned char digest[MD4_DIGEST_LEN];
} MD4_CTX;

typedef struct _MD5_CTX {
  alignas(8) unsigned char State[128];
  unsigned char digest[MD5_DIGEST_LEN];
} MD5_CTX;

typedef struct _HMACMD5_CTX {
  alignas(8) unsigned char State[320];
} HMACMD5_CTX;

CEHOST_EXPORT void MD4Init(MD4_CTX* ctx);
CEHOST_EXPORT void MD4Update(MD4_CTX* ctx, const unsigned char* data, unsigned int len);
CEHOST_EXPORT void MD4Final(MD4_CTX* ctx);

CEHOST_EXPORT void MD5Init(MD5_CTX* ctx);
CEHOST_EXPORT void MD5Update(MD5_CTX* ctx, const unsigned char* data, unsigned int len);
CEHOST_EXPORT void MD5Final(MD5_CTX* ctx);

// HMAC-MD5 as published (keys longer than 64 bytes are hashed first). Final writes 16 bytes
// to `digest` and wipes the state, key included.
CEHOST_EXPORT void HMACMD5Init(HMACMD5_CTX* ctx, const unsigned char* key, unsigned int keyLen);
CEHOST_EXPORT void HMACMD5Update(HMACMD5_CTX* ctx, const unsigned char* data, unsigned int len);
CEHOST_EXPORT void HMACMD5Final(HMACMD5_CTX* ctx, unsigned char digest[MD5_DIGEST_LEN]);

// One DES block (8 bytes from `input` to `output`, which may be the same buffer) under a
// 7-byte key, which is spread over the eight bytes of a DES key seven bits at a time with
// odd parity in each low bit, as the LM form needs. Weak and semi-weak keys are used as they
// are: the LM value of an empty password is computed with one. Returns FALSE (last error
// ERROR_INVALID_PARAMETER) only for a null pointer or an operation other than the two below.
#define ENCRYPT 0
#define DECRYPT 1
CEHOST_EXPORT BOOL DES_ECB_LM(DWORD dwOp, const unsigned char* key7, const unsigned char* input,
                              unsigned char* output);

// An RC4 state: the 256-byte permutation and the two indices. A state keyed once carries on
// across rc4 calls, so consecutive calls form one key stream.
typedef struct _RC4_KEYSTRUCT {
  unsigned char S[256];
  unsigned char i;
  unsigned char j;
} RC4_KEYSTRUCT;
static_assert(sizeof(RC4_KEYSTRUCT) == RC4_STATE_LEN);

// keyLen must be 1 to 256 (a contract of the caller).
CEHOST_EXPORT void rc4_key(RC4_KEYSTRUCT* ks, unsigned int keyLen, const unsigned char* key);
// Transforms `len` bytes of `data` in place.
CEHOST_EXPORT void rc4(RC4_KEYSTRUCT* ks, unsigned int len, unsigned char* data);

}  // extern "C"
