// The device manager: a driver library listed in a private registry, built-in drivers, names
// that do not resolve, handle validation, and calls racing a close.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cehost/device_manager.h"
#include "cehost/module.h"
#include "cehost/text.h"
#include "device_test_driver.h"
#include "test_registry.h"
#include "winreg.h"

namespace {

using cehost::test::ScopedTestRegistry;

const std::u16string kDriverPath = cehost::FromUtf8(DEVICE_TEST_DRIVER);

// Lists a driver under HKLM\Drivers\BuiltIn\<name>.
void ListDriver(const char16_t* name, const std::u16string& dll, const char16_t* prefix,
                DWORD index, DWORD fail_init = 0) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(u"Drivers\\BuiltIn\\") + name).c_str(),
                            0, nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string p = prefix;
  RegSetValueExW(key, u"Dll", 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                 static_cast<DWORD>((dll.size() + 1) * 2));
  RegSetValueExW(key, u"Prefix", 0, REG_SZ, reinterpret_cast<const BYTE*>(p.c_str()),
                 static_cast<DWORD>((p.size() + 1) * 2));
  RegSetValueExW(key, u"Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&index), 4);
  if (fail_init)
    RegSetValueExW(key, u"FailInit", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&fail_init), 4);
  RegCloseKey(key);
}

HANDLE OpenDevice(const char16_t* name) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Keeps the test driver loaded for the test and gives access to its counters.
class TestDriverLibrary {
 public:
  TestDriverLibrary() : module_(LoadLibraryW(kDriverPath.c_str())) {
    auto state = reinterpret_cast<PFN_TEST_DRIVER_STATE>(GetProcAddress(module_, "TST_StateForTesting"));
    state_ = state ? state() : nullptr;
    if (state_) *state_ = TestDriverState{};
  }
  ~TestDriverLibrary() { FreeLibrary(module_); }
  TestDriverState& state() { return *state_; }
  bool ok() const { return state_ != nullptr; }

 private:
  HMODULE module_;
  TestDriverState* state_;
};

TEST(Devices, DriverLibraryFromTheRegistryServesItsDevice) {
  ScopedTestRegistry registry;
  TestDriverLibrary lib;
  ASSERT_TRUE(lib.ok()) << cehost::LastLoaderError();
  ListDriver(u"Test", kDriverPath, u"TST", 3);

  HANDLE h = OpenDevice(u"tst3:");  // prefixes match without regard to case
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(lib.state().inits, 1);
  EXPECT_EQ(std::u16string(lib.state().init_path), u"Drivers\\BuiltIn\\Test");
  EXPECT_EQ(lib.state().access, GENERIC_READ | GENERIC_WRITE);
  EXPECT_EQ(lib.state().share, static_cast<DWORD>(FILE_SHARE_READ));

  // The buffers reach the driver and its answer comes back.
  char in[] = "hello", out[16] = {};
  DWORD returned = 99;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_TEST_ECHO, in, 5, out, sizeof out, &returned, nullptr));
  EXPECT_EQ(returned, 5u);
  EXPECT_STREQ(out, "hello");
  // The driver's status reaches the caller's last error, whatever its value.
  for (DWORD status : {0x80090308u, 0x00090312u, static_cast<DWORD>(ERROR_MORE_DATA)}) {
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_TEST_FAIL, &status, 4, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), status);
  }
  EXPECT_FALSE(DeviceIoControl(h, IOCTL_TEST_ECHO, in, 5, out, 2, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // Read, Write and Seek go to the driver too.
  char buffer[4] = {};
  DWORD moved = 0;
  ASSERT_TRUE(ReadFile(h, buffer, 4, &moved, nullptr));
  EXPECT_EQ(moved, 4u);
  EXPECT_EQ(buffer[3], 'r');
  ASSERT_TRUE(WriteFile(h, buffer, 3, &moved, nullptr));
  EXPECT_EQ(moved, 3u);
  EXPECT_EQ(SetFilePointer(h, 1234, nullptr, FILE_BEGIN), 1234u);

  // A second open uses the active driver; each handle's close reaches it.
  HANDLE h2 = OpenDevice(u"TST3:");
  ASSERT_NE(h2, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lib.state().inits, 1);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_TRUE(CloseHandle(h2));
  EXPECT_EQ(lib.state().closes, 2);
  EXPECT_FALSE(DeviceIoControl(h, IOCTL_TEST_ECHO, in, 5, out, sizeof out, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // Deactivation deinitialises it; the next open loads it afresh.
  ASSERT_TRUE(cehost::DeactivateDevice(u"TST", 3));
  EXPECT_EQ(lib.state().deinits, 1);
  h = OpenDevice(u"TST3:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lib.state().inits, 2);
  CloseHandle(h);
  ASSERT_TRUE(cehost::DeactivateDevice(u"TST", 3));
  EXPECT_EQ(lib.state().deinits, 2);
}

TEST(Devices, NamesWithoutAWorkingDriverFailCleanly) {
  ScopedTestRegistry registry;
  TestDriverLibrary lib;
  ASSERT_TRUE(lib.ok());
  ListDriver(u"Test", kDriverPath, u"TST", 3);
  ListDriver(u"Missing", u"/nonexistent/driver.so", u"BAD", 0);
  ListDriver(u"NoExports", kDriverPath, u"NOP", 1);
  ListDriver(u"Failing", kDriverPath, u"TST", 5, /*fail_init=*/1);
  struct Case {
    const char16_t* name;
    DWORD error;
  };
  const Case cases[] = {
      {nullptr, ERROR_INVALID_PARAMETER},
      {u"", ERROR_INVALID_NAME},
      {u"TST3", ERROR_INVALID_NAME},
      {u"TST3::", ERROR_INVALID_NAME},
      {u"TS3:", ERROR_INVALID_NAME},
      {u"TST10:", ERROR_INVALID_NAME},
      {u"T5T3:", ERROR_INVALID_NAME},
      {u"\u00c4ST3:", ERROR_INVALID_NAME},
      {u"Music\\song.m4a", ERROR_INVALID_NAME},
      {u"XYZ0:", ERROR_FILE_NOT_FOUND},
      {u"TST4:", ERROR_FILE_NOT_FOUND},  // listed with index 3 only
      {u"BAD0:", ERROR_MOD_NOT_FOUND},
      {u"NOP1:", ERROR_PROC_NOT_FOUND},
      {u"TST5:", ERROR_DEVICE_NOT_AVAILABLE},  // the driver's own Init error
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(OpenDevice(c.name), INVALID_HANDLE_VALUE) << (c.name ? cehost::ToUtf8(c.name) : "null");
    EXPECT_EQ(GetLastError(), c.error) << (c.name ? cehost::ToUtf8(c.name) : "null");
  }
  EXPECT_EQ(lib.state().inits, 1);
  EXPECT_EQ(lib.state().deinits, 0) << "a failed Init is not undone with Deinit";
  // A failed activation is retried: once the registry is fixed the device opens.
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Failing", 0, 0, &key), ERROR_SUCCESS);
  RegDeleteValueW(key, u"FailInit");
  RegCloseKey(key);
  HANDLE h = OpenDevice(u"TST5:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);

  // Calls on handles that are not open devices, and buffers that are not there.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD returned;
  for (HANDLE bad : {event, reinterpret_cast<HANDLE>(0x4242), INVALID_HANDLE_VALUE}) {
    EXPECT_FALSE(DeviceIoControl(bad, IOCTL_TEST_ECHO, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetFilePointer(bad, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  }
  EXPECT_FALSE(DeviceIoControl(h, IOCTL_TEST_ECHO, nullptr, 4, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(ReadFile(h, nullptr, 4, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(event);
  CloseHandle(h);
  cehost::DeactivateDevice(u"TST", 5);
}

// A built-in driver that counts its opens and closes and reports its destruction.
class LoopbackDriver : public cehost::StreamDriver {
 public:
  explicit LoopbackDriver(std::atomic<int>* destroyed) : destroyed_(destroyed) {}
  ~LoopbackDriver() override { ++*destroyed_; }
  DWORD Open(DWORD, DWORD) override { return static_cast<DWORD>(++opens); }
  BOOL Close(DWORD open_context) override {
    closed_context = open_context;
    ++closes;
    return TRUE;
  }
  BOOL IOControl(DWORD open_context, DWORD code, BYTE*, DWORD, BYTE* out, DWORD out_size,
                 DWORD* returned) override {
    if (closes.load() > 0) ++calls_after_close;
    if (out_size < 8) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    const DWORD answer[2] = {open_context, code};
    std::memcpy(out, answer, sizeof answer);
    *returned = sizeof answer;
    return TRUE;
  }

  std::atomic<int> opens{0}, closes{0}, calls_after_close{0};
  std::atomic<DWORD> closed_context{0};

 private:
  std::atomic<int>* destroyed_;
};

TEST(Devices, BuiltInDriversRegisterAndOutliveDeactivationWhileOpen) {
  std::atomic<int> destroyed{0};
  auto driver = std::make_shared<LoopbackDriver>(&destroyed);
  LoopbackDriver* raw = driver.get();
  ASSERT_TRUE(cehost::RegisterBuiltInDriver(u"Lpb", 0, driver));
  driver.reset();
  EXPECT_FALSE(cehost::RegisterBuiltInDriver(u"LPB", 0, std::make_shared<LoopbackDriver>(&destroyed)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  for (const char16_t* bad : {u"LP", u"LPBX", u"L9B"}) {
    EXPECT_FALSE(cehost::RegisterBuiltInDriver(bad, 0, std::make_shared<LoopbackDriver>(&destroyed)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_FALSE(cehost::RegisterBuiltInDriver(u"LPB", 10, std::make_shared<LoopbackDriver>(&destroyed)));
  EXPECT_EQ(destroyed.load(), 5) << "the refused drivers are gone, the registered one lives";

  HANDLE h = OpenDevice(u"LPB0:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  ASSERT_TRUE(cehost::DeactivateDevice(u"LPB", 0));
  EXPECT_FALSE(cehost::DeactivateDevice(u"LPB", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
  EXPECT_EQ(OpenDevice(u"LPB0:"), INVALID_HANDLE_VALUE);

  // The open handle still works; Close runs once, after the last of its handles.
  DWORD answer[2] = {}, returned = 0;
  ASSERT_TRUE(DeviceIoControl(h, 0x1234, nullptr, 0, answer, sizeof answer, &returned, nullptr));
  EXPECT_EQ(answer[0], 1u);
  EXPECT_EQ(answer[1], 0x1234u);
  CloseHandle(h);
  EXPECT_EQ(raw->closes.load(), 0);
  ASSERT_TRUE(DeviceIoControl(dup, 0x1, nullptr, 0, answer, sizeof answer, &returned, nullptr));
  EXPECT_EQ(destroyed.load(), 5);
  CloseHandle(dup);
  EXPECT_EQ(destroyed.load(), 6) << "the driver went with its last handle";
}

TEST(Devices, CallsInProgressFinishBeforeTheDriverCloses) {
  std::atomic<int> destroyed{0};
  auto driver = std::make_shared<LoopbackDriver>(&destroyed);
  ASSERT_TRUE(cehost::RegisterBuiltInDriver(u"RAC", 1, driver));
  HANDLE h = OpenDevice(u"RAC1:");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // Four threads call until the handle is gone; it is closed while they are at it.
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      DWORD answer[2], returned;
      while (DeviceIoControl(h, 7, nullptr, 0, answer, sizeof answer, &returned, nullptr)) ++calls;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    });
  }
  while (calls.load() < 400) std::this_thread::yield();
  CloseHandle(h);
  for (auto& t : threads) t.join();
  EXPECT_EQ(driver->closes.load(), 1);
  EXPECT_EQ(driver->closed_context.load(), 1u);
  EXPECT_EQ(driver->calls_after_close.load(), 0) << "a call reached the driver after Close";
  cehost::DeactivateDevice(u"RAC", 1);
}

}  // namespace
