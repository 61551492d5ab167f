// Landlock for the decoder, with the rights of every ABI up to the best the
// kernel offers. The rights of later ABIs than this system's headers know
// are spelt out here.
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "common/scoped_fd.h"
#include "decoder/confinement.h"
#include "decoder/confinement_inside.h"

namespace corvanta::decoder {
namespace {

using Rights = std::uint64_t;

constexpr Rights kExecute = 1U << 0;
constexpr Rights kWriteFile = 1U << 1;
constexpr Rights kReadFile = 1U << 2;
constexpr Rights kReadDir = 1U << 3;
constexpr Rights kMakeAndRemove = 0x1FF0;  // REMOVE_DIR .. MAKE_SYM
constexpr Rights kRefer = 1U << 13;        // ABI 2
constexpr Rights kTruncate = 1U << 14;     // ABI 3
constexpr Rights kIoctlDev = 1U << 15;     // ABI 5
constexpr Rights kNetTcp = 0x3;            // ABI 4: bind and connect
constexpr Rights kScopes = 0x3;            // ABI 6: abstract sockets and signals
constexpr int kAbiNet = 4;
constexpr int kAbiScopes = 6;

// The kernel's ruleset attributes as ABI 6 lays them out; earlier ABIs
// read only their first fields.
struct RulesetAttributes {
    Rights handledFs = 0;
    Rights handledNet = 0;
    Rights scoped = 0;
};

constexpr std::size_t AttributesSize(int abi) {
    if (abi >= kAbiScopes) {
        return sizeof(RulesetAttributes);
    }
    return abi >= kAbiNet ? 2 * sizeof(Rights) : sizeof(Rights);
}

Rights WriteRights(int abi) {
    Rights rights = kWriteFile | kMakeAndRemove;
    rights |= abi >= 2 ? kRefer : 0;
    rights |= abi >= 3 ? kTruncate : 0;
    return rights;
}

bool AddFolder(int rules, const char* folder, Rights allowed) {
    const ScopedFd beneath(::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!beneath.Valid()) {
        return true;  // a folder that is not there needs no rule
    }
    landlock_path_beneath_attr rule{};
    rule.allowed_access = allowed;
    rule.parent_fd = beneath.Get();
    return syscall(SYS_landlock_add_rule, rules, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

}  // namespace

int LandlockAbi() {
    const long abi =
        syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

bool RestrictFileSystem(const char* tempFolder) {
    const int abi = LandlockAbi();
    if (abi == 0) {
        return errno == ENOSYS || errno == EOPNOTSUPP;
    }
    const Rights reads = kReadFile | kReadDir;
    const Rights writes = WriteRights(abi);
    RulesetAttributes attributes;
    attributes.handledFs = reads | writes | kExecute | (abi >= 5 ? kIoctlDev : 0);
    attributes.handledNet = abi >= kAbiNet ? kNetTcp : 0;
    attributes.scoped = abi >= kAbiScopes ? kScopes : 0;
    const ScopedFd rules(static_cast<int>(
        syscall(SYS_landlock_create_ruleset, &attributes, AttributesSize(abi), 0)));
    if (!rules.Valid()) {
        return false;
    }
    // A read rule that cannot be added leaves its folder closed, which is
    // safe; only the temporary folder must be usable.
    for (const std::string& folder : ReadableFolders()) {
        AddFolder(rules.Get(), folder.c_str(), reads);
    }
    if (tempFolder != nullptr && *tempFolder != '\0' &&
        !AddFolder(rules.Get(), tempFolder, reads | writes)) {
        return false;
    }
    return syscall(SYS_landlock_restrict_self, rules.Get(), 0) == 0;
}

}  // namespace corvanta::decoder
