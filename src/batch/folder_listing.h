// Expanding a dropped folder into the files it holds, one level deep.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvanta {

enum class FolderOrder {
    kDirectory,  // as the file system returns the entries (the window)
    kByName,     // sorted by name, byte by byte (the command line: reproducible runs)
};

// Every entry of folder that is not a directory, judged without following
// symbolic links (a link counts as a file, even a dangling one), and whose
// name does not start with a dot, as folder + "/" + name. Nothing when the
// folder cannot be read.
std::optional<std::vector<std::string>> ListFolderFiles(const std::string& folder,
                                                        FolderOrder order);

}  // namespace corvanta
