#include "server_entry.h"

#include <cstdio>
#include <filesystem>

#include "cehost/module.h"
#include "cehost/text.h"
#include "deliverables.h"
#include "windows.h"

namespace mediahost {
namespace {

typedef HRESULT (*ServerEntry)(void);

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Empty on success, else the reason for the one failure line.
std::string CallOne(const std::filesystem::path& path, const char* entry, bool implicit, bool* skipped) {
  *skipped = false;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return "no such library";
  HMODULE module = LoadLibraryW(cehost::FromUtf8(path.string()).c_str());
  if (!module) return "cannot load it: " + cehost::LastLoaderError();
  std::string why;
  auto function = reinterpret_cast<ServerEntry>(GetProcAddress(module, entry));
  if (!function) {
    if (implicit)
      *skipped = true;
    else
      why = std::string("not a COM server (no ") + entry + ")";
  } else {
    const HRESULT hr = function();
    if (FAILED(hr)) why = std::string(entry) + " failed with " + Hex(hr);
  }
  FreeLibrary(module);
  return why;
}

}  // namespace

int CallServerEntry(const Command& command, const std::vector<std::string>& args, const char* entry,
                    const char* verb) {
  std::vector<std::filesystem::path> libraries;
  const bool implicit = args.empty();
  for (const std::string& arg : args) {
    if (!arg.empty() && arg[0] == '-') return UsageError(command, "unknown option '" + arg + "'");
    libraries.push_back(ResolveLibrary(arg));
  }
  if (implicit) {
    for (const std::string& name : DeliverableNames()) libraries.push_back(LibraryDirectory() / (name + ".so"));
    if (libraries.empty()) {
      std::printf("no deliverable libraries in this build\n");
      return 0;
    }
  }
  int exitCode = 0;
  for (const std::filesystem::path& path : libraries) {
    bool skipped = false;
    const std::string why = CallOne(path, entry, implicit, &skipped);
    if (!why.empty()) {
      std::fprintf(stderr, "mediahost %s: %s: %s\n", command.name, path.c_str(), why.c_str());
      exitCode = kExitFailure;
    } else if (skipped) {
      std::printf("skipped %s (not a COM server)\n", path.c_str());
    } else {
      std::printf("%s %s\n", verb, path.c_str());
    }
  }
  return exitCode;
}

}  // namespace mediahost
