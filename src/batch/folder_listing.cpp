#include "batch/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace corvanta {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool IsDirectoryEntry(const std::string& path, const dirent& entry) {
    if (entry.d_type != DT_UNKNOWN) {
        return entry.d_type == DT_DIR;
    }
    // Some file systems leave the type open; ask without following links.
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return false;  // vanished or unreadable: let the conversion report it
    }
    return S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<std::vector<std::string>> ListFolderFiles(const std::string& folder,
                                                        FolderOrder order) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) {
        return std::nullopt;
    }
    // A folder given with its trailing slash should not produce "dir//name".
    const std::string prefix = !folder.empty() && folder.back() == '/' ? folder : folder + "/";

    std::vector<std::string> files;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                return std::nullopt;  // a listing cut short would drop files silently
            }
            break;
        }
        if (entry->d_name[0] == '.') {
            continue;  // hidden files, "." and ".."
        }
        std::string path = prefix + entry->d_name;
        if (!IsDirectoryEntry(path, *entry)) {
            files.push_back(std::move(path));
        }
    }
    if (order == FolderOrder::kByName) {
        std::sort(files.begin(), files.end());
    }
    return files;
}

}  // namespace corvanta
