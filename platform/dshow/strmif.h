// The media-graph interfaces filters, pins, allocators, samples, clocks and the graph talk
// through, with the platform's IIDs, method signatures and vtable slot order.
//
// References: an interface pointer returned through an out parameter carries a reference the
// caller releases; an interface pointer passed in is borrowed for the call (the callee adds
// its own reference when it keeps it). AM_MEDIA_TYPE blocks returned by enumerators and
// samples are task memory the caller frees with DeleteMediaType.
#pragma once

#include "guid.h"
#include "evcode.h"
#include "unknwn.h"
#include "vfwmsgs.h"
#include "windows.h"

// Interfaces are destroyed through Release only.
#define CEHOST_INTERFACE_DTOR(name) \
 protected:                         \
  ~name() = default;

typedef DWORD_PTR HEVENT;      // an event HANDLE as IReferenceClock takes it
typedef DWORD_PTR HSEMAPHORE;  // a semaphore HANDLE as IReferenceClock takes it

#define MAX_PIN_NAME 128
#define MAX_FILTER_NAME 128

// A media type: what a connection carries. The format block (cbFormat bytes at pbFormat,
// task memory) is described by formattype; pUnk is an optional extra (usually null).
typedef struct _AMMediaType {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
} AM_MEDIA_TYPE;

typedef enum _PinDirection { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 } PIN_DIRECTION;

typedef enum _FilterState { State_Stopped = 0, State_Paused = 1, State_Running = 2 } FILTER_STATE;

// Buffer negotiation: count, size of each buffer, alignment of each buffer's start (a power
// of two; 1 for none) and the bytes of room reserved in front of each buffer.
typedef struct _AllocatorProperties {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
} ALLOCATOR_PROPERTIES;

typedef enum { Famine = 0, Flood = 1 } QualityMessageType;

typedef struct {
  QualityMessageType Type;
  LONG Proportion;  // 1000 = keep going as now
  REFERENCE_TIME Late;
  REFERENCE_TIME TimeStamp;
} Quality;

struct IFilterGraph;
struct IBaseFilter;
struct IPin;
struct IEnumPins;
struct IEnumFilters;
struct IEnumMediaTypes;
struct IMemAllocator;
struct IMediaSample;
struct IReferenceClock;

typedef struct _PinInfo {
  IBaseFilter* pFilter;  // holds a reference the caller releases
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
} PIN_INFO;

typedef struct _FilterInfo {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;  // holds a reference the caller releases (null outside a graph)
} FILTER_INFO;

DEFINE_GUID(IID_IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IReferenceClock, 0x56A86897, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IMediaFilter, 0x56A86899, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IBaseFilter, 0x56A86895, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IPin, 0x56A86891, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IEnumPins, 0x56A86892, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IEnumFilters, 0x56A86893, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IEnumMediaTypes, 0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
DEFINE_GUID(IID_IFilterGraph, 0x56A8689F, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IMediaSample, 0x56A8689A, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IMemAllocator, 0x56A8689C, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IMemInputPin, 0x56A8689D, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IMediaEventSink, 0x56A868A2, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IQualityControl, 0x56A868A5, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IFileSourceFilter, 0x56A868A6, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(IID_IFileSinkFilter, 0xA2104830, 0x7C70, 0x11CF, 0x8B, 0xCE, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6);
DEFINE_GUID(IID_IMediaSeeking, 0x36B73880, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);
DEFINE_GUID(IID_IAMovieSetup, 0xA3D8CEC0, 0x7E5A, 0x11CF, 0xBB, 0xC5, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x20);
DEFINE_GUID(IID_IQualProp, 0x1BD0ECB0, 0xF8E2, 0x11CE, 0xAA, 0xC6, 0x00, 0x20, 0xAF, 0x0B, 0x99, 0xA3);
DEFINE_GUID(IID_IAMFilterMiscFlags, 0x2DD74950, 0xA890, 0x11D1, 0xAB, 0xE8, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75);

struct IPersist : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) = 0;
  CEHOST_INTERFACE_DTOR(IPersist)
};

// Times are REFERENCE_TIME on the clock's own scale; AdviseTime sets the event once the clock
// reaches baseTime + streamTime; AdvisePeriodic releases the semaphore once per period.
struct IReferenceClock : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                               HEVENT hEvent, DWORD_PTR* pdwAdviseCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                                   HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR dwAdviseCookie) = 0;
  CEHOST_INTERFACE_DTOR(IReferenceClock)
};

struct IMediaFilter : public IPersist {
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
  // tStart: the reference-clock time that stream time 0 corresponds to.
  virtual HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) = 0;
  // VFW_S_STATE_INTERMEDIATE when the last transition has not completed within the timeout.
  virtual HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* pClock) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** pClock) = 0;
  CEHOST_INTERFACE_DTOR(IMediaFilter)
};

struct IBaseFilter : public IMediaFilter {
  virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin** ppPin) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* pInfo) = 0;
  // The graph does not hold a reference on the filter's behalf here and the filter holds
  // none on the graph (the graph owns its filters); null pGraph leaves the graph.
  virtual HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* pVendorInfo) = 0;
  CEHOST_INTERFACE_DTOR(IBaseFilter)
};

struct IPin : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pPin) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* pInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* pPinDir) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* Id) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndOfStream() = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginFlush() = 0;
  virtual HRESULT STDMETHODCALLTYPE EndFlush() = 0;
  virtual HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) = 0;
  CEHOST_INTERFACE_DTOR(IPin)
};

struct IEnumPins : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) = 0;
  CEHOST_INTERFACE_DTOR(IEnumPins)
};

struct IEnumFilters : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cFilters) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** ppEnum) = 0;
  CEHOST_INTERFACE_DTOR(IEnumFilters)
};

struct IEnumMediaTypes : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cMediaTypes) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** ppEnum) = 0;
  CEHOST_INTERFACE_DTOR(IEnumMediaTypes)
};

// The graph as filters see it.
struct IFilterGraph : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* pFilter) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reconnect(IPin* ppin) = 0;
  virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin* ppin) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() = 0;
  CEHOST_INTERFACE_DTOR(IFilterGraph)
};

// Where filters send their events (EC_* codes, evcode.h).
struct IMediaEventSink : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) = 0;
  CEHOST_INTERFACE_DTOR(IMediaEventSink)
};

// GetBuffer flags.
#define AM_GBF_PREVFRAMESKIPPED 1
#define AM_GBF_NOTASYNCPOINT 2
#define AM_GBF_NOWAIT 4

struct IMemAllocator : public IUnknown {
  // pActual receives what was granted, which may differ from the request.
  virtual HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* pProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
  virtual HRESULT STDMETHODCALLTYPE Decommit() = 0;
  // Waits for a free sample unless AM_GBF_NOWAIT; the sample comes with one reference.
  virtual HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                              REFERENCE_TIME* pEndTime, DWORD dwFlags) = 0;
  // Called by a sample whose last reference went away.
  virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* pBuffer) = 0;
  CEHOST_INTERFACE_DTOR(IMemAllocator)
};

struct IMediaSample : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) = 0;
  virtual LONG STDMETHODCALLTYPE GetSize() = 0;
  // S_OK with both times; VFW_S_NO_STOP_TIME with the start only (stop = start + 1);
  // VFW_E_SAMPLE_TIME_NOT_SET without times.
  virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
  // A null start clears the times; a null end sets the start only.
  virtual HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsSyncPoint() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL bIsSyncPoint) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPreroll() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPreroll(BOOL bIsPreroll) = 0;
  virtual LONG STDMETHODCALLTYPE GetActualDataLength() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) = 0;
  // S_OK and a copy (free with DeleteMediaType) when a type is attached; S_FALSE and null
  // when none is.
  virtual HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) = 0;
  // Attaches a copy; null detaches.
  virtual HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* pMediaType) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsDiscontinuity() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL bDiscontinuity) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
  CEHOST_INTERFACE_DTOR(IMediaSample)
};

struct IMemInputPin : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAllocator) = 0;
  virtual HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) = 0;
  // The sample is borrowed for the call; a pin that keeps it adds a reference.
  virtual HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReceiveCanBlock() = 0;
  CEHOST_INTERFACE_DTOR(IMemInputPin)
};

struct IQualityControl : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* pSelf, Quality q) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* piqc) = 0;
  CEHOST_INTERFACE_DTOR(IQualityControl)
};

struct IFileSourceFilter : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) = 0;
  // *ppszFileName is task memory the caller frees.
  virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) = 0;
  CEHOST_INTERFACE_DTOR(IFileSourceFilter)
};

struct IFileSinkFilter : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) = 0;
  CEHOST_INTERFACE_DTOR(IFileSinkFilter)
};

// IMediaSeeking capabilities and SetPositions flags.
enum AM_SEEKING_SEEKING_CAPABILITIES {
  AM_SEEKING_CanSeekAbsolute = 0x1,
  AM_SEEKING_CanSeekForwards = 0x2,
  AM_SEEKING_CanSeekBackwards = 0x4,
  AM_SEEKING_CanGetCurrentPos = 0x8,
  AM_SEEKING_CanGetStopPos = 0x10,
  AM_SEEKING_CanGetDuration = 0x20,
  AM_SEEKING_CanPlayBackwards = 0x40,
  AM_SEEKING_CanDoSegments = 0x80,
  AM_SEEKING_Source = 0x100
};
enum AM_SEEKING_SEEKING_FLAGS {
  AM_SEEKING_NoPositioning = 0x0,
  AM_SEEKING_AbsolutePositioning = 0x1,
  AM_SEEKING_RelativePositioning = 0x2,
  AM_SEEKING_IncrementalPositioning = 0x3,
  AM_SEEKING_PositioningBitsMask = 0x3,
  AM_SEEKING_SeekToKeyFrame = 0x4,
  AM_SEEKING_ReturnTime = 0x8,
  AM_SEEKING_Segment = 0x10,
  AM_SEEKING_NoFlush = 0x20
};

struct IMediaSeeking : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* pCapabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* pCapabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* pDuration) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* pStop) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* pCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                                      LONGLONG Source, const GUID* pSourceFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags,
                                                 LONGLONG* pStop, DWORD dwStopFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRate(double dRate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRate(double* pdRate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* pllPreroll) = 0;
  CEHOST_INTERFACE_DTOR(IMediaSeeking)
};

// Registration of a filter's own setup data (GetSetupData) with the filter mapper.
struct IAMovieSetup : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Register() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unregister() = 0;
  CEHOST_INTERFACE_DTOR(IAMovieSetup)
};

// Frame statistics of a video renderer.
struct IQualProp : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE get_FramesDroppedInRenderer(int* pcFrames) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FramesDrawn(int* pcFramesDrawn) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AvgFrameRate(int* piAvgFrameRate) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Jitter(int* iJitter) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AvgSyncOffset(int* piAvg) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DevSyncOffset(int* piDev) = 0;
  CEHOST_INTERFACE_DTOR(IQualProp)
};

#define AM_FILTER_MISC_FLAGS_IS_RENDERER 0x00000001
#define AM_FILTER_MISC_FLAGS_IS_SOURCE 0x00000002

// Tells the graph what kind of filter this is; the graph counts renderers for EC_COMPLETE.
struct IAMFilterMiscFlags : public IUnknown {
  virtual ULONG STDMETHODCALLTYPE GetMiscFlags() = 0;
  CEHOST_INTERFACE_DTOR(IAMFilterMiscFlags)
};
