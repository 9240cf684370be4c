#include "Sandbox.h"

#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace salvo::arc {
namespace {

// Rights of later kernels than the headers of the build may know.
constexpr uint64_t kTruncate = 1ULL << 14;  // version 3
constexpr uint64_t kIoctlDev = 1ULL << 15;  // version 5
constexpr uint64_t kNetBindTcp = 1ULL << 0; // version 4
constexpr uint64_t kNetConnectTcp = 1ULL << 1;
constexpr uint64_t kScopeAbstractUnix = 1ULL << 0; // version 6
constexpr uint64_t kScopeSignal = 1ULL << 1;

// The ruleset attribute as the kernel reads it; its size tells which fields it has.
struct RulesetAttr {
    uint64_t fs = 0;
    uint64_t net = 0;
    uint64_t scoped = 0;
};

struct PathBeneath {
    uint64_t allowed;
    int32_t parentFd;
} __attribute__((packed));

constexpr uint64_t kReadRights = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;

uint64_t handledRights(int abi)
{
    uint64_t rights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE
        | LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE
        | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG
        | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK
        | LANDLOCK_ACCESS_FS_MAKE_SYM | LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= kTruncate;
    if (abi >= 5)
        rights |= kIoctlDev;
    return rights;
}

} // namespace

void forbidNewPrivileges()
{
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

int landlockAbi()
{
    static const int abi = [] {
        const long v = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
        return v >= 2 ? static_cast<int>(v) : 0;
    }();
    return abi;
}

bool confineTo(const std::vector<int> &writable, const std::vector<int> &readable, const std::vector<FileGrant> &files)
{
    const int abi = landlockAbi();
    if (abi == 0)
        return false;
    RulesetAttr attr;
    attr.fs = handledRights(abi);
    size_t size = sizeof attr.fs;
    if (abi >= 4) {
        attr.net = kNetBindTcp | kNetConnectTcp;
        size += sizeof attr.net;
    }
    if (abi >= 6) {
        attr.scoped = kScopeAbstractUnix | kScopeSignal;
        size += sizeof attr.scoped;
    }
    const int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0)
        return false;
    const uint64_t writing = attr.fs & ~(LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_MAKE_CHAR
                                         | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO
                                         | LANDLOCK_ACCESS_FS_MAKE_SOCK | kIoctlDev);
    bool ok = true;
    for (const auto &[folders, rights] : {std::pair{&writable, writing}, std::pair{&readable, kReadRights}}) {
        for (const int fd : *folders) {
            const PathBeneath rule{rights, fd};
            ok = ok && syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
        }
    }
    for (const FileGrant &file : files) {
        const PathBeneath rule{LANDLOCK_ACCESS_FS_READ_FILE | (file.run ? LANDLOCK_ACCESS_FS_EXECUTE : 0), file.fd};
        ok = ok && syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
    }
    ok = ok && syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    close(ruleset);
    return ok;
}

} // namespace salvo::arc
