#include "deliverables.h"

#include "cehost/text.h"
#include "windows.h"

namespace mediahost {

std::filesystem::path LibraryDirectory() {
  WCHAR path[4096];
  const DWORD n = GetModuleFileNameW(nullptr, path, 4096);
  const std::filesystem::path program = n ? cehost::ToUtf8(std::u16string_view(path, n)) : "mediahost";
  return (program.parent_path().parent_path() / "lib").lexically_normal();
}

std::filesystem::path ResolveLibrary(const std::string& argument) {
  const bool isPath = argument.find('/') != std::string::npos ||
                      (argument.size() > 3 && argument.compare(argument.size() - 3, 3, ".so") == 0);
  return isPath ? std::filesystem::path(argument) : LibraryDirectory() / (argument + ".so");
}

}  // namespace mediahost
