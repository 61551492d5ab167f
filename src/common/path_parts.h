// The parts of a path as every room splits it: by its last "/".
#pragma once

#include <string>
#include <string_view>

namespace corvanta {

// Everything behind the last "/" (the whole path when it has none).
std::string_view FileNamePart(std::string_view path);

// The directory part up to and including the last "/", or "./".
std::string DirectoryPart(const std::string& path);

// The folder a path names its file in, without a trailing "/": "." for a
// bare name, "/" for a name at the root.
std::string FolderOf(const std::string& path);

}  // namespace corvanta
