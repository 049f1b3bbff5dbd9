// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/filetree.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileTree {

namespace {

QString systemError(int err)
{
    return Platform::systemReason(err);
}

Platform::FileStat toStat(const struct stat &sb)
{
    Platform::FileStat st;
    if (S_ISREG(sb.st_mode))
        st.kind = Platform::FileStat::File;
    else if (S_ISDIR(sb.st_mode))
        st.kind = Platform::FileStat::Directory;
    else if (S_ISLNK(sb.st_mode))
        st.kind = Platform::FileStat::Symlink;
    else
        st.kind = Platform::FileStat::Other;
    st.device = sb.st_dev;
    st.inode = sb.st_ino;
    st.size = sb.st_size;
    st.mtimeNs = qint64(sb.st_mtim.tv_sec) * 1000000000LL + sb.st_mtim.tv_nsec;
    st.ctimeNs = qint64(sb.st_ctim.tv_sec) * 1000000000LL + sb.st_ctim.tv_nsec;
    st.mode = sb.st_mode & 07777;
    return st;
}

// Case-insensitive glob match with backtracking over the last '*'.
bool globMatch(QStringView pattern, QStringView name)
{
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Between two keep-alive calls: small enough that a slow target never holds a window for long.
constexpr size_t kChunk = 256 * 1024;
constexpr size_t kBufferSize = 256 * 1024;

bool copyContent(int in, int out, const std::function<void()> &keepAlive)
{
    bool useRange = true;
    std::vector<char> buffer;
    for (;;) {
        if (useRange) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
            if (n > 0) {
                if (keepAlive)
                    keepAlive();
                continue;
            }
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EPERM)
                return false;
            useRange = false; // a file system that cannot: go on with plain reads from here
        }
        if (buffer.empty())
            buffer.resize(kBufferSize);
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                return true;
            if (!writeAll(out, buffer.data(), size_t(n)))
                return false;
            if (keepAlive)
                keepAlive();
        }
    }
}

} // namespace

bool listDirectory(const QString &dir, std::vector<Entry> *entries, QString *error)
{
    entries->clear();
    const int fd = Platform::openPath(dir, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    DIR *d = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!d) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = systemError(err);
        errno = err;
        return false;
    }
    const int dfd = ::dirfd(d);
    while (struct dirent *de = ::readdir(d)) {
        const char *n = de->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        struct stat sb;
        if (::fstatat(dfd, n, &sb, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // vanished since the listing
        Entry e;
        e.name = Platform::decodePath(n);
        e.stat = toStat(sb);
        e.kind = e.stat.kind;
        if (e.kind == Platform::FileStat::Symlink) {
            e.isLink = true;
            struct stat target;
            // A link to a file is saved as that file; links to folders are never walked into.
            if (::fstatat(dfd, n, &target, 0) == 0 && S_ISREG(target.st_mode)) {
                e.kind = Platform::FileStat::File;
                e.stat = toStat(target);
            }
        }
        entries->push_back(std::move(e));
    }
    ::closedir(d);
    std::sort(entries->begin(), entries->end(), [](const Entry &a, const Entry &b) {
        const int c = a.name.compare(b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    return true;
}

QStringList splitMasks(const QString &filter)
{
    return filter.split(u';', Qt::SkipEmptyParts);
}

Mask::Mask(const QString &pattern)
    : m_pattern(pattern.toCaseFolded())
    , m_all(pattern == QLatin1String("*") || pattern == QLatin1String("*.*"))
{
}

QList<Mask> compileMasks(const QStringList &masks)
{
    QList<Mask> compiled;
    for (const QString &m : masks)
        compiled.append(Mask(m));
    return compiled;
}

bool Mask::matches(const QString &name) const
{
    if (m_all)
        return true;
    return globMatch(m_pattern, name.toCaseFolded());
}

bool copyFile(const QString &source,
              const QString &target,
              const std::function<void()> &keepAlive,
              Platform::FileStat *sourceStat,
              QString *error)
{
    const int in = Platform::openPath(source, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (in < 0) {
        if (error)
            *error = systemError(errno);
        return false;
    }
    struct stat sb;
    const int statResult = ::fstat(in, &sb);
    if (statResult != 0 || !S_ISREG(sb.st_mode)) {
        const int err = statResult != 0 ? errno : EINVAL; // a pipe or device is not copied
        ::close(in);
        if (error)
            *error = systemError(err);
        return false;
    }
    if (sourceStat)
        *sourceStat = toStat(sb);

    // A file already in the target's place is replaced only by a complete copy: the copy is
    // made beside it and renamed over it, so a failure leaves the earlier copy as it was.
    QString made = target;
    int out = Platform::openPath(target, O_WRONLY | O_CREAT | O_EXCL, 0600);
    for (int attempt = 0; out < 0 && errno == EEXIST && attempt < 100; ++attempt) {
        made = target + QStringLiteral(".trevalo-") + QString::number(QRandomGenerator::global()->generate64(), 36);
        out = Platform::openPath(made, O_WRONLY | O_CREAT | O_EXCL, 0600);
    }
    if (out < 0) {
        const int err = errno;
        ::close(in);
        if (error)
            *error = systemError(err);
        return false;
    }
    int err = 0;
    bool ok = copyContent(in, out, keepAlive);
    if (!ok)
        err = errno;
    if (ok) {
        const struct timespec times[2] = {sb.st_atim, sb.st_mtim};
        if (::geteuid() == 0)
            (void)::fchown(out, sb.st_uid, sb.st_gid);
        if (::fchmod(out, sb.st_mode & 07777) != 0 || ::futimens(out, times) != 0) {
            ok = false;
            err = errno;
        }
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && made != target && Platform::renamePath(made, target) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        Platform::removeFile(made);
        if (error)
            *error = systemError(err);
    }
    return ok;
}

} // namespace FileTree
