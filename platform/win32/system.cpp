// System information, screen metrics and time.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "winbase.h"

namespace {

// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr ULONGLONG kEpochDelta = 116444736000000000ull;

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

ULONGLONG MonotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000000000ull + static_cast<ULONGLONG>(ts.tv_nsec);
}

bool ScreenSize(int* width, int* height) {
  *width = 800;
  *height = 480;
  const char* env = std::getenv("CEHOST_SCREEN");
  if (!env) return true;
  int w = 0, h = 0;
  char tail = 0;
  if (std::sscanf(env, "%dx%d%c", &w, &h, &tail) == 2 && w > 0 && h > 0 && w <= 8192 && h <= 8192) {
    *width = w;
    *height = h;
  }
  return true;
}

}  // namespace

extern "C" {

void GetSystemInfo(LPSYSTEM_INFO info) {
  if (!info) return;
  *info = SYSTEM_INFO{};
  info->wProcessorArchitecture = 5;  // ARM, the device's processor
  info->dwPageSize = 4096;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFF);
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  info->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
  info->dwActiveProcessorMask = info->dwNumberOfProcessors >= 32 ? 0xFFFFFFFFu
                                : ((1u << info->dwNumberOfProcessors) - 1);
  info->dwAllocationGranularity = 0x10000;
}

int GetSystemMetrics(int nIndex) {
  int w, h;
  ScreenSize(&w, &h);
  switch (nIndex) {
    case SM_CXSCREEN: return w;
    case SM_CYSCREEN: return h;
    default: return 0;
  }
}

DWORD GetTickCount(void) { return static_cast<DWORD>(MonotonicNs() / 1000000ull); }
DWORD timeGetTime(void) { return GetTickCount(); }

// The counter runs at 10 MHz, so one tick is one REFERENCE_TIME unit.
BOOL QueryPerformanceCounter(LARGE_INTEGER* lpCount) {
  if (!lpCount) return FALSE;
  lpCount->QuadPart = static_cast<LONGLONG>(MonotonicNs() / 100);
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
  if (!lpFrequency) return FALSE;
  lpFrequency->QuadPart = 10000000;
  return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME lpTime) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  const ULONGLONG t = kEpochDelta + static_cast<ULONGLONG>(ts.tv_sec) * 10000000ull +
                      static_cast<ULONGLONG>(ts.tv_nsec) / 100;
  lpTime->dwLowDateTime = static_cast<DWORD>(t);
  lpTime->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
  if (!ft || !st) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const ULONGLONG t = (static_cast<ULONGLONG>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
  if (t >= 0x8000000000000000ull) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const ULONGLONG ms = t / 10000;
  const long long days = static_cast<long long>(ms / 86400000ull);
  const ULONGLONG in_day = ms % 86400000ull;
  int y;
  unsigned m, d;
  // Day 0 of FILETIME is 1601-01-01, which is 134774 days before 1970-01-01.
  CivilFromDays(days - 134774, &y, &m, &d);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(d);
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  st->wHour = static_cast<WORD>(in_day / 3600000);
  st->wMinute = static_cast<WORD>(in_day / 60000 % 60);
  st->wSecond = static_cast<WORD>(in_day / 1000 % 60);
  st->wMilliseconds = static_cast<WORD>(in_day % 1000);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
  if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 ||
      st->wDay < 1 || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
      st->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (st->wYear % 4 == 0 && st->wYear % 100 != 0) || st->wYear % 400 == 0;
  if (st->wDay > kDays[st->wMonth - 1] + (st->wMonth == 2 && leap ? 1 : 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const long long days = DaysFromCivil(st->wYear, st->wMonth, st->wDay) + 134774;
  const ULONGLONG ms = static_cast<ULONGLONG>(days) * 86400000ull + st->wHour * 3600000ull +
                       st->wMinute * 60000ull + st->wSecond * 1000ull + st->wMilliseconds;
  const ULONGLONG t = ms * 10000;
  ft->dwLowDateTime = static_cast<DWORD>(t);
  ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
  return TRUE;
}

void GetSystemTime(LPSYSTEMTIME lpTime) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  FileTimeToSystemTime(&ft, lpTime);
}

void GetLocalTime(LPSYSTEMTIME lpTime) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  lpTime->wYear = static_cast<WORD>(local.tm_year + 1900);
  lpTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
  lpTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  lpTime->wDay = static_cast<WORD>(local.tm_mday);
  lpTime->wHour = static_cast<WORD>(local.tm_hour);
  lpTime->wMinute = static_cast<WORD>(local.tm_min);
  lpTime->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
  lpTime->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

}  // extern "C"
