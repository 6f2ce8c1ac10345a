// AlacMovie: an M4A file's headers, decoder and compressed frames loaded into memory, for the
// ALAC benchmark programs. Single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "alac_decoder.h"
#include "demux.h"

class AlacMovie {
 public:
  AlacMovie() = default;
  ~AlacMovie();
  AlacMovie(const AlacMovie&) = delete;
  AlacMovie& operator=(const AlacMovie&) = delete;

  // Reads the file's headers and every frame; false (with `error` set) when it cannot.
  bool Load(const std::string& path, std::string* error);

  // Decodes frame i into `out` (alac_max_frame_bytes bytes); returns the PCM byte count.
  uint32_t Decode(size_t i, std::vector<uint8_t>* out);

  size_t frame_count() const { return frames_.size(); }
  double seconds() const { return seconds_; }
  uint64_t max_frame_bytes() const { return lossless_reader::alac_max_frame_bytes(&alac_); }

 private:
  lossless_reader::DemuxResult demux_{};
  lossless_reader::AlacDecoder alac_{};
  std::vector<std::vector<uint8_t>> frames_;
  double seconds_ = 0;
};
