#include "wav_parser.h"

#include <cstring>

#include "pcm_format.h"

namespace cehost {
namespace {

// Bounded so that a file of tiny chunks cannot keep the parser busy for long.
constexpr int kMaxChunks = 100000;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint64_t Le64(const uint8_t* p) { return uint64_t{Le32(p)} | uint64_t{Le32(p + 4)} << 32; }

HRESULT Fail(HRESULT hr, std::string* why, const char* reason) {
  if (why) *why = reason;
  return hr;
}

}  // namespace

HRESULT ParseWav(WavByteSource& source, WavInfo* info, std::string* why) {
  const uint64_t fileSize = source.Size();
  uint8_t header[12];
  if (!source.ReadAt(0, header, sizeof(header))) return Fail(VFW_E_INVALID_FILE_FORMAT, why, "shorter than a WAV header");
  const bool rf64 = std::memcmp(header, "RF64", 4) == 0;
  if ((!rf64 && std::memcmp(header, "RIFF", 4) != 0) || std::memcmp(header + 8, "WAVE", 4) != 0)
    return Fail(VFW_E_INVALID_FILE_FORMAT, why, "not a RIFF WAVE file");

  bool haveFormat = false, haveData = false, haveDs64 = false;
  uint64_t ds64DataSize = 0, dataOffset = 0, dataSize = 0;
  WAVEFORMATEX format{};
  uint64_t offset = 12;
  for (int chunks = 0; !(haveFormat && haveData); chunks++) {
    if (chunks == kMaxChunks) return Fail(VFW_E_INVALID_FILE_FORMAT, why, "too many chunks");
    uint8_t chunk[8];
    if (!source.ReadAt(offset, chunk, sizeof(chunk)))
      return Fail(VFW_E_INVALID_FILE_FORMAT, why, haveFormat ? "no data chunk" : "no fmt chunk");
    const uint32_t size = Le32(chunk + 4);
    const uint64_t body = offset + 8;

    if (std::memcmp(chunk, "ds64", 4) == 0 && rf64) {
      uint8_t ds64[28];
      if (size < sizeof(ds64) || !source.ReadAt(body, ds64, sizeof(ds64)))
        return Fail(VFW_E_INVALID_FILE_FORMAT, why, "truncated ds64 chunk");
      ds64DataSize = Le64(ds64 + 8);
      haveDs64 = true;
    } else if (std::memcmp(chunk, "fmt ", 4) == 0) {
      uint8_t fmt[40] = {};
      if (size < 16) return Fail(VFW_E_INVALID_FILE_FORMAT, why, "fmt chunk shorter than 16 bytes");
      const size_t want = size < sizeof(fmt) ? size : sizeof(fmt);
      if (!source.ReadAt(body, fmt, want)) return Fail(VFW_E_INVALID_FILE_FORMAT, why, "truncated fmt chunk");
      format.wFormatTag = Le16(fmt);
      format.nChannels = Le16(fmt + 2);
      format.nSamplesPerSec = Le32(fmt + 4);
      format.nAvgBytesPerSec = Le32(fmt + 8);
      format.nBlockAlign = Le16(fmt + 12);
      format.wBitsPerSample = Le16(fmt + 14);
      if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (size < 40 || Le16(fmt + 16) < 22)
          return Fail(VFW_E_INVALID_FILE_FORMAT, why, "truncated extensible fmt chunk");
        GUID sub;
        std::memcpy(&sub, fmt + 24, sizeof(sub));  // the GUID's bytes are little-endian on file as in memory
        if (sub != KSDATAFORMAT_SUBTYPE_PCM) return Fail(VFW_E_UNSUPPORTED_STREAM, why, "not PCM");
        format.wFormatTag = WAVE_FORMAT_PCM;
      }
      if (format.wFormatTag != WAVE_FORMAT_PCM) return Fail(VFW_E_UNSUPPORTED_STREAM, why, "not PCM");
      if (!IsValidPcmFormat(format)) return Fail(VFW_E_INVALID_FILE_FORMAT, why, "inconsistent PCM format");
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      dataOffset = body;
      dataSize = size;
      if (rf64 && size == 0xFFFFFFFFu) {
        if (!haveDs64) return Fail(VFW_E_INVALID_FILE_FORMAT, why, "RF64 without ds64 chunk");
        dataSize = ds64DataSize;
      }
      // A writer that never fixed its sizes: the data runs to the end of the file.
      if (dataOffset > fileSize) return Fail(VFW_E_INVALID_FILE_FORMAT, why, "data chunk past the end");
      if (dataSize > fileSize - dataOffset) dataSize = fileSize - dataOffset;
      haveData = true;
    }
    // Offsets stay below the file size plus 4 GiB per chunk: no overflow.
    const uint64_t skip = std::memcmp(chunk, "data", 4) == 0 ? dataSize : size;
    offset = body + skip + (skip & 1);
  }
  info->format = format;
  info->format.cbSize = 0;
  info->dataOffset = dataOffset;
  info->dataBytes = dataSize - dataSize % format.nBlockAlign;
  return S_OK;
}

}  // namespace cehost
