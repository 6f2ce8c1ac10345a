// A registered filter library used as the player uses the deliverables: registered with its
// own DllRegisterServer, created by CLSID through CoCreateInstance, run in the graph.
#include <gtest/gtest.h>

#include "cehost/text.h"
#include "graph_test_util.h"
#include "push_source.h"
#include "test_registry.h"

namespace cehost::test {
namespace {

const CLSID kTestSink = {0x7D2C5E91, 0x3A4B, 0x4C5D, {0x9E, 0x6F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}};

TEST(FilterByClsid, ARegisteredLibraryFilterRunsInTheGraph) {
  ScopedTestRegistry registry;
  Ref<FilterGraph> graph;
  ASSERT_EQ(FilterGraph::Create(graph.out()), S_OK);
  IBaseFilter* unregistered = nullptr;
  EXPECT_EQ(graph->AddFilterByClsid(kTestSink, u"Sink", &unregistered), REGDB_E_CLASSNOTREG);

  HMODULE library = LoadLibraryW(FromUtf8(TEST_FILTER_LIBRARY).c_str());
  ASSERT_NE(library, nullptr);
  auto registerServer = reinterpret_cast<HRESULT (*)()>(GetProcAddress(library, "DllRegisterServer"));
  ASSERT_NE(registerServer, nullptr);
  ASSERT_EQ(registerServer(), S_OK);

  Ref<IBaseFilter> sink;
  ASSERT_EQ(graph->AddFilterByClsid(kTestSink, u"Sink", sink.out()), S_OK);
  PushSourceConfig config;
  config.outputType = PcmType(8000, 1);
  config.buffers.emplace_back();
  config.buffers.back().bytes = Ramp(64);
  Ref<CPushSource> source;
  ASSERT_EQ(CPushSource::Create(std::move(config), source.out()), S_OK);
  ASSERT_EQ(graph->AddFilter(source.get(), u"Source"), S_OK);
  ASSERT_EQ(graph->ConnectFilters(source.get(), sink.get()), S_OK);
  ASSERT_EQ(graph->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);  // the library's renderer completed
  ASSERT_EQ(graph->Stop(), S_OK);
  FreeLibrary(library);
}

}  // namespace
}  // namespace cehost::test
