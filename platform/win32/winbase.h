// Kernel services of the device: last error, handles and waits, events, semaphores, mutexes,
// critical sections, threads and priorities, interlocked operations, memory, system
// information, time, code pages, debug output and C run-time files over UTF-16 paths.
//
// Every function here may be called from any thread. Handles are validated: a handle that
// was never issued, or was closed, gives ERROR_INVALID_HANDLE instead of a crash.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

#include "winerror.h"
#include "wintypes.h"

extern "C" {

// ---- Last error (per thread) ----
CEHOST_EXPORT DWORD GetLastError(void);
CEHOST_EXPORT void SetLastError(DWORD dwErrCode);

// ---- Handles and waits ----
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

CEHOST_EXPORT BOOL CloseHandle(HANDLE hObject);
CEHOST_EXPORT BOOL DuplicateHandle(HANDLE hSourceProcess, HANDLE hSource, HANDLE hTargetProcess,
                                   LPHANDLE lpTarget, DWORD dwDesiredAccess, BOOL bInherit,
                                   DWORD dwOptions);
CEHOST_EXPORT DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
CEHOST_EXPORT DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                           DWORD dwMilliseconds);
#define DUPLICATE_SAME_ACCESS 0x00000002

// ---- Events, semaphores, mutexes ----
CEHOST_EXPORT HANDLE CreateEventW(LPSECURITY_ATTRIBUTES lpAttributes, BOOL bManualReset,
                                  BOOL bInitialState, LPCWSTR lpName);
CEHOST_EXPORT BOOL SetEvent(HANDLE hEvent);
CEHOST_EXPORT BOOL ResetEvent(HANDLE hEvent);
CEHOST_EXPORT BOOL PulseEvent(HANDLE hEvent);
CEHOST_EXPORT HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES lpAttributes, LONG lInitialCount,
                                      LONG lMaximumCount, LPCWSTR lpName);
CEHOST_EXPORT BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount);
CEHOST_EXPORT HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpAttributes, BOOL bInitialOwner,
                                  LPCWSTR lpName);
CEHOST_EXPORT BOOL ReleaseMutex(HANDLE hMutex);
#define CreateEvent CreateEventW
#define CreateSemaphore CreateSemaphoreW
#define CreateMutex CreateMutexW

// ---- Critical sections ----
// Recursive, owned by one thread at a time. The storage holds the host's mutex in place, so
// a CRITICAL_SECTION may be embedded in any object, as on the device.
typedef struct _CRITICAL_SECTION {
  alignas(8) unsigned char Storage[64];
  DWORD OwnerThread;  // thread id of the owner, 0 when free; read it with __atomic_load_n
  DWORD LockCount;    // recursion depth; touched only by the owner
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

CEHOST_EXPORT void InitializeCriticalSection(LPCRITICAL_SECTION cs);
CEHOST_EXPORT void DeleteCriticalSection(LPCRITICAL_SECTION cs);
CEHOST_EXPORT void EnterCriticalSection(LPCRITICAL_SECTION cs);
CEHOST_EXPORT BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
CEHOST_EXPORT void LeaveCriticalSection(LPCRITICAL_SECTION cs);

// ---- Threads ----
typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;
#define CREATE_SUSPENDED 0x00000004
#define STILL_ACTIVE 259u

// Relative priorities of SetThreadPriority; the device maps them onto 248..255 of its 0..255
// scale (0 is the highest). Real-time priorities below 248 are set with CeSetThreadPriority.
#define THREAD_PRIORITY_TIME_CRITICAL 0
#define THREAD_PRIORITY_HIGHEST 1
#define THREAD_PRIORITY_ABOVE_NORMAL 2
#define THREAD_PRIORITY_NORMAL 3
#define THREAD_PRIORITY_BELOW_NORMAL 4
#define THREAD_PRIORITY_LOWEST 5
#define THREAD_PRIORITY_ABOVE_IDLE 6
#define THREAD_PRIORITY_IDLE 7
#define THREAD_PRIORITY_ERROR_RETURN 0x7fffffff
#define CE_THREAD_PRIO_256_NORMAL 251

CEHOST_EXPORT HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpAttributes, SIZE_T dwStackSize,
                                  LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                  DWORD dwCreationFlags, LPDWORD lpThreadId);
CEHOST_EXPORT DWORD ResumeThread(HANDLE hThread);
CEHOST_EXPORT HANDLE GetCurrentThread(void);
CEHOST_EXPORT DWORD GetCurrentThreadId(void);
CEHOST_EXPORT HANDLE GetCurrentProcess(void);
CEHOST_EXPORT DWORD GetCurrentProcessId(void);
CEHOST_EXPORT BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
CEHOST_EXPORT BOOL SetThreadPriority(HANDLE hThread, int nPriority);
CEHOST_EXPORT int GetThreadPriority(HANDLE hThread);
CEHOST_EXPORT BOOL CeSetThreadPriority(HANDLE hThread, int nPriority);
CEHOST_EXPORT int CeGetThreadPriority(HANDLE hThread);
CEHOST_EXPORT void Sleep(DWORD dwMilliseconds);

// ---- Interlocked operations (sequentially consistent) ----
CEHOST_EXPORT LONG InterlockedIncrement(LONG volatile* p);
CEHOST_EXPORT LONG InterlockedDecrement(LONG volatile* p);
CEHOST_EXPORT LONG InterlockedExchange(LONG volatile* p, LONG value);
CEHOST_EXPORT LONG InterlockedExchangeAdd(LONG volatile* p, LONG value);
CEHOST_EXPORT LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand);
CEHOST_EXPORT PVOID InterlockedExchangePointer(PVOID volatile* p, PVOID value);
CEHOST_EXPORT PVOID InterlockedCompareExchangePointer(PVOID volatile* p, PVOID exchange,
                                                      PVOID comparand);

// ---- Memory ----
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define HEAP_ZERO_MEMORY 0x00000008
#define HEAP_NO_SERIALIZE 0x00000001

CEHOST_EXPORT HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
CEHOST_EXPORT HLOCAL LocalReAlloc(HLOCAL hMem, SIZE_T uBytes, UINT uFlags);
CEHOST_EXPORT HLOCAL LocalFree(HLOCAL hMem);
CEHOST_EXPORT SIZE_T LocalSize(HLOCAL hMem);
CEHOST_EXPORT HANDLE GetProcessHeap(void);
CEHOST_EXPORT HANDLE HeapCreate(DWORD flOptions, SIZE_T dwInitialSize, SIZE_T dwMaximumSize);
CEHOST_EXPORT BOOL HeapDestroy(HANDLE hHeap);
CEHOST_EXPORT LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
CEHOST_EXPORT LPVOID HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes);
CEHOST_EXPORT BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
CEHOST_EXPORT SIZE_T HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem);

#define MEM_COMMIT 0x00001000
#define MEM_RESERVE 0x00002000
#define MEM_DECOMMIT 0x00004000
#define MEM_RELEASE 0x00008000
#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_NOCACHE 0x200
#define PAGE_PHYSICAL 0x400

// Reservations are placed below 4 GiB, so their addresses fit the 32-bit fields of driver
// records as they do on the device.
CEHOST_EXPORT LPVOID VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType,
                                  DWORD flProtect);
CEHOST_EXPORT BOOL VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);

// ---- System information ----
typedef struct _SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

CEHOST_EXPORT void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);
// SM_CXSCREEN / SM_CYSCREEN: the panel size, 800 x 480 unless the environment variable
// CEHOST_SCREEN ("WIDTHxHEIGHT") says otherwise. Other indexes give 0.
CEHOST_EXPORT int GetSystemMetrics(int nIndex);

// ---- Time ----
CEHOST_EXPORT DWORD GetTickCount(void);
CEHOST_EXPORT DWORD timeGetTime(void);
CEHOST_EXPORT BOOL QueryPerformanceCounter(LARGE_INTEGER* lpCount);
CEHOST_EXPORT BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
CEHOST_EXPORT void GetSystemTimeAsFileTime(LPFILETIME lpTime);
CEHOST_EXPORT void GetSystemTime(LPSYSTEMTIME lpTime);
CEHOST_EXPORT void GetLocalTime(LPSYSTEMTIME lpTime);
CEHOST_EXPORT BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
CEHOST_EXPORT BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);

// ---- Code pages and character classes ----
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400

// The ANSI code page is Windows-1252 and the OEM code page is 437; both are fixed here.
CEHOST_EXPORT UINT GetACP(void);
CEHOST_EXPORT UINT GetOEMCP(void);
CEHOST_EXPORT int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                      int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
CEHOST_EXPORT int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                      int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                      LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
// Case mapping is Unicode's simple mapping, the same in every locale.
CEHOST_EXPORT LPWSTR CharUpperW(LPWSTR lpsz);
CEHOST_EXPORT LPWSTR CharLowerW(LPWSTR lpsz);
CEHOST_EXPORT DWORD CharUpperBuffW(LPWSTR lpsz, DWORD cchLength);
CEHOST_EXPORT DWORD CharLowerBuffW(LPWSTR lpsz, DWORD cchLength);

// Character class bits of iswctype. _ALPHA includes _UPPER and _LOWER, so the mask
// _ALPHA | _DIGIT (0x107) asks "letter or digit".
#define _UPPER 0x0001
#define _LOWER 0x0002
#define _DIGIT 0x0004
#define _SPACE 0x0008
#define _PUNCT 0x0010
#define _CONTROL 0x0020
#define _BLANK 0x0040
#define _HEX 0x0080
#define _ALPHA (0x0100 | _UPPER | _LOWER)

// ---- Debug output ----
// Written to standard error when the environment variable CEHOST_DEBUG is set (to anything
// but "0"), and always offered to a test's capture hook (see cehost/debug_capture.h).
CEHOST_EXPORT void OutputDebugStringW(LPCWSTR lpOutputString);
CEHOST_EXPORT void OutputDebugStringA(LPCSTR lpOutputString);
CEHOST_EXPORT void NKDbgPrintfW(LPCWSTR lpszFmt, ...);

// ---- Modules ----
CEHOST_EXPORT HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
CEHOST_EXPORT BOOL FreeLibrary(HMODULE hLibModule);
CEHOST_EXPORT void* GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName);
CEHOST_EXPORT void* GetProcAddressA(HMODULE hModule, LPCSTR lpProcName);
// The path of the shared library holding `address` (any code or data address in it).
CEHOST_EXPORT DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
#define GetProcAddress GetProcAddressA

}  // extern "C"

// ---- Wide character functions of the C run time, on UTF-16 code units ----
// Overloads of the C library names for WCHAR; they never see the 32-bit wchar_t.
CEHOST_EXPORT WCHAR towupper(WCHAR c);
CEHOST_EXPORT WCHAR towlower(WCHAR c);
// The class bits of c that are in mask (0 when none).
CEHOST_EXPORT int iswctype(WCHAR c, unsigned short mask);

// ---- C run-time files over UTF-16 paths (the paths are converted to UTF-8) ----
CEHOST_EXPORT FILE* _wfopen(const WCHAR* path, const WCHAR* mode);
CEHOST_EXPORT int _wremove(const WCHAR* path);
CEHOST_EXPORT int _wrename(const WCHAR* from, const WCHAR* to);
