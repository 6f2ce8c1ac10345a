// The platform memory allocator: property rules, buffer layout, and the commit protocol
// with GetBuffer waiting for samples.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "streams.h"

namespace {

struct AllocatorDeleter {
  void operator()(IMemAllocator* a) const { a->Release(); }
};
using AllocatorPtr = std::unique_ptr<IMemAllocator, AllocatorDeleter>;

AllocatorPtr NewAllocator() {
  IMemAllocator* a = nullptr;
  EXPECT_EQ(CreateMemoryAllocator(&a), S_OK);
  return AllocatorPtr(a);
}

HRESULT Set(IMemAllocator* a, LONG count, LONG size, LONG align, LONG prefix, ALLOCATOR_PROPERTIES* actual) {
  ALLOCATOR_PROPERTIES request{count, size, align, prefix};
  return a->SetProperties(&request, actual);
}

TEST(MemAllocator, SetPropertiesRules) {
  struct Case {
    LONG count, size, align, prefix;
    HRESULT hr;
    LONG grantedSize;
  };
  const Case cases[] = {
      {3, 100, 16, 8, S_OK, 104},      // 8 + 100 rounds up to 112; less the prefix
      {3, 100, 1, 0, S_OK, 100},
      {2, 0, 1, 0, S_OK, 0},           // zero buffers of zero bytes may be asked for
      {1, 4095, 4096, 1, S_OK, 4095},  // 1 + 4095 is already aligned
      {1, 100, 0, 0, VFW_E_BADALIGN, 0},
      {1, 100, 0x20000, 0, VFW_E_BADALIGN, 0},  // above the 64 KB granularity
      {1, 100, 0x10000, 0, S_OK, 0x10000},
      {1, 100, 3, 0, VFW_E_BADALIGN, 0},        // not a power of two: no buffer would honour it
      {1, 100, -4, 0, VFW_E_BADALIGN, 0},
      {-1, 100, 1, 0, E_INVALIDARG, 0},
      {1, 0x7FFFFFF0, 16, 0x100, E_INVALIDARG, 0},  // prefix + size overflows 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "count " << c.count << " size " << c.size << " align " << c.align
                                    << " prefix " << c.prefix);
    AllocatorPtr a = NewAllocator();
    ALLOCATOR_PROPERTIES actual{7, 7, 7, 7};
    EXPECT_EQ(Set(a.get(), c.count, c.size, c.align, c.prefix, &actual), c.hr);
    if (c.hr == S_OK) {
      EXPECT_EQ(actual.cBuffers, c.count);
      EXPECT_EQ(actual.cbBuffer, c.grantedSize);
      EXPECT_EQ(actual.cbAlign, c.align);
      EXPECT_EQ(actual.cbPrefix, c.prefix);
      ALLOCATOR_PROPERTIES read{};
      EXPECT_EQ(a->GetProperties(&read), S_OK);
      EXPECT_EQ(read.cbBuffer, c.grantedSize);
    } else {
      // A refusal reports nothing granted.
      EXPECT_EQ(actual.cBuffers, 0);
      EXPECT_EQ(actual.cbBuffer, 0);
    }
  }
  AllocatorPtr a = NewAllocator();
  ALLOCATOR_PROPERTIES request{1, 1, 1, 0};
  EXPECT_EQ(a->SetProperties(&request, nullptr), E_POINTER);
}

TEST(MemAllocator, BuffersAreAlignedStridesWithRoomForThePrefix) {
  AllocatorPtr a = NewAllocator();
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(Set(a.get(), 3, 100, 16, 8, &actual), S_OK);
  ASSERT_EQ(a->Commit(), S_OK);
  IMediaSample* samples[3] = {};
  for (auto& s : samples) ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
  BYTE* pointers[3];
  for (int i = 0; i < 3; i++) {
    ASSERT_EQ(samples[i]->GetPointer(&pointers[i]), S_OK);
    EXPECT_EQ(samples[i]->GetSize(), 104);
    EXPECT_EQ(samples[i]->GetActualDataLength(), 104);
    // The buffer starts after its prefix; buffer + size stays inside the stride.
    EXPECT_EQ((reinterpret_cast<uintptr_t>(pointers[i]) - 8) % 16, 0u);
  }
  std::sort(std::begin(pointers), std::end(pointers));
  EXPECT_EQ(pointers[1] - pointers[0], 112);
  EXPECT_EQ(pointers[2] - pointers[1], 112);
  for (auto* s : samples) s->Release();
  EXPECT_EQ(a->Decommit(), S_OK);
}

TEST(MemAllocator, CommitProtocol) {
  AllocatorPtr a = NewAllocator();
  ALLOCATOR_PROPERTIES actual{};
  IMediaSample* s = nullptr;
  // Nothing to allocate yet.
  EXPECT_EQ(a->Commit(), VFW_E_SIZENOTSET);
  EXPECT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);

  ASSERT_EQ(Set(a.get(), 2, 64, 1, 0, &actual), S_OK);
  ASSERT_EQ(a->Commit(), S_OK);
  EXPECT_EQ(Set(a.get(), 2, 64, 1, 0, &actual), VFW_E_ALREADY_COMMITTED);

  ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
  IMediaSample* second = nullptr;
  ASSERT_EQ(a->GetBuffer(&second, nullptr, nullptr, 0), S_OK);
  IMediaSample* third = nullptr;
  EXPECT_EQ(a->GetBuffer(&third, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  EXPECT_EQ(third, nullptr);
  second->Release();

  // Decommitted with a sample still out: new properties must wait for it.
  ASSERT_EQ(a->Decommit(), S_OK);
  EXPECT_EQ(a->GetBuffer(&third, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  EXPECT_EQ(Set(a.get(), 4, 64, 1, 0, &actual), VFW_E_BUFFERS_OUTSTANDING);
  s->Release();
  EXPECT_EQ(Set(a.get(), 4, 64, 1, 0, &actual), S_OK);

  // Recommitted with the new count: four buffers.
  ASSERT_EQ(a->Commit(), S_OK);
  IMediaSample* four[4] = {};
  for (auto& b : four) EXPECT_EQ(a->GetBuffer(&b, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
  EXPECT_EQ(a->GetBuffer(&third, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  for (auto* b : four) b->Release();
  EXPECT_EQ(a->Decommit(), S_OK);
}

TEST(MemAllocator, OutlivesItsLastReferenceWhileASampleIsOut) {
  IMemAllocator* a = nullptr;
  ASSERT_EQ(CreateMemoryAllocator(&a), S_OK);
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(Set(a, 1, 32, 1, 0, &actual), S_OK);
  ASSERT_EQ(a->Commit(), S_OK);
  IMediaSample* s = nullptr;
  ASSERT_EQ(a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
  a->Decommit();
  a->Release();  // the sample still out keeps the allocator alive
  BYTE* p = nullptr;
  ASSERT_EQ(s->GetPointer(&p), S_OK);
  p[31] = 1;
  s->Release();  // last: frees the memory and the allocator (ASan checks both)
}

TEST(MemAllocatorThreads, GetBufferWaitsForAReturnedSampleAndFailsAfterDecommit) {
  AllocatorPtr a = NewAllocator();
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(Set(a.get(), 1, 16, 1, 0, &actual), S_OK);
  ASSERT_EQ(a->Commit(), S_OK);
  IMediaSample* held = nullptr;
  ASSERT_EQ(a->GetBuffer(&held, nullptr, nullptr, 0), S_OK);

  // A waiter gets the sample once it comes back.
  std::atomic<bool> got{false};
  IMediaSample* received = nullptr;
  std::thread waiter([&] {
    EXPECT_EQ(a->GetBuffer(&received, nullptr, nullptr, 0), S_OK);
    got = true;
  });
  Sleep(50);
  EXPECT_FALSE(got);
  held->Release();
  waiter.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(received, held);

  // A waiter is released by Decommit with VFW_E_NOT_COMMITTED.
  HRESULT waitResult = S_OK;
  IMediaSample* none = nullptr;
  std::thread loser([&] { waitResult = a->GetBuffer(&none, nullptr, nullptr, 0); });
  Sleep(50);
  a->Decommit();
  loser.join();
  EXPECT_EQ(waitResult, VFW_E_NOT_COMMITTED);
  EXPECT_EQ(none, nullptr);
  received->Release();
}

}  // namespace
