#include "asf_writer.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>
#include <vector>

namespace cehost {
namespace {

constexpr char kHeaderObject[] = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
constexpr char kFileProperties[] = "8CABDCA1-A947-11CF-8EE4-00C00C205365";
constexpr char kStreamProperties[] = "B7DC0791-A9B7-11CF-8EE6-00C00C205365";
constexpr char kHeaderExtension[] = "5FBF03B5-A92E-11CF-8EE3-00C00C205365";
constexpr char kReserved1[] = "ABD3D211-A9BA-11CF-8EE6-00C00C205365";
constexpr char kDataObject[] = "75B22636-668E-11CF-A6D9-00AA0062CE6C";
constexpr char kAudioMedia[] = "F8699E40-5B4D-11CF-A8FD-00805F5C442B";
constexpr char kNoErrorCorrection[] = "20FB5700-5B55-11CF-A8FD-00805F5C442B";

constexpr uint32_t kHeaderSize = 286;
constexpr uint32_t kFilePropertiesAt = 30;
constexpr uint32_t kDataObjectAt = kHeaderSize;
constexpr uint32_t kDataObjectHeader = 50;
constexpr uint32_t kPacketHeaderSize = 27;
// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 116444736000000000ull;

class Bytes {
 public:
  void U8(uint32_t v) { data_.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) { Le(v, 2); }
  void U32(uint32_t v) { Le(v, 4); }
  void U64(uint64_t v) { Le(v, 8); }
  void Raw(const uint8_t* p, size_t n) { data_.insert(data_.end(), p, p + n); }
  // A GUID in its text form, stored with the first three groups little-endian.
  void Guid(const char* text) {
    uint8_t b[16];
    int n = 0;
    for (const char* p = text; *p != '\0' && n < 32; ++p) {
      if (*p == '-') continue;
      int v = (*p >= '0' && *p <= '9') ? *p - '0' : (*p & 0xDF) - 'A' + 10;
      if (n % 2 == 0) {
        b[n / 2] = static_cast<uint8_t>(v << 4);
      } else {
        b[n / 2] |= static_cast<uint8_t>(v);
      }
      ++n;
    }
    const uint8_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (uint8_t i : order) U8(b[i]);
  }
  const std::vector<uint8_t>& data() const { return data_; }

 private:
  void Le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> data_;
};

// Bounds-checked little-endian reads of a packet header.
class PacketReader {
 public:
  PacketReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  [[nodiscard]] std::optional<uint32_t> Le(size_t at, int bytes) const {
    if (at > n_ || static_cast<size_t>(bytes) > n_ - at) return std::nullopt;
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p_[at + i];
    return v;
  }

 private:
  const uint8_t* p_;
  size_t n_;
};

}  // namespace

AsfWriter::~AsfWriter() {
  if (file_ != nullptr) (void)Close();
}

bool AsfWriter::Fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool AsfWriter::Open(const std::filesystem::path& path, const AsfAudioFormat& format,
                     uint32_t packetSize, uint32_t prerollMs) {
  if (file_ != nullptr) return Fail("writer already open");
  if (packetSize <= kPacketHeaderSize) return Fail("packet size too small");
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return Fail("cannot create " + path.string());
  packetSize_ = packetSize;
  prerollMs_ = prerollMs;
  packets_ = 0;
  sendEndMs_ = 0;
  playEndMs_ = 0;

  uint8_t fileId[16];
  std::random_device random;
  for (uint8_t& b : fileId) b = static_cast<uint8_t>(random());
  const uint64_t now = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count()) * 10 + kEpochDifference;

  Bytes h;
  h.Guid(kHeaderObject);
  h.U64(kHeaderSize);
  h.U32(3);
  h.U8(0x01);
  h.U8(0x02);

  h.Guid(kFileProperties);
  h.U64(104);
  h.Raw(fileId, 16);
  h.U64(0);  // file size, fixed up on close
  h.U64(now);
  h.U64(0);  // packet count
  h.U64(0);  // play duration
  h.U64(0);  // send duration
  h.U64(prerollMs);
  h.U32(0x2);  // seekable
  h.U32(packetSize);
  h.U32(packetSize);
  h.U32(format.avgBytesPerSec * 8);

  h.Guid(kStreamProperties);
  h.U64(106);
  h.Guid(kAudioMedia);
  h.Guid(kNoErrorCorrection);
  h.U64(0);
  h.U32(28);
  h.U32(0);
  h.U16(1);  // stream number 1, not encrypted
  h.U32(0);
  h.U16(format.formatTag);
  h.U16(format.channels);
  h.U32(format.samplesPerSec);
  h.U32(format.avgBytesPerSec);
  h.U16(format.blockAlign);
  h.U16(format.bitsPerSample);
  h.U16(10);
  h.U32(format.samplesPerBlock);
  h.U16(format.encodeOptions);
  h.U32(format.superBlockAlign);

  h.Guid(kHeaderExtension);
  h.U64(46);
  h.Guid(kReserved1);
  h.U16(6);
  h.U32(0);

  h.Guid(kDataObject);
  h.U64(kDataObjectHeader);
  h.Raw(fileId, 16);
  h.U64(0);
  h.U16(0x0101);

  if (h.data().size() != kHeaderSize + kDataObjectHeader) return Fail("header layout");
  if (std::fwrite(h.data().data(), 1, h.data().size(), file_) != h.data().size())
    return Fail("write failed");
  return true;
}

bool AsfWriter::WritePacket(const uint8_t* packet, size_t size) {
  if (file_ == nullptr) return Fail("writer not open");
  if (packet == nullptr || size != packetSize_) return Fail("packet size differs from the header's");
  PacketReader r(packet, size);
  auto flags = r.Le(0, 1), lengthFlags = r.Le(3, 1), properties = r.Le(4, 1);
  auto send = r.Le(6, 4), duration = r.Le(10, 2), presentation = r.Le(23, 4);
  if (!flags || !lengthFlags || !properties || !send || !duration || !presentation)
    return Fail("packet too short");
  if (*flags != 0x82 || *lengthFlags != 0x08 || *properties != 0x5D)
    return Fail("not a single-payload packet of the expected layout");
  if (std::fwrite(packet, 1, size, file_) != size) return Fail("write failed");
  ++packets_;
  sendEndMs_ = std::max<uint64_t>(sendEndMs_, uint64_t{*send} + *duration);
  playEndMs_ = std::max<uint64_t>(playEndMs_, uint64_t{*presentation} + *duration);
  return true;
}

bool AsfWriter::PatchU64(long offset, uint64_t value) {
  Bytes b;
  b.U64(value);
  return std::fseek(file_, offset, SEEK_SET) == 0 && std::fwrite(b.data().data(), 1, 8, file_) == 8;
}

bool AsfWriter::Close() {
  if (file_ == nullptr) return Fail("writer not open");
  const uint64_t dataSize = kDataObjectHeader + packets_ * packetSize_;
  const uint64_t fileSize = kHeaderSize + dataSize;
  const uint64_t playEnd = std::max<uint64_t>(playEndMs_, prerollMs_);
  bool ok = PatchU64(kFilePropertiesAt + 40, fileSize) &&
            PatchU64(kFilePropertiesAt + 56, packets_) &&
            PatchU64(kFilePropertiesAt + 64, playEnd * 10000) &&
            PatchU64(kFilePropertiesAt + 72, sendEndMs_ * 10000) &&
            PatchU64(kDataObjectAt + 16, dataSize) && PatchU64(kDataObjectAt + 40, packets_);
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok ? true : Fail("write failed while closing");
}

}  // namespace cehost
