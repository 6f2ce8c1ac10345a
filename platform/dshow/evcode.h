// Event codes a filter sends to its graph through IMediaEventSink::Notify (NotifyEvent).
#pragma once

// Every renderer sends EC_COMPLETE (param1 a status, param2 the filter's IBaseFilter) when
// its stream has been rendered to the end; the graph passes one EC_COMPLETE (param2 0) on to
// the application once every renderer has done so.
#define EC_COMPLETE 0x01
#define EC_USERABORT 0x02
// param1: the failure HRESULT. The stream stopped; the graph should be stopped.
#define EC_ERRORABORT 0x03
#define EC_TIME 0x04
#define EC_REPAINT 0x05
#define EC_STREAM_ERROR_STOPPED 0x06
#define EC_STREAM_ERROR_STILLPLAYING 0x07
#define EC_ERROR_STILLPLAYING 0x08
#define EC_VIDEO_SIZE_CHANGED 0x0A
#define EC_QUALITY_CHANGE 0x0B
#define EC_SHUTTING_DOWN 0x0C
#define EC_CLOCK_CHANGED 0x0D
#define EC_PAUSED 0x0E
#define EC_STARVATION 0x17
// Codes from EC_USER up are private to a filter and its application.
#define EC_USER 0x8000
