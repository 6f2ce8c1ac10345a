// Priorities of the media graph's streaming threads, on the device's 0..255 scale (0 is the
// highest), read from the registry each time a streaming run starts:
//
//   HKEY_LOCAL_MACHINE\Software\CeHost\MediaGraph\ThreadPriority
//     "Source"    DWORD  every source filter's worker thread (CSourceStream)       default 251
//     "Renderer"  DWORD  a streaming thread while it is inside a renderer (waiting  default 249
//                        for a sample's time and drawing it, CBaseRenderer)
//
// 251 is the normal priority (THREAD_PRIORITY_NORMAL), 249 two steps above it. A missing
// value, one of another type, or one above 255 gives the default.
//
// Threads: any thread; each call reads the registry.
#pragma once

#include "windows.h"

namespace cehost::dshow {

inline constexpr int kDefaultSourceThreadPriority = 251;
inline constexpr int kDefaultRendererThreadPriority = 249;

int SourceThreadPriority();
int RendererThreadPriority();

}  // namespace cehost::dshow
