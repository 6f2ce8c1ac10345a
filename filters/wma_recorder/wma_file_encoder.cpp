#include "wma_file_encoder.h"

#include <algorithm>
#include <cstring>

namespace {
// Codec data the reference decoder needs: exponent code, bit reservoir, variable block
// length, and the bits that make the block-length codes 3 bits wide.
constexpr uint16_t kEncodeOptions = 0x000F;
}  // namespace

WmaFileEncoder::~WmaFileEncoder() {
  if (encoder_ != nullptr) WMAEncAppClose(encoder_);
}

bool WmaFileEncoder::Fail(const std::string& message) {
  error_ = message;
  return false;
}

bool WmaFileEncoder::Open(const std::filesystem::path& path, DWORD bitrate) {
  if (encoder_ != nullptr) return Fail("already open");
  outputCount_ = 0;
  if (!WMAEncAppInit(&encoder_, output_.data(), static_cast<DWORD>(output_.size()), &outputCount_,
                     bitrate))
    return Fail("encoder set-up failed");
  const WmaEncConfig& c = *WMAEncGetConfig(encoder_);
  packetSize_ = c.packetSize;
  cehost::AsfAudioFormat format;
  format.channels = static_cast<uint16_t>(c.channels);
  format.samplesPerSec = static_cast<uint32_t>(c.sampleRate);
  format.avgBytesPerSec = c.actualBitrate / 8;
  format.blockAlign = static_cast<uint16_t>(c.blockAlign);
  format.samplesPerBlock = static_cast<uint32_t>(c.framesPerSuperframe) * 2048;
  format.encodeOptions = kEncodeOptions;
  format.superBlockAlign = c.blockAlign;
  if (!asf_.Open(path, format, packetSize_, c.presentationOffsetMs)) return Fail(asf_.Error());
  frameFill_ = 0;
  packet_.clear();
  return EncodePending();  // the priming frame's output, if any
}

bool WmaFileEncoder::EncodePending() {
  packet_.insert(packet_.end(), output_.begin(), output_.begin() + outputCount_);
  outputCount_ = 0;
  while (packet_.size() >= packetSize_) {
    if (!asf_.WritePacket(packet_.data(), packetSize_)) return Fail(asf_.Error());
    packet_.erase(packet_.begin(), packet_.begin() + packetSize_);
  }
  return true;
}

bool WmaFileEncoder::Write(const int16_t* pcm, size_t frames) {
  if (encoder_ == nullptr) return Fail("not open");
  while (frames > 0) {
    size_t n = std::min(frames, size_t{2048} - frameFill_);
    std::memcpy(frame_.data() + 2 * frameFill_, pcm, n * 2 * sizeof(int16_t));
    frameFill_ += n;
    pcm += 2 * n;
    frames -= n;
    if (frameFill_ == 2048) {
      frameFill_ = 0;
      if (!WMAEncAppEncode(encoder_, frame_.data())) return Fail("encode failed");
      if (!EncodePending()) return false;
    }
  }
  return true;
}

bool WmaFileEncoder::Close() {
  if (encoder_ == nullptr) return Fail("not open");
  bool ok = true;
  if (frameFill_ > 0) {
    std::fill(frame_.begin() + 2 * frameFill_, frame_.end(), 0);
    frameFill_ = 0;
    ok = WMAEncAppEncode(encoder_, frame_.data()) ? EncodePending() : Fail("encode failed");
  }
  WMAEncAppClose(encoder_);
  encoder_ = nullptr;
  if (!asf_.Close()) return ok ? Fail(asf_.Error()) : false;
  return ok;
}
