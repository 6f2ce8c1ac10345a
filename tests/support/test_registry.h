// A private registry for one test: points CEHOST_REGISTRY at a fresh database file in a
// temporary directory and makes the registry reopen it; on destruction the registry is closed
// and the previous environment restored. Tests that use it link cehost_registry.
//
//   TEST(Thing, Works) {
//     cehost::test::ScopedTestRegistry registry;
//     HKEY key;
//     ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\X", ...), ERROR_SUCCESS);
//   }
//
// Child processes started while it lives inherit the variable and so use the same database.
#pragma once

#include "cehost/registry.h"
#include "testsupport.h"

namespace cehost::test {

class ScopedTestRegistry {
 public:
  ScopedTestRegistry() : env_("CEHOST_REGISTRY", (dir_ / "registry.db").string()) {
    cehost::ReopenRegistry();
  }
  // Closes the database before the variable is restored and the directory removed.
  ~ScopedTestRegistry() { cehost::ReopenRegistry(); }
  ScopedTestRegistry(const ScopedTestRegistry&) = delete;
  ScopedTestRegistry& operator=(const ScopedTestRegistry&) = delete;

  std::filesystem::path path() const { return dir_ / "registry.db"; }

 private:
  TempDir dir_;
  ScopedEnv env_;
};

}  // namespace cehost::test
