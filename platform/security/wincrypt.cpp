// Provider contexts and random bytes from getrandom(2).
#include "wincrypt.h"

#include <sys/random.h>

#include <cerrno>
#include <mutex>
#include <unordered_set>

namespace {

// Live provider handles. Handles are counters, never addresses, so a released or forged
// handle is recognised instead of being followed. Guarded by g_lock; any thread.
std::mutex g_lock;
std::unordered_set<HCRYPTPROV>* g_live;  // created on first acquisition, never freed
HCRYPTPROV g_next = 1;

bool IsLive(HCRYPTPROV h) {
  std::lock_guard<std::mutex> lock(g_lock);
  return g_live && g_live->count(h) != 0;
}

// Fills the buffer completely; getrandom may return less than asked for large requests or
// when a signal arrives.
bool FillRandom(BYTE* p, size_t n) {
  while (n > 0) {
    const ssize_t got = getrandom(p, n, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

extern "C" {

BOOL CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                          DWORD dwProvType, DWORD dwFlags) {
  if (!phProv) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phProv = 0;
  if (dwFlags & ~(CRYPT_VERIFYCONTEXT | CRYPT_SILENT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                  CRYPT_MACHINE_KEYSET)) {
    SetLastError(static_cast<DWORD>(NTE_BAD_FLAGS));
    return FALSE;
  }
  if (dwProvType != PROV_RSA_FULL) {
    SetLastError(static_cast<DWORD>(NTE_BAD_PROV_TYPE));
    return FALSE;
  }
  if (szProvider) {
    SetLastError(static_cast<DWORD>(NTE_PROV_DOES_NOT_EXIST));
    return FALSE;
  }
  // Key containers do not exist on this host: only verification contexts are handed out.
  if ((dwFlags & CRYPT_VERIFYCONTEXT) != CRYPT_VERIFYCONTEXT || szContainer) {
    SetLastError(static_cast<DWORD>(NTE_BAD_KEYSET));
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(g_lock);
  if (!g_live) g_live = new std::unordered_set<HCRYPTPROV>;
  const HCRYPTPROV h = g_next++;
  g_live->insert(h);
  *phProv = h;
  return TRUE;
}

BOOL CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
  if (!IsLive(hProv)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!pbBuffer && dwLen) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!FillRandom(pbBuffer, dwLen)) {
    SetLastError(static_cast<DWORD>(NTE_FAIL));
    return FALSE;
  }
  return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_live || g_live->erase(hProv) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  if (dwFlags != 0) {
    SetLastError(static_cast<DWORD>(NTE_BAD_FLAGS));
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
