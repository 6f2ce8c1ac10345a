// Local and heap memory, and virtual memory reserved below 4 GiB.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_set>

#include "cehost/kernel_object.h"

namespace {

// Every local or heap block carries its size in a 16-byte header (keeps 16-byte alignment),
// so LocalSize/HeapSize answer exactly what was asked for.
constexpr size_t kHeader = 16;

void* AllocBlock(size_t bytes, bool zero) {
  if (bytes > SIZE_MAX - kHeader) return nullptr;
  auto* raw = static_cast<unsigned char*>(zero ? std::calloc(1, bytes + kHeader)
                                               : std::malloc(bytes + kHeader));
  if (!raw) return nullptr;
  std::memcpy(raw, &bytes, sizeof bytes);
  return raw + kHeader;
}

unsigned char* HeaderOf(void* block) { return static_cast<unsigned char*>(block) - kHeader; }

size_t SizeOf(const void* block) {
  size_t n;
  std::memcpy(&n, static_cast<const unsigned char*>(block) - kHeader, sizeof n);
  return n;
}

void* ReallocBlock(void* block, size_t bytes, bool zero) {
  if (bytes > SIZE_MAX - kHeader) return nullptr;
  const size_t old = SizeOf(block);
  auto* raw = static_cast<unsigned char*>(std::realloc(HeaderOf(block), bytes + kHeader));
  if (!raw) return nullptr;
  std::memcpy(raw, &bytes, sizeof bytes);
  if (zero && bytes > old) std::memset(raw + kHeader + old, 0, bytes - old);
  return raw + kHeader;
}

// A private heap remembers its blocks so that HeapDestroy can free them all.
class HeapObject : public cehost::KernelObject {
 public:
  ~HeapObject() override {
    for (void* b : blocks_) std::free(HeaderOf(b));
  }
  std::mutex lock_;
  std::unordered_set<void*> blocks_;  // guarded by lock_
};

// The process heap: blocks are not tracked (it is never destroyed).
HANDLE ProcessHeapHandle() {
  static HANDLE heap = cehost::IssueHandle(std::make_shared<HeapObject>());
  return heap;
}

// Reservations made by VirtualAlloc: base -> size. Guarded by g_virtual_lock.
std::mutex g_virtual_lock;
std::map<uintptr_t, size_t> g_reservations;

constexpr size_t kGranularity = 0x10000;

size_t PageSize() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

// Maps `size` bytes at a 64 KiB boundary below 4 GiB.
void* MapLow(size_t size, int prot) {
  const size_t span = size + kGranularity;
  int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
#if defined(__x86_64__)
  flags |= MAP_32BIT;  // the first 2 GiB
  void* p = mmap(nullptr, span, prot, flags, -1, 0);
#else
  void* p = mmap(reinterpret_cast<void*>(0x40000000), span, prot, flags, -1, 0);
#endif
  if (p == MAP_FAILED) return nullptr;
  const uintptr_t base = reinterpret_cast<uintptr_t>(p);
  const uintptr_t aligned = (base + kGranularity - 1) & ~(kGranularity - 1);
  if (aligned + size > 0x100000000ull) {
    munmap(p, span);
    return nullptr;
  }
  if (aligned > base) munmap(p, aligned - base);
  const uintptr_t end = base + span;
  if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
  return reinterpret_cast<void*>(aligned);
}

int ProtectionOf(DWORD flProtect) {
  switch (flProtect & 0xFF) {
    case PAGE_NOACCESS: return PROT_NONE;
    case PAGE_READONLY: return PROT_READ;
    default: return PROT_READ | PROT_WRITE;
  }
}

}  // namespace

extern "C" {

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  void* p = AllocBlock(uBytes, (uFlags & LMEM_ZEROINIT) != 0);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL LocalReAlloc(HLOCAL hMem, SIZE_T uBytes, UINT uFlags) {
  if (!hMem) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* p = ReallocBlock(hMem, uBytes, (uFlags & LMEM_ZEROINIT) != 0);
  if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HLOCAL LocalFree(HLOCAL hMem) {
  if (hMem) std::free(HeaderOf(hMem));
  return nullptr;
}

SIZE_T LocalSize(HLOCAL hMem) { return hMem ? SizeOf(hMem) : 0; }

HANDLE GetProcessHeap(void) { return ProcessHeapHandle(); }

HANDLE HeapCreate(DWORD, SIZE_T, SIZE_T) { return cehost::IssueHandle(std::make_shared<HeapObject>()); }

BOOL HeapDestroy(HANDLE hHeap) {
  if (hHeap == ProcessHeapHandle()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!cehost::LookupHandleAs<HeapObject>(hHeap)) return FALSE;
  return CloseHandle(hHeap);
}

LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  auto heap = cehost::LookupHandleAs<HeapObject>(hHeap);
  if (!heap) return nullptr;
  void* p = AllocBlock(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (hHeap != ProcessHeapHandle()) {
    std::lock_guard<std::mutex> guard(heap->lock_);
    heap->blocks_.insert(p);
  }
  return p;
}

LPVOID HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes) {
  auto heap = cehost::LookupHandleAs<HeapObject>(hHeap);
  if (!heap) return nullptr;
  if (!lpMem) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool tracked = hHeap != ProcessHeapHandle();
  std::lock_guard<std::mutex> guard(heap->lock_);
  if (tracked && !heap->blocks_.count(lpMem)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* p = ReallocBlock(lpMem, dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (tracked) {
    heap->blocks_.erase(lpMem);
    heap->blocks_.insert(p);
  }
  return p;
}

BOOL HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
  auto heap = cehost::LookupHandleAs<HeapObject>(hHeap);
  if (!heap) return FALSE;
  if (!lpMem) return TRUE;
  if (hHeap != ProcessHeapHandle()) {
    std::lock_guard<std::mutex> guard(heap->lock_);
    if (!heap->blocks_.erase(lpMem)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }
  std::free(HeaderOf(lpMem));
  return TRUE;
}

SIZE_T HeapSize(HANDLE hHeap, DWORD, LPCVOID lpMem) {
  if (!cehost::LookupHandleAs<HeapObject>(hHeap) || !lpMem) return static_cast<SIZE_T>(-1);
  return SizeOf(lpMem);
}

LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  if (dwSize == 0 || !(flAllocationType & (MEM_RESERVE | MEM_COMMIT))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const size_t page = PageSize();
  std::lock_guard<std::mutex> guard(g_virtual_lock);
  if (lpAddress && !(flAllocationType & MEM_RESERVE)) {
    // Commit pages inside an existing reservation.
    const uintptr_t start = reinterpret_cast<uintptr_t>(lpAddress) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(lpAddress) + dwSize + page - 1) & ~(page - 1);
    auto it = g_reservations.upper_bound(start);
    if (it == g_reservations.begin() || (--it, end > it->first + it->second)) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return nullptr;
    }
    if (mprotect(reinterpret_cast<void*>(start), end - start, ProtectionOf(flProtect)) != 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    return reinterpret_cast<void*>(start);
  }
  if (lpAddress) {
    // Reservations at a caller-chosen address are not offered by the host.
    SetLastError(ERROR_INVALID_ADDRESS);
    return nullptr;
  }
  const size_t size = (dwSize + page - 1) & ~(page - 1);
  void* p = MapLow(size, (flAllocationType & MEM_COMMIT) ? ProtectionOf(flProtect) : PROT_NONE);
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  g_reservations[reinterpret_cast<uintptr_t>(p)] = size;
  return p;
}

BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  const size_t page = PageSize();
  std::lock_guard<std::mutex> guard(g_virtual_lock);
  const uintptr_t addr = reinterpret_cast<uintptr_t>(lpAddress);
  if (dwFreeType == MEM_RELEASE) {
    auto it = g_reservations.find(addr);
    if (dwSize != 0 || it == g_reservations.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    munmap(lpAddress, it->second);
    g_reservations.erase(it);
    return TRUE;
  }
  if (dwFreeType == MEM_DECOMMIT) {
    const uintptr_t start = addr & ~(page - 1);
    auto it = g_reservations.upper_bound(start);
    if (it == g_reservations.begin()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    --it;
    const uintptr_t end = dwSize == 0 ? it->first + it->second
                                      : (addr + dwSize + page - 1) & ~(page - 1);
    if (end > it->first + it->second) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
    mprotect(reinterpret_cast<void*>(start), end - start, PROT_NONE);
    return TRUE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // extern "C"
