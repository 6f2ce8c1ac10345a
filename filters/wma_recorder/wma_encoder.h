// Entry points of the WMA version 2 encoder that the recording filter drives: configuration
// from the bit rate, the grouping of coded frames into fixed-size superframes, and the
// wrapping of each superframe into one ASF data packet.
//
// Usage: WMAEncAppInit() opens an encoder (and codes the silent priming frame), each
// WMAEncAppEncode() codes one frame of 2048 stereo sample pairs and appends any finished
// packet bytes, in 2048-byte pieces, to the caller's output area; WMAEncAppClose() frees it.
// Each encoder is an object of its own: two recordings in one process do not share state.
// An encoder is not thread-safe; one thread at a time drives it (the filter's worker).
//
// Superframe (gnBlockAlign bytes, MSB first):
//   bits  field
//   4     superframe index, 0..15, wrapping
//   4     number of frames F (8; 6 at 32000 Hz)
//   13    bit offset of the first new frame: 0 (the width depends on the configuration)
//   ...   the F coded frames back to back, then zero bits up to gnBlockAlign bytes
//
// Packet (27 + gnBlockAlign + 2 bytes, little-endian fields):
//   off  size  value
//   0    1     0x82  error correction present, 2 bytes of it
//   1    2     0, 0
//   3    1     0x08  padding length in one byte; no packet length, no sequence
//   4    1     0x5D  replicated data length, offset, object number, stream number sizes
//   5    1     padding length: 2
//   6    4     send time, ms
//   10   2     duration, ms
//   12   1     stream number 1
//   13   1     media object number (low 8 bits, from 1)
//   14   4     offset into the media object: 0
//   18   1     replicated data length: 8
//   19   4     media object size: gnBlockAlign
//   23   4     presentation time, ms
//   27   gnBlockAlign  the superframe
//   ...  2     padding, zero
#pragma once

#include <cstdint>

#include "windows.h"

inline constexpr DWORD kWmaRecorderBitrate = 128000;
inline constexpr DWORD kWmaPacketHeaderSize = 27;
inline constexpr DWORD kWmaPacketPadding = 2;
// Finished packets leave the encoder in pieces of this size.
inline constexpr DWORD kWmaOutputPiece = 2048;
// One WMAEncAppEncode call appends at most this many bytes.
inline constexpr DWORD kWmaMaxOutputPerEncode = 3 * kWmaOutputPiece;

// Values derived from the requested bit rate when the codec is opened.
struct WmaEncConfig {
  DWORD requestedBitrate;
  int channels;
  int sampleRate;           // m_iSamplingRate
  int framesPerSuperframe;  // F
  DWORD presentationOffsetMs;
  DWORD superframeBits;     // ceil(b * F * 2048 / R)
  DWORD blockAlign;         // gnBlockAlign, bytes per superframe
  DWORD actualBitrate;
  DWORD frameBudget;        // the frame's bit budget
  // Budget the gain search works with: leaves room for the superframe header and for a
  // longer gain field, so that F frames never exceed gnBlockAlign.
  DWORD searchBudget;
  int offsetBits;           // width of the superframe's bit-offset field
  int headerBits;           // 8 + offsetBits
  DWORD packetSize;         // 27 + gnBlockAlign + 2
};

WmaEncConfig WmaEncConfigure(DWORD requestedBitrate);

struct WMAENC;  // one encoder; created by WMAEncAppInit, freed by WMAEncAppClose

// Opens an encoder at `bitrate` (the recorder's is 128000). Packet bytes are appended at
// pOutput + *pnOutput and *pnOutput is increased; the caller drains the area (resetting
// *pnOutput) and keeps at least kWmaMaxOutputPerEncode bytes free before each encode call.
// pOutput and pnOutput are borrowed until WMAEncAppClose. Returns 1 and the new encoder in
// *ppEnc, or 0 (and *ppEnc null) on bad arguments or when memory cannot be allocated.
int WMAEncAppInit(WMAENC** ppEnc, BYTE* pOutput, DWORD cbOutput, DWORD* pnOutput,
                  DWORD bitrate = kWmaRecorderBitrate);

// Codes one frame: pcm holds 2048 interleaved stereo sample pairs (4096 values; mono uses the
// left ones). Returns 1, or 0 without coding when an argument is null or the output area has
// less than kWmaMaxOutputPerEncode bytes free.
int WMAEncAppEncode(WMAENC* pEnc, const SHORT* pcm);

// Frees the encoder (null is accepted). The unfinished last superframe is not flushed.
int WMAEncAppClose(WMAENC* pEnc);

// The configuration an open encoder uses.
const WmaEncConfig* WMAEncGetConfig(const WMAENC* pEnc);

// Makes the n-th allocation (1-based) of the next WMAEncAppInit on this thread fail.
void WMAEncFailAllocationForTesting(int n);
