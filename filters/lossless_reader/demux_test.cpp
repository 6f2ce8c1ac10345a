// The container reader on hand-built files: the layouts it accepts, the structural faults it
// refuses with their messages, and the corrupt counts it must not trust.
#include "demux.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "cehost/debug_capture.h"
#include "test_atom_writer.h"

namespace lossless_reader {
namespace {

using test::Atom;
using test::BuildMovie;
using test::Bytes;
using test::Cat;
using test::MovieParts;
using test::Type;
using test::U32;

// A read-only stream over bytes held by the object.
class MemoryFile {
 public:
  explicit MemoryFile(Bytes bytes) : bytes_(std::move(bytes)) {
    file_ = fmemopen(bytes_.data(), bytes_.size(), "rb");
    stream_init(&stream_, file_);
  }
  ~MemoryFile() {
    if (file_) std::fclose(file_);
  }
  FileStream* stream() { return &stream_; }

 private:
  Bytes bytes_;
  FILE* file_;
  FileStream stream_{};
};

struct Loaded {
  DemuxResult demux{};
  int ok = 0;
  int64_t position = -1;
  std::string debug;
  ~Loaded() { demux_result_free(&demux); }
};

void Load(const Bytes& file, Loaded* out) {
  cehost::DebugCapture capture;
  MemoryFile mem(file);
  out->ok = qtmovie_read(mem.stream(), &out->demux);
  out->position = stream_tell(mem.stream());
  out->debug = capture.Text();
}

std::string Line(const std::string& message) { return "LOSSLESSREADER:" + message + "\r\n"; }

TEST(QtMovieRead, ReadsTablesAndStopsAtTheMediaDataInBothLayouts) {
  for (bool moov_first : {false, true}) {
    SCOPED_TRACE(moov_first ? "moov first" : "mdat first");
    MovieParts p;
    p.moov_first = moov_first;
    p.stts = test::Stts({{1, 4096}, {1, 1000}});
    const Bytes file = BuildMovie(p);
    Loaded r;
    Load(file, &r);
    ASSERT_EQ(r.ok, 1) << r.debug;
    EXPECT_EQ(r.debug, "");
    const DemuxResult& d = r.demux;
    const uint32_t payload = moov_first ? uint32_t(file.size() - 30) : uint32_t(test::Ftyp().size() + 8);
    EXPECT_EQ(r.position, payload);
    EXPECT_EQ(d.media_data_offset, payload);
    EXPECT_EQ(d.media_data_len, 30u);
    EXPECT_EQ(d.channel_count, 2);
    EXPECT_EQ(d.sound_sample_size, 16);
    EXPECT_EQ(d.sound_sample_rate, 44100u);
    EXPECT_EQ(d.format_fourcc, 0x616C6163u);
    ASSERT_EQ(d.duration_run_count, 2u);
    EXPECT_EQ(d.duration_runs[1].sample_count, 1u);
    EXPECT_EQ(d.duration_runs[1].sample_duration, 1000u);
    ASSERT_EQ(d.chunk_map_count, 1u);
    EXPECT_EQ(d.chunk_map[0].first_chunk, 1u);
    EXPECT_EQ(d.chunk_map[0].samples_per_chunk, 2u);
    ASSERT_EQ(d.chunk_offset_count, 1u);
    EXPECT_EQ(d.chunk_offsets[0], payload);
    ASSERT_EQ(d.sample_size_count, 2u);
    EXPECT_EQ(d.sample_sizes[0], 10);
    EXPECT_EQ(d.sample_sizes[1], 20);
    // 72-byte entry: 56 bytes of configuration field in use, the 'alac' atom from byte 12
    // and its configuration from byte 24.
    EXPECT_EQ(d.codec_config_len, 56u);
    EXPECT_THAT(Bytes(d.codec_config, d.codec_config + 12), ::testing::Each(0));
    EXPECT_EQ(Bytes(d.codec_config + 12, d.codec_config + 24), Cat({U32(36), Type("alac"), U32(0)}));
    EXPECT_EQ(Bytes(d.codec_config + 24, d.codec_config + 48), test::AlacConfigBytes({}));
  }
}

struct FailureCase {
  const char* name;
  std::function<Bytes()> build;
  std::string message;  // expected debug line, without tag and line end; empty for none
};

MovieParts With(std::function<void(MovieParts&)> change) {
  MovieParts p;
  change(p);
  return p;
}

Bytes EightByteChild(uint32_t size) { return Cat({U32(size), Type("free")}); }

Bytes NonSoundTrack(const Bytes& media_header) {
  return test::Trak(test::Minf(media_header, Atom("stbl", {})));
}

const FailureCase kFailures[] = {
    {"SixtyFourBitSize", [] { return Cat({test::Ftyp(), U32(1), Type("mdat"), U32(0), U32(24), Bytes(8, 0)}); },
     "need 64bit support"},
    {"TwoSampleEntries",
     [] { return BuildMovie(With([](MovieParts& p) { p.stsd = test::Stsd({test::SampleEntry(), test::SampleEntry()}); })); },
     "read_chunk_stsd : only expecting one entry in sample description atom!"},
    {"Mp4aEntry", [] { return BuildMovie(With([](MovieParts& p) { p.stsd = test::Stsd({test::SampleEntry("mp4a")}); })); },
     "read_chunk_stsd : expecting 'alac' data format, got mp4a"},
    {"FrameSize65536", [] { return BuildMovie(With([](MovieParts& p) { p.stsz = test::Stsz({10, 65536}); })); },
     "read_chunk_stsz : stsz[1] > 65 kB (65536)"},
    {"MoovChildSize0", [] { return BuildMovie(With([](MovieParts& p) { p.moov_extra = {EightByteChild(0)}; })); },
     "read_chunk_moov : strange size (0) for chunk inside moov"},
    {"TrakChildSize1", [] { return BuildMovie(With([](MovieParts& p) { p.trak_extra = {EightByteChild(1)}; })); },
     "read_chunk_trak : strange size (1) for chunk inside trak"},
    {"MdiaChildSize7", [] { return BuildMovie(With([](MovieParts& p) { p.mdia_extra = {EightByteChild(7)}; })); },
     "read_chunk_mdia : strange size (7) for chunk inside mdia"},
    {"StblChildPastParent", [] { return BuildMovie(With([](MovieParts& p) { p.stbl_extra = {EightByteChild(9)}; })); },
     "read_chunk_stbl : strange size (9) for chunk inside stbl"},
    {"TrefInTrak", [] { return BuildMovie(With([](MovieParts& p) { p.trak_extra = {Atom("tref", Bytes(12, 0))}; })); },
     "read_chunk_trak : (trak) unknown chunk id: tref"},
    {"SecondTrackNotSound",
     [] { return BuildMovie(With([](MovieParts& p) { p.moov_extra = {NonSoundTrack(test::FullAtom("nmhd", U32(0)))}; })); },
     "read_chunk_minf : not a sound header! can't handle this."},
    {"SecondTrackVideo",
     [] { return BuildMovie(With([](MovieParts& p) { p.moov_extra = {NonSoundTrack(test::FullAtom("vmhd", Bytes(8, 0)))}; })); },
     "read_chunk_minf : unexpected size in media info"},
    {"UnknownMoovChild", [] { return BuildMovie(With([](MovieParts& p) { p.moov_extra = {Atom("meta", {})}; })); },
     "read_chunk_moov : (moov) unknown chunk id: meta"},
    {"UnknownMdiaChild", [] { return BuildMovie(With([](MovieParts& p) { p.mdia_extra = {Atom("elng", {})}; })); },
     "read_chunk_mdia : (mdia) unknown chunk id: elng"},
    {"UnknownTopLevel", [] { return Cat({test::Ftyp(), Atom("wide", {}), BuildMovie({})}); },
     "qtmovie_read : (top) unknown chunk id: wide"},
    {"TopLevelSize0", [] { return Cat({test::Ftyp(), U32(0), Type("mdat")}); },
     "qtmovie_read : strange size (0) for top-level chunk"},
    {"SttsCountBeyondAtom",
     [] { return BuildMovie(With([](MovieParts& p) { p.stts = test::FullAtom("stts", Cat({U32(0x20000000), U32(2), U32(4096)})); })); },
     "read_chunk_stts : stts too large"},
    {"StscCountBeyondAtom",
     [] { return BuildMovie(With([](MovieParts& p) { p.stsc = test::FullAtom("stsc", Cat({U32(2), U32(1), U32(2), U32(1)})); })); },
     "read_chunk_stsc : stsc too large"},
    {"StcoCountBeyondAtom",
     [] { return BuildMovie(With([](MovieParts& p) { p.stbl_extra = {test::FullAtom("stco", Cat({U32(0xFFFFFFFF), U32(36)}))}; })); },
     "read_chunk_stco : stco too large"},
    {"StszCountBeyondAtom",
     [] { return BuildMovie(With([](MovieParts& p) { p.stsz = test::FullAtom("stsz", Cat({U32(0), U32(3), U32(10), U32(20)})); })); },
     "read_chunk_stsz : stsz too large"},
    {"SampleEntryTooShort",
     [] { return BuildMovie(With([](MovieParts& p) { p.stsd = test::FullAtom("stsd", Cat({U32(1), U32(20), Type("alac"), Bytes(12, 0)})); })); },
     "read_chunk_stsd : strange size (20) for sample entry"},
    {"SampleEntryPastAtom",
     [] { return BuildMovie(With([](MovieParts& p) { p.stsd = test::FullAtom("stsd", Cat({U32(1), U32(200), Type("alac"), Bytes(28, 0)})); })); },
     "read_chunk_stsd : strange size (200) for sample entry"},
    {"NoSampleRateAnywhere",
     [] {
       return BuildMovie(With([](MovieParts& p) {
         p.stsd = test::Stsd({test::SampleEntry("alac", 2, 16, 0, test::AlacAtom({.sample_rate = 0}))});
       }));
     },
     "read_chunk_stsd : unusable sound description (2 channels, 16 bits, 0 Hz)"},
    {"NoChannels", [] { return BuildMovie(With([](MovieParts& p) { p.stsd = test::Stsd({test::SampleEntry("alac", 0)}); })); },
     "read_chunk_stsd : unusable sound description (0 channels, 16 bits, 44100 Hz)"},
    {"DinfPastMinf",
     [] { return BuildMovie(With([](MovieParts& p) { p.media_header = Cat({test::Smhd(), U32(500), Type("dinf")}); })); },
     "read_chunk_minf : strange size (500) for chunk inside minf"},
    {"TableCutByEndOfFile",
     [] {
       Bytes f = BuildMovie({});  // 'mdat' first: the file ends with the 'stco' table
       f.resize(f.size() - 2);
       return f;
     },
     "read_chunk_stco : stco cut short by the end of the file"},
    {"SampleEntryCutByEndOfFile",
     [] {
       // The sample description last in the file, its codec data cut short.
       Bytes f = BuildMovie(With([](MovieParts& p) {
         p.stbl_extra = {p.stsd};
         p.stsd = {};
       }));
       f.resize(f.size() - 2);
       return f;
     },
     "qtmovie_read : file ends inside moov"},
    {"UniformSizeBeyondMediaData",
     [] { return BuildMovie(With([](MovieParts& p) { p.stsz = test::FullAtom("stsz", Cat({U32(16), U32(2)})); })); },
     "read_chunk_stsz : 2 frames of 16 bytes do not fit in mdat"},
    {"EndsBeforeMoov", [] { return Cat({test::Ftyp(), Atom("mdat", Bytes(30, 0))}); }, ""},
    {"OnlyAnEmptyMdatBeforeMoov", [] {
       Bytes moov_first = BuildMovie(With([](MovieParts& p) { p.moov_first = true; }));
       // ftyp, an empty 'mdat', then the movie without its own media data.
       const size_t ftyp = test::Ftyp().size();
       Bytes moov(moov_first.begin() + ftyp, moov_first.end() - 38);
       return Cat({test::Ftyp(), Atom("mdat", {}), moov});
     },
     ""},
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class QtMovieReadFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(QtMovieReadFailure, FailsWithItsMessage) {
  Loaded r;
  Load(GetParam().build(), &r);
  EXPECT_EQ(r.ok, 0);
  if (!GetParam().message.empty()) {
    EXPECT_THAT(r.debug, ::testing::HasSubstr(Line(GetParam().message)));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, QtMovieReadFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QtMovieRead, FrameSize65535IsAccepted) {
  Loaded r;
  Load(BuildMovie(With([](MovieParts& p) { p.stsz = test::Stsz({65535, 20}); })), &r);
  ASSERT_EQ(r.ok, 1) << r.debug;
  EXPECT_EQ(r.demux.sample_sizes[0], 65535);
}

TEST(QtMovieRead, ToleratesWhatRealFilesCarry) {
  struct Case {
    const char* name;
    MovieParts parts;
    std::string message;
  };
  // A channel-layout atom (24 bytes) after the ALAC configuration makes the entry 96 bytes.
  const Bytes with_layout = Cat({test::AlacAtom(), test::FullAtom("chan", Bytes(12, 0))});
  const Case cases[] = {
      {"other brand", With([](MovieParts& p) { p.ftyp = test::Ftyp("isom"); }), "read_chunk_ftyp : not M4A file"},
      {"channel layout", With([&](MovieParts& p) { p.stsd = test::Stsd({test::SampleEntry("alac", 2, 16, 44100, with_layout)}); }),
       "read_chunk_stsd :codecdata too large (80) in stsd"},
      {"stts left-over", With([](MovieParts& p) { p.stts = test::FullAtom("stts", Cat({U32(1), U32(2), U32(4096), U32(0)})); }),
       "read_chunk_stts : ehm, size remianing?"},
      {"stsc left-over", With([](MovieParts& p) { p.stsc = test::FullAtom("stsc", Cat({U32(1), U32(1), U32(2), U32(1), U32(0)})); }),
       "read_chunk_stsc : ehm, size remianing?"},
      {"stsz left-over", With([](MovieParts& p) { p.stsz = test::FullAtom("stsz", Cat({U32(0), U32(2), U32(10), U32(20), U32(0)})); }),
       "read_chunk_stsz : ehm, size remianing?\n"},
      {"minf left-over", With([](MovieParts& p) { p.minf_extra = {U32(0)}; }), "read_chunk_minf : oops"},
      {"co64 and others skipped", With([](MovieParts& p) { p.stbl_extra = {test::FullAtom("co64", Bytes(12, 0)), Atom("sgpd", {})}; }), ""},
      {"skipped moov children", With([](MovieParts& p) { p.moov_extra = {Atom("udta", Bytes(5, 1)), Atom("iods", {}), Atom("elst", {})}; }), ""},
      {"rate in configuration only",
       With([](MovieParts& p) { p.stsd = test::Stsd({test::SampleEntry("alac", 2, 16, 0, test::AlacAtom({.sample_rate = 96000}))}); }),
       ""},
  };
  for (const Case& c : cases) {
    for (bool moov_first : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (moov_first ? ", moov first" : ", mdat first"));
      MovieParts p = c.parts;
      p.moov_first = moov_first;
      Loaded r;
      Load(BuildMovie(p), &r);
      ASSERT_EQ(r.ok, 1) << r.debug;
      if (c.message.empty())
        EXPECT_EQ(r.debug, "");
      else
        EXPECT_EQ(r.debug, Line(c.message));
      // Whatever was tolerated, the walk stayed in step: tables and position are right.
      EXPECT_EQ(r.position, int64_t(r.demux.media_data_offset));
      EXPECT_EQ(r.demux.chunk_offsets[0], r.demux.media_data_offset);
      ASSERT_EQ(r.demux.sample_size_count, 2u);
      EXPECT_EQ(r.demux.sample_sizes[1], 20);
      const Bytes config = test::AlacConfigBytes({});
      EXPECT_EQ(Bytes(r.demux.codec_config + 24, r.demux.codec_config + 44), Bytes(config.begin(), config.begin() + 20));
      EXPECT_LE(r.demux.codec_config_len, kCodecConfigSize);
    }
  }
}

TEST(QtMovieRead, RateFromTheConfigurationWhenTheEntryHoldsZero) {
  Loaded r;
  Load(BuildMovie(With([](MovieParts& p) {
         p.stsd = test::Stsd({test::SampleEntry("alac", 2, 16, 0, test::AlacAtom({.sample_rate = 96000}))});
       })),
       &r);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.demux.sound_sample_rate, 96000u);
}

TEST(QtMovieRead, UniformFrameSizeGivesFramesWithoutATable) {
  Loaded r;
  Load(BuildMovie(With([](MovieParts& p) { p.stsz = test::FullAtom("stsz", Cat({U32(15), U32(2)})); })), &r);
  ASSERT_EQ(r.ok, 1) << r.debug;
  EXPECT_EQ(r.demux.sample_size_count, 2u);
  EXPECT_EQ(r.demux.uniform_sample_size, 15u);
  EXPECT_EQ(r.demux.sample_sizes, nullptr);
}

TEST(QtMovieRead, EmptyMdatBeforeMoovIsPassedOver) {
  // ftyp, an empty 'mdat', then a 'moov'-first movie: the stream ends at the real payload.
  const Bytes movie = BuildMovie(With([](MovieParts& p) { p.moov_first = true; }));
  const Bytes rest(movie.begin() + test::Ftyp().size(), movie.end());
  Loaded r;
  Load(Cat({test::Ftyp(), Atom("mdat", {}), rest}), &r);
  ASSERT_EQ(r.ok, 1) << r.debug;
  const int64_t payload = int64_t(movie.size() + 8 - 30);
  EXPECT_EQ(r.position, payload);
  EXPECT_EQ(r.demux.media_data_offset, payload);
}

TEST(QtMovieRead, LaterTrackReplacesTheTablesOfAnEarlierOne) {
  MovieParts p;
  MovieParts second;
  second.stsz = test::Stsz({7, 8, 9});
  second.stts = test::Stts({{3, 4096}});
  p.moov_extra = {test::Trak(test::Minf(test::Smhd(), test::Stbl(second, 36)))};
  Loaded r;
  Load(BuildMovie(p), &r);
  ASSERT_EQ(r.ok, 1) << r.debug;
  ASSERT_EQ(r.demux.sample_size_count, 3u);
  EXPECT_EQ(r.demux.sample_sizes[2], 9);
  EXPECT_EQ(r.demux.duration_runs[0].sample_count, 3u);
}

// A stream that cannot tell its position: the read end of a pipe.
class PipeFile {
 public:
  explicit PipeFile(const Bytes& bytes) {
    int fds[2];
    if (pipe(fds) != 0) return;
    // Fixtures here are far below the pipe's buffer, so one write fills it without a reader.
    EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fds[1]);
    file_ = fdopen(fds[0], "rb");
    stream_init(&stream_, file_);
  }
  ~PipeFile() {
    if (file_) std::fclose(file_);
  }
  FileStream* stream() { return &stream_; }

 private:
  FILE* file_ = nullptr;
  FileStream stream_{};
};

TEST(QtMovieRead, UnseekableStreams) {
  {
    // 'moov' first needs no seeking: the payload is next.
    PipeFile pipe(BuildMovie(With([](MovieParts& p) { p.moov_first = true; })));
    DemuxResult d{};
    EXPECT_EQ(qtmovie_read(pipe.stream(), &d), 1);
    EXPECT_EQ(stream_read_u8(pipe.stream()), 0xAB);
    demux_result_free(&d);
  }
  {
    PipeFile pipe(BuildMovie({}));
    DemuxResult d{};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(qtmovie_read(pipe.stream(), &d), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "stream contains mdat before moov but is not seekable\n");
    demux_result_free(&d);
  }
}

}  // namespace
}  // namespace lossless_reader
