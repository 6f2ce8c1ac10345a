// The graph's bookkeeping: names, membership, connection rules, states and completion, with
// the host's push source and capture sink.
#include <gtest/gtest.h>

#include "capture_sink.h"
#include "filter_graph.h"
#include "mmreg.h"
#include "push_source.h"
#include "test_registry.h"

namespace {

using cehost::CCaptureSink;
using cehost::CPushSource;
using cehost::FilterGraph;

CMediaType Audio() {
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  mt.SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx));
  return mt;
}

class GraphTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(FilterGraph::Create(&graph_), S_OK);
    cehost::PushSourceConfig config;
    config.outputType = Audio();
    config.buffers.emplace_back();
    config.buffers.back().bytes.assign(100, 1);
    ASSERT_EQ(CPushSource::Create(config, &source_), S_OK);
    ASSERT_EQ(CCaptureSink::Create(nullptr, &sink_), S_OK);
  }
  void TearDown() override {
    graph_->Release();  // disconnects and lets go of the filters
    EXPECT_EQ(source_->Release(), 0u);
    EXPECT_EQ(sink_->Release(), 0u);
  }
  cehost::test::ScopedTestRegistry registry_;  // the streaming threads read priorities from it
  FilterGraph* graph_ = nullptr;
  CPushSource* source_ = nullptr;
  CCaptureSink* sink_ = nullptr;
};

TEST_F(GraphTest, NamesAndMembership) {
  EXPECT_EQ(graph_->AddFilter(source_, u"Same"), S_OK);
  EXPECT_EQ(graph_->AddFilter(sink_, u"Same"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(graph_->AddFilter(sink_, u"Again"), E_INVALIDARG);
  IBaseFilter* found = nullptr;
  ASSERT_EQ(graph_->FindFilterByName(u"Same 0001", &found), S_OK);
  EXPECT_EQ(found, static_cast<IBaseFilter*>(sink_));
  FILTER_INFO info{};
  ASSERT_EQ(found->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), u"Same 0001");
  EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(graph_));
  info.pGraph->Release();
  found->Release();

  IEnumFilters* e = nullptr;
  ASSERT_EQ(graph_->EnumFilters(&e), S_OK);
  IBaseFilter* all[3] = {};
  ULONG n = 0;
  EXPECT_EQ(e->Next(3, all, &n), S_FALSE);
  EXPECT_EQ(n, 2u);
  for (ULONG i = 0; i < n; i++) all[i]->Release();
  e->Release();

  EXPECT_EQ(graph_->RemoveFilter(sink_), S_OK);
  EXPECT_EQ(graph_->RemoveFilter(sink_), VFW_E_NOT_FOUND);
  EXPECT_EQ(graph_->FindFilterByName(u"Same 0001", &found), VFW_E_NOT_FOUND);
}

TEST_F(GraphTest, ConnectionRules) {
  ASSERT_EQ(graph_->AddFilter(source_, u"Source"), S_OK);
  IPin *out = nullptr, *in = nullptr;
  ASSERT_EQ(source_->FindPin(u"Output", &out), S_OK);
  ASSERT_EQ(sink_->FindPin(u"In", &in), S_OK);
  EXPECT_EQ(graph_->ConnectDirect(out, in, nullptr), VFW_E_NOT_IN_GRAPH);
  ASSERT_EQ(graph_->AddFilter(sink_, u"Sink"), S_OK);
  EXPECT_EQ(graph_->ConnectDirect(in, out, nullptr), VFW_E_INVALID_DIRECTION);

  // A full type the source does not offer is refused by the source itself.
  CMediaType video(&MEDIATYPE_Video);
  video.SetSubtype(&MEDIASUBTYPE_YV12);
  video.SetFormatType(&FORMAT_None);
  EXPECT_EQ(graph_->ConnectDirect(out, in, &video), VFW_E_TYPE_NOT_ACCEPTED);
  // A partial type the source's only type does not match: nothing to agree on.
  CMediaType anyVideo(&MEDIATYPE_Video);
  EXPECT_EQ(graph_->ConnectDirect(out, in, &anyVideo), VFW_E_NO_ACCEPTABLE_TYPES);
  EXPECT_FALSE(sink_->GetPin(0)->IsConnected());

  ASSERT_EQ(graph_->ConnectDirect(out, in, nullptr), S_OK);
  EXPECT_EQ(graph_->ConnectDirect(out, in, nullptr), VFW_E_ALREADY_CONNECTED);
  EXPECT_TRUE(sink_->ConnectionType() == Audio());
  ASSERT_EQ(graph_->Reconnect(in), S_OK);
  EXPECT_TRUE(sink_->ConnectionType() == Audio());

  ASSERT_EQ(graph_->Pause(), S_OK);
  EXPECT_EQ(graph_->Disconnect(in), VFW_E_NOT_STOPPED);
  EXPECT_EQ(graph_->RemoveFilter(sink_), VFW_E_NOT_STOPPED);
  EXPECT_EQ(graph_->AddFilter(sink_, u"Late"), VFW_E_NOT_STOPPED);
  ASSERT_EQ(graph_->Stop(), S_OK);
  out->Release();
  in->Release();
}

TEST_F(GraphTest, StatesAndCompletion) {
  ASSERT_EQ(graph_->AddFilter(source_, u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(sink_, u"Sink"), S_OK);
  ASSERT_EQ(graph_->ConnectFilters(source_, sink_), S_OK);
  EXPECT_EQ(graph_->ConnectFilters(source_, sink_), VFW_E_NOT_FOUND);  // no free pins left

  LONG code = 0;
  EXPECT_EQ(graph_->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
  ASSERT_EQ(graph_->Pause(), S_OK);
  FILTER_STATE state;
  EXPECT_EQ(graph_->GetState(5000, &state), S_OK);  // the sink has its first sample
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(graph_->WaitForCompletion(0, &code), E_ABORT);
  ASSERT_EQ(graph_->Run(), S_OK);
  ASSERT_EQ(graph_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(sink_->Samples().size(), 1u);
  ASSERT_EQ(graph_->Stop(), S_OK);
  EXPECT_EQ(graph_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);

  // Seeking needs a seekable source.
  LONGLONG duration = 0;
  EXPECT_EQ(graph_->GetDuration(&duration), E_NOTIMPL);
}

}  // namespace
