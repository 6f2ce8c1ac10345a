#include "cehost/physical_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <iterator>

namespace cehost {

PhysicalArena& PhysicalArena::Instance() {
  static PhysicalArena* arena = new PhysicalArena;
  return *arena;
}

PhysicalArena::PhysicalArena() {
  void* const want = reinterpret_cast<void*>(kVirtualBase);
  void* p = mmap(want, kSize, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
  // Kernels before 4.17 take the address as a hint only; a mapping elsewhere is no use.
  if (p != MAP_FAILED && p != want) {
    munmap(p, kSize);
    p = MAP_FAILED;
  }
  if (p == MAP_FAILED) {
    OutputDebugStringA("devices: cannot map the physical-memory arena at 0x20000000\r\n");
    return;
  }
  base_ = static_cast<BYTE*>(p);
  for (DWORD i = 0; i < kPoolCount; ++i) free_[i][kPools[i].offset] = kPools[i].size;
}

DWORD PhysicalArena::Allocate(DWORD pool, DWORD size, DWORD alignment) {
  if (pool >= kPoolCount || size == 0 || (alignment & (alignment - 1)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const uint64_t bytes = (uint64_t{size} + kPageSize - 1) & ~uint64_t{kPageSize - 1};
  const uint64_t align = std::max<uint64_t>(alignment, kPageSize);
  std::lock_guard<std::mutex> guard(lock_);
  if (base_ && bytes <= kPools[pool].size) {
    std::map<DWORD, DWORD>& extents = free_[pool];
    for (auto it = extents.begin(); it != extents.end(); ++it) {
      const uint64_t start = it->first, end = start + it->second;
      const uint64_t offset = ((kPhysicalBase + start + align - 1) & ~(align - 1)) - kPhysicalBase;
      if (offset + bytes > end) continue;
      extents.erase(it);
      if (offset > start) extents[static_cast<DWORD>(start)] = static_cast<DWORD>(offset - start);
      if (end > offset + bytes)
        extents[static_cast<DWORD>(offset + bytes)] = static_cast<DWORD>(end - offset - bytes);
      used_[static_cast<DWORD>(offset)] = Block{static_cast<DWORD>(bytes), pool};
      return kPhysicalBase + static_cast<DWORD>(offset);
    }
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return 0;
}

bool PhysicalArena::Free(DWORD pool, DWORD physical) {
  std::lock_guard<std::mutex> guard(lock_);
  auto block = physical >= kPhysicalBase ? used_.find(physical - kPhysicalBase) : used_.end();
  if (block == used_.end() || block->second.pool != pool) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  DWORD start = block->first, size = block->second.size;
  used_.erase(block);
  // Give the pages back (they read as zero when allocated again). Done before the extent is
  // free, so no new owner can have written to it yet.
  madvise(base_ + start, size, MADV_DONTNEED);

  std::map<DWORD, DWORD>& extents = free_[pool];
  auto next = extents.lower_bound(start);
  if (next != extents.end() && next->first == start + size) {
    size += next->second;
    next = extents.erase(next);
  }
  if (next != extents.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second == start) {
      prev->second += size;
      return true;
    }
  }
  extents[start] = size;
  return true;
}

void* PhysicalArena::ToVirtual(DWORD physical) const {
  if (!base_ || physical < kPhysicalBase || physical - kPhysicalBase >= kSize) return nullptr;
  return base_ + (physical - kPhysicalBase);
}

DWORD PhysicalArena::ToPhysical(const void* address) const {
  const uintptr_t a = reinterpret_cast<uintptr_t>(address);
  if (!base_ || a < kVirtualBase || a - kVirtualBase >= kSize) return 0;
  return kPhysicalBase + static_cast<DWORD>(a - kVirtualBase);
}

void* PhysicalArena::MapRange(DWORD physical, DWORD size) const {
  if (!base_ || physical < kPhysicalBase) return nullptr;
  const uint64_t offset = physical - kPhysicalBase;
  std::lock_guard<std::mutex> guard(lock_);
  auto block = used_.upper_bound(static_cast<DWORD>(std::min<uint64_t>(offset, kSize)));
  if (block == used_.begin()) return nullptr;
  --block;
  const uint64_t end = uint64_t{block->first} + block->second.size;
  if (offset >= end || offset + size > end) return nullptr;
  return base_ + offset;
}

DWORD PhysicalArena::BytesInUse(DWORD pool) const {
  std::lock_guard<std::mutex> guard(lock_);
  DWORD total = 0;
  for (const auto& [offset, block] : used_)
    if (block.pool == pool) total += block.size;
  return total;
}

}  // namespace cehost
