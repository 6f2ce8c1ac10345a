#include "sample_table.h"

namespace lossless_reader {

namespace {

uint32_t FrameSize(const DemuxResult* res, uint64_t index) {
  return res->sample_sizes ? res->sample_sizes[index] : res->uniform_sample_size;
}

}  // namespace

int lookup_sample(const DemuxResult* res, uint32_t index, uint32_t* duration, uint32_t* size) {
  if (index >= res->sample_size_count || res->duration_run_count == 0) return 0;
  uint64_t frames = 0;
  for (uint32_t r = 0; r < res->duration_run_count; ++r) {
    frames += res->duration_runs[r].sample_count;
    if (frames > index) {
      *duration = res->duration_runs[r].sample_duration;
      *size = FrameSize(res, index);
      return 1;
    }
  }
  return 0;
}

uint32_t sample_file_offset(const DemuxResult* res, uint32_t index) {
  if (index >= res->sample_size_count || res->chunk_map_count == 0 || res->chunk_offset_count == 0) return 0;
  const ChunkMapEntry* map = res->chunk_map;

  // Find the run of chunks holding the frame: B frames lie before the run starting at chunk F.
  uint64_t first_chunk = map[0].first_chunk;
  uint64_t per_chunk = map[0].samples_per_chunk;
  uint64_t before = 0;
  for (uint32_t r = 1; r < res->chunk_map_count; ++r) {
    // Runs must start at increasing chunks; anything else ends the search at the run before.
    if (map[r].first_chunk < first_chunk) break;
    const uint64_t frames_before = before + (map[r].first_chunk - first_chunk) * per_chunk;
    if (index < frames_before) break;
    before = frames_before;
    first_chunk = map[r].first_chunk;
    per_chunk = map[r].samples_per_chunk;
  }

  uint64_t chunk;
  if (index < map[0].samples_per_chunk) {
    chunk = 1;
  } else {
    if (per_chunk == 0) return 0;
    chunk = first_chunk + (index - before) / per_chunk;
  }
  if (chunk == 0 || chunk < first_chunk) return 0;
  const uint64_t chunk_first_frame = before + (chunk - first_chunk) * per_chunk;
  if (chunk_first_frame > index) return 0;

  // Chunks past the end of the offset table are taken to continue the last one.
  const uint64_t slot = chunk > res->chunk_offset_count ? res->chunk_offset_count : chunk;
  uint64_t offset = res->chunk_offsets[slot - 1];
  if (res->sample_sizes) {
    for (uint64_t i = chunk_first_frame; i < index; ++i) offset += res->sample_sizes[i];
  } else {
    offset += (index - chunk_first_frame) * res->uniform_sample_size;
  }
  if (offset > uint64_t{res->media_data_offset} + res->media_data_len || offset > UINT32_MAX) return 0;
  return uint32_t(offset);
}

int alac_seek(const DemuxResult* res, FileStream* stream, uint32_t target, uint32_t* samples_done,
              uint32_t* frame_index) {
  if (res->duration_run_count == 0 || res->sample_size_count == 0) return 0;
  uint64_t index = 0;
  uint64_t done = 0;
  for (uint32_t r = 0; r < res->duration_run_count && done < target; ++r) {
    const DurationRun& run = res->duration_runs[r];
    if (run.sample_duration != 0) {
      const uint64_t k = (target - done) / run.sample_duration;
      // k equal to the run's count puts the target at or past the run's end: it lies in a
      // later run, whose frames may be shorter.
      if (k < run.sample_count) {
        index += k;
        done += k * run.sample_duration;
        break;
      }
    }
    // The whole run lies before the target (frames of duration 0 take no time at all).
    index += run.sample_count;
    done += uint64_t{run.sample_count} * run.sample_duration;
  }
  if (index >= res->sample_size_count) return 0;
  const uint32_t offset = sample_file_offset(res, uint32_t(index));
  if (offset == 0) return 0;
  if (stream_set_position(stream, offset) != 0) return 0;
  *samples_done = uint32_t(done);
  *frame_index = uint32_t(index);
  return 1;
}

}  // namespace lossless_reader
