// The end of every host filter's Create: the filter was made with new (std::nothrow) and its
// constructor reported through *hr.
#pragma once

#include "windows.h"

namespace cehost {

// A null filter means out of memory; a failed constructor's filter is destroyed (through its
// own reference count, so private destructors stay private); otherwise the caller receives
// the filter with its first reference, which it releases. `hr` is read only after the
// constructor has run (all arguments are evaluated before the call).
template <typename T>
HRESULT AdoptNewFilter(T* filter, const HRESULT* hr, T** out) {
  if (!filter) return E_OUTOFMEMORY;
  filter->AddRef();
  if (!out || FAILED(*hr)) {
    filter->Release();
    return out ? *hr : E_POINTER;
  }
  *out = filter;
  return S_OK;
}

}  // namespace cehost
