// Calling a COM server library's DllRegisterServer or DllUnregisterServer, for the register
// and unregister commands.
#pragma once

#include <string>
#include <vector>

#include "command.h"

namespace mediahost {

// Loads each library (arguments, or every deliverable of the build when there are none),
// calls its `entry` export and reports one line per library: "<verb> <path>" on standard
// output, or "mediahost <command>: <path>: <why>" on standard error. With no arguments a
// deliverable without the export (a driver, not a COM server) is skipped with a note.
// Returns 0 when every call succeeded, kExitFailure otherwise.
int CallServerEntry(const Command& command, const std::vector<std::string>& args, const char* entry,
                    const char* verb);

}  // namespace mediahost
