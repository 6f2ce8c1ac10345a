// Encodes 16-bit stereo PCM into a .wma file: feeds the WMA encoder frame by frame and
// writes its packets into an ASF file (platform/asf). Host-side helper for the command-line
// encoder, the interop tests and the benchmarks.
//
// Usage: Open(), Write() any number of sample frames, Close(). The last, partly filled input
// frame is completed with silence; the unfinished last superframe is not written, as the
// encoder never flushes it. One thread at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "asf_writer.h"
#include "wma_encoder.h"

class WmaFileEncoder {
 public:
  WmaFileEncoder() = default;
  ~WmaFileEncoder();
  WmaFileEncoder(const WmaFileEncoder&) = delete;
  WmaFileEncoder& operator=(const WmaFileEncoder&) = delete;

  [[nodiscard]] bool Open(const std::filesystem::path& path, DWORD bitrate = kWmaRecorderBitrate);
  // pcm: `frames` interleaved stereo sample pairs, borrowed for the call.
  [[nodiscard]] bool Write(const int16_t* pcm, size_t frames);
  [[nodiscard]] bool Close();

  uint64_t PacketsWritten() const { return asf_.PacketCount(); }
  const std::string& Error() const { return error_; }

 private:
  bool EncodePending();
  bool Fail(const std::string& message);

  WMAENC* encoder_ = nullptr;
  cehost::AsfWriter asf_;
  DWORD packetSize_ = 0;
  std::vector<int16_t> frame_ = std::vector<int16_t>(2 * 2048);
  size_t frameFill_ = 0;  // sample pairs in frame_
  std::vector<BYTE> output_ = std::vector<BYTE>(kWmaMaxOutputPerEncode);
  DWORD outputCount_ = 0;
  std::vector<BYTE> packet_;  // bytes of the packet being assembled
  std::string error_;
};
