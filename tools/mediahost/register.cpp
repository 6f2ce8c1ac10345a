// mediahost register: runs the DllRegisterServer of deliverable libraries.
#include "command.h"
#include "server_entry.h"

namespace mediahost {

int RunRegister(const Command& self, const std::vector<std::string>& args) {
  return CallServerEntry(self, args, "DllRegisterServer", "registered");
}

}  // namespace mediahost
