// CMediaType: an AM_MEDIA_TYPE that owns its format block (task memory) and its pUnk
// reference, with copy, comparison and format-block helpers; and the free functions for
// bare AM_MEDIA_TYPE blocks handed across interfaces.
//
// Threads: a CMediaType is a value; guard shared ones with the owner's lock.
#pragma once

#include "strmif.h"
#include "uuids.h"
#include "wxdebug.h"

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* majortype);
  // Copies; *phr becomes E_OUTOFMEMORY when the format block cannot be copied.
  CMediaType(const AM_MEDIA_TYPE& mt, HRESULT* phr = nullptr);  // NOLINT: converts
  CMediaType(const CMediaType& mt, HRESULT* phr = nullptr);
  ~CMediaType();

  CMediaType& operator=(const CMediaType& mt);
  CMediaType& operator=(const AM_MEDIA_TYPE& mt);
  // Same major type, subtype, format type and format bytes.
  bool operator==(const CMediaType& mt) const;
  bool operator!=(const CMediaType& mt) const { return !(*this == mt); }

  // Copies mt into this type; E_OUTOFMEMORY leaves this type empty.
  HRESULT Set(const CMediaType& mt);
  HRESULT Set(const AM_MEDIA_TYPE& mt);

  // A major type has been set.
  BOOL IsValid() const;

  const GUID* Type() const { return &majortype; }
  void SetType(const GUID* ptype) { majortype = *ptype; }
  const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* ptype) { subtype = *ptype; }
  BOOL IsFixedSize() const { return bFixedSizeSamples; }
  BOOL IsTemporalCompressed() const { return bTemporalCompression; }
  ULONG GetSampleSize() const;
  // Fixed-size samples of sz bytes (0 means variable size).
  void SetSampleSize(ULONG sz);
  void SetVariableSize();
  void SetTemporalCompression(BOOL bCompressed) { bTemporalCompression = bCompressed; }

  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  void SetFormatType(const GUID* pformattype) { formattype = *pformattype; }
  const GUID* FormatType() const { return &formattype; }
  // Replaces the format block by a copy of length bytes at pFormat; FALSE when out of memory.
  BOOL SetFormat(BYTE* pFormat, ULONG length);
  // Frees the format block.
  void ResetFormatBuffer();
  // A format block of length bytes: the existing one when it has exactly that length
  // (contents kept), else a new uninitialised one replacing it. Null when out of memory.
  BYTE* AllocFormatBuffer(ULONG length);
  // Resizes the format block keeping its first bytes. Null when out of memory.
  BYTE* ReallocFormatBuffer(ULONG length);

  // Empties the type: GUIDs null, fixed-size samples of 1 byte, no format block.
  void InitMediaType();
  // The major type, subtype and format type are not all set (GUID_NULL is a wildcard).
  BOOL IsPartiallySpecified() const;
  // Matches a partly specified type: every GUID set in *ppartial equal here, and the format
  // bytes equal when *ppartial has a format type.
  BOOL MatchesPartial(const CMediaType* ppartial) const;
};

// Frees the format block and pUnk of a media type (the block itself is not freed).
void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a media type allocated with CreateMediaType (task memory), format block included.
void WINAPI DeleteMediaType(AM_MEDIA_TYPE* pmt);
// A task-memory copy of *pSrc; null when out of memory.
AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* pSrc);
// Copies *pmtSource into *pmtTarget (whose old contents are not freed).
HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource);
// Fills *pmt with an audio type for the given wave format (MEDIATYPE_Audio, the wave-format
// subtype of its tag, FORMAT_WaveFormatEx, fixed samples of nBlockAlign); with bSetFormat
// the format block is a copy of *pwfx (18 + cbSize bytes).
HRESULT WINAPI CreateAudioMediaType(const struct tWAVEFORMATEX* pwfx, AM_MEDIA_TYPE* pmt, BOOL bSetFormat);
