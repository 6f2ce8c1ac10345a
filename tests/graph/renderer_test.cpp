// The renderer base classes in the graph, with and without a clock: when samples are drawn,
// when late ones are dropped, when the stream completes, and how a pause completes.
#include <gtest/gtest.h>

#include "graph_test_util.h"
#include "null_audio_renderer.h"
#include "push_source.h"
#include "test_filters.h"

namespace cehost::test {
namespace {

constexpr REFERENCE_TIME kMs = UNITS / 1000;

PushBuffer Timed(REFERENCE_TIME start, REFERENCE_TIME stop) {
  PushBuffer b;
  b.bytes = Ramp(16);
  b.hasTime = true;
  b.start = start;
  b.stop = stop;
  return b;
}

class RendererTest : public testing::Test {
 protected:
  void Build(std::vector<PushBuffer> buffers, IReferenceClock* clock) {
    ASSERT_EQ(FilterGraph::Create(graph_.out()), S_OK);
    PushSourceConfig config;
    config.outputType = PcmType(8000, 1);
    config.buffers = std::move(buffers);
    ASSERT_EQ(CPushSource::Create(std::move(config), source_.out()), S_OK);
    renderer_ = Ref<CTestRenderer>(CTestRenderer::Create());
    ASSERT_EQ(graph_->AddFilter(source_.get(), u"Source"), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer_.get(), u"Renderer"), S_OK);
    ASSERT_EQ(graph_->ConnectFilters(source_.get(), renderer_.get()), S_OK);
    ASSERT_EQ(graph_->SetSyncSource(clock), S_OK);
  }
  void TearDown() override {
    if (graph_.get()) graph_->Stop();
  }
  size_t Drawn() const { return renderer_->DrawnSamples().size(); }
  int Dropped() {
    int n = -1;
    renderer_->get_FramesDroppedInRenderer(&n);
    return n;
  }

  Ref<FilterGraph> graph_;
  Ref<CPushSource> source_;
  Ref<CTestRenderer> renderer_;
};

TEST_F(RendererTest, WithoutAClockEverySampleIsDrawnAtOnce) {
  // Out of order and long past: without a clock nothing is late.
  Build({Timed(50 * kMs, 60 * kMs), Timed(0, 10 * kMs), Timed(-UNITS, 0)}, nullptr);
  ASSERT_EQ(graph_->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  const auto drawn = renderer_->DrawnSamples();
  ASSERT_EQ(drawn.size(), 3u);
  EXPECT_EQ(drawn[0].start, 50 * kMs);
  EXPECT_EQ(drawn[2].start, -UNITS);
  EXPECT_EQ(Dropped(), 0);
}

TEST_F(RendererTest, WithAClockSamplesWaitForTheirTimeAndCompletionForTheLastStop) {
  Ref<ManualClock> clock(ManualClock::Create());
  Build({Timed(0, 100 * kMs), Timed(100 * kMs, 200 * kMs), Timed(200 * kMs, 300 * kMs)}, clock.get());
  REFERENCE_TIME base = 0;
  clock->GetTime(&base);
  ASSERT_EQ(graph_->Run(), S_OK);
  // Stream time 0 is a little after the run started; the clock has not moved.
  Sleep(30);
  EXPECT_EQ(Drawn(), 0u);

  auto streamTime = [&](REFERENCE_TIME t) { clock->Set(base + FilterGraph::kStartLatency + t); };
  streamTime(50 * kMs);
  ASSERT_TRUE(WaitUntil([&] { return Drawn() == 1; }));
  Sleep(30);
  EXPECT_EQ(Drawn(), 1u);  // the second is due at 100 ms
  streamTime(250 * kMs);
  ASSERT_TRUE(WaitUntil([&] { return Drawn() == 3; }));

  // Every sample has been drawn, but the stream ends at the last one's stop time.
  LONG code = 0;
  EXPECT_EQ(graph_->WaitForCompletion(50, &code), E_ABORT);
  streamTime(300 * kMs);
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  for (const auto& d : renderer_->DrawnSamples()) EXPECT_GE(d.clockTime, d.start);
}

TEST_F(RendererTest, ALateSampleIsDroppedUnlessShouldDrawSampleNowSaysOtherwise) {
  for (bool drawLate : {false, true}) {
    SCOPED_TRACE(drawLate ? "drawing late frames" : "dropping late frames");
    Ref<ManualClock> clock(ManualClock::Create());
    // The second sample ends at 20 ms; it arrives once the first was drawn at 50 ms.
    Build({Timed(0, 100 * kMs), Timed(10 * kMs, 20 * kMs), Timed(100 * kMs, 200 * kMs)}, clock.get());
    renderer_->SetDrawLate(drawLate);
    REFERENCE_TIME base = 0;
    clock->GetTime(&base);
    ASSERT_EQ(graph_->Run(), S_OK);
    clock->Set(base + FilterGraph::kStartLatency + 50 * kMs);
    ASSERT_TRUE(WaitUntil([&] { return Drawn() >= 1; }));
    clock->Set(base + FilterGraph::kStartLatency + 250 * kMs);
    LONG code = 0;
    ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);

    std::vector<REFERENCE_TIME> starts;
    for (const auto& d : renderer_->DrawnSamples()) starts.push_back(d.start);
    if (drawLate) {
      EXPECT_EQ(starts, (std::vector<REFERENCE_TIME>{0, 10 * kMs, 100 * kMs}));
      EXPECT_EQ(Dropped(), 0);
    } else {
      EXPECT_EQ(starts, (std::vector<REFERENCE_TIME>{0, 100 * kMs}));
      EXPECT_EQ(Dropped(), 1);
    }
    graph_->Stop();
  }
}

TEST_F(RendererTest, PauseCompletesWithTheFirstSampleOrWhenTheFilterSaysSo) {
  Ref<ManualClock> clock(ManualClock::Create());
  Build({Timed(0, 100 * kMs)}, clock.get());

  // The renderer alone, paused without data: the pause stays incomplete...
  FILTER_STATE state;
  EXPECT_EQ(renderer_->Pause(), S_FALSE);
  EXPECT_EQ(renderer_->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);
  ASSERT_EQ(renderer_->Stop(), S_OK);
  EXPECT_EQ(renderer_->GetState(0, &state), S_OK);
  // ...unless the filter marks itself ready.
  renderer_->SetReadyWithoutSample(true);
  EXPECT_EQ(renderer_->Pause(), S_OK);
  EXPECT_EQ(renderer_->GetState(0, &state), S_OK);
  ASSERT_EQ(renderer_->Stop(), S_OK);
  renderer_->SetReadyWithoutSample(false);

  // In the graph the first sample completes the pause: presented, not yet drawn.
  ASSERT_EQ(graph_->Pause(), S_OK);
  EXPECT_EQ(graph_->GetState(5000, &state), S_OK);
  EXPECT_EQ(renderer_->FirstSamples(), 1);
  EXPECT_EQ(Drawn(), 0u);
  ASSERT_EQ(graph_->Run(), S_OK);
  clock->Advance(UNITS);
  ASSERT_TRUE(WaitUntil([&] { return Drawn() == 1; }));
}

// The host's stand-in for a sound device keeps the pace of the clock: 300 ms of audio take at
// least that long with the system clock (and no time without one).
TEST(NullAudioRenderer, ConsumesInRealTimeAgainstTheClock) {
  for (bool clock : {false, true}) {
    SCOPED_TRACE(clock ? "system clock" : "no clock");
    Ref<FilterGraph> graph;
    ASSERT_EQ(FilterGraph::Create(graph.out()), S_OK);
    Ref<CToneSource> source(CToneSource::Create(3 * UNITS / 10));
    Ref<CNullAudioRenderer> renderer;
    ASSERT_EQ(CNullAudioRenderer::Create(renderer.out()), S_OK);
    ASSERT_EQ(graph->AddFilter(source.get(), u"Tone"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.get(), u"Renderer"), S_OK);
    ASSERT_EQ(graph->ConnectFilters(source.get(), renderer.get()), S_OK);
    if (clock) {
      ASSERT_EQ(graph->UseSystemClock(), S_OK);
    }
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(graph->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(graph->WaitForCompletion(5000, &code), S_OK);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(renderer->BytesConsumed(), 2400u * 2);
    if (clock) {
      EXPECT_GE(took, std::chrono::milliseconds(300));
    }
    ASSERT_EQ(graph->Stop(), S_OK);
  }
}

}  // namespace
}  // namespace cehost::test
