// What the pieces of the decoder's confinement share inside the room.
#pragma once

#include <string>
#include <string_view>
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

// The locale, and where gdk-pixbuf's loaders are: with no loader found it
// looks for them again, and must find what the server found. All a decoder
// keeps of its environment.
bool DecoderKeeps(std::string_view variable);

// Reading only below the system's read-only folders the loaders use (/usr,
// fonts and their cache, the MIME database) and in tempFolder; writing,
// creating and removing only in tempFolder (nowhere when it is null or
// empty); executing nothing; with Landlock ABI 4 and later no TCP either,
// with 6 and later no signal or abstract socket beyond this process. True
// where the kernel lacks Landlock.
bool RestrictFileSystem(const char* tempFolder);

// The allow-list: a call outside it ends the process with SIGSYS, except
// those libraries probe for and fall back from, which fail. True where the
// kernel has no seccomp.
bool FilterSystemCalls();

}  // namespace corvanta::decoder
