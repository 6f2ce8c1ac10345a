// The command table. A new command adds its line here and its Run function in its own file.
#include <cstdio>

#include "command.h"

namespace mediahost {

namespace {

const Command kCommands[] = {
    {"selfcheck", "exercise the host layer and report each check", "",
     "Runs kernel objects and a thread, a registry round trip in a scratch key (removed again),\n"
     "the device manager and the physical-memory arena, and COM task memory and GUID text.\n"
     "Prints one line per check and a verdict; exits 0 when every check passed.",
     RunSelfcheck},
};

}  // namespace

std::span<const Command> Commands() { return kCommands; }

int UsageError(const Command& command, const std::string& message) {
  std::fprintf(stderr, "mediahost %s: %s (see 'mediahost %s --help')\n", command.name,
               message.c_str(), command.name);
  return kExitUsage;
}

}  // namespace mediahost
