// Fixed tables of the WMA version 2 encoder: the format's code tables (exponent code and the
// four run-level code sets, generated into wma_tables.cpp by tools/gen_tables.py from
// tables/*.txt), the arithmetic tables computed by the same script, and the small constant
// tables of the analysis and the gain search.
//
// All tables are read-only data; any thread may read them.
#pragma once

#include <cstdint>

// One run-level code set. Index 0 is the escape code, index 1 the end-of-block code; the
// codes of level L (1..levels) with run 0, 1, ... sit at indices start[L + 1] .. start[L + 2] - 1.
struct WmaRunLevelSet {
  int levels;
  int codeCount;
  const uint32_t* codes;
  const uint8_t* lengths;
  const uint16_t* start;  // levels + 3 entries

  // Number of runs with a direct code for this level (0 for levels beyond the set).
  int RunCount(uint32_t level) const {
    if (level == 0 || level > static_cast<uint32_t>(levels)) return 0;
    return start[level + 2] - start[level + 1];
  }
};

// Main and side sets from 48000 bit/s on, and below it.
extern const WmaRunLevelSet kWmaRunLevel70;
extern const WmaRunLevelSet kWmaRunLevel40;
extern const WmaRunLevelSet kWmaRunLevel340;
extern const WmaRunLevelSet kWmaRunLevel180;

// Exponent code for the difference d = -60..60 at index d + 60.
extern const uint32_t kWmaExponentCode[121];
extern const uint8_t kWmaExponentLength[121];

// Quantiser step 32 * 10^((g + 1) / 20) and its reciprocal 2^32 / step, g = 0..138.
inline constexpr int kWmaGainTableSize = 139;
extern const uint32_t kWmaQuantStep[kWmaGainTableSize];
extern const uint32_t kWmaQuantReciprocal[kWmaGainTableSize];
// 256 * 10^((k - 32) / 20): the ratio of used to available bits that k - 32 gain steps correct.
extern const uint16_t kWmaGainStep[67];

// Falling half of the sine window of length 4096, scaled by 32768.
extern const int16_t kWmaWindow[2048];
// Q31 complex pairs (re, im): pre-rotation 1024 entries, post-rotation 513 entries.
extern const int32_t kWmaPreRotation[2 * 1024];
extern const int32_t kWmaPostRotation[2 * 513];
// Q31 cos(2 pi k / 1024), k = 0..256; the other quadrants are read from mirrored entries.
extern const int32_t kWmaFftCos[257];
// 2^20 * 10^(-(k - 57) / 16), k = 0..114: index 57 + e scales by exponent e.
extern const uint32_t kWmaExponentScale[115];

// Initial gain estimate: the first threshold at or above bits-per-coefficient ratio h picks
// the value (about e^(i + 1) and 8.686 * i).
inline constexpr uint32_t kWmaGainEstimateThreshold[22] = {
    2,        7,        20,        54,        148,       403,        1096,       2980,
    8102,     22026,    59874,     162754,    442412,    1202604,    3269016,    8886110,
    24154952, 65659968, 178482300, 485165194, 1318815734, 3584912846u};
inline constexpr int kWmaGainEstimateValue[22] = {0,   8,   17,  26,  34,  43,  52,  60,
                                                  69,  78,  86,  95,  104, 112, 121, 130,
                                                  138, 147, 156, 165, 173, 182};

// Band level offset of a band whose coefficients were shifted by s before squaring, in
// 1/2048 dB (about 2048 * (6.0206 s - 7)).
inline constexpr int32_t kWmaLevelByShift[16] = {-14336, -2006,  10324,  22654,  34984,  47314,
                                                 59645,  71975,  84305,  96635,  108965, 121296,
                                                 133626, 145956, 158286, 170616};

inline constexpr int kWmaBands = 25;
// First coefficient of each exponent band, then the end of the last.
inline constexpr uint16_t kWmaBandEdges44100[kWmaBands + 1] = {
    0,   8,   20,  28,  36,  48,  60,  72,  84,  100, 116,  136,  160,
    184, 216, 252, 292, 344, 408, 492, 596, 716, 884, 1116, 1440, 1864};
inline constexpr uint16_t kWmaBandEdges32000[kWmaBands + 1] = {
    0,   12,  24,  40,  52,  64,  80,  100, 116, 140,  164,  188,  220,
    256, 296, 344, 404, 472, 564, 680, 820, 984, 1216, 1536, 1864, 1864};
// Masking offset subtracted from each band's threshold, in 1/2048 dB.
inline constexpr uint16_t kWmaBandOffsets44100[kWmaBands] = {
    18495, 22101, 18495, 18495, 22101, 22101, 22101, 22101, 24660, 24660, 26645, 28266, 28266,
    30825, 31873, 32810, 35143, 36990, 39409, 41308, 42581, 45574, 48445, 51325, 53808};
inline constexpr uint16_t kWmaBandOffsets32000[kWmaBands] = {
    22101, 22101, 24660, 22101, 22101, 24660, 26645, 24660, 28266, 28266, 28266, 30825, 31873,
    32810, 34431, 36416, 37529, 40218, 42280, 43952, 45360, 48445, 51305, 51525, 0};
