// mediahost: finds the command named by the first argument and runs it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"

namespace {

bool IsHelp(const char* arg) { return !std::strcmp(arg, "--help") || !std::strcmp(arg, "-h"); }

void PrintHelp() {
  std::printf("usage: mediahost <command> [arguments]\n"
              "       mediahost <command> --help\n\n"
              "Runs the player's plug-in components on this machine through the host layer.\n\n"
              "Commands:\n");
  for (const mediahost::Command& c : mediahost::Commands())
    std::printf("  %-12s %s\n", c.name, c.summary);
  std::printf("\nEnvironment: CEHOST_REGISTRY names the registry database file; CEHOST_DEBUG=1\n"
              "copies the components' debug output to standard error.\n");
}

void PrintCommandHelp(const mediahost::Command& c) {
  std::printf("usage: mediahost %s%s%s\n\n%s\n", c.name, *c.usage ? " " : "", c.usage, c.summary);
  if (*c.details) std::printf("\n%s\n", c.details);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "mediahost: no command given (see 'mediahost --help')\n");
    return mediahost::kExitUsage;
  }
  if (IsHelp(argv[1])) {
    PrintHelp();
    return 0;
  }
  for (const mediahost::Command& c : mediahost::Commands()) {
    if (std::strcmp(c.name, argv[1]) != 0) continue;
    if (argc > 2 && IsHelp(argv[2])) {
      PrintCommandHelp(c);
      return 0;
    }
    return c.run(c, std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "mediahost: unknown command '%s' (see 'mediahost --help')\n", argv[1]);
  return mediahost::kExitUsage;
}
