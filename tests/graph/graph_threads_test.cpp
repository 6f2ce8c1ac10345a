// State changes and seeks racing the streaming threads: run, seek and stop in quick loops,
// with and without a clock. Run under ThreadSanitizer in CI; here a hang or a lost
// completion is the failure.
#include <gtest/gtest.h>

#include <random>

#include "capture_sink.h"
#include "graph_test_util.h"
#include "null_audio_renderer.h"
#include "test_filters.h"

namespace cehost::test {
namespace {

class GraphThreads : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_EQ(FilterGraph::Create(graph_.out()), S_OK);
    source_ = Ref<CToneSource>(CToneSource::Create(3 * UNITS));
    gain_ = Ref<CGainTransform>(CGainTransform::Create());
    ASSERT_EQ(CNullAudioRenderer::Create(renderer_.out()), S_OK);
    ASSERT_EQ(graph_->AddFilter(source_.get(), u"Tone"), S_OK);
    ASSERT_EQ(graph_->AddFilter(gain_.get(), u"Gain"), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer_.get(), u"Renderer"), S_OK);
    ASSERT_EQ(graph_->ConnectFilters(source_.get(), gain_.get()), S_OK);
    ASSERT_EQ(graph_->ConnectFilters(gain_.get(), renderer_.get()), S_OK);
    if (GetParam()) {
      ASSERT_EQ(graph_->UseSystemClock(), S_OK);
    }
  }
  Ref<FilterGraph> graph_;
  Ref<CToneSource> source_;
  Ref<CGainTransform> gain_;
  Ref<CNullAudioRenderer> renderer_;
};

TEST_P(GraphThreads, RunSeekPauseStopLoops) {
  std::mt19937 random(1234);
  for (int round = 0; round < 25; round++) {
    ASSERT_EQ(graph_->Run(), S_OK);
    Sleep(random() % 3);
    LONGLONG start = static_cast<LONGLONG>(random() % 2900) * UNITS / 1000;
    ASSERT_EQ(graph_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    if (round % 3 == 0) {
      ASSERT_EQ(graph_->Pause(), S_OK);
      Sleep(random() % 2);
      ASSERT_EQ(graph_->Run(), S_OK);
    }
    Sleep(random() % 3);
    ASSERT_EQ(graph_->Stop(), S_OK);
    EXPECT_FALSE(source_->WorkerRunning());
  }
  // After all that the graph still plays to the end: the last 50 ms.
  LONGLONG start = 3 * UNITS - UNITS / 20;
  ASSERT_EQ(graph_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  const uint64_t before = renderer_->BytesConsumed();
  ASSERT_EQ(graph_->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(renderer_->BytesConsumed() - before, 400u * 2);
  ASSERT_EQ(graph_->Stop(), S_OK);
}

TEST_P(GraphThreads, SeeksWhileRunningKeepTheStreamWhole) {
  const uint64_t before = renderer_->BytesConsumed();
  ASSERT_EQ(graph_->Run(), S_OK);
  for (int i = 0; i < 10; i++) {
    LONGLONG start = (2 * UNITS) + i * UNITS / 100;
    ASSERT_EQ(graph_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  }
  // The last seek wins: at least 2.09 s to the end (0.91 s of 8 kHz 16-bit mono) is
  // consumed, whatever was in flight before.
  LONG code = 0;
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_GE(renderer_->BytesConsumed() - before, 7280u * 2);
  LONGLONG position = 0;
  ASSERT_EQ(graph_->GetCurrentPosition(&position), S_OK);
  EXPECT_EQ(position, 3 * UNITS);
  ASSERT_EQ(graph_->Stop(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Clock, GraphThreads, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "System" : "None"; });

}  // namespace
}  // namespace cehost::test
