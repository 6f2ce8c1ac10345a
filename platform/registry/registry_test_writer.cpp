// Test helper program: writes values into the registry named by CEHOST_REGISTRY and
// acknowledges every write that returned success with one line "<i>" on standard output, so
// a test can kill it at any moment and know which writes must have survived.
//
//   registry_test_writer <key under HKLM> <value-name prefix> <count, 0 = until killed>
//
// Before the first value it creates <key>\Shared\Deep, which concurrent writers race on.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cehost/text.h"
#include "registry_test_writer.h"
#include "winreg.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: registry_test_writer KEY PREFIX COUNT\n");
    return 2;
  }
  const std::u16string key_path = cehost::FromUtf8(argv[1]);
  const std::u16string prefix = cehost::FromUtf8(argv[2]);
  const unsigned long count = std::strtoul(argv[3], nullptr, 10);

  HKEY key = nullptr;
  LONG r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key_path + u"\\Shared\\Deep").c_str(), 0, nullptr,
                           0, 0, nullptr, &key, nullptr);
  if (r == ERROR_SUCCESS) {
    RegCloseKey(key);
    r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                        nullptr);
  }
  if (r != ERROR_SUCCESS) {
    std::fprintf(stderr, "registry_test_writer: cannot create the key (error %d)\n", r);
    return 1;
  }
  for (unsigned long i = 0; count == 0 || i < count; ++i) {
    const std::vector<BYTE> data = cehost::test::WriterPayload(i);
    r = RegSetValueExW(key, cehost::test::WriterValueName(prefix, i).c_str(), 0, REG_BINARY,
                       data.data(), static_cast<DWORD>(data.size()));
    if (r != ERROR_SUCCESS) {
      std::fprintf(stderr, "registry_test_writer: write %lu failed (error %d)\n", i, r);
      return 1;
    }
    std::printf("%lu\n", i);
    std::fflush(stdout);
  }
  RegCloseKey(key);
  return 0;
}
