// The three questions playback and seeking ask of the container's tables: how long and how
// big is frame i (lookup_sample), where does it start in the file (sample_file_offset), and
// which frame holds a given sound sample (alac_seek, which also moves the stream there).
//
// A frame here is one compressed ALAC frame (a sample in the container's sense); a sound
// sample is one PCM instant of the decoded audio. The tables come from qtmovie_read and may
// say anything: every lookup stays inside them and reports failure rather than guess. Not
// thread-safe: the source filter calls these with its worker stopped or on the worker itself.
#pragma once

#include <cstdint>

#include "demux.h"
#include "file_stream.h"

namespace lossless_reader {

// 1 with frame `index`'s duration (sound samples) and compressed size (bytes); 0 when the index
// is not below sample_size_count or the duration runs do not reach it.
[[nodiscard]] int lookup_sample(const DemuxResult* res, uint32_t index, uint32_t* duration, uint32_t* size);

// Frame `index`'s absolute file offset, or 0 when it cannot be found (index out of range,
// empty or inconsistent chunk tables, an offset past the end of the 'mdat' payload).
[[nodiscard]] uint32_t sample_file_offset(const DemuxResult* res, uint32_t index);

// Moves the stream to the frame holding sound sample `target` (counted from the start of the
// track) and reports that frame's index and its first sound sample, which is at or before
// `target`. 1 on success; 0 (stream not moved) when the target is at or past the end of the
// track or the frame's offset cannot be found or reached.
[[nodiscard]] int alac_seek(const DemuxResult* res, FileStream* stream, uint32_t target, uint32_t* samples_done,
                            uint32_t* frame_index);

}  // namespace lossless_reader
