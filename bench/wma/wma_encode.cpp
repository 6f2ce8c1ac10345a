// wma_encode IN.wav OUT.wma: encodes a 16-bit stereo 44100 Hz WAV file with the recorder's
// WMA encoder (128 kbit/s) into an ASF file. Prints the encode speed on success; one line on
// standard error and exit status 1 on failure.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "wma_file_encoder.h"

namespace {

// RIFF/WAVE layout read here (little-endian):
//   off  size  field
//   0    4     "RIFF"
//   8    4     "WAVE"
//   12   ...   chunks: id(4), size(4), body, padded to even size
//   "fmt " body: format tag(2) = 1, channels(2) = 2, rate(4) = 44100, byte rate(4),
//                block align(2), bits per sample(2) = 16
//   "data" body: interleaved samples
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& d) : d_(d) {}
  [[nodiscard]] std::optional<uint32_t> Le(size_t at, int n) const {
    if (at > d_.size() || static_cast<size_t>(n) > d_.size() - at) return std::nullopt;
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | d_[at + i];
    return v;
  }
  [[nodiscard]] bool Tag(size_t at, const char* tag) const {
    return at <= d_.size() && d_.size() - at >= 4 && std::memcmp(&d_[at], tag, 4) == 0;
  }

 private:
  const std::vector<uint8_t>& d_;
};

bool ReadWav(const char* path, std::vector<int16_t>& pcm, std::string& error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return error = std::string("cannot open ") + path, false;
  std::vector<uint8_t> d(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(d.data()), static_cast<std::streamsize>(d.size())))
    return error = std::string("cannot read ") + path, false;
  Reader r(d);
  if (!r.Tag(0, "RIFF") || !r.Tag(8, "WAVE")) return error = "not a WAV file", false;
  bool haveFormat = false;
  for (size_t at = 12;;) {
    auto size = r.Le(at + 4, 4);
    if (!size) return error = "no data chunk", false;
    size_t body = at + 8;
    if (*size > d.size() - std::min(body, d.size())) return error = "truncated chunk", false;
    if (r.Tag(at, "fmt ")) {
      auto tag = r.Le(body, 2), channels = r.Le(body + 2, 2), rate = r.Le(body + 4, 4),
           bits = r.Le(body + 14, 2);
      if (!tag || !channels || !rate || !bits || *size < 16) return error = "short fmt chunk", false;
      if (*tag != 1 || *channels != 2 || *rate != 44100 || *bits != 16)
        return error = "need 16-bit stereo PCM at 44100 Hz", false;
      haveFormat = true;
    } else if (r.Tag(at, "data")) {
      if (!haveFormat) return error = "data chunk before fmt chunk", false;
      pcm.resize(*size / 4 * 2);
      std::memcpy(pcm.data(), d.data() + body, pcm.size() * 2);  // little-endian host
      return true;
    }
    at = body + *size + (*size & 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: wma_encode IN.wav OUT.wma\n");
    return 1;
  }
  std::vector<int16_t> pcm;
  std::string error;
  if (!ReadWav(argv[1], pcm, error)) {
    std::fprintf(stderr, "wma_encode: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  WmaFileEncoder enc;
  if (!enc.Open(argv[2]) || !enc.Write(pcm.data(), pcm.size() / 2) || !enc.Close()) {
    std::fprintf(stderr, "wma_encode: %s: %s\n", argv[2], enc.Error().c_str());
    return 1;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double audio = pcm.size() / 2 / 44100.0;
  std::printf("%s: %.1f s of audio in %.3f s (%.0f x realtime), %llu packets\n", argv[2], audio,
              seconds, seconds > 0 ? audio / seconds : 0.0,
              static_cast<unsigned long long>(enc.PacketsWritten()));
  return 0;
}
