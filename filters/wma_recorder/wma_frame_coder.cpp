#include "wma_frame_coder.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "wma_transform.h"

namespace {

// Coefficients from here on are never coded (nothing above about 19.8 kHz at 44100 Hz).
constexpr int kFirstZeroedCoef = 1843;
constexpr int kLastZeroedCoef = 1867;
constexpr int32_t kSilentLevel = -204800;
constexpr int32_t kTenDb = 20480;
// The pre-rotation carries a factor 0.98 that nothing else in the stream accounts for: a
// decoder would play the recording 2 % (0.18 dB) too quietly, which alone limits a clean
// tone to 34 dB signal-to-noise. The normalisation takes it back out: 2^30 / 0.98.
constexpr uint64_t kPreRotationCompensation = 1095652860;

inline uint32_t Abs32(int32_t v) {
  return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

// Band level in 1/2048 dB of the coefficients [begin, end).
int32_t BandLevel(const int32_t* c, int begin, int end) {
  uint32_t m = 0;
  for (int i = begin; i < end; ++i) m |= Abs32(c[i] >> 4);
  int s = 0;
  if (m != 0) s = std::clamp(2 * (31 - std::countl_zero(m)) - 24, 0, 30) / 2;
  // A 64-bit sum: a wide loud band holds up to 424 squares below 2^26.
  uint64_t e = 0;
  for (int i = begin; i < end; ++i) {
    uint64_t a = Abs32(c[i] >> 4) >> s;
    e += a * a;
  }
  if (e == 0) return kSilentLevel;
  int d = 0;
  if (e >= (uint64_t{1} << 30)) {
    d = 9;
  } else {
    for (uint64_t p = 10; d < 9 && e >= p; p *= 10) ++d;
  }
  return kTenDb * d + kWmaLevelByShift[s];
}

}  // namespace

void WmaFrameCoder::Open(int channels, int sampleRate, uint32_t actualBitrate, uint32_t budget) {
  assert(channels == 1 || channels == 2);
  assert(sampleRate == 44100 || sampleRate == 32000);
  channels_ = channels;
  const bool r32 = sampleRate == 32000;
  edges_ = r32 ? kWmaBandEdges32000 : kWmaBandEdges44100;
  offsets_ = r32 ? kWmaBandOffsets32000 : kWmaBandOffsets44100;
  const bool large = actualBitrate < 48000;
  mainSet_ = large ? &kWmaRunLevel340 : &kWmaRunLevel70;
  sideSet_ = large ? &kWmaRunLevel180 : &kWmaRunLevel40;
  started_ = false;
  std::memset(prevSums_, 0, sizeof prevSums_);
  std::memset(prevLeft_, 0, sizeof prevLeft_);
  std::memset(prevRight_, 0, sizeof prevRight_);
  std::memset(cur_, 0, sizeof cur_);
  std::memset(prev_, 0, sizeof prev_);
  std::memset(&frame_, 0, sizeof frame_);
  frame_.channels = channels;
  for (int c = 0; c < kWmaMaxChannels; ++c) {
    frame_.ch[c].forceCoded = 2;
    frame_.ch[c].codeSet = mainSet_;
  }
  quantizer_.Open(channels, r32, budget);
}

void WmaFrameCoder::RepresentPriming() {
  std::memset(cur_, 0, sizeof cur_);
  std::memset(prev_, 0, sizeof prev_);
  std::memset(prevSums_, 0, sizeof prevSums_);
  frame_.stereoMode = channels_ == 2 ? 1 : 0;
  for (int c = 0; c < channels_; ++c) frame_.ch[c].activity = 0;
  frame_.ch[0].codeSet = mainSet_;
  frame_.ch[1].codeSet = sideSet_;
  started_ = true;
}

void WmaFrameCoder::Represent(const int16_t* left, const int16_t* right) {
  if (channels_ == 1) {
    bool any = false;
    for (int n = 0; n < kWmaFrameLength; ++n) {
      cur_[0][n] = left[n];
      prev_[0][n] = prevLeft_[n];
      any = any || left[n] != 0 || prevLeft_[n] != 0;
    }
    frame_.stereoMode = 0;
    frame_.ch[0].activity = any ? 1 : 0;
    frame_.ch[0].codeSet = mainSet_;
    return;
  }

  uint32_t sums[4] = {};  // mid, side, left, right; each below 2^27 over two frames
  for (int n = 0; n < kWmaFrameLength; ++n) {
    int32_t l = left[n] >> 1, r = right[n] >> 1;
    int32_t m = l + r, s = l - r;
    sums[0] += Abs32(m) >> 1;
    sums[1] += Abs32(s) >> 1;
    sums[2] += Abs32(l);
    sums[3] += Abs32(r);
  }
  uint64_t total[4];
  for (int i = 0; i < 4; ++i) {
    total[i] = uint64_t{sums[i]} + prevSums_[i];
    prevSums_[i] = sums[i];
  }
  bool midSide;
  if (total[0] == 0 || total[1] == 0) {
    midSide = true;
  } else if (total[2] == 0 || total[3] == 0) {
    midSide = false;
  } else {
    uint64_t msRatio = std::max(total[0], total[1]) * 128 / std::min(total[0], total[1]);
    uint64_t lrRatio = std::max(total[2], total[3]) * 128 / std::min(total[2], total[3]);
    midSide = msRatio > lrRatio;
  }

  uint32_t prevAbs[2] = {};
  if (midSide) {
    for (int n = 0; n < kWmaFrameLength; ++n) {
      int32_t l = left[n] >> 1, r = right[n] >> 1;
      cur_[0][n] = static_cast<int16_t>(l + r);
      cur_[1][n] = static_cast<int16_t>(l - r);
      int32_t pl = prevLeft_[n] >> 1, pr = prevRight_[n] >> 1;
      prev_[0][n] = static_cast<int16_t>(pl + pr);
      prev_[1][n] = static_cast<int16_t>(pl - pr);
      prevAbs[0] += Abs32(pl + pr);
      prevAbs[1] += Abs32(pl - pr);
    }
    frame_.ch[0].activity = sums[0] + prevAbs[0];
    frame_.ch[1].activity = sums[1] + prevAbs[1];
  } else {
    for (int n = 0; n < kWmaFrameLength; ++n) {
      cur_[0][n] = left[n];
      cur_[1][n] = right[n];
      prev_[0][n] = prevLeft_[n];
      prev_[1][n] = prevRight_[n];
      prevAbs[0] += Abs32(prevLeft_[n]);
      prevAbs[1] += Abs32(prevRight_[n]);
    }
    frame_.ch[0].activity = sums[2] + prevAbs[0];
    frame_.ch[1].activity = sums[3] + prevAbs[1];
  }
  frame_.stereoMode = midSide ? 1 : 0;
  frame_.ch[0].codeSet = mainSet_;
  frame_.ch[1].codeSet = midSide ? sideSet_ : mainSet_;
}

void WmaFrameCoder::Analyse(WmaChannel& ch) const {
  int32_t* c = ch.coefs;
  int32_t level[kWmaBands + 1];
  for (int i = 0; i < kWmaBands; ++i) level[i] = BandLevel(c, edges_[i], edges_[i + 1]);
  level[kWmaBands] = 30720;

  // Masking: a band's threshold is raised by a loud band above it (51.2 dB down) or by the
  // decaying level carried up from the bands below it (10 dB per band).
  int32_t carry = -kTenDb;
  int prev = 36;
  int emax = INT32_MIN;
  for (int i = 0; i < kWmaBands; ++i) {
    carry = std::max(carry, level[i == 0 ? 0 : i - 1]) - kTenDb;
    int32_t down = level[i + 1] - 51200;
    int32_t m = down > level[i] ? down : (carry > level[i] ? carry : level[i]);
    int32_t threshold = m - offsets_[i];
    int e = (4 * threshold / 10 + 1024) >> 11;
    // The code covers differences of +-60, and the scale table exponents of +-57.
    e = std::clamp(e, prev - 60, prev + 60);
    e = std::clamp(e, -57, 57);
    ch.exponents[i] = static_cast<int16_t>(e);
    prev = e;
    emax = std::max(emax, e);
  }
  for (int i = 0; i < kWmaBands; ++i) {
    uint64_t scale =
        (uint64_t{kWmaExponentScale[57 + ch.exponents[i]]} * kWmaExponentScale[57 - emax]) >> 24;
    scale = (std::min<uint64_t>(scale, UINT32_MAX) * kPreRotationCompensation) >> 30;
    ch.scale[i] = static_cast<uint32_t>(std::min<uint64_t>(scale, UINT32_MAX));
  }
  for (int i = 0; i < kWmaBands; ++i) {
    const int64_t scale = ch.scale[i];
    for (int k = edges_[i]; k < edges_[i + 1]; ++k) {
      // Saturated rather than wrapped: a wrapped coefficient would code as noise.
      int64_t v = (int64_t{c[k]} * scale) >> 15;
      c[k] = static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    }
  }
}

uint32_t WmaFrameCoder::CodeFrame(const int16_t* left, const int16_t* right, WmaBitWriter& out) {
  if (!started_) {
    RepresentPriming();
  } else {
    Represent(left, right);
  }
  for (int c = 0; c < channels_; ++c) {
    WmaChannel& ch = frame_.ch[c];
    ch.coded = ch.activity != 0 || ch.forceCoded != 0;
    if (!ch.coded) continue;
    if (!WmaWindowFold(cur_[c], prev_[c], ch.coefs) && ch.forceCoded == 0) {
      ch.coded = false;
      continue;
    }
    WmaDctIV(ch.coefs);
    std::fill(ch.coefs + kFirstZeroedCoef, ch.coefs + kLastZeroedCoef + 1, 0);
    Analyse(ch);
  }
  quantizer_.SearchGain(frame_);
  uint32_t bits = quantizer_.WriteFrame(frame_, out);

  for (int c = 0; c < channels_; ++c) frame_.ch[c].forceCoded = 0;
  if (left != nullptr) std::memcpy(prevLeft_, left, sizeof prevLeft_);
  if (channels_ == 2 && right != nullptr) std::memcpy(prevRight_, right, sizeof prevRight_);
  return bits;
}
