// SPDX-License-Identifier: GPL-3.0-or-later
// Reading folders and writing files: the system calls behind the engine's file work.
#include "platform/file.h"
#include "platform/filesystem.h"
#include "platform/linux/stat_linux.h"


#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

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
            if (!writeFully(out, buffer.data(), n))
                return false;
            if (keepAlive)
                keepAlive();
        }
    }
}

} // namespace

bool listDirectory(const QString &dir, std::vector<DirEntry> *entries, QString *error)
{
    entries->clear();
    const int fd = openPath(dir, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    DIR *d = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!d) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = systemReason(err);
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
        DirEntry e;
        e.name = decodePath(n);
        e.stat = toStat(sb);
        e.kind = e.stat.kind;
        if (e.kind == FileStat::Symlink) {
            e.isLink = true;
            struct stat target;
            // A link to a file is saved as that file; links to folders are never walked into.
            if (::fstatat(dfd, n, &target, 0) == 0 && S_ISREG(target.st_mode)) {
                e.kind = FileStat::File;
                e.stat = toStat(target);
            }
        }
        entries->push_back(std::move(e));
    }
    ::closedir(d);
    return true;
}

bool copyFile(const QString &source,
              const QString &target,
              const std::function<void()> &keepAlive,
              FileStat *sourceStat,
              QString *error)
{
    const int in = openPath(source, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (in < 0) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    struct stat sb;
    const int statResult = ::fstat(in, &sb);
    if (statResult != 0 || !S_ISREG(sb.st_mode)) {
        const int err = statResult != 0 ? errno : EINVAL; // a pipe or device is not copied
        ::close(in);
        if (error)
            *error = systemReason(err);
        return false;
    }
    if (sourceStat)
        *sourceStat = toStat(sb);

    // A file already in the target's place is replaced only by a complete copy: the copy is
    // made beside it and renamed over it, so a failure leaves the earlier copy as it was.
    File out;
    if (!out.open(target, File::CreateNew) && (out.error() != EEXIST || !out.createBeside(target))) {
        ::close(in);
        if (error)
            *error = out.errorString();
        return false;
    }
    int err = 0;
    bool ok = copyContent(in, out.descriptor(), keepAlive);
    if (!ok)
        err = errno;
    if (ok) {
        const struct timespec times[2] = {sb.st_atim, sb.st_mtim};
        if (::geteuid() == 0)
            (void)::fchown(out.descriptor(), sb.st_uid, sb.st_gid);
        if (::fchmod(out.descriptor(), sb.st_mode & 07777) != 0 || ::futimens(out.descriptor(), times) != 0) {
            ok = false;
            err = errno;
        }
    }
    ::close(in);
    if (!out.close() && ok) {
        ok = false;
        err = out.error();
    }
    if (ok && out.path() != target && renamePath(out.path(), target) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        removeFile(out.path());
        if (error)
            *error = systemReason(err);
    }
    return ok;
}

bool appendToFile(const QString &path, const QByteArray &bytes)
{
    // Never blocks: a pipe or device in the file's place is refused, not waited on.
    int fd = openPath(path, O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == ENOENT) {
        if (!makePath(path.left(path.lastIndexOf(u'/'))))
            return false;
        fd = openPath(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY, 0644);
    }
    if (fd < 0)
        return false;
    struct stat sb;
    const bool ok = ::fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode) && writeFully(fd, bytes.constData(), bytes.size());
    return ::close(fd) == 0 && ok;
}

bool writeNewFile(const QString &path, const QByteArray &bytes)
{
    removeFile(path);
    const int fd = openPath(path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0644);
    if (fd < 0)
        return false;
    const bool ok = writeFully(fd, bytes.constData(), bytes.size());
    return ::close(fd) == 0 && ok;
}

bool canOpenForReading(const QString &path)
{
    const int fd = openPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

QString makePrivateFolder(const QString &parent, const QString &prefix, QString *error)
{
    QByteArray pattern = encodePath(withTrailingSeparator(parent) + prefix + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        if (error)
            *error = systemReason(errno);
        return QString();
    }
    return decodePath(pattern.constData(), pattern.size()) + u'/';
}

bool syncFileSystem(const QString &path, QString *error)
{
    const int fd = openPath(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    const bool ok = ::syncfs(fd) == 0;
    if (!ok && error)
        *error = systemReason(errno);
    ::close(fd);
    return ok;
}

} // namespace Platform
