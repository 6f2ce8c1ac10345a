// CRefTime: a REFERENCE_TIME (100 ns units) with arithmetic and millisecond helpers; it
// converts to and from REFERENCE_TIME freely.
#pragma once

#include "windows.h"

#define MILLISECONDS (1000)
#define NANOSECONDS (1000000000)
#define UNITS (NANOSECONDS / 100)  // REFERENCE_TIME units per second
#define MAX_TIME 0x7FFFFFFFFFFFFFFFLL

class CRefTime {
 public:
  REFERENCE_TIME m_time = 0;

  CRefTime() = default;
  CRefTime(REFERENCE_TIME rt) : m_time(rt) {}  // NOLINT: converts like the device's class
  CRefTime& operator=(REFERENCE_TIME rt) {
    m_time = rt;
    return *this;
  }
  operator REFERENCE_TIME() const { return m_time; }
  CRefTime& operator+=(const CRefTime& rt) {
    m_time += rt.m_time;
    return *this;
  }
  CRefTime& operator-=(const CRefTime& rt) {
    m_time -= rt.m_time;
    return *this;
  }
  LONG Millisecs() const { return static_cast<LONG>(m_time / (UNITS / MILLISECONDS)); }
  REFERENCE_TIME GetUnits() const { return m_time; }
};

inline REFERENCE_TIME MILLISECONDS_TO_100NS_UNITS(LONGLONG ms) { return ms * (UNITS / MILLISECONDS); }
