// SecureZeroMemory over the C library's wipe that the compiler may not elide.
#include "securezero.h"

#include <string.h>

extern "C" PVOID SecureZeroMemory(PVOID ptr, SIZE_T cb) {
  if (ptr && cb) explicit_bzero(ptr, cb);
  return ptr;
}
