// Checks for the PCM audio the host filters read and write: interleaved little-endian
// integer samples of 8, 16, 24 or 32 bits, any number of channels, any rate.
#pragma once

#include "mmreg.h"
#include "mtype.h"
#include "reftime.h"

namespace cehost {

// A usable PCM format: tag 1, 1..1024 channels, a rate, whole-byte sample widths from 8 to
// 32 bits, nBlockAlign = channels x bytes per sample and nAvgBytesPerSec to match.
bool IsValidPcmFormat(const WAVEFORMATEX& wfx);

// The PCM format of an audio media type (MEDIATYPE_Audio, MEDIASUBTYPE_PCM,
// FORMAT_WaveFormatEx with at least the 16 bytes of a PCM format block);
// VFW_E_TYPE_NOT_ACCEPTED for anything else. *wfx gets cbSize 0.
HRESULT PcmFormatFromMediaType(const CMediaType& mt, WAVEFORMATEX* wfx);

// The media type for a PCM format (fixed samples of one block, an 18-byte format block).
HRESULT MediaTypeFromPcmFormat(const WAVEFORMATEX& wfx, CMediaType* mt);

// 100 ns units for a number of frames at a rate (rounded down), without overflow for any
// 64-bit frame count a file can hold.
REFERENCE_TIME FramesToTime(uint64_t frames, DWORD rate);
// The frame nearest to a time (negative times give 0), so that a time from FramesToTime
// gives its frame back.
uint64_t TimeToFrames(REFERENCE_TIME time, DWORD rate);

}  // namespace cehost
