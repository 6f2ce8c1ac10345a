// Registration data of a filter: its merit, its pins and the media types of each pin, as
// the filter mapper records them (see filter_registration.h for the registry layout).
#pragma once

#include "guid.h"
#include "wintypes.h"

// Merit: how eagerly automatic graph building would pick the filter.
#define MERIT_PREFERRED 0x800000
#define MERIT_NORMAL 0x600000
#define MERIT_UNLIKELY 0x400000
#define MERIT_DO_NOT_USE 0x200000
#define MERIT_SW_COMPRESSOR 0x100000
#define MERIT_HW_COMPRESSOR 0x100050

typedef struct _REGPINTYPES {
  const CLSID* clsMajorType;  // null or GUID_NULL: any
  const CLSID* clsMinorType;  // null or GUID_NULL: any
} REGPINTYPES;

typedef struct _REGFILTERPINS {
  const WCHAR* strName;
  BOOL bRendered;                     // the filter renders this input
  BOOL bOutput;                       // output pin
  BOOL bZero;                         // the filter may have none of this pin
  BOOL bMany;                         // the filter may create many of this pin
  const CLSID* clsConnectsToFilter;   // null or GUID_NULL: any filter
  const WCHAR* strConnectsToPin;      // may be null
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
} REGFILTERPINS;

typedef REGPINTYPES AMOVIESETUP_MEDIATYPE, *PAMOVIESETUP_MEDIATYPE, *LPAMOVIESETUP_MEDIATYPE;
typedef REGFILTERPINS AMOVIESETUP_PIN, *PAMOVIESETUP_PIN, *LPAMOVIESETUP_PIN;

typedef struct _AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const WCHAR* strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
} AMOVIESETUP_FILTER, *PAMOVIESETUP_FILTER, *LPAMOVIESETUP_FILTER;
