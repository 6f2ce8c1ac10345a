// The frame decoder on hand-made frames: each exercises one rule of the bit-stream, with the
// expected samples worked out by hand.
#include "alac_decoder.h"
#include "alac_predictor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "cehost/debug_capture.h"
#include "test_atom_writer.h"
#include "test_bit_writer.h"

namespace lossless_reader {
namespace {

using test::AlacConfig;
using test::BitWriter;

constexpr uint16_t kUntouched = 0x7777;

// A decoder for `channels` 16-bit output channels. By default the Rice history multiplier is
// 0 and the initial history 200, so the history never changes and never calls for a zero run:
// frames can then be written with escape codes alone.
struct Decoder {
  explicit Decoder(int channels, AlacConfig config = {.history_mult = 0, .initial_history = 200}) {
    uint8_t codec_config[64] = {};
    const auto bytes = test::AlacConfigBytes(config);
    std::copy(bytes.begin(), bytes.end(), codec_config + 24);
    alac_configure_output(16, channels, &alac);
    ok = alac_load_config(&alac, codec_config);
  }
  ~Decoder() { alac_free_buffers(&alac); }

  struct Result {
    uint32_t bytes;
    std::vector<int16_t> samples;  // the whole output buffer
    std::string debug;
  };

  Result Decode(const std::vector<uint8_t>& frame, uint32_t capacity = 0) {
    if (!capacity) capacity = uint32_t(alac_max_frame_bytes(&alac));
    std::vector<int16_t> out(capacity / 2, int16_t(kUntouched));
    cehost::DebugCapture capture;
    uint32_t bytes = 0xDEAD;
    decode_frame(&alac, frame.data(), uint32_t(frame.size()), reinterpret_cast<uint8_t*>(out.data()), capacity,
                 &bytes);
    return {bytes, out, capture.Text()};
  }

  AlacDecoder alac{};
  int ok = 0;
};

// Element tag, the header fields and, with has-size, the sample count.
void Header(BitWriter& w, uint32_t tag, bool has_size, uint32_t n, uint32_t wasted, bool uncompressed) {
  w.Put(tag, 3);
  w.Put(0, 4);
  w.Put(0, 12);
  w.Put(has_size, 1);
  w.Put(wasted, 2);
  w.Put(uncompressed, 1);
  if (has_size) w.Put(n, 32);
}

void ChannelHeader(BitWriter& w, uint32_t mode, uint32_t shift, uint32_t modifier, const std::vector<int16_t>& coefs) {
  w.Put(mode, 4);
  w.Put(shift, 4);
  w.Put(modifier, 3);
  w.Put(uint32_t(coefs.size()), 5);
  for (int16_t c : coefs) w.Put(uint16_t(c), 16);
}

// A residual as an escape: nine 1 bits, then the folded value raw at the decode width.
void Escape(BitWriter& w, int32_t value, int width) {
  w.Put(0x1FF, 9);
  w.Put(value >= 0 ? uint32_t(value) * 2 : uint32_t(-int64_t(value)) * 2 - 1, width);
}

void End(BitWriter& w) { w.Put(7, 3); }

// A compressed single-channel frame of the given residuals (16-bit, width 16).
std::vector<uint8_t> MonoFrame(const std::vector<int32_t>& residuals, const std::vector<int16_t>& coefs,
                               uint32_t mode = 0, uint32_t wasted = 0) {
  BitWriter w;
  Header(w, 0, true, uint32_t(residuals.size()), wasted, false);
  w.Put(0, 16);
  ChannelHeader(w, mode, 0, 4, coefs);
  for (int32_t r : residuals) Escape(w, r, 16 - 8 * int(wasted));
  End(w);
  return w.Bytes();
}

// A compressed channel-pair frame without prediction: the coded channels are the residuals.
std::vector<uint8_t> PairFrame(const std::vector<int32_t>& a, const std::vector<int32_t>& b, uint32_t shift,
                               uint32_t weight) {
  BitWriter w;
  Header(w, 1, true, uint32_t(a.size()), 0, false);
  w.Put(shift, 8);
  w.Put(weight, 8);
  ChannelHeader(w, 0, 0, 4, {});
  ChannelHeader(w, 0, 0, 4, {});
  for (int32_t v : a) Escape(w, v, 17);
  for (int32_t v : b) Escape(w, v, 17);
  End(w);
  return w.Bytes();
}

std::vector<int16_t> Head(const std::vector<int16_t>& v, size_t n) { return {v.begin(), v.begin() + n}; }

TEST(DecodeFrame, EndTagFirstWritesNothingAndReportsAWholeFrame) {
  Decoder d(2);
  BitWriter w;
  End(w);
  const auto r = d.Decode(w.Bytes());
  EXPECT_EQ(r.bytes, 4096u * 4);
  EXPECT_THAT(r.samples, ::testing::Each(int16_t(kUntouched)));
}

TEST(DecodeFrame, HasSizeCountOfHundred) {
  // Uncompressed channel pair: 100 pairs of raw 16-bit values.
  Decoder d(2);
  BitWriter w;
  Header(w, 1, true, 100, 0, true);
  std::vector<int16_t> expected;
  for (int i = 0; i < 100; ++i) {
    const int16_t left = int16_t(i * 331 - 16000), right = int16_t(-i * 17);
    w.Put(uint16_t(left), 16);
    w.Put(uint16_t(right), 16);
    expected.push_back(left);
    expected.push_back(right);
  }
  End(w);
  const auto r = d.Decode(w.Bytes());
  EXPECT_EQ(r.bytes, 400u);
  EXPECT_EQ(Head(r.samples, 200), expected);
  EXPECT_EQ(r.samples[200], int16_t(kUntouched));
}

TEST(DecodeFrame, StereoUnmixing) {
  struct Case {
    uint32_t shift, weight;
    std::vector<int16_t> interleaved;
  };
  // a = {100, -100, 5}, b = {-7, 9, -1}. Weight 0: the channels as coded. Weight 3, shift 2:
  // right = a - floor(3b / 4), left = right + b.
  const Case cases[] = {
      {0, 0, {100, -7, -100, 9, 5, -1}},
      {2, 0, {100, -7, -100, 9, 5, -1}},
      {2, 3, {99, 106, -97, -106, 5, 6}},
  };
  for (const Case& c : cases) {
    Decoder d(2);
    const auto r = d.Decode(PairFrame({100, -100, 5}, {-7, 9, -1}, c.shift, c.weight));
    EXPECT_EQ(r.bytes, 12u);
    EXPECT_EQ(Head(r.samples, 6), c.interleaved) << "weight " << c.weight;
  }
}

TEST(DecodeFrame, EscapeIsReadRawAtSeventeenBitsInAPair) {
  // Full-scale opposite channels: the difference channel needs 17 bits (+-65535).
  Decoder d(2);
  const auto r = d.Decode(PairFrame({-1, -1}, {65535, -65535}, 1, 1));
  EXPECT_EQ(r.bytes, 8u);
  EXPECT_EQ(Head(r.samples, 4), (std::vector<int16_t>{32767, -32768, -32768, 32767}));
}

TEST(DecodeFrame, FirstOrderCases) {
  // Each sample is the previous one plus the residual, wrapped to 16 bits: coefficient count
  // 31 codes exactly that (not a 31-tap filter), and a filter longer than the frame never
  // gets past its warm-up.
  const std::vector<int32_t> residuals = {32760, 10, -5, 3};
  const std::vector<int16_t> expected = {32760, -32766, 32765, -32768};
  for (size_t count : {31u, 8u}) {
    Decoder d(1);
    const auto r = d.Decode(MonoFrame(residuals, std::vector<int16_t>(count, 1000)));
    EXPECT_EQ(r.bytes, 8u);
    EXPECT_EQ(Head(r.samples, 4), expected) << count << " coefficients";
    EXPECT_EQ(r.debug, "");
  }
}

TEST(DecodeFrame, AdaptiveFilterFollowsItsWindow) {
  // Two taps {2, -1} at shift 0 predict 2 y[i-1] - y[i-2] from the oldest sample of the window:
  // y[i] = y[b] + (2 (y[i-1] - y[b]) - (y[i-2] - y[b])) + e[i], b = i - 3. A line is predicted
  // exactly, so residuals of 0 continue it and leave the taps alone.
  Decoder d(1);
  const auto r = d.Decode(MonoFrame({10, 10, 10, 0, 0, 0}, {2, -1}));
  EXPECT_EQ(Head(r.samples, 6), (std::vector<int16_t>{10, 20, 30, 40, 50, 60}));
}

// The adaptive predictor written out step by step, one coefficient after the other, as a
// model for the decoder's (which decides every coefficient at once) on 16-bit samples. Counts
// the coefficient steps that wrapped at 16 bits in *wraps.
std::vector<int16_t> PredictStepByStep(const std::vector<int32_t>& e, std::vector<int32_t> c, int shift,
                                       int* wraps = nullptr) {
  auto wrap = [](int64_t v) { return int32_t(uint32_t(uint64_t(v))); };
  auto to16 = [&](int64_t v) { return int32_t(int16_t(uint16_t(uint64_t(v)))); };
  const size_t n = e.size(), count = c.size();
  std::vector<int32_t> y(n);
  y[0] = e[0];
  for (size_t i = 1; i < n && i <= count; ++i) y[i] = to16(int64_t(y[i - 1]) + e[i]);
  for (size_t i = count + 1; i < n; ++i) {
    const size_t b = i - count - 1;
    int32_t sum = 0;
    for (size_t j = 0; j < count; ++j) sum = wrap(int64_t(sum) + int64_t(y[b + count - j] - y[b]) * c[j]);
    const int32_t round = shift ? 1 << (shift - 1) : 0;
    y[i] = to16(int64_t(y[b]) + (wrap(int64_t(sum) + round) >> shift) + e[i]);
    int32_t err = e[i];
    for (int j = int(count) - 1; j >= 0 && err != 0; --j) {
      const int32_t v = y[b] - y[b + count - j];
      const int g = err > 0 ? (v > 0) - (v < 0) : (v < 0) - (v > 0);
      const bool positive = err > 0;
      if (wraps && c[j] - g != int16_t(c[j] - g)) ++*wraps;
      c[j] = int16_t(c[j] - g);
      err -= ((v * g) >> shift) * (int32_t(count) - j);
      if (positive ? err <= 0 : err >= 0) break;
    }
  }
  return std::vector<int16_t>(y.begin(), y.end());
}

// A mono frame of escape-coded residuals for the predictor with these coefficients.
std::vector<uint8_t> PredictorFrame(const std::vector<int32_t>& residuals, const std::vector<int32_t>& coefs,
                                    int shift) {
  BitWriter w;
  Header(w, 0, true, uint32_t(residuals.size()), 0, false);
  w.Put(0, 16);
  w.Put(0, 4);
  w.Put(uint32_t(shift), 4);
  w.Put(4, 3);
  w.Put(uint32_t(coefs.size()), 5);
  for (int32_t c : coefs) w.Put(uint16_t(c), 16);
  for (int32_t r : residuals) Escape(w, r, 16);
  End(w);
  return w.Bytes();
}

// The decoder's predictor on both its paths: the one this processor takes (vector, where it
// can) and the portable one.
class Predictor : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UsePortablePredictorForTesting(GetParam()); }
  void TearDown() override { UsePortablePredictorForTesting(false); }
};

TEST_P(Predictor, MatchesTheStepByStepModel) {
  std::mt19937 random(2024);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int round = 0; round < 300; ++round) {
    const size_t n = size_t(uniform(1, 400));
    const int count = uniform(1, 30);
    const int shift = uniform(0, 15);
    std::vector<int32_t> residuals(n);
    std::vector<int32_t> coefs(static_cast<size_t>(count));
    for (auto& r : residuals) r = uniform(-3000, 3000);
    for (auto& c : coefs) c = uniform(-3000, 3000);
    Decoder d(1);
    const auto r = d.Decode(PredictorFrame(residuals, coefs, shift));
    ASSERT_EQ(r.bytes, n * 2);
    ASSERT_EQ(Head(r.samples, n), PredictStepByStep(residuals, coefs, shift))
        << "frame " << round << ": " << count << " coefficients, shift " << shift;
  }
}

TEST(DecodeFrame, PredictorCoefficientsWrapAtSixteenBits) {
  // Coefficients at the ends of the 16-bit range, nudged over them by the adaptation.
  std::mt19937 random(7);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  int wraps = 0;
  for (int round = 0; round < 40; ++round) {
    const int count = uniform(2, 8);
    const int shift = uniform(0, 15);
    std::vector<int32_t> residuals(300);
    std::vector<int32_t> coefs(static_cast<size_t>(count));
    for (auto& r : residuals) r = uniform(-3000, 3000);
    for (auto& c : coefs) c = uniform(0, 1) ? uniform(32760, 32767) : uniform(-32768, -32761);
    Decoder d(1);
    const auto r = d.Decode(PredictorFrame(residuals, coefs, shift));
    ASSERT_EQ(Head(r.samples, residuals.size()), PredictStepByStep(residuals, coefs, shift, &wraps))
        << "frame " << round << ": " << count << " coefficients, shift " << shift;
  }
  EXPECT_GT(wraps, 0);  // the frames did take coefficients across the ends
}

INSTANTIATE_TEST_SUITE_P(Paths, Predictor, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Portable" : "Default"; });

TEST(DecodeFrame, ZeroRunsNeverFollowTheLastSample) {
  // History 0 and multiplier 0: k stays 1 (a unary code) and every sample but the last is
  // followed by a zero-run code, read with k = 8.
  Decoder d(1, {.history_mult = 0, .initial_history = 0});
  BitWriter w;
  Header(w, 0, true, 5, 0, false);
  w.Put(0, 16);
  ChannelHeader(w, 0, 0, 4, {});
  w.Put(0b1110, 4);      // x = 3: -2
  w.Put(0, 1);           // run code: no ones,
  w.Put(4, 8);           // then 4: a run of 3 zeros
  w.Put(0, 1);           // x = 0, plus 1 after a run: -1; no run code after the last sample
  const size_t end_of_residuals = w.bit_count();
  End(w);
  const auto frame = w.Bytes();
  const auto r = d.Decode(frame);
  EXPECT_EQ(r.bytes, 10u);
  EXPECT_EQ(Head(r.samples, 5), (std::vector<int16_t>{-2, 0, 0, 0, -1}));
  // Reading stopped right after the last sample's code.
  EXPECT_EQ(size_t(d.alac.input - frame.data()) * 8 + size_t(d.alac.bit_position), end_of_residuals);
}

TEST(DecodeFrame, ZeroRunsUpToTheEndOfTheFrame) {
  // As above: -2, then a run code. A run of 0 only gives the next value its +1 (and gives
  // back the last bit of its code, which here is that value's 0); a run may fill the frame
  // exactly, never more.
  struct Case {
    std::vector<std::pair<uint32_t, int>> codes;  // after the -2: (bits, width) in turn
    std::vector<int16_t> samples;                  // empty: refused as corrupt
  };
  const Case cases[] = {
      {{{0, 1}, {0, 8}, {0, 1}, {4, 8}}, {-2, -1, 0, 0, 0}},  // run 0; x = 0 + 1; run 3 to the end
      {{{0, 1}, {5, 8}}, {-2, 0, 0, 0, 0}},                   // run 4 to the end
      {{{0, 1}, {6, 8}}, {}},                                 // run 5: one past the end
  };
  for (const Case& c : cases) {
    Decoder d(1, {.history_mult = 0, .initial_history = 0});
    BitWriter w;
    Header(w, 0, true, 5, 0, false);
    w.Put(0, 16);
    ChannelHeader(w, 0, 0, 4, {});
    w.Put(0b1110, 4);
    for (const auto& [bits, width] : c.codes) w.Put(bits, width);
    End(w);
    const auto r = d.Decode(w.Bytes());
    if (c.samples.empty()) {
      EXPECT_EQ(r.bytes, 0u);
      EXPECT_EQ(r.debug,
                "LOSSLESSREADER:decode_frame : corrupt frame (zero run past the end of the frame), nothing decoded\r\n");
    } else {
      EXPECT_EQ(r.bytes, 10u);
      EXPECT_EQ(Head(r.samples, 5), c.samples);
      EXPECT_EQ(r.debug, "");
    }
  }
}

TEST(DecodeFrame, UnhandledPredictionLeavesThePreviousSamples) {
  Decoder d(1);
  ASSERT_EQ(d.Decode(MonoFrame({1, 2, 3}, {})).bytes, 6u);
  const auto r = d.Decode(MonoFrame({-9, -9, -9}, {}, 15));
  EXPECT_EQ(r.debug, "LOSSLESSREADER:decode_frame : FIXME: unhandled predicition type: 15\r\n");
  EXPECT_EQ(r.bytes, 6u);
  EXPECT_EQ(Head(r.samples, 3), (std::vector<int16_t>{1, 2, 3}));
}

TEST(DecodeFrame, WastedBytesAreReportedAndDecodedAtTheReducedWidth) {
  Decoder d(1);
  const auto r = d.Decode(MonoFrame({100, 100, -128}, std::vector<int16_t>(31, 0), 0, 1));
  EXPECT_EQ(r.debug, "LOSSLESSREADER:decode_frame : FIXME: unimplemented, unhandling of wasted_bytes\r\n");
  // First order, wrapped to 8 bits: 100, 200 -> -56, -184 -> 72.
  EXPECT_EQ(Head(r.samples, 3), (std::vector<int16_t>{100, -56, 72}));
}

TEST(DecodeFrame, CorruptFramesDecodeNothing) {
  struct Case {
    const char* name;
    std::vector<uint8_t> frame;
    uint32_t capacity;  // 0: what alac_max_frame_bytes asks for
    uint8_t initial_history;
  };
  BitWriter too_many;
  Header(too_many, 0, true, 4097, 0, true);
  End(too_many);
  BitWriter long_run;  // a run of 10 zeros in a frame of 5 samples
  Header(long_run, 0, true, 5, 0, false);
  long_run.Put(0, 16);
  ChannelHeader(long_run, 0, 0, 4, {});
  long_run.Put(0b1110, 4);
  long_run.Put(0, 1);
  long_run.Put(11, 8);
  End(long_run);
  BitWriter narrow;  // two wasted bytes leave no bits of a 16-bit sample
  Header(narrow, 0, false, 0, 2, false);
  End(narrow);
  auto cut = MonoFrame({1, 2, 3, 4, 5, 6, 7, 8}, {});
  cut.resize(cut.size() - 5);
  const Case cases[] = {
      {"sample count above the frame length", too_many.Bytes(), 0, 200},
      {"zero run past the end of the frame", long_run.Bytes(), 0, 0},
      {"sample width", narrow.Bytes(), 0, 200},
      {"contents run past the end of the frame", cut, 0, 200},
      {"output buffer too small", MonoFrame({1}, {}), 8190, 200},
  };
  for (const Case& c : cases) {
    Decoder d(1, {.history_mult = 0, .initial_history = c.initial_history});
    const auto r = d.Decode(c.frame, c.capacity);
    EXPECT_EQ(r.bytes, 0u) << c.name;
    EXPECT_THAT(r.samples, ::testing::Each(int16_t(kUntouched))) << c.name;
    EXPECT_EQ(r.debug, "LOSSLESSREADER:decode_frame : corrupt frame (" + std::string(c.name) + "), nothing decoded\r\n");
  }
}

TEST(AlacLoadConfig, RefusesFrameLengthsItCannotHold) {
  for (uint32_t length : {0u, kAlacMaxFrameLength + 1, 0xFFFFFFFFu}) {
    cehost::DebugCapture capture;
    Decoder d(2, {.frame_length = length});
    EXPECT_EQ(d.ok, 0);
    EXPECT_EQ(d.alac.residual_a, nullptr);
    EXPECT_TRUE(capture.Contains("alac_load_config : unsupported frame length " + std::to_string(length)));
  }
  Decoder d(2, {.frame_length = kAlacMaxFrameLength, .bit_depth = 16, .history_mult = 40});
  EXPECT_EQ(d.ok, 1);
  EXPECT_EQ(d.alac.frame_length, kAlacMaxFrameLength);
  EXPECT_EQ(d.alac.bit_depth, 16);
  EXPECT_EQ(d.alac.history_mult, 40);
  EXPECT_EQ(d.alac.k_modifier, 14);
  EXPECT_EQ(d.alac.config_sample_rate, 44100u);
}

TEST(AlacMaxFrameBytes, CoversWhatAFrameReportsAndWrites) {
  struct Case {
    int sample_size, channels;
    uint64_t expected;
  };
  for (const Case& c : {Case{16, 1, 8192}, Case{16, 2, 16384}, Case{16, 6, 49152}, Case{24, 2, 24576}, Case{8, 2, 16384}}) {
    AlacDecoder alac{};
    alac.frame_length = 4096;
    alac_configure_output(c.sample_size, c.channels, &alac);
    EXPECT_EQ(alac_max_frame_bytes(&alac), c.expected) << c.sample_size << " bits, " << c.channels << " channels";
  }
}

}  // namespace
}  // namespace lossless_reader
