// Preloaded into corvanta-convert by the tests: a kernel (or a system-call
// filter) without memfd_create.
#include <errno.h>

int memfd_create(const char* name, unsigned int flags) {
    (void)name;
    (void)flags;
    errno = ENOSYS;
    return -1;
}
