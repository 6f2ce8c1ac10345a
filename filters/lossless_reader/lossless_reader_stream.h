// CLosslessReaderStream: the output pin "Output" of CLosslessReaderFilter. Its worker thread
// reads the file's compressed frames in order, decodes them and delivers the PCM in samples
// of 128 KB (4 buffers), time-stamped from 0 at each start or seek; it also answers
// IMediaSeeking (media time; rate 1.0 only).
//
// Samples hold whole sound samples only. A decoded frame that does not fit in what is left of
// a sample continues at the start of the next one, so nothing is dropped whatever the frame
// size. The position compared with the stop time follows the audio actually delivered: after
// a seek it starts at the first sound sample of the frame the decoder restarted at.
//
// Seeking lands on whole seconds and frame starts: a new start, stop or rate while the worker
// exists flushes downstream, stops the worker, repositions the decoder at the frame holding
// (whole seconds of the position) x rate and restarts the worker, which marks a discontinuity
// and announces the new segment. A seek while stopped takes effect when the worker starts,
// which positions the decoder at the start position the same way.
//
// Threads: the seeking calls come from the application's thread; OnThreadCreate, FillBuffer
// and OnThreadStartPlay run on the worker. m_csStream (also the seeking base's lock) guards
// the positions, the rate and the discontinuity flag, is held for the whole of each
// FillBuffer, and is never held while the worker is stopped or started; the decoder state in
// the filter is only touched under it (by the worker, or by the application's thread while
// the worker is stopped).
#pragma once

#include "mtype.h"
#include "sourceseeking.h"
#include "sourcestream.h"

namespace lossless_reader {

class CLosslessReaderFilter;

class CLosslessReaderStream : public CSourceStream, public CSourceSeeking {
 public:
  // Bytes of one delivered sample and how many the allocator keeps.
  static constexpr LONG kSampleBytes = 131072;
  static constexpr LONG kSampleCount = 4;
  // The duration and stop position until a file is loaded (60 s).
  static constexpr REFERENCE_TIME kDefaultDuration = 600000000;

  // pFilter: the owning filter, which the pin adds itself to. *phr receives a failure.
  CLosslessReaderStream(HRESULT* phr, CLosslessReaderFilter* pFilter);
  ~CLosslessReaderStream() override;

  DECLARE_IUNKNOWN
  // Adds IMediaSeeking (the CSourceSeeking part); everything else is CSourceStream's.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // The filter's output type (empty before Load).
  HRESULT GetMediaType(CMediaType* pmt) override;
  // 4 samples of 128 KB; E_FAIL when the allocator grants smaller ones.
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  // Quality messages are ignored.
  STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;
  // Only 1.0 is accepted (E_INVALIDARG otherwise, nothing changes).
  STDMETHODIMP SetRate(double dRate) override;

  // The loaded file's length, which also becomes the stop position (Load, while stopped).
  void SetDuration(REFERENCE_TIME duration);

 protected:
  HRESULT FillBuffer(IMediaSample* pSample) override;
  HRESULT OnThreadCreate() override;
  HRESULT OnThreadDestroy() override;
  HRESULT OnThreadStartPlay() override;

  HRESULT ChangeStart() override;
  HRESULT ChangeStop() override;
  HRESULT ChangeRate() override;

 private:
  // Flushes, stops the worker, repositions the decoder at m_rtPosition's whole second and
  // restarts the worker; nothing when there is no worker. newStart (a new start position):
  // the position is the start and the time stamps begin at 0 again. Called without m_csStream.
  void UpdateFromSeek(bool newStart);
  // Moves the decoder to the frame holding sound sample (whole seconds of `position`) x rate
  // and sets m_rtPosition to that frame's start. false (nothing moved) when alac_seek fails.
  // m_csStream held; the worker is stopped or is the caller.
  bool Reposition(REFERENCE_TIME position);
  // Decodes the next frame into the filter's frame buffer. S_FALSE after a message at the end
  // of the frames or at a frame that cannot be read. m_csStream held, on the worker.
  HRESULT DecodeNextFrame();

  CLosslessReaderFilter* const m_pReader;  // the owning filter

  // Guarded by m_csStream.
  BYTE m_bDiscontinuity = TRUE;  // the next sample is marked as a discontinuity
  REFERENCE_TIME m_rtPosition = 0;    // media position of the next sample; compared with m_rtStop
  REFERENCE_TIME m_rtStreamTime = 0;  // time stamp of the next sample before rate scaling
  CCritSec m_csStream;
};

}  // namespace lossless_reader
