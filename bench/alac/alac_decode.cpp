// Decodes a whole M4A file's ALAC track to raw interleaved 16-bit PCM on standard output, the
// way flac -d decodes its file, so that the two can be timed alike: the frames are read,
// decoded and written one at a time through one frame buffer and one output buffer, as the
// source filter streams them.
//
//   alac_decode FILE.m4a > FILE.pcm
#include <cstdio>
#include <vector>

#include "alac_decoder.h"
#include "demux.h"
#include "file_stream.h"
#include "sample_table.h"

using namespace lossless_reader;

namespace {

int Fail(const char* why, const char* path) {
  std::fprintf(stderr, "alac_decode: %s: %s\n", why, path);
  return 1;
}

// Streams every frame of the open movie to standard output; 0 on success.
int DecodeFrames(const char* path, FileStream* stream, DemuxResult* demux, AlacDecoder* alac) {
  alac_configure_output(demux->sound_sample_size, demux->channel_count, alac);
  if (!alac_load_config(alac, demux->codec_config)) return Fail("unusable ALAC configuration", path);
  std::vector<uint8_t> frame;
  std::vector<uint8_t> out(alac_max_frame_bytes(alac));
  for (uint32_t i = 0; i < demux->sample_size_count; ++i) {
    uint32_t duration = 0, size = 0;
    if (!lookup_sample(demux, i, &duration, &size)) return Fail("a frame is missing from the tables", path);
    if (frame.size() < size) frame.resize(size);
    stream_read(stream, size, frame.data());
    if (stream_eof(stream)) return Fail("the frames run past the end of the file", path);
    uint32_t bytes = 0;
    decode_frame(alac, frame.data(), size, out.data(), uint32_t(out.size()), &bytes);
    if (std::fwrite(out.data(), 1, bytes, stdout) != bytes) return Fail("cannot write the output", path);
  }
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the output", path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: alac_decode FILE.m4a > FILE.pcm\n");
    return 2;
  }
  FILE* file = std::fopen(argv[1], "rb");
  if (!file) return Fail("cannot open", argv[1]);
  FileStream stream;
  stream_init(&stream, file);
  DemuxResult demux{};
  AlacDecoder alac{};
  const int result = qtmovie_read(&stream, &demux) == 1 ? DecodeFrames(argv[1], &stream, &demux, &alac)
                                                         : Fail("not a readable ALAC movie", argv[1]);
  alac_free_buffers(&alac);
  demux_result_free(&demux);
  std::fclose(file);
  return result;
}
