// A transform filter written on CTransformFilter, run through the graph between the host's
// push source and capture sink: type negotiation, what the base Receive copies, drops,
// failures, stream events and completion.
#include <gtest/gtest.h>

#include <cstring>

#include "capture_sink.h"
#include "graph_test_util.h"
#include "push_source.h"
#include "test_filters.h"

namespace cehost::test {
namespace {

PushBuffer Buffer(size_t n, size_t from) {
  PushBuffer b;
  b.bytes = Ramp(n, from);
  return b;
}

int16_t Sample16(const std::vector<BYTE>& bytes, size_t i) {
  int16_t v;
  std::memcpy(&v, bytes.data() + 2 * i, 2);
  return v;
}

class TransformPipeline : public testing::Test {
 protected:
  void Build(std::vector<PushBuffer> buffers) {
    ASSERT_EQ(FilterGraph::Create(graph_.out()), S_OK);
    PushSourceConfig config;
    config.outputType = PcmType(8000, 1);
    config.buffers = std::move(buffers);
    ASSERT_EQ(CPushSource::Create(std::move(config), source_.out()), S_OK);
    gain_ = Ref<CGainTransform>(CGainTransform::Create());
    ASSERT_EQ(CCaptureSink::Create(nullptr, sink_.out()), S_OK);
    ASSERT_EQ(graph_->AddFilter(source_.get(), u"Source"), S_OK);
    ASSERT_EQ(graph_->AddFilter(gain_.get(), u"Gain"), S_OK);
    ASSERT_EQ(graph_->AddFilter(sink_.get(), u"Sink"), S_OK);
    ASSERT_EQ(graph_->ConnectFilters(source_.get(), gain_.get()), S_OK);
    ASSERT_EQ(graph_->ConnectFilters(gain_.get(), sink_.get()), S_OK);
  }
  void TearDown() override {
    if (graph_.get()) graph_->Stop();
  }
  Ref<FilterGraph> graph_;
  Ref<CPushSource> source_;
  Ref<CGainTransform> gain_;
  Ref<CCaptureSink> sink_;
};

TEST_F(TransformPipeline, NegotiatesTypesAndCopiesTimesAndFlags) {
  std::vector<PushBuffer> buffers;
  buffers.push_back(Buffer(64, 0));
  buffers.back().hasTime = true;
  buffers.back().start = 0;
  buffers.back().stop = 40000;
  buffers.back().hasMediaTime = true;
  buffers.back().mediaStart = 0;
  buffers.back().mediaStop = 32;
  buffers.back().syncPoint = true;
  buffers.back().discontinuity = true;
  buffers.push_back(Buffer(64, 64));
  buffers.back().hasTime = true;
  buffers.back().start = 40000;
  buffers.back().stop = 80000;
  buffers.back().preroll = true;
  buffers.push_back(Buffer(64, 128));  // no time at all
  Build(std::move(buffers));

  // The transform's pins are the base's, and its output offers the input's type.
  IPin* pin = nullptr;
  ASSERT_EQ(gain_->FindPin(u"XForm In", &pin), S_OK);
  pin->Release();
  ASSERT_EQ(gain_->FindPin(u"Out", &pin), S_OK);
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(pin->ConnectionMediaType(&mt), S_OK);
  EXPECT_TRUE(CMediaType(mt) == PcmType(8000, 1));
  FreeMediaType(mt);
  pin->Release();
  EXPECT_TRUE(sink_->ConnectionType() == PcmType(8000, 1));

  ASSERT_EQ(graph_->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);

  const std::vector<CapturedSample> samples = sink_->Samples();
  ASSERT_EQ(samples.size(), 3u);
  const std::vector<BYTE> in = Ramp(64, 0);
  for (size_t i = 0; i < 32; i++)
    EXPECT_EQ(Sample16(samples[0].bytes, i), static_cast<int16_t>(-Sample16(in, i))) << i;

  EXPECT_EQ(samples[0].timeResult, S_OK);
  EXPECT_EQ(samples[0].stop, 40000);
  EXPECT_TRUE(samples[0].hasMediaTime);
  EXPECT_EQ(samples[0].mediaStop, 32);
  EXPECT_TRUE(samples[0].syncPoint);
  EXPECT_TRUE(samples[0].discontinuity);
  EXPECT_FALSE(samples[0].preroll);

  EXPECT_EQ(samples[1].start, 40000);
  EXPECT_TRUE(samples[1].preroll);
  EXPECT_FALSE(samples[1].syncPoint);
  EXPECT_FALSE(samples[1].hasMediaTime);

  EXPECT_EQ(samples[2].timeResult, VFW_E_SAMPLE_TIME_NOT_SET);

  const std::vector<CaptureEvent> events = sink_->Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().kind, CaptureEvent::kEndOfStream);
  EXPECT_EQ(gain_->Started(), 1);
  ASSERT_EQ(graph_->Stop(), S_OK);
  EXPECT_EQ(gain_->Stopped(), 1);
}

TEST_F(TransformPipeline, SFalseDropsAndFailuresReachUpstream) {
  std::vector<PushBuffer> buffers;
  for (size_t i = 0; i < 5; i++) buffers.push_back(Buffer(16, i * 16));
  Build(std::move(buffers));
  gain_->AnswerFor(1, S_FALSE);
  gain_->AnswerFor(3, E_ACCESSDENIED);

  ASSERT_EQ(graph_->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);

  // Samples 0 and 2 came through; 1 was dropped; 3 failed and the source stopped there.
  const std::vector<CapturedSample> samples = sink_->Samples();
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[1].bytes.size(), 16u);
  EXPECT_EQ(Sample16(samples[1].bytes, 0), static_cast<int16_t>(-Sample16(Ramp(16, 32), 0)));
  EXPECT_EQ(source_->PiecesDelivered(), 3);  // a drop still counts as delivered upstream

  bool qualityChange = false, errorAbort = false;
  LONG event;
  LONG_PTR p1, p2;
  while (graph_->GetEvent(&event, &p1, &p2, 0) == S_OK) {
    qualityChange |= event == EC_QUALITY_CHANGE;
    if (event == EC_ERRORABORT) {
      errorAbort = true;
      EXPECT_EQ(static_cast<HRESULT>(p1), E_ACCESSDENIED);
    }
  }
  EXPECT_TRUE(qualityChange);
  EXPECT_TRUE(errorAbort);
}

// A seek while running: the source flushes, stops and restarts its worker; the flush and
// the new segment pass through the transform; the data starts again at the new position.
TEST(TransformSeek, FlushAndNewSegmentTravelDownstream) {
  Ref<FilterGraph> graph;
  ASSERT_EQ(FilterGraph::Create(graph.out()), S_OK);
  Ref<CToneSource> source(CToneSource::Create(10 * UNITS));
  Ref<CGainTransform> gain(CGainTransform::Create());
  Ref<CCaptureSink> sink;
  ASSERT_EQ(CCaptureSink::Create(nullptr, sink.out()), S_OK);
  Ref<ManualClock> clock(ManualClock::Create());
  ASSERT_EQ(graph->AddFilter(source.get(), u"Tone"), S_OK);
  ASSERT_EQ(graph->AddFilter(gain.get(), u"Gain"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.get(), u"Sink"), S_OK);
  ASSERT_EQ(graph->ConnectFilters(source.get(), gain.get()), S_OK);
  ASSERT_EQ(graph->ConnectFilters(gain.get(), sink.get()), S_OK);
  ASSERT_EQ(graph->SetSyncSource(clock.get()), S_OK);

  // The clock stands still: the first sample waits in the sink for its time.
  ASSERT_EQ(graph->Run(), S_OK);
  EXPECT_TRUE(sink->Samples().empty());

  LONGLONG start = 5 * UNITS;
  ASSERT_EQ(graph->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  clock->Advance(100 * UNITS);
  LONG code = 0;
  ASSERT_EQ(graph->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);

  const std::vector<CaptureEvent> events = sink->Events();
  std::vector<CaptureEvent::Kind> kinds;
  for (const CaptureEvent& e : events)
    if (kinds.empty() || e.kind != CaptureEvent::kSample || kinds.back() != CaptureEvent::kSample) kinds.push_back(e.kind);
  const std::vector<CaptureEvent::Kind> expected = {CaptureEvent::kNewSegment, CaptureEvent::kBeginFlush,
                                                    CaptureEvent::kEndFlush,   CaptureEvent::kNewSegment,
                                                    CaptureEvent::kSample,     CaptureEvent::kEndOfStream};
  EXPECT_EQ(kinds, expected);
  EXPECT_EQ(events[0].start, 0);
  EXPECT_EQ(events[3].start, 5 * UNITS);
  EXPECT_EQ(events[3].stop, 10 * UNITS);

  // After the seek: 5 s in 100 ms samples, stamped from 0 again, from frame 40000 on.
  const std::vector<CapturedSample> samples = sink->Samples();
  ASSERT_EQ(samples.size(), 50u);
  EXPECT_EQ(samples[0].start, 0);
  EXPECT_TRUE(samples[0].discontinuity);
  EXPECT_EQ(samples[0].mediaStart, 40000);
  EXPECT_FALSE(samples[1].discontinuity);
  EXPECT_EQ(samples.back().stop, 5 * UNITS);

  const CToneSource::Counts counts = source->GetCounts();
  EXPECT_EQ(counts.threadCreates, 1);  // the worker was stopped and restarted, not recreated
  EXPECT_EQ(counts.startPlays, 2);
  EXPECT_EQ(counts.changeStarts, 1);
  ASSERT_EQ(graph->Stop(), S_OK);
}

}  // namespace
}  // namespace cehost::test
