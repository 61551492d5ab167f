// What the pieces of the decoder's confinement share inside the room.
#pragma once

#include <string>
#include <vector>

namespace corvanta::decoder {

constexpr const char* kSystemFolder = "/usr";

// The folders a decoder may read besides its temporary folder, noted by
// PrepareConfinement in the server; none lies inside another.
const std::vector<std::string>& ReadableFolders();

// The best Landlock ABI this kernel offers, 0 for none.
int LandlockAbi();
bool SystemCallFilterAvailable();

// Compiles the allow-list once, in the server, for every decoder it forks.
void CompileSystemCallFilter();

}  // namespace corvanta::decoder
