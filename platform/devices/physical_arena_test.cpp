// The physical-memory arena: allocation per pool with alignment, translation, range checks,
// exhaustion and the merging of freed blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cehost/physical_arena.h"

namespace {

using cehost::PhysicalArena;

constexpr DWORD kMiB = 1u << 20;

PhysicalArena& Arena() {
  PhysicalArena& arena = PhysicalArena::Instance();
  EXPECT_TRUE(arena.Available());
  return arena;
}

TEST(PhysicalArena, BlocksTranslateBothWaysAndStayBelow4GiB) {
  PhysicalArena& arena = Arena();
  const DWORD phys = arena.Allocate(0, kMiB + 1);
  ASSERT_NE(phys, 0u);
  EXPECT_EQ(arena.BytesInUse(0), kMiB + PhysicalArena::kPageSize);
  auto* p = static_cast<BYTE*>(arena.ToVirtual(phys));
  ASSERT_NE(p, nullptr);
  EXPECT_LT(reinterpret_cast<uintptr_t>(p) + kMiB, uintptr_t{1} << 32);
  EXPECT_EQ(arena.ToPhysical(p), phys);
  EXPECT_EQ(arena.ToPhysical(p + 100), phys + 100);
  EXPECT_EQ(p[0], 0);  // fresh memory reads as zero
  std::memset(p, 0x5A, kMiB + 1);
  EXPECT_EQ(static_cast<BYTE*>(arena.ToVirtual(phys + kMiB))[0], 0x5A);

  // Outside the arena nothing translates.
  int local = 0;
  EXPECT_EQ(arena.ToPhysical(&local), 0u);
  EXPECT_EQ(arena.ToVirtual(PhysicalArena::kPhysicalBase - 1), nullptr);
  EXPECT_EQ(arena.ToVirtual(PhysicalArena::kPhysicalBase + PhysicalArena::kSize), nullptr);

  // Freeing: only the start of a live block of the right pool.
  EXPECT_FALSE(arena.Free(1, phys));
  EXPECT_FALSE(arena.Free(0, phys + PhysicalArena::kPageSize));
  ASSERT_TRUE(arena.Free(0, phys));
  EXPECT_FALSE(arena.Free(0, phys));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(arena.BytesInUse(0), 0u);

  // The pages were given back: the same place reads as zero when allocated again.
  const DWORD again = arena.Allocate(0, kMiB);
  ASSERT_EQ(again, phys);
  EXPECT_EQ(static_cast<BYTE*>(arena.ToVirtual(again))[10], 0);
  arena.Free(0, again);
}

TEST(PhysicalArena, AlignmentAndArgumentsAreHonoured) {
  PhysicalArena& arena = Arena();
  const DWORD small = arena.Allocate(0, 100);  // offsets the next block from any alignment
  ASSERT_NE(small, 0u);
  for (DWORD align : {0u, 1u, 4096u, 0x10000u, 0x100000u, 0x400000u}) {
    const DWORD phys = arena.Allocate(0, 5000, align);
    ASSERT_NE(phys, 0u) << align;
    EXPECT_EQ(phys % std::max(align, PhysicalArena::kPageSize), 0u) << align;
    EXPECT_TRUE(arena.Free(0, phys));
  }
  struct Bad {
    DWORD pool, size, align;
  };
  for (const Bad& b : {Bad{2, 4096, 4096}, Bad{0, 0, 4096}, Bad{0, 4096, 3}, Bad{0, 4096, 0x3000}}) {
    SetLastError(0);
    EXPECT_EQ(arena.Allocate(b.pool, b.size, b.align), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  SetLastError(0);
  EXPECT_EQ(arena.Allocate(1, 0xFFFFFFFFu), 0u) << "larger than the pool, rounding must not wrap";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  arena.Free(0, small);
}

TEST(PhysicalArena, PoolsRunOutAndFreedNeighboursMerge) {
  PhysicalArena& arena = Arena();
  // Pool 1 is 64 MiB: four 16 MiB blocks fill it.
  std::vector<DWORD> blocks;
  for (int i = 0; i < 4; ++i) {
    blocks.push_back(arena.Allocate(1, 16 * kMiB));
    ASSERT_NE(blocks.back(), 0u);
  }
  EXPECT_EQ(arena.Allocate(1, 1), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  const DWORD other = arena.Allocate(0, 1);
  EXPECT_NE(other, 0u) << "the other pool is separate";
  arena.Free(0, other);

  // Two freed neighbours make room for a block of both their sizes.
  ASSERT_TRUE(arena.Free(1, blocks[2]));
  ASSERT_TRUE(arena.Free(1, blocks[1]));
  const DWORD merged = arena.Allocate(1, 32 * kMiB);
  EXPECT_EQ(merged, blocks[1]);
  ASSERT_TRUE(arena.Free(1, merged));
  ASSERT_TRUE(arena.Free(1, blocks[0]));
  ASSERT_TRUE(arena.Free(1, blocks[3]));
  const DWORD whole = arena.Allocate(1, 64 * kMiB);
  ASSERT_NE(whole, 0u);
  arena.Free(1, whole);
  EXPECT_EQ(arena.BytesInUse(1), 0u);
}

TEST(PhysicalArena, RangesMustLieInsideOneLiveBlock) {
  PhysicalArena& arena = Arena();
  const DWORD a = arena.Allocate(0, 8192);
  const DWORD b = arena.Allocate(0, 4096);
  ASSERT_EQ(b, a + 8192) << "blocks are placed first-fit";
  struct Case {
    DWORD phys, size;
    bool inside;
  };
  const Case cases[] = {
      {a, 8192, true},         {a + 100, 8092, true},  {a + 8191, 1, true},
      {a + 100, 8093, false},  // runs into the next block
      {a + 8192, 0, true},     // b's first byte
      {a, 0xFFFFFFFFu, false}, {0xFFFFF000u, 0x2000u, false},
      {b + 4096, 1, false},    // after the last block
      {PhysicalArena::kPhysicalBase - 4096, 4096, false},
  };
  for (const Case& c : cases) {
    void* p = arena.MapRange(c.phys, c.size);
    EXPECT_EQ(p != nullptr, c.inside) << std::hex << c.phys << " +" << c.size;
    if (p) {
      EXPECT_EQ(p, arena.ToVirtual(c.phys));
    }
  }
  arena.Free(0, b);
  EXPECT_EQ(arena.MapRange(b, 1), nullptr) << "freed memory is no longer a valid target";
  arena.Free(0, a);
}

}  // namespace
