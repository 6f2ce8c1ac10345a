// Test helper: reads back what the encoder wrote, following the frame syntax of
// wma_quantizer.h and the superframe layout of wma_encoder.h, with the same code tables.
// An independent reader catches a writer and a counter that agree with each other but not
// with the syntax.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "wma_frame.h"
#include "wma_tables.h"

namespace wma_test {

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t bytes) : data_(data), bits_(bytes * 8) {}
  uint32_t Get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | Bit();
    return v;
  }
  uint32_t Bit() {
    if (pos_ >= bits_) throw std::runtime_error("read past the end");
    uint32_t b = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
    ++pos_;
    return b;
  }
  size_t Position() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t bits_;
  size_t pos_ = 0;
};

// Reads one prefix code word of a table given as (code, length) pairs; returns its index.
inline int ReadCode(BitReader& r, const uint32_t* codes, const uint8_t* lengths, int count) {
  static std::map<const uint32_t*, std::map<std::pair<int, uint32_t>, int>> indexes;
  auto& index = indexes[codes];
  if (index.empty())
    for (int i = 0; i < count; ++i) index[{lengths[i], codes[i]}] = i;
  uint32_t v = 0;
  for (int n = 1; n <= 32; ++n) {
    v = (v << 1) | r.Bit();
    auto it = index.find({n, v});
    if (it != index.end()) return it->second;
  }
  throw std::runtime_error("no code word");
}

struct ChannelRead {
  bool coded = false;
  int exponents[kWmaBands] = {};
  std::vector<int> levels = std::vector<int>(kWmaCodedCoefs, 0);  // signed
  bool endOfBlock = false;
  int escapes = 0;
};

struct FrameRead {
  int firstCodes[2] = {-1, -1};  // -1 when absent
  int nextCode = -1;
  int stereoMode = 0;
  int gain = -1;  // g as written; -1 when no channel is coded
  ChannelRead ch[2];
  size_t bits = 0;
};

struct StreamFormat {
  int channels = 2;
  bool rate32000 = false;
  const WmaRunLevelSet* mainSet = &kWmaRunLevel70;
  const WmaRunLevelSet* sideSet = &kWmaRunLevel40;
};

inline void ReadCoefficients(BitReader& r, const WmaRunLevelSet& set, int levelBits,
                             ChannelRead& ch) {
  int pos = 0;
  while (pos < kWmaCodedCoefs) {
    int idx = ReadCode(r, set.codes, set.lengths, set.codeCount);
    if (idx == 1) {
      ch.endOfBlock = true;
      return;
    }
    int level, run;
    if (idx == 0) {
      level = static_cast<int>(r.Get(levelBits));
      run = static_cast<int>(r.Get(11));
      ++ch.escapes;
    } else {
      level = 1;
      while (idx >= set.start[level + 2]) ++level;
      run = idx - set.start[level + 1];
    }
    int sign = static_cast<int>(r.Bit());
    pos += run;
    if (pos >= kWmaCodedCoefs) throw std::runtime_error("run past the last coefficient");
    ch.levels[pos] = sign ? level : -level;
    ++pos;
  }
}

inline int LevelBitsOf(int j) {
  return j <= 14 ? 13 : j <= 31 ? 12 : j <= 39 ? 11 : j <= 44 ? 10 : 9;
}

inline FrameRead ReadFrame(BitReader& r, const StreamFormat& f, bool first) {
  FrameRead fr;
  size_t start = r.Position();
  int width = f.rate32000 ? 2 : 3;
  if (first) {
    fr.firstCodes[0] = static_cast<int>(r.Get(width));
    fr.firstCodes[1] = static_cast<int>(r.Get(width));
  }
  fr.nextCode = static_cast<int>(r.Get(width));
  if (f.channels == 2) {
    fr.stereoMode = static_cast<int>(r.Bit());
    fr.ch[0].coded = r.Bit();
    fr.ch[1].coded = r.Bit();
  } else {
    fr.ch[0].coded = r.Bit();
  }
  if (!fr.ch[0].coded && !fr.ch[1].coded) {
    fr.bits = r.Position() - start;
    return fr;
  }
  int g = 0;
  for (;;) {
    uint32_t v = r.Get(7);
    g += static_cast<int>(v);
    if (v != 127) break;
  }
  fr.gain = g;
  for (int c = 0; c < f.channels; ++c) {
    if (!fr.ch[c].coded) continue;
    int prev = 36;
    for (int i = 0; i < kWmaBands; ++i) {
      int d = ReadCode(r, kWmaExponentCode, kWmaExponentLength, 121) - 60;
      prev += d;
      fr.ch[c].exponents[i] = prev;
    }
  }
  for (int c = 0; c < f.channels; ++c) {
    if (!fr.ch[c].coded) continue;
    const WmaRunLevelSet& set = (c == 1 && fr.stereoMode == 1) ? *f.sideSet : *f.mainSet;
    ReadCoefficients(r, set, LevelBitsOf(g + 1), fr.ch[c]);
  }
  fr.bits = r.Position() - start;
  return fr;
}

struct SuperframeRead {
  int index = 0;
  int frameCount = 0;
  int bitOffset = 0;
  std::vector<FrameRead> frames;
  size_t bits = 0;  // header and frames
};

inline SuperframeRead ReadSuperframe(const uint8_t* data, size_t bytes, const StreamFormat& f,
                                     int offsetBits) {
  BitReader r(data, bytes);
  SuperframeRead s;
  s.index = static_cast<int>(r.Get(4));
  s.frameCount = static_cast<int>(r.Get(4));
  s.bitOffset = static_cast<int>(r.Get(offsetBits));
  for (int i = 0; i < s.frameCount; ++i) s.frames.push_back(ReadFrame(r, f, i == 0));
  s.bits = r.Position();
  return s;
}

}  // namespace wma_test
