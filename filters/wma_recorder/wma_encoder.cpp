#include "wma_encoder.h"

#include <bit>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <new>

#include "wma_bit_writer.h"
#include "wma_frame_coder.h"

namespace {

constexpr DWORD kMaxBlockAlign = 5945;  // the largest superframe of the three configurations
constexpr DWORD kPacketBufferSize = 8192;  // < 2048 left over + one whole packet

thread_local int t_failAllocation = 0;

template <typename T>
T* Allocate() {
  if (t_failAllocation > 0 && --t_failAllocation == 0) return nullptr;
  return new (std::nothrow) T();
}

void PutLe(BYTE* p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<BYTE>(v >> (8 * i));
}

void DebugPrintA(const char* format, int value) {
  char line[128];
  std::snprintf(line, sizeof line, format, value);
  OutputDebugStringA(line);
}

}  // namespace

// Silence handling: the recorder runs mode 0, in which every frame is coded.
struct WmaModeRecord {
  DWORD levelThreshold = 0x20000;
  DWORD durationMs = 1000;
  int mode = 0;
};

// Frame coder state and the stream counters.
struct WmaCodecMemory {
  WmaFrameCoder coder;
  int superframeIndex = 0;      // 0..15
  uint8_t mediaObject = 1;
  uint64_t sampleCount = 0;     // at superframe granularity
  DWORD sendTimeMs = 0;
  DWORD presentationTimeMs = 0;
  DWORD durationMs = 0;
  DWORD superframeCount = 0;
  bool longDuration = false;    // alternates 371 / 372 ms at 44100 Hz
};

struct WMAENC {
  WmaModeRecord* mode = nullptr;
  WmaCodecMemory* codec = nullptr;
  struct {
    struct {
      DWORD bitrate;
    } enc_info;
  } codec_open_info = {};
  struct {
    int m_iSamplingRate;
    int framesLeft;
    bool packetComplete;
    bool headerPending;
    DWORD gnBlockAlign;
    BYTE packetHeader[kWmaPacketHeaderSize];
    DWORD movedBytes;        // superframe bytes already moved to the packet buffer
    DWORD packetBytes;       // bytes of the current packet appended so far
    DWORD packetBufferBytes;
  } extra_codec_info = {};
  WmaEncConfig config = {};
  SHORT left[kWmaFrameLength] = {};
  SHORT right[kWmaFrameLength] = {};
  BYTE superframe[kMaxBlockAlign + 8] = {};
  WmaBitWriter writer{superframe, kMaxBlockAlign};
  BYTE packetBuffer[kPacketBufferSize] = {};
  // The caller's output area, borrowed.
  BYTE* output = nullptr;
  DWORD outputCapacity = 0;
  DWORD* outputCount = nullptr;
};

WmaEncConfig WmaEncConfigure(DWORD requestedBitrate) {
  WmaEncConfig c = {};
  c.requestedBitrate = requestedBitrate;
  if (requestedBitrate == 32000) {
    c.channels = 1;
    c.sampleRate = 44100;
    c.framesPerSuperframe = 8;
    c.presentationOffsetMs = 1486;
  } else if (requestedBitrate == 48000) {
    c.channels = 2;
    c.sampleRate = 32000;
    c.framesPerSuperframe = 6;
    c.presentationOffsetMs = 2048;
  } else {
    c.channels = 2;
    c.sampleRate = 44100;
    c.framesPerSuperframe = 8;
    c.presentationOffsetMs = 1486;
  }
  const uint64_t b = requestedBitrate, f = c.framesPerSuperframe, r = c.sampleRate;
  const uint64_t samples = f * kWmaFrameLength;
  c.superframeBits = static_cast<DWORD>((b * samples + r - 1) / r);
  c.blockAlign = (c.superframeBits + 7) / 8;
  uint64_t actual = (r * c.blockAlign * 8 + samples - 1) / samples;
  c.actualBitrate = static_cast<DWORD>((actual + 7) / 8 * 8);
  // From the requested rate: 128000 gives the 5944 bits the stream is known for (the
  // actual rate would give 5945, one bit more than the superframe's share).
  c.frameBudget = static_cast<DWORD>(b * kWmaFrameLength / r);
  uint32_t perSample = static_cast<uint32_t>(uint64_t{c.actualBitrate} * 256 / (r * c.channels));
  c.offsetBits = 33 - std::countl_zero(perSample) + 3;
  c.headerBits = 8 + c.offsetBits;
  // The written gain field can be one 7-bit field longer than the one counted in the
  // header (the count uses the previous frame's gain); 7 bits cover it.
  DWORD share = (c.blockAlign * 8 - c.headerBits) / c.framesPerSuperframe - 7;
  c.searchBudget = share < c.frameBudget ? share : c.frameBudget;
  c.packetSize = kWmaPacketHeaderSize + c.blockAlign + kWmaPacketPadding;
  return c;
}

namespace {

void FreeEncoder(WMAENC* enc) {
  if (enc == nullptr) return;
  delete enc->codec;
  delete enc->mode;
  delete enc;
}

void BuildPacketHeader(WMAENC* enc) {
  WmaCodecMemory& s = *enc->codec;
  BYTE* h = enc->extra_codec_info.packetHeader;
  h[0] = 0x82;
  h[1] = 0;
  h[2] = 0;
  h[3] = 0x08;
  h[4] = 0x5D;
  h[5] = kWmaPacketPadding;
  PutLe(h + 6, s.sendTimeMs, 4);
  PutLe(h + 10, s.durationMs, 2);
  h[12] = 1;
  h[13] = s.mediaObject++;
  PutLe(h + 14, 0, 4);
  h[18] = 8;
  PutLe(h + 19, enc->extra_codec_info.gnBlockAlign, 4);
  PutLe(h + 23, s.presentationTimeMs, 4);
}

// Opens a superframe's packet: times, packet header, superframe header.
void StartPacket(WMAENC* enc) {
  WmaCodecMemory& s = *enc->codec;
  const WmaEncConfig& c = enc->config;
  const bool r32 = c.sampleRate == 32000;
  if (s.superframeCount == 0 && s.sampleCount == 0) {
    s.sampleCount += r32 ? 8192 : 12288;
    s.durationMs = r32 ? 256 : 278;
  } else if (r32) {
    s.sampleCount += 12288;
    s.durationMs = 384;
  } else {
    s.sampleCount += 16384;
    s.durationMs = s.longDuration ? 372 : 371;
    s.longDuration = !s.longDuration;
  }
  BuildPacketHeader(enc);
  s.presentationTimeMs =
      static_cast<DWORD>(s.sampleCount * 1000 / static_cast<uint64_t>(c.sampleRate)) +
      c.presentationOffsetMs;

  enc->writer.Put(static_cast<uint32_t>(s.superframeIndex), 4);
  s.superframeIndex = (s.superframeIndex + 1) & 15;
  enc->writer.Put(static_cast<uint32_t>(c.framesPerSuperframe), 4);
  enc->writer.Put(0, c.offsetBits);
  enc->extra_codec_info.headerPending = true;
}

void AppendToPacket(WMAENC* enc, const BYTE* data, DWORD n) {
  auto& x = enc->extra_codec_info;
  assert(x.packetBufferBytes + n <= kPacketBufferSize);
  if (data != nullptr) {
    std::memcpy(enc->packetBuffer + x.packetBufferBytes, data, n);
  } else {
    std::memset(enc->packetBuffer + x.packetBufferBytes, 0, n);
  }
  x.packetBufferBytes += n;
  x.packetBytes += n;
}

void BufferPacket(WMAENC* enc) {
  auto& x = enc->extra_codec_info;
  if (x.headerPending) {
    AppendToPacket(enc, x.packetHeader, kWmaPacketHeaderSize);
    x.headerPending = false;
  }
  WmaBitWriter& w = enc->writer;
  w.Flush();
  assert(!w.Overflowed());
  DWORD end = x.packetComplete ? (w.BitCount() + 7) / 8
                               : x.movedBytes + (w.WholeBytes() - x.movedBytes) / 4 * 4;
  AppendToPacket(enc, enc->superframe + x.movedBytes, end - x.movedBytes);
  x.movedBytes = end;
  if (x.packetComplete) {
    AppendToPacket(enc, nullptr, enc->config.packetSize - x.packetBytes);
    x.packetBytes = 0;
    x.packetComplete = false;
  }
  while (x.packetBufferBytes >= kWmaOutputPiece) {
    std::memcpy(enc->output + *enc->outputCount, enc->packetBuffer, kWmaOutputPiece);
    *enc->outputCount += kWmaOutputPiece;
    x.packetBufferBytes -= kWmaOutputPiece;
    std::memmove(enc->packetBuffer, enc->packetBuffer + kWmaOutputPiece, x.packetBufferBytes);
  }
}

void EncodeFrame(WMAENC* enc) {
  auto& x = enc->extra_codec_info;
  WmaCodecMemory& s = *enc->codec;
  const int frames = enc->config.framesPerSuperframe;
  if (x.framesLeft == 0) {
    x.framesLeft = frames;
    enc->writer.Reset();
    x.movedBytes = 0;
    s.coder.Quantizer().SetFirstFrame();
  }
  if (x.framesLeft == frames) StartPacket(enc);
  --x.framesLeft;
  s.coder.CodeFrame(enc->left, enc->right, enc->writer);
  if (x.framesLeft == 0) {
    s.sendTimeMs += s.durationMs;
    ++s.superframeCount;
    x.packetComplete = true;
  }
  BufferPacket(enc);
}

}  // namespace

int WMAEncAppInit(WMAENC** ppEnc, BYTE* pOutput, DWORD cbOutput, DWORD* pnOutput, DWORD bitrate) {
  if (ppEnc == nullptr) return 0;
  *ppEnc = nullptr;
  if (pOutput == nullptr || pnOutput == nullptr || bitrate == 0) return 0;

  WmaModeRecord* mode = Allocate<WmaModeRecord>();
  WMAENC* enc = mode != nullptr ? Allocate<WMAENC>() : nullptr;
  WmaCodecMemory* codec = enc != nullptr ? Allocate<WmaCodecMemory>() : nullptr;
  t_failAllocation = 0;
  if (codec == nullptr) {
    delete enc;
    delete mode;
    return 0;
  }
  enc->mode = mode;
  enc->codec = codec;
  enc->output = pOutput;
  enc->outputCapacity = cbOutput;
  enc->outputCount = pnOutput;

  const WmaEncConfig& c = enc->config = WmaEncConfigure(bitrate);
  enc->codec_open_info.enc_info.bitrate = bitrate;
  enc->extra_codec_info.m_iSamplingRate = c.sampleRate;
  enc->extra_codec_info.gnBlockAlign = c.blockAlign;
  enc->extra_codec_info.framesLeft = 0;
  enc->codec->presentationTimeMs = c.presentationOffsetMs;
  enc->writer = WmaBitWriter(enc->superframe, c.blockAlign);
  codec->coder.Open(c.channels, c.sampleRate, c.actualBitrate, c.searchBudget);

  // The priming frame: silence, so that the first superframe holds it and F - 1 input frames.
  if (*pnOutput > cbOutput || cbOutput - *pnOutput < kWmaMaxOutputPerEncode) {
    FreeEncoder(enc);
    return 0;
  }
  EncodeFrame(enc);

  DebugPrintA("pWMAENC->extra_codec_info.gnBlockAlign : %d\n", static_cast<int>(c.blockAlign));
  DebugPrintA("pWMAENC->codec_open_info.enc_info.bitrate : %d\n", static_cast<int>(bitrate));
  DebugPrintA("pWMAENC->extra_codec_info.m_iSamplingRate : %d\n", c.sampleRate);
  *ppEnc = enc;
  return 1;
}

int WMAEncAppEncode(WMAENC* pEnc, const SHORT* pcm) {
  if (pEnc == nullptr || pcm == nullptr) return 0;
  if (*pEnc->outputCount > pEnc->outputCapacity ||
      pEnc->outputCapacity - *pEnc->outputCount < kWmaMaxOutputPerEncode)
    return 0;
  const bool mono = pEnc->config.channels == 1;
  for (int n = 0; n < kWmaFrameLength; ++n) {
    pEnc->left[n] = pcm[2 * n];
    pEnc->right[n] = mono ? 0 : pcm[2 * n + 1];
  }
  EncodeFrame(pEnc);
  return 1;
}

int WMAEncAppClose(WMAENC* pEnc) {
  FreeEncoder(pEnc);
  return 1;
}

const WmaEncConfig* WMAEncGetConfig(const WMAENC* pEnc) {
  return pEnc != nullptr ? &pEnc->config : nullptr;
}

void WMAEncFailAllocationForTesting(int n) { t_failAllocation = n; }
