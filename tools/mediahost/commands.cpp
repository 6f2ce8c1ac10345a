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
    {"play", "play an M4A (ALAC) file through the Lossless Reader Filter",
     "FILE.m4a [--out OUT.wav] [--start SECONDS]",
     "Registers this build's LosslessReader library if the registry does not name it yet,\n"
     "creates the filter by its CLSID, loads FILE through IFileSourceFilter and plays it.\n"
     "With --out the 16-bit PCM goes to the WAV file OUT as fast as it decodes; it is written\n"
     "as OUT.part and renamed when complete, so a failed run leaves nothing behind. Without\n"
     "--out the audio plays in real time against the system clock into a null audio sink (no\n"
     "sound device). --start begins at that many seconds: playback restarts at the frame\n"
     "holding the whole second. Progress shows on a terminal. Files of 20, 24 or 32 bits per\n"
     "sample and 96000 Hz files are refused with the reason; the exit code is then 1.",
     RunPlay},
};

}  // namespace

std::span<const Command> Commands() { return kCommands; }

int UsageError(const Command& command, const std::string& message) {
  std::fprintf(stderr, "mediahost %s: %s (see 'mediahost %s --help')\n", command.name,
               message.c_str(), command.name);
  return kExitUsage;
}

}  // namespace mediahost
