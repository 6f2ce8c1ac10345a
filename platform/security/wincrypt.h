// The platform's cryptographic service provider: a provider context that hands out random
// bytes from the kernel's generator.
//
// There are no key containers on this host, so a context is always acquired with
// CRYPT_VERIFYCONTEXT; it is used for CryptGenRandom and released. Every function may be
// called from any thread; one context may be used by several threads at once.
#pragma once

#include "windows.h"

extern "C" {

typedef ULONG_PTR HCRYPTPROV;

#define PROV_RSA_FULL 1

#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008u
#define CRYPT_DELETEKEYSET 0x00000010u
#define CRYPT_MACHINE_KEYSET 0x00000020u
#define CRYPT_SILENT 0x00000040u

// Failures, reported through the thread's last error.
#define NTE_BAD_FLAGS ((HRESULT)0x80090009L)
#define NTE_BAD_KEYSET ((HRESULT)0x80090016L)
#define NTE_BAD_PROV_TYPE ((HRESULT)0x80090014L)
#define NTE_PROV_DOES_NOT_EXIST ((HRESULT)0x80090019L)
#define NTE_FAIL ((HRESULT)0x80090020L)

// szContainer must be null and dwFlags must hold CRYPT_VERIFYCONTEXT (CRYPT_SILENT may be
// added); szProvider must be null (the one provider). On success *phProv is a non-zero
// handle that CryptReleaseContext gives back.
CEHOST_EXPORT BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                                        DWORD dwProvType, DWORD dwFlags);
// Fills dwLen bytes at pbBuffer with unpredictable bytes. FALSE with ERROR_INVALID_HANDLE for
// a handle that is not live, ERROR_INVALID_PARAMETER for a null buffer with a non-zero
// length, NTE_FAIL when the kernel's generator fails.
CEHOST_EXPORT BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);
// dwFlags must be 0 (NTE_BAD_FLAGS otherwise; the handle is released all the same).
CEHOST_EXPORT BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
#define CryptAcquireContext CryptAcquireContextW

}  // extern "C"
