// PitchShifter: the time-domain pitch shifter that keeps the pitch of audio whose speed the
// frame pattern of ChangeSpeed (change_speed.h) has changed.
//
// Each channel writes its input, halved, into a circular delay line that two taps read at
// 1 + c samples per sample (c = 1/ratio - 1). A tap drifts towards or away from the writer;
// every (jumpInterval + 1) wraps of the 16.16 phase accumulator one tap jumps back to a fixed
// distance behind the writer while a crossfade of fadeLength samples, with quarter-wave sine
// and cosine gains, hands the output over from the old tap to the new one. At speed a the
// frame pattern shifts the pitch by a and this shifter by 1/a.
//
// Use: each filter instance owns one PitchShifter. PitchShifterReset() sets it up for a ratio,
// a channel count and a sample rate (and drops the delayed samples); PitchShifterSample() then
// processes one sample of one channel. The per-sample path is 32-bit integer arithmetic only;
// floating point is used by the reset alone. Nothing is allocated: the object holds all state.
//
// Threads: not locked. The owner serialises PitchShifterReset against PitchShifterSample and
// ChangeSpeed (the filter resets from the application's thread and processes on the streaming
// thread).
#pragma once

#include <array>

#include "windows.h"

// Capacity of the per-channel storage.
inline constexpr INT kPitchDelayLineEntries = 16800;  // 2 x 35 ms needs 3360 at 48000 Hz
inline constexpr INT kPitchFadeTableEntries = 576;    // 12 ms at 48000 Hz
inline constexpr INT kPitchMaxChannels = 2;

// Which gain table feeds a tap's gain during a crossfade. An index rather than a pointer, so
// that copying a channel record gives a record that reads its own tables.
enum PitchFadeTable : INT { kPitchSinTable = 0, kPitchCosTable = 1 };

// The state of one channel. All indices are kept in 0..length-1.
struct PitchShifterChannel {
  INT step;            // tap-rate offset c in 16.16 fixed point, (int)(c * 65535)
  INT windowSamples;   // h: 35 ms of samples
  INT guardSamples;    // o: 0 ms of samples, so 0
  INT raising;         // 1 when c > 0: the taps outrun the writer and the pitch goes up
  // Input samples >> 1; the first `length` entries are used.
  std::array<INT, kPitchDelayLineEntries> delayLine;
  INT length;          // 2 * (h + o); 0 while the state is unusable
  INT fadeLength;      // X: crossfade length in samples (12 ms, at most 576)
  INT fadeIndex;       // crossfade countdown from X to 0; 0 when no crossfade runs
  INT jumpInterval;    // w: phase wraps between two tap jumps, minus one
  INT jumpCountdown;   // wraps left before the next jump
  INT toggle;          // tap that jumps next: 1 = tap 2, 0 = tap 1
  INT fadeLengthCopy;  // X again; kept with the record, not read per sample
  INT offsetRaising;   // A = v - h: jump target behind the writer when raising
  INT offsetLowering;  // v = length - o - 2: jump target when lowering
  // (int)(sin(i * pi / (2X)) * 10000) and (int)(cos(...) * 10000) for i < X.
  std::array<INT, kPitchFadeTableEntries> sinTable;
  std::array<INT, kPitchFadeTableEntries> cosTable;
  INT writeIndex;      // next delay-line slot to write
  INT tap1, tap1Prev;  // current and previous read index of tap 1
  INT tap2, tap2Prev;  // current and previous read index of tap 2
  INT gain1, gain2;    // tap gains, 0..10000
  PitchFadeTable gain1Table, gain2Table;  // tables that feed the gains during a crossfade
  INT fracComplement;  // scratch: 65536 - current fraction
  INT phase;           // 16.16 accumulator; non-zero high bits signal a wrap
  INT unity;           // 65536
};

class PitchShifter {
 public:
  // Constructed unusable: PitchShifterSample returns silence until a successful reset.
  PitchShifter();
  PitchShifter(const PitchShifter&) = delete;
  PitchShifter& operator=(const PitchShifter&) = delete;

  // Rebuilds the state of `channels` channels for speed `ratio` (percent / 100) at
  // `sampleRate`, with empty delay lines. Crossfades longer than the gain tables (rates above
  // 48083 Hz) are shortened to the tables' 576 entries. Returns E_INVALIDARG, and leaves the
  // state unusable (silence out), for 0 or more than 2 channels, a ratio below 0.5 or not
  // finite (the taps could not keep up with the jump rule), or a rate whose window does not
  // fit the delay line or is too short for a crossfade (below about 100 Hz or above about
  // 240 kHz); S_OK otherwise.
  HRESULT PitchShifterReset(FLOAT ratio, INT channels, DWORD sampleRate);

  // One sample of `channel` in, one out; advances that channel by one sample. Returns 0 for a
  // channel outside the last reset's count, and while the state is unusable.
  SHORT PitchShifterSample(INT channel, SHORT x);

  // Channel count of the last reset; 0 while the state is unusable.
  INT Channels() const { return m_nChannels; }

  const PitchShifterChannel& ChannelForTesting(INT channel) const { return m_channel[channel]; }

 private:
  void MakeUnusable();

  // Written by PitchShifterReset, read and advanced by PitchShifterSample, on whichever
  // thread the owner lets in at the time (see the class comment).
  INT m_nChannels;
  std::array<PitchShifterChannel, kPitchMaxChannels> m_channel;
  FLOAT m_fTapRateOffset;  // c of the last reset
  FLOAT m_fWindowMs;       // 35.0
  FLOAT m_fGuardMs;        // 0.0
};
