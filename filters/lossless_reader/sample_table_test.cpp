// Frame lookups and seeking over hand-made tables with several runs.
#include "sample_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace lossless_reader {
namespace {

// Twelve frames of 10 + i bytes. Chunks 1-2 hold three frames each, chunks 3-4 two, chunks
// 5-6 one: frames 0-2, 3-5, 6-7, 8-9, 10, 11. Chunk k lies at k x 100. Durations: five
// frames of 4096, six of 2048, one of 1000 (33768 sound samples).
class Tables : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint16_t i = 0; i < 12; ++i) sizes_.push_back(uint16_t(10 + i));
    d_.chunk_map = map_.data();
    d_.chunk_map_count = uint32_t(map_.size());
    d_.chunk_offsets = offsets_.data();
    d_.chunk_offset_count = uint32_t(offsets_.size());
    d_.duration_runs = runs_.data();
    d_.duration_run_count = uint32_t(runs_.size());
    d_.sample_sizes = sizes_.data();
    d_.sample_size_count = uint32_t(sizes_.size());
    d_.media_data_offset = 100;
    d_.media_data_len = 600;
  }

  std::vector<ChunkMapEntry> map_ = {{1, 3}, {3, 2}, {5, 1}};
  std::vector<uint32_t> offsets_ = {100, 200, 300, 400, 500, 600};
  std::vector<DurationRun> runs_ = {{5, 4096}, {6, 2048}, {1, 1000}};
  std::vector<uint16_t> sizes_;
  DemuxResult d_{};
};

TEST_F(Tables, LookupSampleWalksTheDurationRuns) {
  struct Case {
    uint32_t index, duration, size;
  };
  for (const Case& c : {Case{0, 4096, 10}, Case{4, 4096, 14}, Case{5, 2048, 15}, Case{10, 2048, 20}, Case{11, 1000, 21}}) {
    uint32_t duration = 0, size = 0;
    ASSERT_EQ(lookup_sample(&d_, c.index, &duration, &size), 1) << c.index;
    EXPECT_EQ(duration, c.duration) << c.index;
    EXPECT_EQ(size, c.size) << c.index;
  }
  uint32_t duration = 0, size = 0;
  EXPECT_EQ(lookup_sample(&d_, 12, &duration, &size), 0);
  runs_.pop_back();  // the runs now end before the last frame
  d_.duration_run_count = 2;
  EXPECT_EQ(lookup_sample(&d_, 11, &duration, &size), 0);
  EXPECT_EQ(lookup_sample(&d_, 10, &duration, &size), 1);
  d_.duration_run_count = 0;
  EXPECT_EQ(lookup_sample(&d_, 0, &duration, &size), 0);
}

TEST_F(Tables, SampleFileOffsetFindsTheChunkAndAddsTheFramesBefore) {
  const std::pair<uint32_t, uint32_t> expected[] = {
      {0, 100}, {2, 121}, {3, 200}, {5, 227}, {6, 300}, {7, 316}, {9, 418}, {10, 500}, {11, 600}, {12, 0}};
  for (auto [index, offset] : expected) EXPECT_EQ(sample_file_offset(&d_, index), offset) << index;

  // Past the end of the 'mdat' payload (100 + 450): the last frame cannot be found.
  d_.media_data_len = 450;
  EXPECT_EQ(sample_file_offset(&d_, 10), 500u);
  EXPECT_EQ(sample_file_offset(&d_, 11), 0u);
}

TEST_F(Tables, SampleFileOffsetRefusesTablesThatCannotLocateTheFrame) {
  d_.chunk_offset_count = 0;
  EXPECT_EQ(sample_file_offset(&d_, 0), 0u);
  d_.chunk_offset_count = 6;
  map_ = {{1, 3}, {3, 0}};  // the last run's chunks are empty: frame 7 is nowhere
  d_.chunk_map = map_.data();
  d_.chunk_map_count = 2;
  EXPECT_EQ(sample_file_offset(&d_, 7), 0u);
  map_ = {{0, 0}};  // chunk 0 does not exist
  d_.chunk_map = map_.data();
  d_.chunk_map_count = 1;
  EXPECT_EQ(sample_file_offset(&d_, 3), 0u);
  map_ = {{3, 2}};  // the first run must start at chunk 1
  EXPECT_EQ(sample_file_offset(&d_, 1), 0u);
}

class Seeking : public Tables {
 protected:
  void SetUp() override {
    Tables::SetUp();
    file_ = fmemopen(bytes_.data(), bytes_.size(), "rb");
    stream_init(&stream_, file_);
  }
  void TearDown() override { std::fclose(file_); }

  std::vector<uint8_t> bytes_ = std::vector<uint8_t>(800, 0);
  FILE* file_ = nullptr;
  FileStream stream_{};
};

TEST_F(Seeking, LandsOnTheFrameHoldingTheTarget) {
  struct Case {
    uint32_t target, frame, done, offset;
  };
  const Case cases[] = {
      {0, 0, 0, 100},
      {4095, 0, 0, 100},
      {4096, 1, 4096, 110},
      {20479, 4, 16384, 213},
      {20480, 5, 20480, 227},          // first frame of the second run
      {22528, 6, 22528, 300},          // k equals the first run's count, yet the frame is in the second
      {32767, 10, 32768 - 2048, 500},  // last frame of the second run
      {32768, 11, 32768, 600},
      {33767, 11, 32768, 600},         // the last sound sample
  };
  for (const Case& c : cases) {
    uint32_t done = 99, frame = 99;
    ASSERT_EQ(alac_seek(&d_, &stream_, c.target, &done, &frame), 1) << c.target;
    EXPECT_EQ(frame, c.frame) << c.target;
    EXPECT_EQ(done, c.done) << c.target;
    EXPECT_EQ(stream_tell(&stream_), c.offset) << c.target;
  }
}

TEST_F(Seeking, FailsWithoutMovingAtOrPastTheEnd) {
  for (uint32_t target : {33768u, 40000u, 0xFFFFFFFFu}) {
    ASSERT_EQ(stream_set_position(&stream_, 42), 0);
    uint32_t done = 7, frame = 7;
    EXPECT_EQ(alac_seek(&d_, &stream_, target, &done, &frame), 0) << target;
    EXPECT_EQ(stream_tell(&stream_), 42) << target;
    EXPECT_EQ(done, 7u);
    EXPECT_EQ(frame, 7u);
  }
  // A frame whose offset cannot be found: nothing moves either.
  d_.media_data_len = 450;
  uint32_t done = 0, frame = 0;
  EXPECT_EQ(alac_seek(&d_, &stream_, 33000, &done, &frame), 0);
  EXPECT_EQ(stream_tell(&stream_), 42);
  d_.sample_size_count = 0;
  EXPECT_EQ(alac_seek(&d_, &stream_, 0, &done, &frame), 0);
}

TEST_F(Seeking, RunsOfZeroDurationTakeNoTime) {
  runs_ = {{2, 0}, {10, 4096}};
  d_.duration_run_count = 2;
  uint32_t done = 0, frame = 0;
  ASSERT_EQ(alac_seek(&d_, &stream_, 4096, &done, &frame), 1);
  EXPECT_EQ(frame, 3u);
  EXPECT_EQ(done, 4096u);
}

}  // namespace
}  // namespace lossless_reader
