// CUnknown: the reference-counted COM object every filter, pin, allocator and helper object
// derives from, with aggregation support.
//
// An object implements INonDelegatingUnknown (its own QueryInterface/AddRef/Release) and
// answers IUnknown calls through its owner: the outer object when it is aggregated, or
// itself. Classes that add interfaces write DECLARE_IUNKNOWN in their declaration and
// override NonDelegatingQueryInterface, handing out interfaces with GetInterface and passing
// every other IID to their base class.
//
// Threads: reference counts are interlocked; everything else belongs to the derived class.
// CBaseObject counts live objects per module, which DllCanUnloadNow reads.
#pragma once

#include "unknwn.h"
#include "windows.h"
#include "wxdebug.h"

struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};
typedef INonDelegatingUnknown* PNDUNKNOWN;

// Counts the live objects of this module.
class CBaseObject {
 public:
  explicit CBaseObject(LPCTSTR pName);
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
  virtual ~CBaseObject();

  static LONG ObjectsActive() { return m_cObjects; }

 private:
  static volatile LONG m_cObjects;  // interlocked
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // pUnk: the outer object when aggregated, else null. Not referenced: the outer object
  // owns the inner one.
  CUnknown(LPCTSTR pName, LPUNKNOWN pUnk);
  CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
  ~CUnknown() override;

  // The IUnknown that answers for this object (borrowed, no reference added).
  LPUNKNOWN GetOwner() const { return m_pUnknown; }

  // Optional to override; must end by calling the base for IIDs it does not know. The
  // base answers IID_IUnknown with the non-delegating IUnknown.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // Optional to override (pins forward their counts to their filter). The base deletes
  // the object when the count reaches 0.
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

 protected:
  volatile LONG m_cRef;  // interlocked

 private:
  // The object's own IUnknown, handed out for IID_IUnknown: its calls go to the
  // NonDelegating methods, so an aggregating outer object controls the inner one with it.
  class NonDelegatingImpl final : public IUnknown {
   public:
    explicit NonDelegatingImpl(CUnknown* owner) : owner_(owner) {}
    virtual ~NonDelegatingImpl() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      return owner_->NonDelegatingQueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->NonDelegatingAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->NonDelegatingRelease(); }

   private:
    CUnknown* owner_;
  };
  NonDelegatingImpl m_ndUnknown;
  const LPUNKNOWN m_pUnknown;
};

// Stores pUnk in *ppv with a reference added; E_POINTER for a null ppv.
HRESULT WINAPI GetInterface(LPUNKNOWN pUnk, void** ppv);

// The IUnknown methods of a class with interfaces, answered by the owner.
#define DECLARE_IUNKNOWN                                                             \
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) {                             \
    return GetOwner()->QueryInterface(riid, ppv);                                    \
  }                                                                                  \
  STDMETHODIMP_(ULONG) AddRef() { return GetOwner()->AddRef(); }                     \
  STDMETHODIMP_(ULONG) Release() { return GetOwner()->Release(); }

// A task-memory copy of a wide string (E_OUTOFMEMORY, E_POINTER).
HRESULT WINAPI AMGetWideString(LPCWSTR psz, LPWSTR* ppszReturn);
