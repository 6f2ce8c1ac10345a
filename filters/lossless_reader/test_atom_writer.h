// Test helper: builds M4A files atom by atom, so that structural cases of the container
// reader are written out in the test rather than committed as opaque binaries.
//
// BuildMovie makes a small but complete ALAC file (one sound track, two frames of dummy
// payload) from MovieParts; tests replace or add parts to make the case they need. The
// 'stco' offset is computed from the final layout.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace lossless_reader::test {

using Bytes = std::vector<uint8_t>;

inline Bytes U8(uint32_t v) { return {uint8_t(v)}; }
inline Bytes U16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes U32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes Type(const std::string& fourcc) { return Bytes(fourcc.begin(), fourcc.end()); }

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Cat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// An atom with its 32-bit size (header included), or with `size_override` written instead.
inline Bytes Atom(const std::string& type, const Bytes& payload, int64_t size_override = -1) {
  const uint32_t size = size_override >= 0 ? uint32_t(size_override) : uint32_t(payload.size() + 8);
  return Cat({U32(size), Type(type), payload});
}
// An atom whose payload starts with version 0 and flags 0.
inline Bytes FullAtom(const std::string& type, const Bytes& payload) { return Atom(type, Cat({U32(0), payload})); }

struct AlacConfig {
  uint32_t frame_length = 4096;
  uint8_t bit_depth = 16;
  uint8_t history_mult = 40;
  uint8_t initial_history = 10;
  uint8_t k_modifier = 14;
  uint8_t channels = 2;
  uint32_t sample_rate = 44100;
};

// The 24-byte ALAC configuration.
inline Bytes AlacConfigBytes(const AlacConfig& c) {
  return Cat({U32(c.frame_length), U8(0), U8(c.bit_depth), U8(c.history_mult), U8(c.initial_history),
              U8(c.k_modifier), U8(c.channels), U16(255), U32(0), U32(0), U32(c.sample_rate)});
}

// The 'alac' atom that follows the sound description inside a sample entry.
inline Bytes AlacAtom(const AlacConfig& c = {}) { return FullAtom("alac", AlacConfigBytes(c)); }

// A sound sample entry (36 bytes of description, then `codec_data`).
inline Bytes SampleEntry(const std::string& format = "alac", uint16_t channels = 2, uint16_t bits = 16,
                         uint32_t rate_field = 44100, const Bytes& codec_data = AlacAtom()) {
  return Atom(format, Cat({Bytes(6, 0), U16(1), U16(0), U16(0), U32(0), U16(channels), U16(bits), U16(0),
                           U32(rate_field), U16(0), codec_data}));
}

inline Bytes Stsd(const std::vector<Bytes>& entries) {
  return FullAtom("stsd", Cat({U32(uint32_t(entries.size())), Cat(entries)}));
}
inline Bytes Stts(const std::vector<std::pair<uint32_t, uint32_t>>& runs) {
  Bytes body = U32(uint32_t(runs.size()));
  for (auto [count, duration] : runs) body = Cat({body, U32(count), U32(duration)});
  return FullAtom("stts", body);
}
inline Bytes Stsc(const std::vector<std::pair<uint32_t, uint32_t>>& runs) {
  Bytes body = U32(uint32_t(runs.size()));
  for (auto [first, per_chunk] : runs) body = Cat({body, U32(first), U32(per_chunk), U32(1)});
  return FullAtom("stsc", body);
}
inline Bytes Stsz(const std::vector<uint32_t>& sizes) {
  Bytes body = Cat({U32(0), U32(uint32_t(sizes.size()))});
  for (uint32_t s : sizes) body = Cat({body, U32(s)});
  return FullAtom("stsz", body);
}
inline Bytes Stco(const std::vector<uint32_t>& offsets) {
  Bytes body = U32(uint32_t(offsets.size()));
  for (uint32_t o : offsets) body = Cat({body, U32(o)});
  return FullAtom("stco", body);
}

inline Bytes Ftyp(const std::string& brand = "M4A ") {
  return Atom("ftyp", Cat({Type(brand), U32(0x200), Type("M4A "), Type("isom")}));
}
inline Bytes Hdlr(const std::string& subtype = "soun") {
  return FullAtom("hdlr", Cat({U32(0), Type(subtype), U32(0), U32(0), U32(0), U8(0)}));
}
inline Bytes Smhd() { return FullAtom("smhd", U32(0)); }
inline Bytes Dinf() { return Atom("dinf", FullAtom("dref", Cat({U32(1), FullAtom("url ", {})}))); }

struct MovieParts {
  bool moov_first = false;
  Bytes ftyp = Ftyp();
  Bytes media_header = Smhd();  // the 16-byte 'smhd' that opens 'minf'
  Bytes stsd = Stsd({SampleEntry()});
  Bytes stts = Stts({{2, 4096}});
  Bytes stsc = Stsc({{1, 2}});
  Bytes stsz = Stsz({10, 20});
  std::vector<Bytes> stbl_extra;  // after the standard children
  std::vector<Bytes> minf_extra;  // after 'stbl'
  std::vector<Bytes> mdia_extra;  // after 'minf'
  std::vector<Bytes> trak_extra;  // after 'mdia'
  std::vector<Bytes> moov_extra;  // after the sound 'trak'
  Bytes payload = Bytes(30, 0xAB);
};

inline Bytes Stbl(const MovieParts& p, uint32_t chunk_offset) {
  return Atom("stbl", Cat({p.stsd, p.stts, p.stsc, p.stsz, Stco({chunk_offset}), Cat(p.stbl_extra)}));
}
inline Bytes Minf(const Bytes& media_header, const Bytes& stbl, const std::vector<Bytes>& extra = {}) {
  return Atom("minf", Cat({media_header, Dinf(), stbl, Cat(extra)}));
}
inline Bytes Trak(const Bytes& minf, const std::vector<Bytes>& mdia_extra = {},
                  const std::vector<Bytes>& trak_extra = {}) {
  return Atom("trak", Cat({FullAtom("tkhd", Bytes(80, 0)),
                           Atom("mdia", Cat({FullAtom("mdhd", Bytes(20, 0)), Hdlr(), minf, Cat(mdia_extra)})),
                           Cat(trak_extra)}));
}

inline Bytes Moov(const MovieParts& p, uint32_t chunk_offset) {
  const Bytes minf = Minf(p.media_header, Stbl(p, chunk_offset), p.minf_extra);
  return Atom("moov", Cat({FullAtom("mvhd", Bytes(96, 0)), Trak(minf, p.mdia_extra, p.trak_extra), Cat(p.moov_extra)}));
}

// The whole file; its single chunk starts at the first payload byte of 'mdat'.
inline Bytes BuildMovie(const MovieParts& p) {
  const Bytes mdat_header = Cat({U32(uint32_t(p.payload.size() + 8)), Type("mdat")});
  if (p.moov_first) {
    const size_t moov_size = Moov(p, 0).size();
    const uint32_t offset = uint32_t(p.ftyp.size() + moov_size + 8);
    return Cat({p.ftyp, Moov(p, offset), mdat_header, p.payload});
  }
  const uint32_t offset = uint32_t(p.ftyp.size() + 8);
  return Cat({p.ftyp, mdat_header, p.payload, Moov(p, offset)});
}

}  // namespace lossless_reader::test
