// Kernel objects: handles, waits, events, semaphores, mutexes, threads, critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "cehost/kernel_object.h"
#include "windows.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(Handles, StaleAndUnknownHandlesFailCleanly) {
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(CloseHandle(e));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(e));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(e));
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x12345), 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(Handles, DuplicateKeepsObjectAlive) {
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), e, GetCurrentProcess(), &dup, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  EXPECT_NE(dup, e);
  CloseHandle(e);
  EXPECT_TRUE(SetEvent(dup));
  EXPECT_EQ(WaitForSingleObject(dup, 0), WAIT_OBJECT_0);
  CloseHandle(dup);
}

TEST(Events, ManualStaysSetAutoResetsAfterOneWait) {
  HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE autoe = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoe, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoe, 0), WAIT_TIMEOUT);
  ResetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  CloseHandle(manual);
  CloseHandle(autoe);
}

TEST(Events, TimeoutWaitsAboutAsLongAsAsked) {
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(e, 50), WAIT_TIMEOUT);
  EXPECT_GE(ElapsedMs(start), 49);
  CloseHandle(e);
}

TEST(Events, SetFromAnotherThreadWakesWaiter) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::thread setter([e] {
    Sleep(20);
    SetEvent(e);
  });
  EXPECT_EQ(WaitForSingleObject(e, 5000), WAIT_OBJECT_0);
  setter.join();
  CloseHandle(e);
}

TEST(Events, AutoResetReleasesExactlyOneOfManyWaiters) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(e, 300) == WAIT_OBJECT_0) ++woken;
    });
  Sleep(50);
  SetEvent(e);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 1);
  CloseHandle(e);
}

TEST(Events, PulseReleasesCurrentWaitersAndLeavesEventReset) {
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(e, 2000) == WAIT_OBJECT_0) ++woken;
    });
  Sleep(100);
  PulseEvent(e);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 3);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

TEST(WaitForMultiple, ReturnsIndexOfSignaledObject) {
  HANDLE h[3];
  for (auto& x : h) x = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetEvent(h[2]);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  // The lowest signaled index wins when several are signaled.
  SetEvent(h[1]);
  SetEvent(h[2]);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 10), WAIT_TIMEOUT);
  std::thread setter([&] {
    Sleep(20);
    SetEvent(h[1]);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 5000), WAIT_OBJECT_0 + 1);
  setter.join();
  for (auto x : h) CloseHandle(x);
}

TEST(WaitForMultiple, WaitAllTakesNothingUntilAllAreSignaled) {
  HANDLE a = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE b = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE both[2] = {a, b};
  SetEvent(a);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), WAIT_TIMEOUT);
  // a's signal was not consumed by the failed wait.
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  SetEvent(a);
  SetEvent(b);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
  CloseHandle(a);
  CloseHandle(b);
}

TEST(WaitForMultiple, RejectsBadCounts) {
  HANDLE a = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(0, &a, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, a);
  EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(many.size()), many.data(), FALSE, 0), WAIT_FAILED);
  CloseHandle(a);
}

TEST(Semaphores, CountsAndLimit) {
  HANDLE s = CreateSemaphoreW(nullptr, 1, 2, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(s, 2, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(ReleaseSemaphore(s, 1, nullptr));  // would exceed the maximum
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);
  EXPECT_EQ(CreateSemaphoreW(nullptr, 3, 2, nullptr), nullptr);
  CloseHandle(s);
}

TEST(Mutexes, RecursiveOwnershipAndExclusion) {
  HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // owner may take it again
  std::thread other([m] {
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(ReleaseMutex(m));  // not the owner
  });
  other.join();
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(ReleaseMutex(m));
  std::thread taker([m] {
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
  });
  taker.join();
  CloseHandle(m);
}

DWORD WINAPI ReturnParameter(LPVOID p) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)); }

TEST(Threads, HandleSignalsAtExitWithExitCode) {
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(42), 0, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 42u);
  CloseHandle(t);
}

std::atomic<bool> g_ran{false};
DWORD WINAPI MarkRan(LPVOID) {
  g_ran = true;
  return 0;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResume) {
  g_ran = false;
  HANDLE t = CreateThread(nullptr, 0, MarkRan, nullptr, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(WaitForSingleObject(t, 50), WAIT_TIMEOUT);
  EXPECT_FALSE(g_ran.load());
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(ResumeThread(t), 1u);
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(g_ran.load());
  CloseHandle(t);
}

TEST(Threads, PrioritiesAreRecordedOnTheDeviceScale) {
  HANDLE t = CreateThread(nullptr, 0, MarkRan, nullptr, CREATE_SUSPENDED, nullptr);
  EXPECT_EQ(CeGetThreadPriority(t), CE_THREAD_PRIO_256_NORMAL);
  EXPECT_TRUE(CeSetThreadPriority(t, 250));
  EXPECT_EQ(CeGetThreadPriority(t), 250);
  EXPECT_EQ(GetThreadPriority(t), THREAD_PRIORITY_ABOVE_NORMAL);
  EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_IDLE));
  EXPECT_EQ(CeGetThreadPriority(t), 255);
  EXPECT_FALSE(CeSetThreadPriority(t, 256));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(CeSetThreadPriority(GetCurrentThread(), 200));
  EXPECT_EQ(CeGetThreadPriority(GetCurrentThread()), 200);
  CeSetThreadPriority(GetCurrentThread(), CE_THREAD_PRIO_256_NORMAL);
  ResumeThread(t);
  WaitForSingleObject(t, 5000);
  CloseHandle(t);
}

TEST(Threads, LastErrorIsPerThread) {
  SetLastError(1234);
  std::thread other([] {
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(5);
  });
  other.join();
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST(CriticalSections, ExcludeOtherThreadsAndNest) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_EQ(cs.OwnerThread, GetCurrentThreadId());
  std::thread other([&] { EXPECT_FALSE(TryEnterCriticalSection(&cs)); });
  other.join();
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  EXPECT_EQ(cs.OwnerThread, 0u);
  long counter = 0;
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i)
    workers.emplace_back([&] {
      for (int k = 0; k < 10000; ++k) {
        EnterCriticalSection(&cs);
        ++counter;
        LeaveCriticalSection(&cs);
      }
    });
  for (auto& t : workers) t.join();
  EXPECT_EQ(counter, 40000);
  DeleteCriticalSection(&cs);
}

TEST(Interlocked, OperationsReturnDeviceValues) {
  LONG v = 5;
  EXPECT_EQ(InterlockedIncrement(&v), 6);
  EXPECT_EQ(InterlockedDecrement(&v), 5);
  EXPECT_EQ(InterlockedExchange(&v, 9), 5);
  EXPECT_EQ(InterlockedExchangeAdd(&v, 3), 9);
  EXPECT_EQ(v, 12);
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 7), 12);  // no match: unchanged
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 12), 12);
  EXPECT_EQ(v, 1);
}

}  // namespace
