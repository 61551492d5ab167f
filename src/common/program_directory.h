// Where the running executable lives (Corvanta.dat is kept beside it), and
// the user's configuration folder (where it is kept otherwise).
#pragma once

#include <string>

#include "common/path_parts.h"  // DirectoryPart

namespace corvanta {

// The directory of the executable with a trailing "/", read from the link
// /proc/self/exe; when that cannot be read, the directory part of
// firstArgument (argv[0]) is used, and "./" when it has none.
std::string FindProgramDirectory(const char* firstArgument);

// Remembers argv[0] for RunningProgramPath; called first thing in main().
void RememberProgramArgument(const char* firstArgument);

// The real path of the running executable (links resolved): /proc/self/exe,
// else the remembered argv[0] (resolved against the working folder or PATH,
// as the shell found it); empty when neither can be resolved.
std::string RunningProgramPath();

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute
// path, else $HOME/.config. A relative value means nothing (the XDG Base
// Directory rules say to ignore it): it would put the files under whatever
// folder the program was started from.
std::string UserConfigDirectory();

}  // namespace corvanta
