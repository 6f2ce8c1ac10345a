// The test component of the COM runtime tests: one class, TestCounter, with one interface.
#pragma once

#include "objbase.h"

// {567A55C2-197F-4DED-B793-EE6FA70B336C}
DEFINE_GUID(CLSID_TestCounter, 0x567A55C2, 0x197F, 0x4DED, 0xB7, 0x93, 0xEE, 0x6F, 0xA7, 0x0B, 0x33, 0x6C);
// {23FFCE0F-A7E9-4C31-81B1-91154BDD602A}
DEFINE_GUID(IID_ITestCounter, 0x23FFCE0F, 0xA7E9, 0x4C31, 0x81, 0xB1, 0x91, 0x15, 0x4B, 0xDD, 0x60, 0x2A);

// Adds numbers up. References: QueryInterface hands out one the caller releases.
struct ITestCounter : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Add(LONG amount) = 0;
  virtual LONG STDMETHODCALLTYPE Total() = 0;

 protected:
  ~ITestCounter() = default;
};
