// Decodes a whole M4A file's ALAC track to raw interleaved 16-bit PCM on standard output, the
// way flac -d decodes its file, so that the two can be timed alike.
//
//   alac_decode FILE.m4a > FILE.pcm
#include <cstdio>
#include <string>
#include <vector>

#include "alac_movie.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: alac_decode FILE.m4a > FILE.pcm\n");
    return 2;
  }
  AlacMovie movie;
  std::string error;
  if (!movie.Load(argv[1], &error)) {
    std::fprintf(stderr, "alac_decode: %s\n", error.c_str());
    return 1;
  }
  std::vector<uint8_t> out(movie.max_frame_bytes());
  for (size_t i = 0; i < movie.frame_count(); ++i) {
    const uint32_t bytes = movie.Decode(i, &out);
    if (std::fwrite(out.data(), 1, bytes, stdout) != bytes) {
      std::fprintf(stderr, "alac_decode: cannot write the output\n");
      return 1;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
