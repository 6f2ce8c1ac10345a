#include "alac_movie.h"

#include <cstdio>

#include "file_stream.h"
#include "sample_table.h"

using namespace lossless_reader;

AlacMovie::~AlacMovie() {
  demux_result_free(&demux_);
  alac_free_buffers(&alac_);
}

bool AlacMovie::Load(const std::string& path, std::string* error) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = "cannot open " + path;
    return false;
  }
  FileStream stream;
  stream_init(&stream, file);
  bool ok = qtmovie_read(&stream, &demux_) == 1;
  if (!ok) *error = "not a readable ALAC movie: " + path;
  if (ok) {
    alac_configure_output(demux_.sound_sample_size, demux_.channel_count, &alac_);
    ok = alac_load_config(&alac_, demux_.codec_config) == 1;
    if (!ok) *error = "unusable ALAC configuration in " + path;
  }
  uint64_t sound_samples = 0;
  for (uint32_t i = 0; ok && i < demux_.sample_size_count; ++i) {
    uint32_t duration = 0, size = 0;
    if (!lookup_sample(&demux_, i, &duration, &size)) {
      *error = "frame " + std::to_string(i) + " is missing from the tables";
      ok = false;
      break;
    }
    std::vector<uint8_t> frame(size);
    stream_read(&stream, size, frame.data());
    frames_.push_back(std::move(frame));
    sound_samples += duration;
  }
  if (ok && stream_eof(&stream)) {
    *error = "the frames run past the end of " + path;
    ok = false;
  }
  std::fclose(file);
  seconds_ = demux_.sound_sample_rate ? double(sound_samples) / demux_.sound_sample_rate : 0;
  return ok;
}

uint32_t AlacMovie::Decode(size_t i, std::vector<uint8_t>* out) {
  uint32_t bytes = 0;
  decode_frame(&alac_, frames_[i].data(), uint32_t(frames_[i].size()), out->data(), uint32_t(out->size()), &bytes);
  return bytes;
}
