// mediahost unregister: runs the DllUnregisterServer of deliverable libraries.
#include "command.h"
#include "server_entry.h"

namespace mediahost {

int RunUnregister(const Command& self, const std::vector<std::string>& args) {
  return CallServerEntry(self, args, "DllUnregisterServer", "unregistered");
}

}  // namespace mediahost
