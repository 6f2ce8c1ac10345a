// The registry under concurrent use: threads of one process, two processes writing at once,
// and a process killed with SIGKILL in the middle of its writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "registry_test_writer.h"
#include "test_registry.h"
#include "winreg.h"

extern char** environ;

namespace {

using cehost::test::ScopedTestRegistry;
using cehost::test::WriterPayload;
using cehost::test::WriterValueName;

// A running registry_test_writer with its standard output on a pipe.
class Writer {
 public:
  Writer(const std::string& key, const std::string& prefix, unsigned long count) {
    int fds[2];
    if (pipe(fds) != 0) {
      ADD_FAILURE() << "pipe failed";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string count_text = std::to_string(count);
    const char* argv[] = {REGISTRY_TEST_WRITER, key.c_str(), prefix.c_str(), count_text.c_str(),
                          nullptr};
    const int rc = posix_spawn(&pid_, REGISTRY_TEST_WRITER, &actions, nullptr,
                               const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      ADD_FAILURE() << "cannot start " << REGISTRY_TEST_WRITER;
      close(fds[0]);
      pid_ = -1;
      return;
    }
    out_ = fdopen(fds[0], "r");
  }
  ~Writer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (out_) std::fclose(out_);
  }

  // Reads acknowledgements until `n` more arrived (or, with n = 0, until the pipe ends);
  // only complete lines count. Returns false when the pipe ended first.
  bool ReadAcks(size_t n) {
    char* line = nullptr;
    size_t cap = 0;
    const size_t want = acks_.size() + n;
    bool ok = true;
    while (n == 0 || acks_.size() < want) {
      const ssize_t len = out_ ? getline(&line, &cap, out_) : -1;
      if (len <= 0 || line[len - 1] != '\n') {
        ok = n == 0;
        break;
      }
      acks_.push_back(std::strtoul(line, nullptr, 10));
    }
    std::free(line);
    return ok;
  }

  // Waits for the process; returns its wait status.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  void Kill() { kill(pid_, SIGKILL); }

  const std::vector<unsigned long>& acks() const { return acks_; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::vector<unsigned long> acks_;
};

// Every acknowledged value is there with its payload.
void ExpectValues(const char16_t* key_path, const std::u16string& prefix,
                  const std::vector<unsigned long>& acks) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ, &key), ERROR_SUCCESS);
  size_t wrong = 0;
  for (unsigned long i : acks) {
    std::vector<BYTE> data(256);
    DWORD size = static_cast<DWORD>(data.size());
    const LONG r = RegQueryValueExW(key, WriterValueName(prefix, i).c_str(), nullptr, nullptr,
                                    data.data(), &size);
    if (r != ERROR_SUCCESS || data != WriterPayload(i)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u) << "of " << acks.size() << " acknowledged writes";
  RegCloseKey(key);
}

TEST(RegistryConcurrency, ThreadsWritingAndReadingAtOnceLoseNothing) {
  ScopedTestRegistry registry;
  constexpr int kThreads = 4, kWrites = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      HKEY key = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Threads\\Shared", 0, nullptr, 0, 0, nullptr,
                                &key, nullptr),
                ERROR_SUCCESS);
      for (int i = 0; i < kWrites; ++i) {
        const DWORD v = static_cast<DWORD>(t * 1000 + i);
        const std::u16string name = WriterValueName(u"t" + std::u16string(1, static_cast<char16_t>(u'0' + t)) + u"_", i);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&v), 4),
                  ERROR_SUCCESS);
        DWORD count = 0;
        ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &count, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
      }
      RegCloseKey(key);
    });
  }
  for (auto& t : threads) t.join();
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Threads\\Shared", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD count = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, static_cast<DWORD>(kThreads * kWrites));
  RegCloseKey(key);
}

TEST(RegistryConcurrency, TwoProcessesWritingAtOnceLoseNothing) {
  ScopedTestRegistry registry;
  constexpr unsigned long kWrites = 150;
  // Both start on a database file that does not exist yet, so they also race to create it.
  Writer a("Race", "a", kWrites), b("Race", "b", kWrites);
  EXPECT_TRUE(a.ReadAcks(0));
  EXPECT_TRUE(b.ReadAcks(0));
  const int sa = a.Wait(), sb = b.Wait();
  ASSERT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0) << "status " << sa;
  ASSERT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0) << "status " << sb;
  ASSERT_EQ(a.acks().size(), kWrites);
  ASSERT_EQ(b.acks().size(), kWrites);

  ExpectValues(u"Race", u"a", a.acks());
  ExpectValues(u"Race", u"b", b.acks());
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Race", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD subkeys = 0, values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 2 * kWrites);
  EXPECT_EQ(subkeys, 1u) << "both writers created Race\\Shared\\Deep; it exists once";
  RegCloseKey(key);
}

TEST(RegistryConcurrency, KilledWriterLeavesEveryAcknowledgedWrite) {
  ScopedTestRegistry registry;
  Writer writer("Crash", "v", 0);
  ASSERT_TRUE(writer.ReadAcks(100));
  writer.Kill();
  const int status = writer.Wait();
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  writer.ReadAcks(0);  // acknowledgements still in the pipe were given before the kill

  // The file is a consistent database...
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(registry.path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
            SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);

  // ...holding every write that was acknowledged.
  ExpectValues(u"Crash", u"v", writer.acks());
}

}  // namespace
