// CPushSource: a source filter for tests that delivers a script of buffers on its one output
// pin ("Output"), each with the media type, times and flags the script gives, cut into
// pieces of at most a given size; then end of stream.
//
// The first piece of a buffer carries the buffer's times, media times, flags and attached
// type; the later pieces carry none of them. A buffer whose fillResult is a failure is not
// delivered: the stream ends with that failure (EC_ERRORABORT). Each run from stopped
// delivers the script again from its start.
//
// Threads: the script is fixed at creation; the pin's worker thread delivers it;
// PiecesDelivered may be read from any thread.
#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include "source.h"
#include "sourcestream.h"

namespace cehost {

struct PushBuffer {
  std::vector<BYTE> bytes;
  std::optional<CMediaType> type;  // attached to the first piece
  bool hasTime = false;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  bool hasMediaTime = false;
  LONGLONG mediaStart = 0;
  LONGLONG mediaStop = 0;
  bool syncPoint = false;
  bool preroll = false;
  bool discontinuity = false;
  HRESULT fillResult = S_OK;  // a failure ends the stream here instead
};

struct PushSourceConfig {
  CMediaType outputType;         // offered and required on the output pin
  std::vector<PushBuffer> buffers;
  LONG pieceSize = 0;            // 0: whole buffers
  LONG bufferCount = 4;          // allocator buffers asked for
};

class CPushSource : public CSource {
 public:
  // A new source with one reference.
  static HRESULT Create(PushSourceConfig config, CPushSource** source);

  // Pieces delivered downstream and accepted (S_OK) since the filter was created.
  int PiecesDelivered() const { return m_delivered; }

 private:
  class CPushStream;
  CPushSource(PushSourceConfig config, HRESULT* phr);

  const PushSourceConfig m_config;
  std::atomic<int> m_delivered{0};
};

}  // namespace cehost
