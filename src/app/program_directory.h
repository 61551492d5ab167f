// Where the program's own files live: the directory of the running executable.
#pragma once

#include <string>

namespace corvanta {

// The directory part, with its trailing slash, of /proc/self/exe; when that
// link cannot be read, of argv0. "./" when neither names a directory.
std::string FindProgramDirectory(const char* argv0);

// The directory part of path up to and including its last '/'.
std::string DirectoryOf(const std::string& path);

}  // namespace corvanta
