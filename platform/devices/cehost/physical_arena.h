// PhysicalArena: the emulated physical memory of the device. One region mapped at a fixed
// address below 4 GiB, so that the virtual addresses of driver memory fit the 32-bit fields of
// driver records as they do on the device. Physical address = kPhysicalBase + offset, virtual
// address = kVirtualBase + offset (the two bases are equal today: physical and virtual
// addresses coincide, but code must still translate, because they differ on the device).
//
// The emulated drivers ("VCU1:", "MSC0:") serve PHYS_MEM_REQUEST from it: Allocate a block of
// a memory pool, hand out its physical address and ToVirtual of it, Free it again. Emulated
// hardware that is given a physical address checks and translates it with MapRange before
// reading or writing a byte.
//
//   Pool  Offset     Size     Used for
//   0     0          192 MiB  video frame buffers and compressed input ("VCU1:", "MSC0:")
//   1     192 MiB     64 MiB  display images ("MSC0:")
//
// The region is reserved without committing memory (MAP_NORESERVE): pages cost memory only
// once touched, and freed blocks give theirs back. It is mapped at the first call of
// Instance() and never unmapped. The address range [0x20000000, 0x30000000) lies below the
// 2 GiB that the address sanitizer leaves to programs and apart from the range VirtualAlloc
// uses.
//
// Threads: every method may be called from any thread; `lock_` guards the block lists.
#pragma once

#include <map>
#include <mutex>

#include "windows.h"

namespace cehost {

class CEHOST_EXPORT PhysicalArena {
 public:
  static constexpr uintptr_t kVirtualBase = 0x20000000;
  static constexpr DWORD kPhysicalBase = 0x20000000;
  static constexpr DWORD kSize = 256u << 20;
  static constexpr DWORD kPoolCount = 2;
  static constexpr DWORD kPageSize = 4096;

  // The process's arena, mapped on first use. Never destroyed.
  static PhysicalArena& Instance();

  // False when the region could not be mapped (the address is taken); every allocation then
  // fails with ERROR_NOT_ENOUGH_MEMORY.
  bool Available() const { return base_ != nullptr; }

  // Allocates a block of at least `size` bytes (rounded up to whole pages) from `pool`, its
  // physical address a multiple of `alignment` (a power of two; below a page means a page).
  // Returns the physical address, or 0 with the thread's last error: ERROR_INVALID_PARAMETER
  // for a bad pool, size or alignment, ERROR_NOT_ENOUGH_MEMORY when the pool has no room.
  // New blocks read as zero.
  DWORD Allocate(DWORD pool, DWORD size, DWORD alignment = kPageSize);
  // Frees the block that starts at `physical` in `pool`. False (ERROR_INVALID_PARAMETER) when
  // no such block is allocated; nothing is changed then.
  bool Free(DWORD pool, DWORD physical);

  // Translation of single addresses anywhere in the arena, allocated or not; null / 0 outside.
  void* ToVirtual(DWORD physical) const;
  DWORD ToPhysical(const void* address) const;

  // The virtual address of [physical, physical + size) when the whole range lies inside one
  // allocated block, else null. What emulated hardware uses on addresses it is given.
  void* MapRange(DWORD physical, DWORD size) const;

  // Bytes allocated from a pool (page-rounded), for leak checks.
  DWORD BytesInUse(DWORD pool) const;

 private:
  PhysicalArena();

  struct Pool {
    DWORD offset;
    DWORD size;
  };
  static constexpr Pool kPools[kPoolCount] = {{0, 192u << 20}, {192u << 20, 64u << 20}};

  struct Block {
    DWORD size;
    DWORD pool;
  };

  BYTE* base_ = nullptr;  // fixed after construction
  mutable std::mutex lock_;
  std::map<DWORD, DWORD> free_[kPoolCount];  // offset -> size of free extents; guarded by lock_
  std::map<DWORD, Block> used_;              // offset -> allocated block; guarded by lock_
};

}  // namespace cehost
