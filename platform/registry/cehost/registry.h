// Host-side control of the registry: where its database lives and how a process switches to
// another database file.
//
// The registry opens its database at the first registry call of the process, from the path
// RegistryPath() gives at that moment, and keeps it open. A process that changes
// CEHOST_REGISTRY afterwards (a test pointing the registry at a private file) calls
// ReopenRegistry() to make the change take effect.
//
// Threads: both functions may be called from any thread. Processes: a child made with fork()
// runs exec before it uses the registry (the database connection is not carried across).
#pragma once

#include <string>

#include "wintypes.h"

namespace cehost {

// The database file: the environment variable CEHOST_REGISTRY when it is set and not empty,
// else $XDG_DATA_HOME/cehost/registry.db, else ~/.local/share/cehost/registry.db. Missing
// directories are created when the database is opened.
CEHOST_EXPORT std::string RegistryPath();

// Closes the database. Every HKEY opened so far becomes invalid (ERROR_INVALID_HANDLE); the
// predefined roots stay usable. The next registry call opens the file RegistryPath() names.
// Calls of other threads that are in progress finish on the old database first.
CEHOST_EXPORT void ReopenRegistry();

}  // namespace cehost
