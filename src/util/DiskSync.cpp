#include "util/DiskSync.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>

#include <atomic>
#include <unistd.h>

namespace qev {

namespace {

std::atomic<bool> g_diskSync{true};

bool syncPath(const QString& path, int flags) {
    if (!g_diskSync) return true;
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

bool syncFileToDisk(const QString& path) {
    return syncPath(path, O_RDONLY);
}

bool syncFolderOf(const QString& path) {
    return syncPath(QFileInfo(path).absolutePath(), O_RDONLY | O_DIRECTORY);
}

void setDiskSync(bool on) {
    g_diskSync = on;
}

} // namespace qev
