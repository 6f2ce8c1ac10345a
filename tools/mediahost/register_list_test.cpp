// register, list and unregister as a user runs them, on a filter library built for the test
// and a private registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <string>

#include "filter_registration.h"
#include "test_registry.h"
#include "winreg.h"

namespace {

using Outcome = cehost::test::CommandOutcome;

Outcome Mediahost(const std::string& args) { return cehost::test::RunProgram(MEDIAHOST, args); }

const CLSID kSink = {0x7D2C5E91, 0x3A4B, 0x4C5D, {0x9E, 0x6F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x65}};
const CLSID kHelper = {0x7D2C5E91, 0x3A4B, 0x4C5D, {0x9E, 0x6F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x66}};

TEST(MediahostRegister, RegisterListUnregister) {
  cehost::test::ScopedTestRegistry registry;
  const std::string library = std::string("'") + TEST_FILTER_LIBRARY + "'";

  Outcome run = Mediahost("list");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "no filters registered\n");

  run = Mediahost("register " + library);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, std::string("registered ") + TEST_FILTER_LIBRARY + "\n");
  EXPECT_EQ(run.err, "");

  run = Mediahost("list");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string expected = std::string(
                                   "Mediahost Test Sink\n"
                                   "  CLSID   {7D2C5E91-3A4B-4C5D-9E6F-102132435465}\n"
                                   "  merit   0x00200000 (do not use)\n"
                                   "  library ") +
                               TEST_FILTER_LIBRARY +
                               " (threading model Both)\n"
                               "  pin \"Input\": input, rendered, connects to pin \"Output\"\n"
                               "    Audio / PCM\n"
                               "    Video / 'H264' {34363248-0000-0010-8000-00AA00389B71}\n"
                               "  pin \"Output\": output, optional\n"
                               "    Audio / any\n";
  EXPECT_EQ(run.out, expected);

  // The same entries, read back by this process.
  cehost::dshow::RegisteredFilter filter;
  ASSERT_EQ(cehost::dshow::ReadFilterRegistration(kSink, &filter), S_OK);
  EXPECT_EQ(filter.pins.size(), 2u);
  EXPECT_TRUE(cehost::dshow::IsComClassRegistered(kHelper));

  run = Mediahost("unregister " + library);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, std::string("unregistered ") + TEST_FILTER_LIBRARY + "\n");
  run = Mediahost("list");
  EXPECT_EQ(run.out, "no filters registered\n");
  EXPECT_FALSE(cehost::dshow::IsComClassRegistered(kSink));
  EXPECT_FALSE(cehost::dshow::IsComClassRegistered(kHelper));
  EXPECT_EQ(cehost::dshow::ReadFilterRegistration(kSink, &filter), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST(MediahostRegister, FailuresAreOneLineAndNonZero) {
  cehost::test::ScopedTestRegistry registry;
  struct Case {
    std::string args;
    int exitCode;
    std::string errPart;
  };
  const Case cases[] = {
      {"register /nonexistent/Nothing.so", 1, "/nonexistent/Nothing.so: no such library"},
      {"register NoSuchDeliverable", 1, "NoSuchDeliverable.so: no such library"},
      {std::string("register '") + NOT_A_SERVER_LIBRARY + "'", 1, "not a COM server (no DllRegisterServer)"},
      {std::string("unregister '") + NOT_A_SERVER_LIBRARY + "'", 1, "not a COM server (no DllUnregisterServer)"},
      {"register --force", 2, "unknown option '--force'"},
      {"list extra", 2, "unexpected argument 'extra'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome run = Mediahost(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(cehost::test::CountLines(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("mediahost ", 0), 0u) << run.err;
  }

  // A damaged registration is reported, not guessed at.
  ASSERT_EQ(Mediahost(std::string("register '") + TEST_FILTER_LIBRARY + "'").exitCode, 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Filters\\{7D2C5E91-3A4B-4C5D-9E6F-102132435465}", 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const DWORD notAString = 5;
  ASSERT_EQ(RegSetValueExW(key, u"FriendlyName", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&notAString), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);
  const Outcome run = Mediahost("list");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "mediahost list: the registration of {7D2C5E91-3A4B-4C5D-9E6F-102132435465} is damaged\n");
}

TEST(MediahostRegister, EveryCommandHasHelp) {
  for (const char* command : {"register", "unregister", "list"}) {
    SCOPED_TRACE(command);
    const Outcome run = Mediahost(std::string(command) + " --help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind(std::string("usage: mediahost ") + command, 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
  }
  const Outcome all = Mediahost("--help");
  EXPECT_NE(all.out.find("  register "), std::string::npos);
  EXPECT_NE(all.out.find("  list "), std::string::npos);
}

}  // namespace
