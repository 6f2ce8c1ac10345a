#include "demux.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "debug_print.h"

namespace lossless_reader {

namespace {

// The walk's context, handed to every atom reader.
struct MovieReader {
  FileStream* stream;  // borrowed for the walk
  DemuxResult* res;    // borrowed for the walk
};

constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

constexpr uint32_t kHeader = 8;  // size and type of every atom
// Fixed part of a sound sample entry, before its codec data.
constexpr uint32_t kSoundEntryFixed = 36;
// Offset of the sample rate inside the ALAC configuration (which starts at byte 24 of
// codec_config): frame length (4), six single bytes, max run (2), max frame bytes (4), average
// bit rate (4), then the rate.
constexpr uint32_t kConfigRateOffset = 24 + 20;

// The four characters of a type, most significant first, for "%c%c%c%c".
#define FOURCC_ARGS(t) \
  int(((t) >> 24) & 0xFF), int(((t) >> 16) & 0xFF), int(((t) >> 8) & 0xFF), int((t) & 0xFF)

void Skip(MovieReader* r, uint32_t n) { stream_skip(r->stream, n); }

uint32_t ReadU32(MovieReader* r) { return stream_read_u32(r->stream); }

// Each atom reader gets its atom's total size (header included, >= 8) with the stream just
// after the header, consumes exactly the payload, and returns 1 to go on or 0 to abort.
using ChildDispatch = int (*)(MovieReader* r, uint32_t type, uint32_t size);

// Reads the children of a container atom until its payload is used up. A child smaller than
// an atom header or larger than what is left of the parent stops the walk with the parent's
// message.
int ReadChildren(MovieReader* r, uint32_t size, const WCHAR* strange_message, ChildDispatch dispatch) {
  uint32_t left = size - kHeader;
  while (left != 0) {
    const uint32_t child = ReadU32(r);
    if (child < kHeader || child > left) {
      DebugPrint(strange_message, child);
      return 0;
    }
    const uint32_t type = ReadU32(r);
    if (!dispatch(r, type, child)) return 0;
    left -= child;
  }
  return 1;
}

// What a table reader says when its table is refused.
struct TableMessages {
  const WCHAR* too_large;  // more entries than the atom holds, or out of memory
  const WCHAR* cut;        // the file ends inside the table
};

// Reads a table of `count` entries of `entry_bytes` bytes each, after checking that it fits in
// the `room` bytes left in its atom, into a new malloc'd array (null when empty). `read_entry`
// reads entry i and may refuse it (after its own message). The array grows as entries arrive,
// so a count that only the atom's size vouches for costs no more memory than the file holds.
// 1 on success; 0 otherwise, with nothing allocated.
template <typename Entry, typename ReadEntry>
int ReadTable(MovieReader* r, uint32_t count, uint32_t entry_bytes, uint32_t room, const TableMessages& messages,
              Entry** table, ReadEntry read_entry) {
  *table = nullptr;
  if (uint64_t{count} * entry_bytes > room) {
    // More entries than the atom holds: a corrupt count; nothing is read past the atom.
    DebugPrint(messages.too_large);
    return 0;
  }
  Entry* out = nullptr;
  uint32_t capacity = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (i == capacity) {
      capacity = count - capacity <= capacity + 4096 ? count : capacity * 2 + 4096;
      auto* grown = static_cast<Entry*>(std::realloc(out, size_t{capacity} * sizeof(Entry)));
      if (!grown) {
        std::free(out);
        DebugPrint(messages.too_large);
        return 0;
      }
      out = grown;
    }
    if (!read_entry(&out[i], i)) {
      std::free(out);
      return 0;
    }
    if (stream_eof(r->stream)) {
      std::free(out);
      DebugPrint(messages.cut);
      return 0;
    }
  }
  *table = out;
  return 1;
}

void SkipLeftOver(MovieReader* r, uint32_t left_over, const WCHAR* message) {
  if (left_over == 0) return;
  DebugPrint(message);
  Skip(r, left_over);
}

int read_chunk_ftyp(MovieReader* r, uint32_t size) {
  if (size < 16) {
    DebugPrint(u"read_chunk_ftyp : strange size (%lu)", size);
    return 0;
  }
  // Other brands ('isom', 'mp42', ...) label the same structure: the rest of the walk decides
  // whether the file can be played.
  if (ReadU32(r) != FourCC("M4A ")) DebugPrint(u"read_chunk_ftyp : not M4A file");
  Skip(r, size - 12);  // the minor version and the compatible brands are not used
  return 1;
}

int read_chunk_stsd(MovieReader* r, uint32_t size) {
  DemuxResult* res = r->res;
  if (size < 16) {
    DebugPrint(u"read_chunk_stsd : strange size (%lu)", size);
    return 0;
  }
  (void)ReadU32(r);  // version and flags
  if (ReadU32(r) != 1) {
    DebugPrint(u"read_chunk_stsd : only expecting one entry in sample description atom!");
    return 0;
  }
  const uint32_t entry = ReadU32(r);
  if (entry < kSoundEntryFixed || entry > size - 16) {
    DebugPrint(u"read_chunk_stsd : strange size (%lu) for sample entry", entry);
    return 0;
  }
  res->format_fourcc = ReadU32(r);
  Skip(r, 16);  // reserved, data reference index, version, revision, vendor
  res->channel_count = stream_read_u16(r->stream);
  res->sound_sample_size = stream_read_u16(r->stream);
  Skip(r, 2);  // compression id
  res->sound_sample_rate = ReadU32(r);
  Skip(r, 2);  // fraction of the rate
  if (res->format_fourcc != FourCC("alac")) {
    DebugPrint(u"read_chunk_stsd : expecting 'alac' data format, got %c%c%c%c", FOURCC_ARGS(res->format_fourcc));
    return 0;
  }

  // Codec data beyond the field is dropped: real files follow the ALAC configuration with a
  // channel-layout atom that nothing here reads.
  uint32_t config_len = entry - 16;
  if (config_len > kCodecConfigSize) {
    DebugPrint(u"read_chunk_stsd :codecdata too large (%d) in stsd", int(config_len));
    config_len = kCodecConfigSize;
  }
  res->codec_config_len = config_len;
  std::memset(res->codec_config, 0, sizeof(res->codec_config));
  const uint32_t data = entry - kSoundEntryFixed;
  const uint32_t room = kCodecConfigSize - kCodecDataOffset;
  const uint32_t kept = data < room ? data : room;
  stream_read(r->stream, kept, res->codec_config + kCodecDataOffset);
  Skip(r, data - kept);
  // Anything after the one entry belongs to this atom; skipping it keeps the walk in step.
  Skip(r, size - 16 - entry);

  if (res->sound_sample_rate == 0 && data >= kConfigRateOffset + 4 - kCodecDataOffset) {
    // Rates above 65535 Hz do not fit the entry's 16-bit field; encoders leave it 0 and give
    // the rate in the ALAC configuration.
    const uint8_t* p = res->codec_config + kConfigRateOffset;
    res->sound_sample_rate = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  }
  if (res->channel_count == 0 || res->sound_sample_size < 8 || res->sound_sample_rate == 0) {
    // Playback divides by the bytes per second; a description that makes it 0 is unusable.
    DebugPrint(u"read_chunk_stsd : unusable sound description (%u channels, %u bits, %lu Hz)",
               unsigned(res->channel_count), unsigned(res->sound_sample_size), res->sound_sample_rate);
    return 0;
  }
  return 1;
}

int read_chunk_stts(MovieReader* r, uint32_t size) {
  if (size < 16) {
    DebugPrint(u"read_chunk_stts : strange size (%lu)", size);
    return 0;
  }
  (void)ReadU32(r);  // version and flags
  const uint32_t count = ReadU32(r);
  DurationRun* table;
  const TableMessages messages = {u"read_chunk_stts : stts too large",
                                  u"read_chunk_stts : stts cut short by the end of the file"};
  if (!ReadTable(r, count, 8, size - 16, messages, &table, [r](DurationRun* e, uint32_t) {
        e->sample_count = ReadU32(r);
        e->sample_duration = ReadU32(r);
        return true;
      }))
    return 0;
  DemuxResult* res = r->res;
  std::free(res->duration_runs);
  res->duration_runs = table;
  res->duration_run_count = count;
  SkipLeftOver(r, size - 16 - count * 8, u"read_chunk_stts : ehm, size remianing?");
  return 1;
}

int read_chunk_stsc(MovieReader* r, uint32_t size) {
  if (size < 16) {
    DebugPrint(u"read_chunk_stsc : strange size (%lu)", size);
    return 0;
  }
  (void)ReadU32(r);  // version and flags
  const uint32_t count = ReadU32(r);
  ChunkMapEntry* table;
  const TableMessages messages = {u"read_chunk_stsc : stsc too large",
                                  u"read_chunk_stsc : stsc cut short by the end of the file"};
  if (!ReadTable(r, count, 12, size - 16, messages, &table, [r](ChunkMapEntry* e, uint32_t) {
        e->first_chunk = ReadU32(r);
        e->samples_per_chunk = ReadU32(r);
        (void)ReadU32(r);  // sample description index
        return true;
      }))
    return 0;
  DemuxResult* res = r->res;
  std::free(res->chunk_map);
  res->chunk_map = table;
  res->chunk_map_count = count;
  SkipLeftOver(r, size - 16 - count * 12, u"read_chunk_stsc : ehm, size remianing?");
  return 1;
}

int read_chunk_stco(MovieReader* r, uint32_t size) {
  if (size < 16) {
    DebugPrint(u"read_chunk_stco : strange size (%lu)", size);
    return 0;
  }
  (void)ReadU32(r);  // version and flags
  const uint32_t count = ReadU32(r);
  uint32_t* table;
  const TableMessages messages = {u"read_chunk_stco : stco too large",
                                  u"read_chunk_stco : stco cut short by the end of the file"};
  if (!ReadTable(r, count, 4, size - 16, messages, &table, [r](uint32_t* e, uint32_t) {
        *e = ReadU32(r);
        return true;
      }))
    return 0;
  DemuxResult* res = r->res;
  std::free(res->chunk_offsets);
  res->chunk_offsets = table;
  res->chunk_offset_count = count;
  SkipLeftOver(r, size - 16 - count * 4, u"read_chunk_stco : ehm, size remianing?");
  return 1;
}

int read_chunk_stsz(MovieReader* r, uint32_t size) {
  if (size < 20) {
    DebugPrint(u"read_chunk_stsz : strange size (%lu)", size);
    return 0;
  }
  (void)ReadU32(r);  // version and flags
  const uint32_t uniform = ReadU32(r);
  const uint32_t count = ReadU32(r);
  DemuxResult* res = r->res;
  if (uniform != 0) {
    // One size for every frame, and no table.
    if (uniform > 0xFFFF) {
      DebugPrint(u"read_chunk_stsz : stsz[%d] > 65 kB (%ld)", 0, uniform);
      return 0;
    }
    std::free(res->sample_sizes);
    res->sample_sizes = nullptr;
    res->sample_size_count = count;
    res->uniform_sample_size = uniform;
    Skip(r, size - 20);
    return 1;
  }
  uint16_t* sizes;
  const TableMessages messages = {u"read_chunk_stsz : stsz too large",
                                  u"read_chunk_stsz : stsz cut short by the end of the file"};
  if (!ReadTable(r, count, 4, size - 20, messages, &sizes, [r](uint16_t* e, uint32_t i) {
        const uint32_t v = ReadU32(r);
        if (v > 0xFFFF) {
          DebugPrint(u"read_chunk_stsz : stsz[%d] > 65 kB (%ld)", int(i), v);
          return false;
        }
        *e = uint16_t(v);
        return true;
      }))
    return 0;
  std::free(res->sample_sizes);
  res->sample_sizes = sizes;
  res->sample_size_count = count;
  res->uniform_sample_size = 0;
  SkipLeftOver(r, size - 20 - count * 4, u"read_chunk_stsz : ehm, size remianing?\n");
  return 1;
}

int DispatchStbl(MovieReader* r, uint32_t type, uint32_t size) {
  switch (type) {
    case FourCC("stsd"): return read_chunk_stsd(r, size);
    case FourCC("stts"): return read_chunk_stts(r, size);
    case FourCC("stsz"): return read_chunk_stsz(r, size);
    case FourCC("stsc"): return read_chunk_stsc(r, size);
    case FourCC("stco"): return read_chunk_stco(r, size);
    default:  // 'co64' included: 64-bit chunk offsets are not supported
      Skip(r, size - kHeader);
      return 1;
  }
}

int read_chunk_stbl(MovieReader* r, uint32_t size) {
  return ReadChildren(r, size, u"read_chunk_stbl : strange size (%lu) for chunk inside stbl", DispatchStbl);
}

int read_chunk_minf(MovieReader* r, uint32_t size) {
  const WCHAR* strange = u"read_chunk_minf : strange size (%lu) for chunk inside minf";
  // 8 (own header) + 16 ('smhd'): what is left must hold the 'dinf' and 'stbl' headers.
  constexpr uint32_t kFixed = kHeader + 16;
  if (size < kFixed + 2 * kHeader) {
    DebugPrint(strange, size);
    return 0;
  }
  if (ReadU32(r) != 16) {
    DebugPrint(u"read_chunk_minf : unexpected size in media info");
    return 0;
  }
  if (ReadU32(r) != FourCC("smhd")) {
    DebugPrint(u"read_chunk_minf : not a sound header! can't handle this.");
    return 0;
  }
  Skip(r, 8);
  const uint32_t dinf = ReadU32(r);
  if (ReadU32(r) != FourCC("dinf")) {
    DebugPrint(u"read_chunk_minf : expected dinf, didn't get it.");
    return 0;
  }
  if (dinf < kHeader || dinf > size - kFixed - kHeader) {
    DebugPrint(strange, dinf);
    return 0;
  }
  Skip(r, dinf - kHeader);
  const uint32_t stbl = ReadU32(r);
  if (ReadU32(r) != FourCC("stbl")) {
    DebugPrint(u"read_chunk_minf : expected stbl, didn't get it.");
    return 0;
  }
  if (stbl < kHeader || stbl > size - kFixed - dinf) {
    DebugPrint(strange, stbl);
    return 0;
  }
  if (!read_chunk_stbl(r, stbl)) return 0;
  const uint32_t left = size - stbl - dinf - kFixed;
  SkipLeftOver(r, left, u"read_chunk_minf : oops");
  return 1;
}

int read_chunk_hdlr(MovieReader* r, uint32_t size) {
  // version/flags (4), five u32 (20), name length (1) after the header.
  constexpr uint32_t kFixed = kHeader + 25;
  if (size < kFixed) {
    DebugPrint(u"read_chunk_hdlr : strange size (%lu)", size);
    return 0;
  }
  (void)stream_read_u8(r->stream);  // version
  Skip(r, 3);                       // flags
  for (int i = 0; i < 5; ++i) (void)ReadU32(r);  // component type, subtype, maker, flags, mask
  // A counted name in QuickTime files; ISO files hold a C string there instead, whose first
  // character then reads as a length that may exceed the atom. Either way the name is not
  // used, and reading stops at the atom's end.
  uint32_t name_len = stream_read_u8(r->stream);
  if (name_len > size - kFixed) name_len = size - kFixed;
  char name[256] = {};
  stream_read(r->stream, name_len, name);
  Skip(r, size - name_len - kFixed);
  return 1;
}

int DispatchMdia(MovieReader* r, uint32_t type, uint32_t size) {
  switch (type) {
    case FourCC("mdhd"): Skip(r, size - kHeader); return 1;
    case FourCC("hdlr"): return read_chunk_hdlr(r, size);
    case FourCC("minf"): return read_chunk_minf(r, size);
    default:
      DebugPrint(u"read_chunk_mdia : (mdia) unknown chunk id: %c%c%c%c", FOURCC_ARGS(type));
      return 0;
  }
}

int read_chunk_mdia(MovieReader* r, uint32_t size) {
  return ReadChildren(r, size, u"read_chunk_mdia : strange size (%lu) for chunk inside mdia", DispatchMdia);
}

int DispatchTrak(MovieReader* r, uint32_t type, uint32_t size) {
  switch (type) {
    case FourCC("tkhd"):
    case FourCC("edts"): Skip(r, size - kHeader); return 1;
    case FourCC("mdia"): return read_chunk_mdia(r, size);
    default:
      DebugPrint(u"read_chunk_trak : (trak) unknown chunk id: %c%c%c%c", FOURCC_ARGS(type));
      return 0;
  }
}

int read_chunk_trak(MovieReader* r, uint32_t size) {
  return ReadChildren(r, size, u"read_chunk_trak : strange size (%lu) for chunk inside trak", DispatchTrak);
}

int DispatchMoov(MovieReader* r, uint32_t type, uint32_t size) {
  switch (type) {
    case FourCC("mvhd"):
    case FourCC("elst"):
    case FourCC("iods"):
    case FourCC("udta"): Skip(r, size - kHeader); return 1;
    case FourCC("trak"): return read_chunk_trak(r, size);
    default:
      DebugPrint(u"read_chunk_moov : (moov) unknown chunk id: %c%c%c%c", FOURCC_ARGS(type));
      return 0;
  }
}

int read_chunk_moov(MovieReader* r, uint32_t size) {
  return ReadChildren(r, size, u"read_chunk_moov : strange size (%lu) for chunk inside moov", DispatchMoov);
}

// With one size for every frame the count has no table to vouch for it; frames the media
// data cannot hold would only make every walk over the frames longer.
int UniformFramesFit(const DemuxResult* res) {
  if (res->uniform_sample_size == 0) return 1;
  if (uint64_t{res->sample_size_count} * res->uniform_sample_size <= res->media_data_len) return 1;
  DebugPrint(u"read_chunk_stsz : %lu frames of %lu bytes do not fit in mdat", res->sample_size_count,
             res->uniform_sample_size);
  return 0;
}

}  // namespace

int qtmovie_read(FileStream* stream, DemuxResult* res) {
  MovieReader reader{stream, res};
  MovieReader* r = &reader;
  bool moov_seen = false;
  bool mdat_seen = false;
  int64_t mdat_position = -1;  // where to come back to when 'mdat' comes first

  uint32_t size = ReadU32(r);
  if (stream_eof(stream)) return 0;
  for (;;) {
    if (size == 1) {
      DebugPrint(u"need 64bit support");
      return 0;
    }
    if (size < kHeader) {
      // Size 0 ("up to the end of the file") is not supported; smaller sizes are corrupt.
      DebugPrint(u"qtmovie_read : strange size (%lu) for top-level chunk", size);
      return 0;
    }
    const uint32_t type = ReadU32(r);
    switch (type) {
      case FourCC("ftyp"):
        if (!read_chunk_ftyp(r, size)) return 0;
        break;
      case FourCC("free"):
        Skip(r, size - kHeader);
        break;
      case FourCC("mdat"):
        if (size != kHeader) {
          const int64_t position = stream_tell(stream);
          res->media_data_len = size - kHeader;
          // A position that cannot be told is recorded as 0, so that no frame offset
          // appears to lie inside the payload.
          res->media_data_offset = position < 0 || position > int64_t{UINT32_MAX} ? 0 : uint32_t(position);
          if (!moov_seen) {
            mdat_position = position;
            mdat_seen = true;
            Skip(r, size - kHeader);
          }
        }
        // An empty 'mdat' before 'moov' holds no frames and leaves nothing to come back to;
        // the walk goes on looking for the real one.
        if (moov_seen) return UniformFramesFit(res);
        break;
      case FourCC("moov"):
        if (!read_chunk_moov(r, size)) return 0;
        // The stream's flag marks reads that got nothing; a read cut short by the end of the
        // file (codec data, for one) shows only in the C stream's own indicator.
        if (stream_eof(stream) || std::feof(stream->file)) {
          DebugPrint(u"qtmovie_read : file ends inside moov");
          return 0;
        }
        if (mdat_seen) {
          if (mdat_position == -1) {
            std::fprintf(stderr, "stream contains mdat before moov but is not seekable\n");
            return 0;
          }
          if (stream_set_position(stream, mdat_position) != 0) {
            std::fprintf(stderr, "error while seeking stream to mdat pos\n");
            return 0;
          }
          return UniformFramesFit(res);
        }
        moov_seen = true;
        break;
      default:
        DebugPrint(u"qtmovie_read : (top) unknown chunk id: %c%c%c%c", FOURCC_ARGS(type));
        return 0;
    }
    size = ReadU32(r);
    if (stream_eof(stream)) return 0;
  }
}

void demux_result_free(DemuxResult* res) {
  std::free(res->chunk_map);
  std::free(res->chunk_offsets);
  std::free(res->duration_runs);
  std::free(res->sample_sizes);
  std::memset(res, 0, sizeof(*res));
}

}  // namespace lossless_reader
