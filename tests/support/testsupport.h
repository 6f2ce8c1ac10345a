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

// A file's whole content as text; empty when it cannot be read.
std::string ReadFileText(const std::filesystem::path& path);

// What a program run through the shell did: its exit code (-1 when it did not exit
// normally) and everything it wrote to standard output and to standard error.
struct CommandOutcome {
  int exitCode = -1;
  std::string out, err;
};

// Runs `program` (quoted here) with `args` (shell text, quoted by the caller).
CommandOutcome RunProgram(const std::string& program, const std::string& args);

// The number of newline characters in `text`.
size_t CountLines(const std::string& text);

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
