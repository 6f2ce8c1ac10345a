#include "pitch_shifter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr INT kGainUnity = 10000;  // gains and tables are scaled to 10000
constexpr double kFadeMs = 12.0;   // crossfade length

// Moves an index one slot on; indices stay in 0..length-1, so a compare does the wrap.
inline INT NextIndex(INT index, INT length) { return index + 1 == length ? 0 : index + 1; }

inline void AdvanceTaps(PitchShifterChannel& ch) {
  ch.tap1Prev = ch.tap1;
  ch.tap1 = NextIndex(ch.tap1, ch.length);
  ch.tap2Prev = ch.tap2;
  ch.tap2 = NextIndex(ch.tap2, ch.length);
}

inline const std::array<INT, kPitchFadeTableEntries>& Table(const PitchShifterChannel& ch,
                                                            PitchFadeTable which) {
  return which == kPitchSinTable ? ch.sinTable : ch.cosTable;
}

// Moves the tap whose turn it is to `offset` slots after the (already advanced) write index,
// that is length - offset samples behind the writer, and starts a crossfade towards it.
void Jump(PitchShifterChannel& ch, INT offset) {
  ch.fadeIndex = ch.fadeLength;
  ch.jumpCountdown = ch.jumpInterval;
  const INT target = (ch.writeIndex + offset) % ch.length;
  if (ch.toggle == 1) {
    ch.toggle = 0;
    ch.tap2 = target;  // tap2Prev keeps the old slot: the interpolation's last look back
    ch.gain1Table = kPitchSinTable;
    ch.gain2Table = kPitchCosTable;
  } else {
    ch.toggle = 1;
    ch.tap1 = target;
    ch.gain1Table = kPitchCosTable;
    ch.gain2Table = kPitchSinTable;
  }
}

// One wrap of the phase accumulator: count down to the next jump.
inline void CountWrap(PitchShifterChannel& ch, INT offset) {
  if (ch.jumpCountdown == 0) {
    Jump(ch, offset);
  } else {
    --ch.jumpCountdown;
  }
}

}  // namespace

PitchShifter::PitchShifter()
    : m_nChannels(0), m_channel{}, m_fTapRateOffset(0.0f), m_fWindowMs(35.0f), m_fGuardMs(0.0f) {}

void PitchShifter::MakeUnusable() {
  m_nChannels = 0;
  for (PitchShifterChannel& ch : m_channel) ch.length = 0;
}

HRESULT PitchShifter::PitchShifterReset(FLOAT ratio, INT channels, DWORD sampleRate) {
  MakeUnusable();
  // Below 0.5 the tap rate offset reaches a whole sample per sample and the 16.16 step no
  // longer signals one wrap at a time.
  if (channels < 1 || channels > kPitchMaxChannels || !std::isfinite(ratio) || ratio < 0.5f) {
    return E_INVALIDARG;
  }
  const FLOAT c = 1.0f / ratio - 1.0f;
  const INT h = (INT)((double)((FLOAT)sampleRate * m_fWindowMs) / 1000.0);
  const INT o = (INT)((double)((FLOAT)sampleRate * m_fGuardMs) / 1000.0);
  const INT length = 2 * (h + o);
  // Above 48083 Hz 12 ms is more than the tables hold; a slightly shorter crossfade still
  // hides the jump, which refusing the rate would not.
  const INT fade = std::min((INT)((double)sampleRate * kFadeMs / 1000.0), kPitchFadeTableEntries);
  const INT v = length - o - 2;
  const INT a = v - h;
  const INT w = h - (INT)((FLOAT)fade * c) - 2;
  // A negative jump target or countdown would index outside the line or never jump; at these
  // rates there is no usable window anyway.
  if (length > kPitchDelayLineEntries || fade < 1 || a < 0 || w < 0) return E_INVALIDARG;

  m_nChannels = channels;
  m_fTapRateOffset = c;
  PitchShifterChannel& ch = m_channel[0];
  ch.step = (INT)(c * 65535.0f);
  ch.raising = c > 0.0f ? 1 : 0;
  ch.windowSamples = h;
  ch.guardSamples = o;
  ch.length = length;
  std::fill_n(ch.delayLine.begin(), length, 0);
  ch.fadeLength = fade;
  ch.fadeLengthCopy = fade;
  ch.offsetLowering = v;
  ch.offsetRaising = a;
  ch.jumpInterval = w;
  for (INT i = 0; i < fade; ++i) {
    const double angle = i * (std::numbers::pi / 2.0) / fade;
    ch.cosTable[i] = (INT)(std::cos(angle) * 10000.0);
    ch.sinTable[i] = (INT)(std::sin(angle) * 10000.0);
  }
  ch.fadeIndex = 0;
  ch.tap2 = ch.tap2Prev = 0;
  ch.writeIndex = 0;
  ch.phase = 0;
  ch.tap1 = ch.tap1Prev = ch.raising ? a : v;
  ch.jumpCountdown = w;
  ch.gain1 = kGainUnity;
  ch.gain2 = 0;
  ch.gain1Table = kPitchSinTable;
  ch.gain2Table = kPitchCosTable;
  ch.toggle = 1;
  ch.unity = 65536;
  ch.fracComplement = 0;
  for (INT i = 1; i < channels; ++i) m_channel[i] = ch;
  return S_OK;
}

SHORT PitchShifter::PitchShifterSample(INT channel, SHORT x) {
  // A usable state has m_nChannels > 0 and every used channel a non-zero length.
  if (channel < 0 || channel >= m_nChannels) return 0;
  PitchShifterChannel& ch = m_channel[channel];
  auto& d = ch.delayLine;

  // Ranges that keep this in 32 bits: d is within +-16384, so each interpolation sum is within
  // +-2^30 and p within +-107375; the gains are 10000/0 or one index of the sine and cosine
  // tables, whose sum is at most 14142, so the gain sum stays within +-1.52e9.
  const INT f = ch.phase & 0xFFFF;
  ch.fracComplement = ch.unity - f;
  const INT p2 = (d[ch.tap2] * f + d[ch.tap2Prev] * ch.fracComplement) / 10000;
  const INT p1 = (d[ch.tap1] * f + d[ch.tap1Prev] * ch.fracComplement) / 10000;
  const INT y = (p1 * ch.gain1 + p2 * ch.gain2) / 65536;

  d[ch.writeIndex] = x >> 1;
  if (ch.fadeIndex > 0) {
    --ch.fadeIndex;
    ch.gain1 = Table(ch, ch.gain1Table)[ch.fadeIndex];
    ch.gain2 = Table(ch, ch.gain2Table)[ch.fadeIndex];
  }
  ch.writeIndex = NextIndex(ch.writeIndex, ch.length);

  ch.phase += ch.step;
  const bool wrapped = (static_cast<UINT>(ch.phase) >> 16) != 0;
  if (ch.raising) {
    // The taps move one slot, and one more at every wrap of the positive step.
    AdvanceTaps(ch);
    if (wrapped) {
      AdvanceTaps(ch);
      ch.phase &= 0xFFFF;
      CountWrap(ch, ch.offsetRaising);
    }
  } else if (!wrapped) {
    AdvanceTaps(ch);
  } else {
    // A borrow from the negative step: the taps stand still for this sample.
    ch.phase &= 0xFFFF;
    CountWrap(ch, ch.offsetLowering);
  }
  return (SHORT)std::clamp(2 * y, -32768, 32767);
}
