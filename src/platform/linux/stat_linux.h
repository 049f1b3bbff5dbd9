// SPDX-License-Identifier: GPL-3.0-or-later
// What the Linux side of the platform layer shares: the program's view of what stat() tells,
// and writing a whole buffer.
#pragma once

#include "platform/filesystem.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

inline FileStat toStat(const struct stat &sb)
{
    FileStat st;
    if (S_ISREG(sb.st_mode))
        st.kind = FileStat::File;
    else if (S_ISDIR(sb.st_mode))
        st.kind = FileStat::Directory;
    else if (S_ISLNK(sb.st_mode))
        st.kind = FileStat::Symlink;
    else
        st.kind = FileStat::Other;
    st.device = sb.st_dev;
    st.inode = sb.st_ino;
    st.size = sb.st_size;
    st.mtimeNs = qint64(sb.st_mtim.tv_sec) * 1000000000LL + sb.st_mtim.tv_nsec;
    st.ctimeNs = qint64(sb.st_ctim.tv_sec) * 1000000000LL + sb.st_ctim.tv_nsec;
    st.mode = sb.st_mode & 07777;
    return st;
}

/**
 * Writes all of data to fd, at offset at or (at < 0) at the file's position. A medium that
 * takes no more reads as ENOSPC; false with errno set.
 */
inline bool writeFully(int fd, const char *data, qint64 size, qint64 at = -1)
{
    while (size > 0) {
        const ssize_t n = at < 0 ? ::write(fd, data, size_t(size)) : ::pwrite(fd, data, size_t(size), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
        if (at >= 0)
            at += n;
    }
    return true;
}

} // namespace Platform
