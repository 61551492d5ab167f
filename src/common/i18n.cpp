#include "common/i18n.h"

#include <sys/stat.h>

#include <string>

#include "common/program_directory.h"
#include "install_names.h"

namespace corvanta {
namespace {

constexpr const char* kLocaleFromBindir = "../share/locale";

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

void InitTranslations() {
    const std::string self = RunningProgramPath();
    std::string folder = self.empty() ? std::string() : DirectoryPart(self) + kLocaleFromBindir;
    if (folder.empty() || !IsFolder(folder)) {
        folder = CORVANTA_INSTALLED_LOCALEDIR;
    }
    bindtextdomain(kTextDomain, folder.c_str());
    bind_textdomain_codeset(kTextDomain, "UTF-8");
    textdomain(kTextDomain);
}

}  // namespace corvanta
