// SPDX-License-Identifier: GPL-3.0-or-later
// The program's view of what stat() tells.
#pragma once

#include "platform/filesystem.h"

#include <sys/stat.h>

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

} // namespace Platform
