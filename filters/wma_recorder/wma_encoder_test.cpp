#include "wma_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "cehost/debug_capture.h"
#include "wma_test_reader.h"

namespace {

uint32_t Le(const BYTE* p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Drives one encoder and collects everything it emits.
struct Stream {
  WMAENC* enc = nullptr;
  std::vector<BYTE> area = std::vector<BYTE>(kWmaMaxOutputPerEncode);
  DWORD count = 0;
  std::vector<BYTE> bytes;

  explicit Stream(DWORD bitrate = kWmaRecorderBitrate) {
    EXPECT_EQ(WMAEncAppInit(&enc, area.data(), static_cast<DWORD>(area.size()), &count, bitrate), 1);
    Drain();
  }
  ~Stream() { EXPECT_EQ(WMAEncAppClose(enc), 1); }
  void Drain() {
    bytes.insert(bytes.end(), area.begin(), area.begin() + count);
    count = 0;
  }
  void Encode(const std::vector<SHORT>& pcm) {
    ASSERT_EQ(WMAEncAppEncode(enc, pcm.data()), 1);
    Drain();
  }
  const WmaEncConfig& config() const { return *WMAEncGetConfig(enc); }
};

std::vector<SHORT> NoiseFrame(std::mt19937& rng, int amplitude) {
  std::uniform_int_distribution<int> d(-amplitude, amplitude);
  std::vector<SHORT> pcm(4096);
  for (auto& v : pcm) v = static_cast<SHORT>(d(rng));
  return pcm;
}

TEST(WmaEncoder, ConfigurationFollowsTheBitrate) {
  struct Case {
    DWORD bitrate;
    int channels, rate, frames;
    DWORD blockAlign, actual, budget;
    int headerBits;
    DWORD offsetMs;
  };
  const Case cases[] = {
      {128000, 2, 44100, 8, 5945, 128016, 5944, 21, 1486},
      {48000, 2, 32000, 6, 2304, 48000, 3072, 20, 2048},
      {32000, 1, 44100, 8, 1487, 32024, 1486, 20, 1486},
  };
  for (const auto& c : cases) {
    WmaEncConfig cfg = WmaEncConfigure(c.bitrate);
    SCOPED_TRACE(c.bitrate);
    EXPECT_EQ(cfg.channels, c.channels);
    EXPECT_EQ(cfg.sampleRate, c.rate);
    EXPECT_EQ(cfg.framesPerSuperframe, c.frames);
    EXPECT_EQ(cfg.blockAlign, c.blockAlign);
    EXPECT_EQ(cfg.actualBitrate, c.actual);
    EXPECT_EQ(cfg.frameBudget, c.budget);
    EXPECT_EQ(cfg.headerBits, c.headerBits);
    EXPECT_EQ(cfg.presentationOffsetMs, c.offsetMs);
    EXPECT_EQ(cfg.packetSize, 27 + c.blockAlign + 2);
    // F frames at the search budget, plus a longer gain field each, plus the superframe
    // header, always fit the superframe.
    EXPECT_LE(c.frames * (cfg.searchBudget + 7) + c.headerBits, c.blockAlign * 8);
  }
  EXPECT_EQ(WmaEncConfigure(128000).superframeBits, 47555u);
}

TEST(WmaEncoder, InitReportsItsConfigurationAndFailsCleanly) {
  std::vector<BYTE> area(kWmaMaxOutputPerEncode);
  DWORD count = 0;
  WMAENC* enc = nullptr;
  {
    cehost::DebugCapture capture;
    ASSERT_EQ(WMAEncAppInit(&enc, area.data(), static_cast<DWORD>(area.size()), &count), 1);
    EXPECT_TRUE(capture.Contains("pWMAENC->extra_codec_info.gnBlockAlign : 5945\n"));
    EXPECT_TRUE(capture.Contains("pWMAENC->codec_open_info.enc_info.bitrate : 128000\n"));
    EXPECT_TRUE(capture.Contains("pWMAENC->extra_codec_info.m_iSamplingRate : 44100\n"));
  }
  EXPECT_EQ(count, 0u);  // the priming frame alone does not fill a 2048-byte piece
  EXPECT_EQ(WMAEncAppClose(enc), 1);

  for (int n = 1; n <= 3; ++n) {
    WMAEncFailAllocationForTesting(n);
    enc = reinterpret_cast<WMAENC*>(&area);
    EXPECT_EQ(WMAEncAppInit(&enc, area.data(), static_cast<DWORD>(area.size()), &count), 0) << n;
    EXPECT_EQ(enc, nullptr) << n;
  }
  EXPECT_EQ(WMAEncAppInit(&enc, nullptr, 0, &count), 0);
  EXPECT_EQ(WMAEncAppInit(&enc, area.data(), 100, &count), 0);  // area below one encode's output
  EXPECT_EQ(WMAEncAppClose(nullptr), 1);
}

TEST(WmaEncoder, EncodeRefusesAFullOutputArea) {
  std::vector<BYTE> area(kWmaMaxOutputPerEncode);
  DWORD count = 0;
  WMAENC* enc = nullptr;
  ASSERT_EQ(WMAEncAppInit(&enc, area.data(), static_cast<DWORD>(area.size()), &count), 1);
  std::vector<SHORT> pcm(4096, 0);
  count = 1;  // caller has not drained the area
  EXPECT_EQ(WMAEncAppEncode(enc, pcm.data()), 0);
  EXPECT_EQ(WMAEncAppEncode(enc, nullptr), 0);
  count = 0;
  EXPECT_EQ(WMAEncAppEncode(enc, pcm.data()), 1);
  WMAEncAppClose(enc);
}

TEST(WmaEncoder, PacketsCarryTheirTimesAndWholeSuperframes) {
  std::mt19937 rng(5);
  Stream s;
  const WmaEncConfig& cfg = s.config();
  // Loud noise fills every frame's budget: the superframes are as full as they get.
  const int packets = 18;
  for (int f = 0; f < 7 + 8 * packets; ++f) {
    s.Encode(NoiseFrame(rng, 30000));
    if (f == 6) {
      // Priming frame and 7 input frames complete the first packet; the 2048-byte pieces
      // leave its last bytes in the encoder until the next packet's bytes follow.
      EXPECT_EQ(s.bytes.size(), 2u * 2048);
    }
  }
  ASSERT_GE(s.bytes.size(), (packets - 1) * size_t{cfg.packetSize});

  wma_test::StreamFormat format;
  DWORD expectSend = 0;
  for (int p = 0; p < packets - 1; ++p) {
    SCOPED_TRACE(p);
    const BYTE* pk = s.bytes.data() + size_t{cfg.packetSize} * p;
    EXPECT_EQ(pk[0], 0x82);
    EXPECT_EQ(Le(pk + 1, 2), 0u);
    EXPECT_EQ(pk[3], 0x08);
    EXPECT_EQ(pk[4], 0x5D);
    EXPECT_EQ(pk[5], 2);
    const DWORD duration = Le(pk + 10, 2);
    EXPECT_EQ(duration, p == 0 ? 278u : (p % 2 == 1 ? 371u : 372u));
    EXPECT_EQ(Le(pk + 6, 4), expectSend);
    expectSend += duration;
    EXPECT_EQ(pk[12], 1);
    EXPECT_EQ(pk[13], (p + 1) & 0xFF);
    EXPECT_EQ(Le(pk + 14, 4), 0u);
    EXPECT_EQ(pk[18], 8);
    EXPECT_EQ(Le(pk + 19, 4), 5945u);
    const DWORD presentation = Le(pk + 23, 4);
    if (p == 0) {
      EXPECT_EQ(presentation, 1486u);
    }
    if (p == 1) {
      EXPECT_EQ(presentation, 1486u + 278);
    }
    if (p >= 1) {
      EXPECT_EQ(presentation, (12288 + 16384ull * (p - 1)) * 1000 / 44100 + 1486);
    }
    EXPECT_EQ(Le(pk + 5972, 2), 0u);

    auto sf = wma_test::ReadSuperframe(pk + 27, 5945, format, cfg.offsetBits);
    EXPECT_EQ(sf.index, p % 16);
    EXPECT_EQ(sf.frameCount, 8);
    EXPECT_EQ(sf.bitOffset, 0);
    ASSERT_EQ(sf.frames.size(), 8u);
    EXPECT_LE(sf.bits, 5945u * 8);
    // Zero bits after the last frame up to the end of the superframe.
    for (size_t bit = sf.bits; bit < 5945u * 8; ++bit)
      ASSERT_EQ((pk[27 + bit / 8] >> (7 - bit % 8)) & 1, 0) << "bit " << bit;
    for (size_t i = 0; i < sf.frames.size(); ++i) {
      EXPECT_EQ(sf.frames[i].firstCodes[0], i == 0 ? 0 : -1);
      EXPECT_EQ(sf.frames[i].nextCode, 0);
      if (p == 0 && i == 0) {
        // The priming frame: end-of-block codes alone at g = 1.
        EXPECT_EQ(sf.frames[i].gain, 1);
        for (const auto& ch : sf.frames[i].ch) {
          EXPECT_TRUE(ch.coded && ch.endOfBlock);
          EXPECT_EQ(ch.escapes, 0);
          for (int v : ch.levels) ASSERT_EQ(v, 0);
        }
      } else {
        EXPECT_TRUE(sf.frames[i].ch[0].coded);
      }
    }
  }
}

TEST(WmaEncoder, SilenceCodesNoChannelAfterThePrimingFrame) {
  Stream s;
  std::vector<SHORT> zero(4096, 0);
  for (int f = 0; f < 7 + 8 * 2; ++f) s.Encode(zero);
  ASSERT_GE(s.bytes.size(), 2u * 5974);
  for (int p = 0; p < 2; ++p) {
    auto sf = wma_test::ReadSuperframe(s.bytes.data() + 5974 * p + 27, 5945,
                                       wma_test::StreamFormat{}, 13);
    for (size_t i = (p == 0 ? 1 : 0); i < sf.frames.size(); ++i) {
      EXPECT_FALSE(sf.frames[i].ch[0].coded || sf.frames[i].ch[1].coded) << p << "/" << i;
      EXPECT_EQ(sf.frames[i].bits, i == 0 ? 12u : 6u);
    }
  }
}

TEST(WmaEncoder, OtherConfigurationsFrameTheirSuperframes) {
  struct Case {
    DWORD bitrate;
    int frames;
    DWORD blockAlign;
    DWORD firstDuration, laterDuration, offsetMs;
    int channels;
    bool rate32000;
  };
  const Case cases[] = {{48000, 6, 2304, 256, 384, 2048, 2, true},
                        {32000, 8, 1487, 278, 371, 1486, 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bitrate);
    std::mt19937 rng(9);
    Stream s(c.bitrate);
    for (int f = 0; f < c.frames * 4; ++f) s.Encode(NoiseFrame(rng, 3000));
    const DWORD size = 27 + c.blockAlign + 2;
    ASSERT_GE(s.bytes.size(), 2u * size);
    wma_test::StreamFormat format;
    format.channels = c.channels;
    format.rate32000 = c.rate32000;
    format.mainSet = &kWmaRunLevel70;
    format.sideSet = &kWmaRunLevel40;
    if (c.bitrate == 32000) {
      format.mainSet = &kWmaRunLevel340;
      format.sideSet = &kWmaRunLevel180;
    }
    for (int p = 0; p < 2; ++p) {
      const BYTE* pk = s.bytes.data() + size_t{size} * p;
      EXPECT_EQ(Le(pk + 10, 2), p == 0 ? c.firstDuration : c.laterDuration);
      EXPECT_EQ(Le(pk + 19, 4), c.blockAlign);
      if (p == 0) {
        EXPECT_EQ(Le(pk + 23, 4), c.offsetMs);
      }
      auto sf = wma_test::ReadSuperframe(pk + 27, c.blockAlign, format, s.config().offsetBits);
      EXPECT_EQ(sf.frameCount, c.frames);
      EXPECT_LE(sf.bits, c.blockAlign * 8);
      EXPECT_TRUE(sf.frames.back().ch[0].coded);
    }
  }
}

TEST(WmaEncoder, TwoEncodersInOneProcessDoNotDisturbEachOther) {
  std::mt19937 rngA(1), rngB(2);
  std::vector<std::vector<SHORT>> a, b;
  for (int f = 0; f < 24; ++f) {
    a.push_back(NoiseFrame(rngA, 20000));
    b.push_back(NoiseFrame(rngB, 500));
  }
  std::vector<BYTE> alone;
  {
    Stream s;
    for (auto& f : a) s.Encode(f);
    alone = s.bytes;
  }
  Stream s1, s2;
  for (size_t f = 0; f < a.size(); ++f) {
    s1.Encode(a[f]);
    s2.Encode(b[f]);
  }
  ASSERT_FALSE(alone.empty());
  EXPECT_EQ(s1.bytes, alone);
  EXPECT_NE(s2.bytes, alone);
}

}  // namespace
