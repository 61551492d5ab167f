// The output folder remembered between runs: a small key file beside the
// preset store (the store's own 496 bytes have no room for it), read once at
// start-up and written by the store's rules: under the folder's lock,
// merged into what the file holds, replaced atomically.
#pragma once

#include <optional>
#include <string>

namespace corvanta {

constexpr const char* kFolderKeyFileName = "Corvanta.ini";

// The key file beside the preset store at storePath (in the folder of the
// file the store's links end in).
std::string FolderKeyFilePath(const std::string& storePath);

// The folder the key file at path remembers; nothing when the file is
// missing, unreadable, not a key file or names no folder.
std::optional<std::string> ReadRememberedFolder(const std::string& path);

// Sets the remembered folder in the key file at path, keeping every other
// group and key it holds; the caller holds the folder's lock. Empty on
// success, else the reason for the user.
std::string WriteRememberedFolder(const std::string& path, const std::string& folder);

}  // namespace corvanta
