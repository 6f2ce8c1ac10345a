// Helpers for tests: the source tree's fixtures, private temporary directories and scoped
// environment variables.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cehost::test {

// A path under the source tree (for fixtures), from CEHOST_SOURCE_DIR, which ctest sets.
std::filesystem::path SourcePath(const std::string& relative);

// Reads a whole file; fails the test (and returns empty) when it cannot.
std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path);

// A fresh directory removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Sets (or, with nullopt, unsets) an environment variable for the object's lifetime.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace cehost::test
