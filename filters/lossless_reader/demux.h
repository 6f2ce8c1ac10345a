// DemuxResult and qtmovie_read: the M4A container reader of the lossless source.
//
// The source filter owns a DemuxResult (zeroed) and a FileStream, calls qtmovie_read once when
// a file is loaded, and afterwards reads compressed frames from the stream using the tables
// kept here (see sample_table.h for the lookups and seeking). On success the stream stands at
// the first payload byte of 'mdat'. The tables are allocated with malloc here and released
// with demux_result_free by the owner, also after a failed read. Not thread-safe: the
// filter's state lock keeps loading apart from everything else.
//
// File layout read here (all numbers big-endian; every atom is a 32-bit size that includes
// the 8-byte header, then a four-character type, then its payload):
//
//   top level     'ftyp' 'free' 'mdat' 'moov', in any order; anything else fails
//   'ftyp'        +8 major brand (4) ["M4A " expected], +12 minor version (4), +16 brands (4 each)
//   'moov'        children: 'mvhd' 'elst' 'iods' 'udta' skipped, 'trak' read
//   'trak'        children: 'tkhd' 'edts' skipped, 'mdia' read
//   'mdia'        children: 'mdhd' skipped, 'hdlr' and 'minf' read
//   'hdlr'        +8 version (1) flags (3), +12 five u32 (type, subtype, maker, flags, mask),
//                 +32 name length L (1), +33 name (L), then ignored bytes to the atom's end
//   'minf'        exactly: 'smhd' (16 bytes), 'dinf' (skipped), 'stbl', then ignored bytes
//   'stbl'        children: 'stsd' 'stts' 'stsz' 'stsc' 'stco' read, others skipped
//   'stsd'        +8 version/flags (4), +12 entry count (4) [must be 1], +16 one sample entry
//   sample entry  +0 size E (4), +4 format (4) ['alac'], +8 reserved (6), data ref index (2),
//                 +16 version (2), revision (2), vendor (4), +24 channels (2), +26 bits per
//                 sample (2), +28 compression id (2), +30 packet size (2) and integer rate
//                 (2) read as one u32, +34 rate fraction (2), +36 codec data (E - 36)
//   codec data    +0 size (4), +4 'alac', +8 version/flags (4), +12 ALAC configuration (24),
//                 then optional atoms (for example a channel layout)
//   'stts'        +8 version/flags, +12 count N, +16 N x {sample count, sample duration}
//   'stsc'        +8 version/flags, +12 count N, +16 N x {first chunk, samples per chunk, desc}
//   'stco'        +8 version/flags, +12 count N, +16 N x chunk offset
//   'stsz'        +8 version/flags, +12 uniform size, +16 count N, +20 N x size (if uniform 0)
#pragma once

#include <cstdint>

#include "file_stream.h"

namespace lossless_reader {

struct ChunkMapEntry {
  uint32_t first_chunk;        // chunk number, counted from 1, where the run starts
  uint32_t samples_per_chunk;  // frames in each chunk of the run
};

struct DurationRun {
  uint32_t sample_count;     // frames in the run
  uint32_t sample_duration;  // sound samples per frame
};

// Size of codec_config; the ALAC configuration sits at byte 24 of it.
constexpr uint32_t kCodecConfigSize = 64;
// Where the sample entry's codec data lands in codec_config (bytes before it stay zero).
constexpr uint32_t kCodecDataOffset = 12;

struct DemuxResult {
  uint16_t channel_count;
  uint16_t sound_sample_size;  // bits per sample
  // Packet size above the integer rate as stored in the sample entry (the rate in Hz with the
  // usual packet size 0). Where the entry holds 0 (rates above 65535 Hz do not fit it), the
  // rate of the ALAC configuration is taken instead; it is never 0 after a successful read.
  uint32_t sound_sample_rate;
  uint32_t format_fourcc;
  ChunkMapEntry* chunk_map;  // owned (malloc)
  uint32_t chunk_map_count;
  uint32_t* chunk_offsets;  // owned (malloc): absolute file offset of chunk i + 1
  uint32_t chunk_offset_count;
  DurationRun* duration_runs;  // owned (malloc)
  uint32_t duration_run_count;
  uint16_t* sample_sizes;  // owned (malloc): compressed bytes of every frame; see below
  uint32_t sample_size_count;  // frames in the track
  // Bytes of codec_config in use: the sample entry's size - 16, at most kCodecConfigSize.
  uint32_t codec_config_len;
  uint8_t codec_config[kCodecConfigSize];
  uint32_t media_data_offset;  // first payload byte of 'mdat'
  uint32_t media_data_len;     // 'mdat' size - 8
  // When 'stsz' gives one size for every frame (encoders do so when all frames come out the
  // same size, a file shorter than one frame for instance): that size, with sample_sizes null.
  // 0 when the sizes are in sample_sizes.
  uint32_t uniform_sample_size;
};

// Reads the movie structure. Returns 1 when the headers were read and the stream stands at
// the first payload byte of 'mdat', 0 on any failure (after a message on the debug output).
// `result` must be zeroed or freed with demux_result_free before the call.
[[nodiscard]] int qtmovie_read(FileStream* stream, DemuxResult* result);

// Frees the four tables and zeroes the record.
void demux_result_free(DemuxResult* result);

}  // namespace lossless_reader
