#include "testsupport.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace cehost::test {

std::filesystem::path SourcePath(const std::string& relative) {
  const char* root = std::getenv("CEHOST_SOURCE_DIR");
  std::filesystem::path base = root ? root : std::filesystem::current_path();
  return base / relative;
}

std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

CommandOutcome RunProgram(const std::string& program, const std::string& args) {
  TempDir dir;
  const std::string command = "'" + program + "' " + args + " >'" + (dir / "out").string() + "' 2>'" +
                              (dir / "err").string() + "'";
  const int status = std::system(command.c_str());
  CommandOutcome run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFileText(dir / "out");
  run.err = ReadFileText(dir / "err");
  return run;
}

size_t CountLines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "cehost-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value)
    setenv(name_.c_str(), value->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    setenv(name_.c_str(), old_->c_str(), 1);
  else
    unsetenv(name_.c_str());
}

}  // namespace cehost::test
