// Completion counting and the event queue.
#include <gtest/gtest.h>

#include "event_queue.h"
#include "evcode.h"

namespace {

IBaseFilter* Fake(intptr_t n) { return reinterpret_cast<IBaseFilter*>(n); }
LONG_PTR AsParam(IBaseFilter* f) { return reinterpret_cast<LONG_PTR>(f); }

TEST(EventQueue, CompletesOnceEveryRendererHasCompleted) {
  cehost::EventQueue q;
  q.Restart({Fake(0x10), Fake(0x20)});
  q.OnRun();
  LONG code = 0;
  q.Notify(EC_COMPLETE, S_OK, AsParam(Fake(0x10)));
  q.Notify(EC_COMPLETE, S_OK, AsParam(Fake(0x10)));  // counted once
  q.Notify(EC_COMPLETE, S_OK, AsParam(Fake(0x30)));  // not a renderer of this run
  EXPECT_FALSE(q.WaitForCompletion(0, &code));
  q.Notify(EC_COMPLETE, E_FAIL, AsParam(Fake(0x20)));
  ASSERT_TRUE(q.WaitForCompletion(0, &code));
  EXPECT_EQ(code, EC_COMPLETE);

  // One EC_COMPLETE reaches the application, with the failure a renderer reported.
  LONG_PTR p1 = 0, p2 = 1;
  ASSERT_TRUE(q.Get(&code, &p1, &p2, 0));
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(static_cast<HRESULT>(p1), E_FAIL);
  EXPECT_EQ(p2, 0);
  EXPECT_FALSE(q.Get(&code, &p1, &p2, 0));
}

TEST(EventQueue, AbortsCompleteTheRunAndOtherEventsPassThrough) {
  cehost::EventQueue q;
  q.Restart({Fake(0x10)});
  q.Notify(0x83E9, 1, 2);
  q.Notify(EC_ERRORABORT, E_OUTOFMEMORY, 0);
  LONG code = 0;
  ASSERT_TRUE(q.WaitForCompletion(0, &code));
  EXPECT_EQ(code, EC_ERRORABORT);
  LONG_PTR p1, p2;
  ASSERT_TRUE(q.Get(&code, &p1, &p2, 0));
  EXPECT_EQ(code, 0x83E9);
  EXPECT_EQ(p1, 1);
  EXPECT_EQ(p2, 2);
  ASSERT_TRUE(q.Get(&code, &p1, &p2, 0));
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(static_cast<HRESULT>(p1), E_OUTOFMEMORY);

  // A new run counts afresh; a graph without renderers is complete as soon as it runs.
  q.Restart({});
  EXPECT_FALSE(q.WaitForCompletion(0, &code));
  q.OnRun();
  EXPECT_TRUE(q.WaitForCompletion(0, &code));
  EXPECT_EQ(code, EC_COMPLETE);
}

TEST(EventQueue, KeepsTheNewestEventsWhenNobodyReads) {
  cehost::EventQueue q;
  for (LONG i = 0; i < static_cast<LONG>(cehost::EventQueue::kMaxQueued) + 10; i++) q.Notify(EC_USER + 1, i, 0);
  LONG code;
  LONG_PTR p1, p2;
  ASSERT_TRUE(q.Get(&code, &p1, &p2, 0));
  EXPECT_EQ(p1, 10);
}

}  // namespace
