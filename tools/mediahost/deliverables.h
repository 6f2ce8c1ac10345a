// Where mediahost finds the deliverable libraries: <Name>.so in the build's lib/ directory,
// next to the bin/ directory that holds mediahost itself.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mediahost {

// The deliverables of this build (cehost_add_deliverable), by name, as generated at
// configure time.
const std::vector<std::string>& DeliverableNames();

// <directory of this program>/../lib
std::filesystem::path LibraryDirectory();

// A command-line library argument as a path: one with a '/' or ending in ".so" is taken as
// it is, a bare name means <LibraryDirectory>/<name>.so.
std::filesystem::path ResolveLibrary(const std::string& argument);

}  // namespace mediahost
