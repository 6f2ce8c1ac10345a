// System information, time conversions, memory, modules and files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cehost/module.h"
#include "cehost/text.h"
#include "testsupport.h"
#include "windows.h"

namespace {

TEST(SystemInfo, DeviceGranularityAndScreenSize) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  EXPECT_EQ(info.dwAllocationGranularity, 0x10000u);
  EXPECT_EQ(info.dwPageSize, 4096u);
  {
    cehost::test::ScopedEnv env("CEHOST_SCREEN", std::nullopt);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 480);
  }
  {
    cehost::test::ScopedEnv env("CEHOST_SCREEN", "1280x720");
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 720);
  }
  {
    cehost::test::ScopedEnv env("CEHOST_SCREEN", "garbage");
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
  }
}

TEST(Time, FileTimeCountsFrom1601) {
  const struct {
    SYSTEMTIME st;
    ULONGLONG ft;
  } cases[] = {
      {{1601, 1, 1, 1, 0, 0, 0, 0}, 0ull},
      {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ull},
      {{2000, 2, 2, 29, 12, 30, 15, 250}, 125963010152500000ull},
  };
  for (const auto& c : cases) {
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft));
    EXPECT_EQ((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime, c.ft);
    SYSTEMTIME back;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(std::memcmp(&back, &c.st, sizeof back), 0) << c.st.wYear;
  }
  SYSTEMTIME bad = {2001, 2, 0, 29, 0, 0, 0, 0};  // not a leap year
  FILETIME ft;
  EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  SYSTEMTIME st;
  FileTimeToSystemTime(&now, &st);
  EXPECT_GE(st.wYear, 2024);
}

TEST(Time, CountersAdvance) {
  LARGE_INTEGER f, a, b;
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f.QuadPart, 10000000);
  QueryPerformanceCounter(&a);
  const DWORD t0 = GetTickCount();
  Sleep(20);
  QueryPerformanceCounter(&b);
  EXPECT_GE(b.QuadPart - a.QuadPart, 190000);
  EXPECT_GE(GetTickCount() - t0, 19u);
}

TEST(Memory, LocalAndHeapBlocks) {
  auto* p = static_cast<unsigned char*>(LocalAlloc(LPTR, 100));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(LocalSize(p), 100u);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
  p = static_cast<unsigned char*>(LocalReAlloc(p, 200, LMEM_ZEROINIT));
  EXPECT_EQ(LocalSize(p), 200u);
  EXPECT_EQ(p[199], 0);
  EXPECT_EQ(LocalFree(p), nullptr);

  HANDLE heap = HeapCreate(0, 0, 0);
  void* a = HeapAlloc(heap, HEAP_ZERO_MEMORY, 64);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(HeapSize(heap, 0, a), 64u);
  EXPECT_TRUE(HeapFree(heap, 0, a));
  EXPECT_FALSE(HeapFree(heap, 0, a));  // not a block of this heap any more
  HeapAlloc(heap, 0, 32);              // freed by HeapDestroy
  EXPECT_TRUE(HeapDestroy(heap));
  void* b = HeapAlloc(GetProcessHeap(), 0, 16);
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, b));
}

TEST(Memory, VirtualReservationsSitBelow4GiBOnGranularity) {
  auto* r = static_cast<unsigned char*>(VirtualAlloc(nullptr, 3 * 0x10000, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(r, nullptr);
  const uintptr_t addr = reinterpret_cast<uintptr_t>(r);
  EXPECT_LT(addr + 3 * 0x10000, 0x100000000ull);
  EXPECT_EQ(addr % 0x10000, 0u);
  ASSERT_EQ(VirtualAlloc(r + 0x10000, 0x1000, MEM_COMMIT, PAGE_READWRITE), r + 0x10000);
  r[0x10000] = 7;
  EXPECT_EQ(r[0x10000], 7);
  EXPECT_EQ(VirtualAlloc(r + 0x40000, 0x1000, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_TRUE(VirtualFree(r + 0x10000, 0x1000, MEM_DECOMMIT));
  EXPECT_FALSE(VirtualFree(r, 0x1000, MEM_RELEASE));  // release takes size 0
  EXPECT_TRUE(VirtualFree(r, 0, MEM_RELEASE));
  EXPECT_FALSE(VirtualFree(r, 0, MEM_RELEASE));
  auto* c = static_cast<unsigned char*>(VirtualAlloc(nullptr, 100, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(c, nullptr);
  c[99] = 1;
  EXPECT_TRUE(VirtualFree(c, 0, MEM_RELEASE));
}

TEST(Files, WideOpenAndErrors) {
  cehost::test::TempDir dir;
  const std::u16string path = cehost::FromUtf8((dir / "f\xC3\xA9.bin").string());
  FILE* f = _wfopen(path.c_str(), u"wb");
  ASSERT_NE(f, nullptr);
  std::fputs("data", f);
  std::fclose(f);
  f = _wfopen(path.c_str(), u"rt");
  ASSERT_NE(f, nullptr);
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, 8, f), 4u);
  std::fclose(f);
  EXPECT_EQ(_wremove(path.c_str()), 0);
  EXPECT_EQ(_wfopen(path.c_str(), u"rb"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Modules, LoadFindAndName) {
  EXPECT_EQ(LoadLibraryW(u"no-such-library.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_FALSE(cehost::LastLoaderError().empty());
  HMODULE self = cehost::ModuleFromAddress(reinterpret_cast<const void*>(&GetLastError));
  ASSERT_NE(self, nullptr);
  WCHAR path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(self, path, MAX_PATH), 0u);
  EXPECT_NE(cehost::ToUtf8(path).find("cehost_win32"), std::string::npos);
  EXPECT_NE(GetProcAddress(self, "GetLastError"), nullptr);
  EXPECT_EQ(GetProcAddress(self, "NoSuchExport"), nullptr);
  WCHAR tiny[4];
  EXPECT_EQ(GetModuleFileNameW(self, tiny, 4), 4u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

}  // namespace
