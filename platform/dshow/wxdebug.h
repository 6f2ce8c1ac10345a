// Small helpers the filter sources use everywhere: contract assertions, object names,
// pointer checks and the (silent) trace macro.
#pragma once

#include <cassert>

#include "windows.h"

// A broken contract inside our own code.
#ifndef ASSERT
#define ASSERT(expr) assert(expr)
#endif
#ifndef EXECUTE_ASSERT
#define EXECUTE_ASSERT(expr)     \
  do {                           \
    [[maybe_unused]] bool ok_ = (expr); \
    assert(ok_);                 \
  } while (0)
#endif

// Object names are for the device's debug builds only; here they are never kept.
#ifndef NAME
#define NAME(x) ((LPCTSTR) nullptr)
#endif

#ifndef TEXT
#define TEXT(x) u##x
#endif

// Trace output of the device's debug builds; silent here (filters use their own debug lines).
#ifndef DbgLog
#define DbgLog(x) ((void)0)
#endif

#define CheckPointer(p, ret) \
  do {                       \
    if ((p) == nullptr) return (ret); \
  } while (0)
