// ChangeSpeed: changes the playback speed of one buffer of interleaved 16-bit PCM by a fixed
// pattern of dropped or inserted frames, and can pass every frame it emits through the pitch
// shifter to undo the pitch change the pattern causes.
//
// Speeds and patterns (a pattern restarts with every buffer; frames count from 0):
//
//   percent  period  frame positions               frames out per period
//   110      11      drop 10                       10
//   120       6      drop 5                         5
//   130      13      drop 4, 8, 12                 10
//   140       7      drop 3, 6                      5
//   150       3      drop 2                         2
//    70       7      insert after 0, 2, 4          10
//    80       4      insert after 0                 5
//    90       9      insert after 0                10
//
// An inserted frame is the midpoint of its neighbours, (a + b) >> 1 per channel; after the
// buffer's last frame the neighbour is that frame itself. 100 percent copies the buffer byte
// for byte; any other speed keeps every frame (the pitch shifter still runs when asked).
//
// Threads: runs on the caller's thread; the caller serialises it with resets of `shifter`.
#pragma once

#include "pitch_shifter.h"
#include "windows.h"

// Processes `byteCount` bytes of `channels`-channel frames from `in` into `out`, which must
// hold 2 * byteCount bytes (enough for every pattern) and must not overlap `in`. Bytes after
// the last whole frame are ignored (except at 100 percent). With `compensate` non-zero each
// emitted sample of channel j goes through shifter.PitchShifterSample(j, ...), so channels
// the shifter was not reset for, or a shifter that refused its reset, come out silent;
// `shifter` is borrowed for the call. Returns the bytes written to `out`; 0 (nothing written)
// for null buffers, a count that is not positive or above 0x3FFFFFFF (its output could not
// be counted), or, off 100 percent, fewer than 1 channel.
LONG ChangeSpeed(PitchShifter& shifter, INT percent, BOOL compensate, INT channels, BYTE* out,
                 const BYTE* in, LONG byteCount);
