// SPDX-License-Identifier: GPL-3.0-or-later
// File trees whose names are bytes and whose depth exceeds what one path can name: made and
// read through folder handles, so tests see exactly what is on the disk.
#pragma once

#include <QByteArray>
#include <QMap>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ByteTree {

/// What a tree holds at one relative path (names as bytes, '/' between them).
struct Node {
    bool folder = false;
    QByteArray content;
    qint64 mtime = 0;
    uint mode = 0;
    bool operator==(const Node &o) const
    {
        return folder == o.folder && content == o.content && mtime == o.mtime && mode == o.mode;
    }
};
using Tree = QMap<QByteArray, Node>;

inline void readInto(int dirFd, const QByteArray &prefix, Tree *tree)
{
    DIR *d = ::fdopendir(dirFd);
    if (!d) {
        ::close(dirFd);
        return;
    }
    while (struct dirent *de = ::readdir(d)) {
        const QByteArray name(de->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat sb;
        if (::fstatat(::dirfd(d), de->d_name, &sb, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        Node n;
        n.mode = sb.st_mode & 07777;
        const QByteArray rel = prefix + name;
        if (S_ISDIR(sb.st_mode)) {
            n.folder = true;
            n.mode = 0; // folders are compared by presence
            tree->insert(rel, n);
            const int sub = ::openat(::dirfd(d), de->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (sub >= 0)
                readInto(sub, rel + '/', tree);
        } else if (S_ISREG(sb.st_mode)) {
            n.mtime = sb.st_mtim.tv_sec;
            const int fd = ::openat(::dirfd(d), de->d_name, O_RDONLY | O_CLOEXEC);
            char buffer[65536];
            ssize_t got;
            while (fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0)
                n.content.append(buffer, got);
            if (fd >= 0)
                ::close(fd);
            tree->insert(rel, n);
        }
    }
    ::closedir(d);
}

/// Every folder and regular file below root.
inline Tree read(const QByteArray &root)
{
    Tree tree;
    const int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        readInto(fd, QByteArray(), &tree);
    return tree;
}

/// Follows rel (relative, '/' between names) below root, creating folders; returns a handle of the last one.
inline int openFolder(const QByteArray &root, const QByteArray &rel, bool create)
{
    int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const QByteArray &part : rel.split('/')) {
        if (part.isEmpty() || fd < 0)
            continue;
        if (create)
            ::mkdirat(fd, part.constData(), 0755);
        const int next = ::openat(fd, part.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

/// Writes a file at rel below root (folders made as needed) with the given modification time.
inline bool write(const QByteArray &root, const QByteArray &rel, const QByteArray &content, qint64 mtime)
{
    const qsizetype slash = rel.lastIndexOf('/');
    const int dir = openFolder(root, slash < 0 ? QByteArray() : rel.left(slash), true);
    if (dir < 0)
        return false;
    const QByteArray name = rel.mid(slash + 1);
    const int fd = ::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
    bool ok = fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size();
    const struct timespec times[2] = {{time_t(mtime), 0}, {time_t(mtime), 0}};
    ok = ok && ::futimens(fd, times) == 0;
    if (fd >= 0)
        ::close(fd);
    ::close(dir);
    return ok;
}

/// Makes the folder rel below root (and its parents).
inline bool makeFolder(const QByteArray &root, const QByteArray &rel)
{
    const int fd = openFolder(root, rel, true);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace ByteTree
