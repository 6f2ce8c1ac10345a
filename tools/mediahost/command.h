// The commands of mediahost, the user's command-line front door to the host: one entry per
// command in the table of commands.cpp, each command's code in its own source file.
//
// main() finds the command by name, answers "mediahost <command> --help" with its usage, and
// runs it with the remaining arguments. A command prints its results on standard output and
// any failure as one line on standard error, and returns the exit code: 0 on success,
// kExitFailure when the work failed, kExitUsage for bad arguments (UsageError prints the line).
//
// Threads: commands run on the main thread and may start their own.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace mediahost {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Command {
  const char* name;
  const char* summary;  // one line for "mediahost --help"
  const char* usage;    // what follows "mediahost <name>" in the usage line, may be ""
  const char* details;  // further lines for "mediahost <name> --help", may be ""
  int (*run)(const Command& self, const std::vector<std::string>& args);
};

// Every command, in the order "mediahost --help" lists them.
std::span<const Command> Commands();

// Prints "mediahost <command>: <message>" on standard error; returns kExitUsage.
int UsageError(const Command& command, const std::string& message);

// The commands (one source file each).
int RunSelfcheck(const Command& self, const std::vector<std::string>& args);
int RunRegister(const Command& self, const std::vector<std::string>& args);
int RunUnregister(const Command& self, const std::vector<std::string>& args);
int RunList(const Command& self, const std::vector<std::string>& args);
int RunPlay(const Command& self, const std::vector<std::string>& args);

}  // namespace mediahost
