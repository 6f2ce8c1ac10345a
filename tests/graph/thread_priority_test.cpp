// Source and renderer threads take their priorities from the host layer's registry key,
// with defaults when it says nothing usable.
#include <gtest/gtest.h>

#include "graph_test_util.h"
#include "test_filters.h"
#include "test_registry.h"
#include "thread_priority.h"
#include "winreg.h"

namespace cehost::test {
namespace {

void SetPriorityValue(LPCWSTR name, DWORD type, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\CeHost\\MediaGraph\\ThreadPriority", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(&value), sizeof(value)), ERROR_SUCCESS);
  RegCloseKey(key);
}

// Plays a short tone into the test renderer and reports the two threads' priorities.
void Play(int* sourcePriority, int* rendererPriority) {
  Ref<FilterGraph> graph;
  ASSERT_EQ(FilterGraph::Create(graph.out()), S_OK);
  Ref<CToneSource> source(CToneSource::Create(UNITS / 5));
  Ref<CTestRenderer> renderer(CTestRenderer::Create());
  ASSERT_EQ(graph->AddFilter(source.get(), u"Tone"), S_OK);
  ASSERT_EQ(graph->AddFilter(renderer.get(), u"Renderer"), S_OK);
  ASSERT_EQ(graph->ConnectFilters(source.get(), renderer.get()), S_OK);
  ASSERT_EQ(graph->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph->WaitForCompletion(5000, &code), S_OK);
  ASSERT_EQ(graph->Stop(), S_OK);
  *sourcePriority = source->WorkerPriority();
  *rendererPriority = renderer->DrawingPriority();
}

TEST(ThreadPriorities, ComeFromTheRegistryWithDefaults) {
  ScopedTestRegistry registry;
  int source = 0, renderer = 0;
  Play(&source, &renderer);
  EXPECT_EQ(source, dshow::kDefaultSourceThreadPriority);
  // The source's worker delivers into the renderer: inside it, it runs at the renderer's.
  EXPECT_EQ(renderer, dshow::kDefaultRendererThreadPriority);

  SetPriorityValue(u"Source", REG_DWORD, 200);
  SetPriorityValue(u"Renderer", REG_DWORD, 180);
  Play(&source, &renderer);
  EXPECT_EQ(source, 200);
  EXPECT_EQ(renderer, 180);

  // Out of range or of the wrong type: the defaults.
  SetPriorityValue(u"Source", REG_DWORD, 256);
  SetPriorityValue(u"Renderer", REG_BINARY, 100);
  Play(&source, &renderer);
  EXPECT_EQ(source, dshow::kDefaultSourceThreadPriority);
  EXPECT_EQ(renderer, dshow::kDefaultRendererThreadPriority);
}

}  // namespace
}  // namespace cehost::test
