// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file.h"
#include "platform/linux/stat_linux.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

File::~File()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool File::fail()
{
    m_error = errno;
    return false;
}

bool File::open(const QString &path, Mode mode, uint permissions)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_path = path;
    switch (mode) {
    case Read:
        m_fd = openPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
        break;
    case Write:
        m_fd = openPath(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, permissions);
        break;
    case CreateNew:
        m_fd = openPath(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, permissions);
        break;
    }
    return m_fd >= 0 || fail();
}

bool File::createBeside(const QString &target, uint permissions)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (open(target + QStringLiteral(".trevalo-") + QString::number(QRandomGenerator::global()->generate64(), 36),
                 CreateNew, permissions))
            return true;
        if (m_error != EEXIST)
            return false;
    }
    return false;
}

qint64 File::read(char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::read(m_fd, data, size_t(size));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            fail();
            return -1;
        }
    }
}

bool File::write(const char *data, qint64 size)
{
    return writeFully(m_fd, data, size) || fail();
}

bool File::writeAt(quint64 at, const char *data, qint64 size)
{
    return writeFully(m_fd, data, size, qint64(at)) || fail();
}

bool File::truncate(quint64 size)
{
    return (::ftruncate(m_fd, off_t(size)) == 0 && ::lseek(m_fd, off_t(size), SEEK_SET) >= 0) || fail();
}

bool File::stat(FileStat *st)
{
    struct stat sb;
    if (::fstat(m_fd, &sb) != 0)
        return fail();
    *st = toStat(sb);
    return true;
}

bool File::setModeAndTime(uint mode, qint64 mtimeNs)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(mtimeNs / 1000000000), long(mtimeNs % 1000000000)}};
    return (::fchmod(m_fd, mode_t(mode)) == 0 && ::futimens(m_fd, times) == 0) || fail();
}

bool File::close()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd < 0 || ::close(fd) == 0 || fail();
}

int File::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

} // namespace Platform
