// Fuzz target for the lossless source's core: the container reader and the frame decoder.
//
// An input that reads as a movie is streamed the way the source filter does it: every frame
// looked up, read and decoded in order, then a seek. An input that does not is taken as a
// decoder set-up and one frame, so that mutated frames reach the decoder directly:
//   +0 ALAC configuration (24 bytes), +24 channels - 1 (low 3 bits), +25 the frame.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "alac_decoder.h"
#include "demux.h"
#include "sample_table.h"

using namespace lossless_reader;

namespace {

// Output buffers above this are not worth allocating per input; the decoder is then handed a
// buffer that is too small, which it must refuse.
constexpr uint64_t kMaxOutput = 1 << 20;
constexpr uint32_t kMaxFrames = 64;

void Decode(AlacDecoder* alac, const uint8_t* frame, uint32_t size) {
  const uint64_t wanted = alac_max_frame_bytes(alac);
  std::vector<uint8_t> out(wanted <= kMaxOutput ? size_t(wanted) : 4096);
  uint32_t bytes = 0;
  decode_frame(alac, frame, size, out.data(), uint32_t(out.size()), &bytes);
  if (bytes > out.size()) __builtin_trap();  // a count the buffer cannot hold
}

void PlayMovie(FileStream* stream, const DemuxResult* demux, uint32_t seek_target) {
  AlacDecoder alac{};
  alac_configure_output(demux->sound_sample_size, demux->channel_count, &alac);
  if (!alac_load_config(&alac, demux->codec_config)) return;
  std::vector<uint8_t> frame;
  for (uint32_t i = 0; i < demux->sample_size_count && i < kMaxFrames; ++i) {
    uint32_t duration = 0, size = 0;
    if (!lookup_sample(demux, i, &duration, &size)) break;
    (void)sample_file_offset(demux, i);
    frame.assign(size, 0);
    stream_read(stream, size, frame.data());
    Decode(&alac, frame.data(), size);
  }
  uint32_t done = 0, index = 0;
  (void)alac_seek(demux, stream, seek_target, &done, &index);
  alac_free_buffers(&alac);
}

void DecodeDirectly(const uint8_t* data, size_t size) {
  if (size < 25) return;
  uint8_t config[64] = {};
  std::memcpy(config + 24, data, 24);
  AlacDecoder alac{};
  alac_configure_output(16, (data[24] & 7) + 1, &alac);
  if (!alac_load_config(&alac, config)) return;
  // An exact-size copy, so that any read past the frame is caught.
  std::vector<uint8_t> frame(data + 25, data + size);
  Decode(&alac, frame.data(), uint32_t(frame.size()));
  // A second frame on the same decoder sees what the first left in the work buffers.
  Decode(&alac, frame.data(), uint32_t(frame.size()));
  alac_free_buffers(&alac);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> copy(data, data + size);
  FILE* file = fmemopen(copy.data(), copy.size(), "rb");
  if (!file) return 0;
  FileStream stream;
  stream_init(&stream, file);
  DemuxResult demux{};
  if (qtmovie_read(&stream, &demux)) {
    uint32_t target = 0;
    if (size >= 4) std::memcpy(&target, data + size - 4, 4);
    PlayMovie(&stream, &demux, target);
  } else {
    DecodeDirectly(data, size);
  }
  demux_result_free(&demux);
  std::fclose(file);
  return 0;
}
