// Writes an ASF file holding one audio stream of fixed-size data packets: a .wma file for
// the recorder's WMA version 2 packets, which other players open.
//
// Usage: Open() writes the header objects with placeholder counts, WritePacket() appends each
// packet to the data object, Close() fixes up the file size, packet count, durations and the
// data object's size. A writer is used by one thread at a time.
//
// File layout (little-endian; every object is GUID(16) + QWORD size(8) + body):
//   off  size  field
//   0    30    Header Object: GUID, size, DWORD object count (3), BYTE 1, BYTE 2
//   30   104   File Properties: file id(16) @24, file size(8) @40, creation date(8) @48,
//              packet count(8) @56, play duration(8, 100 ns, includes preroll) @64,
//              send duration(8) @72, preroll(8, ms) @80, flags(4) @88 (2 = seekable),
//              min and max packet size(4 + 4) @92, max bit rate(4) @100
//   134  106   Stream Properties: stream type(16) @24, error correction type(16) @40,
//              time offset(8) @56, type-specific length(4) @64 (28), error correction
//              length(4) @68 (0), flags(2) @72 (stream number), reserved(4) @74,
//              WAVEFORMATEX + 10 bytes of codec data @78
//   240  46    Header Extension: reserved GUID(16) @24, WORD 6 @40, DWORD data size 0 @42
//   286  50    Data Object: file id(16) @24, packet count(8) @40, WORD 0x0101 @48,
//              then the packets
//
// A packet must be a single-payload data packet whose 27-byte header reads (offsets within
// the packet): flags 0x82 0 0 0x08 0x5D @0, padding length @5, send time(4, ms) @6,
// duration(2, ms) @10, stream number @12, object number @13, object offset(4) @14,
// replicated length(1) @18, object size(4) @19, presentation time(4, ms) @23.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace cehost {

// The audio stream's format: WAVEFORMATEX fields and the WMA version 2 codec data.
struct AsfAudioFormat {
  uint16_t formatTag = 0x0161;
  uint16_t channels = 2;
  uint32_t samplesPerSec = 44100;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;  // bytes of one superframe (the payload of a packet)
  uint16_t bitsPerSample = 16;
  uint32_t samplesPerBlock = 0;
  uint16_t encodeOptions = 0;
  uint32_t superBlockAlign = 0;
};

class AsfWriter {
 public:
  AsfWriter() = default;
  ~AsfWriter();  // closes (with fix-ups) a file still open
  AsfWriter(const AsfWriter&) = delete;
  AsfWriter& operator=(const AsfWriter&) = delete;

  // Creates `path`. packetSize is the fixed size of every data packet; prerollMs the time
  // that the packets' presentation times start from. False (see Error()) on failure.
  [[nodiscard]] bool Open(const std::filesystem::path& path, const AsfAudioFormat& format,
                          uint32_t packetSize, uint32_t prerollMs);
  // Appends one packet of exactly packetSize bytes (borrowed for the call).
  [[nodiscard]] bool WritePacket(const uint8_t* packet, size_t size);
  // Fixes up the header and closes the file.
  [[nodiscard]] bool Close();

  uint64_t PacketCount() const { return packets_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fail(std::string message);
  bool PatchU64(long offset, uint64_t value);

  std::FILE* file_ = nullptr;
  uint32_t packetSize_ = 0;
  uint32_t prerollMs_ = 0;
  uint64_t packets_ = 0;
  uint64_t sendEndMs_ = 0;  // latest send time + duration
  uint64_t playEndMs_ = 0;  // latest presentation time + duration (includes the preroll)
  std::string error_;
};

}  // namespace cehost
