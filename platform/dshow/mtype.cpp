#include "mtype.h"

#include <cstring>

#include "mmreg.h"
#include "objbase.h"

CMediaType::CMediaType() { InitMediaType(); }

CMediaType::CMediaType(const GUID* type) {
  InitMediaType();
  majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& mt, HRESULT* phr) {
  InitMediaType();
  const HRESULT hr = Set(mt);
  if (FAILED(hr) && phr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& mt, HRESULT* phr) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(mt), phr) {}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const CMediaType& mt) {
  Set(mt);
  return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& mt) {
  Set(mt);
  return *this;
}

bool CMediaType::operator==(const CMediaType& mt) const {
  if (majortype != mt.majortype || subtype != mt.subtype || formattype != mt.formattype ||
      cbFormat != mt.cbFormat)
    return false;
  if (cbFormat == 0) return true;
  return pbFormat && mt.pbFormat && std::memcmp(pbFormat, mt.pbFormat, cbFormat) == 0;
}

HRESULT CMediaType::Set(const CMediaType& mt) { return Set(static_cast<const AM_MEDIA_TYPE&>(mt)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& mt) {
  if (&mt == this) return S_OK;
  FreeMediaType(*this);
  const HRESULT hr = CopyMediaType(this, &mt);
  if (FAILED(hr)) InitMediaType();
  return hr;
}

BOOL CMediaType::IsValid() const { return majortype != GUID_NULL; }

ULONG CMediaType::GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }

void CMediaType::SetSampleSize(ULONG sz) {
  if (sz == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = sz;
  }
}

void CMediaType::SetVariableSize() { bFixedSizeSamples = FALSE; }

BOOL CMediaType::SetFormat(BYTE* pformat, ULONG length) {
  if (length == 0) {
    ResetFormatBuffer();
    return TRUE;
  }
  if (!pformat) return FALSE;
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!block) return FALSE;
  std::memcpy(block, pformat, length);
  ResetFormatBuffer();
  pbFormat = block;
  cbFormat = length;
  return TRUE;
}

void CMediaType::ResetFormatBuffer() {
  if (pbFormat) CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  ASSERT(length);
  if (cbFormat == length && pbFormat) return pbFormat;
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!block) return nullptr;
  ResetFormatBuffer();
  pbFormat = block;
  cbFormat = length;
  return block;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
  ASSERT(length);
  if (cbFormat == length && pbFormat) return pbFormat;
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!block) return nullptr;
  if (pbFormat) std::memcpy(block, pbFormat, cbFormat < length ? cbFormat : length);
  ResetFormatBuffer();
  pbFormat = block;
  cbFormat = length;
  return block;
}

void CMediaType::InitMediaType() {
  std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
  lSampleSize = 1;
  bFixedSizeSamples = TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
  return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

BOOL CMediaType::MatchesPartial(const CMediaType* ppartial) const {
  if (ppartial->majortype != GUID_NULL && majortype != ppartial->majortype) return FALSE;
  if (ppartial->subtype != GUID_NULL && subtype != ppartial->subtype) return FALSE;
  if (ppartial->formattype != GUID_NULL) {
    if (formattype != ppartial->formattype) return FALSE;
    if (cbFormat != ppartial->cbFormat) return FALSE;
    if (cbFormat && std::memcmp(pbFormat, ppartial->pbFormat, cbFormat) != 0) return FALSE;
  }
  return TRUE;
}

void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat) {
    CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
  }
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
  auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!pmt) return nullptr;
  if (FAILED(CopyMediaType(pmt, pSrc))) {
    CoTaskMemFree(pmt);
    return nullptr;
  }
  return pmt;
}

HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource) {
  ASSERT(pmtTarget != pmtSource);
  *pmtTarget = *pmtSource;
  if (pmtSource->cbFormat != 0) {
    ASSERT(pmtSource->pbFormat);
    pmtTarget->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
    if (!pmtTarget->pbFormat) {
      pmtTarget->cbFormat = 0;
      pmtTarget->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(pmtTarget->pbFormat, pmtSource->pbFormat, pmtSource->cbFormat);
  } else {
    pmtTarget->pbFormat = nullptr;
  }
  if (pmtTarget->pUnk) pmtTarget->pUnk->AddRef();
  return S_OK;
}

HRESULT WINAPI CreateAudioMediaType(const WAVEFORMATEX* pwfx, AM_MEDIA_TYPE* pmt, BOOL bSetFormat) {
  CheckPointer(pwfx, E_POINTER);
  CheckPointer(pmt, E_POINTER);
  std::memset(pmt, 0, sizeof(*pmt));
  pmt->majortype = MEDIATYPE_Audio;
  pmt->subtype = FOURCCMap(pwfx->wFormatTag);
  pmt->formattype = FORMAT_WaveFormatEx;
  pmt->bFixedSizeSamples = TRUE;
  pmt->lSampleSize = pwfx->nBlockAlign;
  if (bSetFormat) {
    const ULONG length = sizeof(WAVEFORMATEX) + (pwfx->wFormatTag == WAVE_FORMAT_PCM ? 0 : pwfx->cbSize);
    pmt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!pmt->pbFormat) return E_OUTOFMEMORY;
    std::memcpy(pmt->pbFormat, pwfx, length);
    if (pwfx->wFormatTag == WAVE_FORMAT_PCM) reinterpret_cast<WAVEFORMATEX*>(pmt->pbFormat)->cbSize = 0;
    pmt->cbFormat = length;
  }
  return S_OK;
}
