// resample_pcm [--channels 1|2] [--from RATE] [--to RATE] INPUT OUTPUT
//
// Converts raw 16-bit little-endian PCM (interleaved when stereo) from one rate to another
// (48000 -> 44100 Hz, stereo, by default) with the recorder's sample-rate converter, in
// blocks of 2048 samples per channel as the recorder feeds it. The output starts 4 input
// samples late (the filter's delay) and ends at the last complete group of 4 output samples.
// Errors print one line and exit with status 1.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resampler.h"

namespace {

constexpr int kBlock = 2048;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "resample_pcm: %s\n", message.c_str());
  std::exit(1);
}

int ParseInt(const char* text, const char* what) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > 1000000) {
    Fail(std::string("bad ") + what + ": " + text);
  }
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  int channels = 2, from = 48000, to = 44100;
  std::vector<const char*> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--channels" || arg == "--from" || arg == "--to") && i + 1 < argc) {
      const int value = ParseInt(argv[++i], arg.c_str() + 2);
      (arg == "--channels" ? channels : arg == "--from" ? from : to) = value;
    } else if (arg.starts_with("--")) {
      Fail("unknown option " + arg);
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != 2) {
    Fail("usage: resample_pcm [--channels 1|2] [--from RATE] [--to RATE] INPUT OUTPUT");
  }

  std::vector<uint64_t> work(65536 / 8);
  ResampleState* state = nullptr;
  const int rc = ResampleInit(&state, from, to, channels, kBlock, work.data(), 65536);
  if (rc != kResampleOk) {
    Fail("cannot convert " + std::to_string(from) + " Hz to " + std::to_string(to) + " Hz with " +
         std::to_string(channels) + " channel(s) (code " + std::to_string(rc) + ")");
  }

  FILE* in = std::fopen(paths[0], "rb");
  if (in == nullptr) Fail(std::string("cannot open ") + paths[0] + ": " + std::strerror(errno));
  FILE* out = std::fopen(paths[1], "wb");
  if (out == nullptr) Fail(std::string("cannot create ") + paths[1] + ": " + std::strerror(errno));

  const size_t frameBytes = 2 * static_cast<size_t>(channels);
  std::vector<uint8_t> raw(kBlock * frameBytes);
  std::vector<int16_t> left(kBlock), right(kBlock);
  const size_t room = static_cast<size_t>(ResampleMaxOutput(state));
  std::vector<int16_t> outLeft(room), outRight(room);
  std::vector<uint8_t> packed(room * frameBytes);
  for (;;) {
    const size_t got = std::fread(raw.data(), 1, raw.size(), in);
    if (std::ferror(in)) Fail(std::string("cannot read ") + paths[0]);
    const int frames = static_cast<int>(got / frameBytes);
    for (int i = 0; i < frames; ++i) {
      const uint8_t* p = raw.data() + i * frameBytes;
      left[i] = static_cast<int16_t>(p[0] | p[1] << 8);
      if (channels == 2) right[i] = static_cast<int16_t>(p[2] | p[3] << 8);
    }
    const int n = ResampleProcess(state, left.data(), right.data(), outLeft.data(),
                                  outRight.data(), frames);
    if (n < 0) Fail("conversion failed");
    for (int i = 0; i < n; ++i) {
      uint8_t* p = packed.data() + i * frameBytes;
      const auto l = static_cast<uint16_t>(outLeft[i]);
      p[0] = static_cast<uint8_t>(l), p[1] = static_cast<uint8_t>(l >> 8);
      if (channels == 2) {
        const auto r = static_cast<uint16_t>(outRight[i]);
        p[2] = static_cast<uint8_t>(r), p[3] = static_cast<uint8_t>(r >> 8);
      }
    }
    if (std::fwrite(packed.data(), frameBytes, n, out) != static_cast<size_t>(n)) {
      Fail(std::string("cannot write ") + paths[1]);
    }
    if (got < raw.size()) break;
  }
  std::fclose(in);
  if (std::fclose(out) != 0) Fail(std::string("cannot write ") + paths[1]);
  return 0;
}
