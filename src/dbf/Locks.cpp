#include "dbf/Locks.h"

#include <cerrno>
#include <fcntl.h>

namespace qev::dbf::locks {

bool lock(int fd, off_t offset, off_t length, bool exclusive, bool wait) {
    struct flock fl {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = length;
    fl.l_pid = 0;
    for (;;) {
        if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void unlock(int fd, off_t offset, off_t length) {
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = offset;
    fl.l_len = length;
    fl.l_pid = 0;
    fcntl(fd, F_OFD_SETLK, &fl);
}

} // namespace qev::dbf::locks
