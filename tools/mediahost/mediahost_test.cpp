// The mediahost program as a user runs it: help, argument errors, and a selfcheck against a
// private registry that it leaves as it found it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_registry.h"
#include "winreg.h"

namespace {

using Outcome = cehost::test::CommandOutcome;

Outcome Mediahost(const std::string& args) { return cehost::test::RunProgram(MEDIAHOST, args); }

TEST(Mediahost, SelfcheckPassesAndLeavesTheRegistryAsItWas) {
  cehost::test::ScopedTestRegistry registry;
  const Outcome run = Mediahost("selfcheck");
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(cehost::test::CountLines(run.out), 6u) << run.out;
  EXPECT_EQ(run.out.find("[FAIL]"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(registry.path().string()), std::string::npos) << "names its database";
  EXPECT_NE(run.out.find("selfcheck: all 5 checks passed\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");

  DWORD subkeys = 99, values = 99;
  ASSERT_EQ(RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, &subkeys, nullptr,
                             nullptr, &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 0u) << "the scratch key was removed";
  EXPECT_EQ(values, 0u);
}

TEST(Mediahost, HelpAndArgumentErrors) {
  struct Case {
    const char* args;
    int exit_code;
    const char* out_has;  // "" when nothing is expected on standard output
    const char* err_has;  // "" when standard error must be empty; else it is one line
  };
  const Case cases[] = {
      {"--help", 0, "selfcheck", ""},
      {"-h", 0, "usage: mediahost <command>", ""},
      {"selfcheck --help", 0, "usage: mediahost selfcheck", ""},
      {"", 2, "", "mediahost: no command given"},
      {"play-it-again", 2, "", "mediahost: unknown command 'play-it-again'"},
      {"selfcheck extra", 2, "", "mediahost selfcheck: unexpected argument 'extra'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("mediahost ") + c.args);
    const Outcome run = Mediahost(c.args);
    EXPECT_EQ(run.exitCode, c.exit_code);
    if (*c.out_has)
      EXPECT_NE(run.out.find(c.out_has), std::string::npos) << run.out;
    else
      EXPECT_EQ(run.out, "");
    if (*c.err_has) {
      EXPECT_EQ(run.err.rfind(c.err_has, 0), 0u) << run.err;
      EXPECT_EQ(cehost::test::CountLines(run.err), 1u) << run.err;
    } else {
      EXPECT_EQ(run.err, "");
    }
  }
}

}  // namespace
