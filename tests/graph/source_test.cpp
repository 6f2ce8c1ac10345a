// A source on CSourceStream and CSourceSeeking in the graph: the worker's life follows the
// filter's state, S_FALSE ends the stream, and seeks reach the stream's Change* hooks.
#include <gtest/gtest.h>

#include "capture_sink.h"
#include "graph_test_util.h"
#include "test_filters.h"

namespace cehost::test {
namespace {

class SourceTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(FilterGraph::Create(graph_.out()), S_OK);
    source_ = Ref<CToneSource>(CToneSource::Create(UNITS));  // 1 s: ten 100 ms samples
    ASSERT_EQ(CCaptureSink::Create(nullptr, sink_.out()), S_OK);
    ASSERT_EQ(graph_->AddFilter(source_.get(), u"Tone"), S_OK);
    ASSERT_EQ(graph_->AddFilter(sink_.get(), u"Sink"), S_OK);
    ASSERT_EQ(graph_->ConnectFilters(source_.get(), sink_.get()), S_OK);
  }
  void TearDown() override { graph_->Stop(); }
  Ref<FilterGraph> graph_;
  Ref<CToneSource> source_;
  Ref<CCaptureSink> sink_;
};

TEST_F(SourceTest, WorkerFollowsTheStateAndSFalseEndsTheStream) {
  EXPECT_FALSE(source_->WorkerRunning());
  ASSERT_EQ(graph_->Pause(), S_OK);
  EXPECT_TRUE(source_->WorkerRunning());
  EXPECT_EQ(source_->GetCounts().threadCreates, 1);

  ASSERT_EQ(graph_->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(sink_->Samples().size(), 10u);
  EXPECT_EQ(sink_->Events().back().kind, CaptureEvent::kEndOfStream);
  // The stream ended, but the worker waits for the filter to stop.
  EXPECT_TRUE(source_->WorkerRunning());

  ASSERT_EQ(graph_->Stop(), S_OK);
  EXPECT_FALSE(source_->WorkerRunning());
  EXPECT_EQ(source_->GetCounts().threadDestroys, 1);

  // Running again starts a new worker from the current start position.
  ASSERT_EQ(graph_->Run(), S_OK);
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(sink_->Samples().size(), 20u);
  EXPECT_EQ(source_->GetCounts().threadCreates, 2);
}

TEST_F(SourceTest, SetPositionsReachesChangeStartAndChangeStop) {
  LONGLONG start = 3 * UNITS / 10, stop = 7 * UNITS / 10;
  ASSERT_EQ(graph_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  CToneSource::Counts c = source_->GetCounts();
  EXPECT_EQ(c.changeStarts, 1);
  EXPECT_EQ(c.changeStops, 0);
  ASSERT_EQ(graph_->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning), S_OK);
  c = source_->GetCounts();
  EXPECT_EQ(c.changeStarts, 1);
  EXPECT_EQ(c.changeStops, 1);
  LONGLONG current = 0, end = 0;
  ASSERT_EQ(graph_->GetPositions(&current, &end), S_OK);
  EXPECT_EQ(current, start);
  EXPECT_EQ(end, stop);
  LONGLONG duration = 0;
  ASSERT_EQ(graph_->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, UNITS);

  // Relative start and a stop counted from the new start.
  LONGLONG by = UNITS / 10, length = 2 * UNITS / 10;
  ASSERT_EQ(graph_->SetPositions(&by, AM_SEEKING_RelativePositioning, &length, AM_SEEKING_IncrementalPositioning),
            S_OK);
  ASSERT_EQ(graph_->GetPositions(&current, &end), S_OK);
  EXPECT_EQ(current, 4 * UNITS / 10);
  EXPECT_EQ(end, 6 * UNITS / 10);
  c = source_->GetCounts();
  EXPECT_EQ(c.changeStarts, 2);
  EXPECT_EQ(c.changeStops, 2);

  // Refused requests change nothing.
  EXPECT_EQ(graph_->SetPositions(&by, AM_SEEKING_IncrementalPositioning, nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(graph_->SetPositions(nullptr, 0, &by, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame),
            E_INVALIDARG);
  EXPECT_EQ(graph_->SetRate(0.0), E_INVALIDARG);
  EXPECT_EQ(source_->GetCounts().changeStarts, 2);

  // The run plays 0.4 s to 0.6 s: frames 3200 to 4800.
  ASSERT_EQ(graph_->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  const std::vector<CapturedSample> samples = sink_->Samples();
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[0].mediaStart, 3200);
  EXPECT_EQ(samples[1].mediaStop, 4800);
  LONGLONG position = 0;
  ASSERT_EQ(graph_->GetCurrentPosition(&position), S_OK);
  EXPECT_EQ(position, 6 * UNITS / 10);
}

}  // namespace
}  // namespace cehost::test
