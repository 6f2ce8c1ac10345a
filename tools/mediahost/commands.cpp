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
    {"register", "register filter libraries as COM servers and filters", "[LIB...]",
     "Calls each library's DllRegisterServer, which records the library in the registry\n"
     "(HKEY_CLASSES_ROOT\\CLSID) and its filters with the filter mapper. LIB is a path to a\n"
     "library or the name of a deliverable of this build (looked up as <name>.so in the lib/\n"
     "directory beside mediahost's bin/). Without LIB, every deliverable of the build is\n"
     "registered; those that are not COM servers are skipped.",
     RunRegister},
    {"unregister", "remove what register recorded", "[LIB...]",
     "Calls each library's DllUnregisterServer, which removes its COM and filter entries.\n"
     "LIB and the default are as for register.",
     RunUnregister},
    {"list", "list the registered filters", "",
     "Prints every filter registered with the filter mapper, as the registry holds it: its\n"
     "name, CLSID, merit and library, and each pin with its direction and media types.",
     RunList},
};

}  // namespace

std::span<const Command> Commands() { return kCommands; }

int UsageError(const Command& command, const std::string& message) {
  std::fprintf(stderr, "mediahost %s: %s (see 'mediahost %s --help')\n", command.name,
               message.c_str(), command.name);
  return kExitUsage;
}

}  // namespace mediahost
