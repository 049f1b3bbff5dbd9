// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace Platform {

namespace {

qint64 toNs(const struct timespec &ts)
{
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The nearest folder of path that exists, so that a target not made yet still has a file system.
QString nearestExisting(const QString &path)
{
    QString p = QDir::cleanPath(QDir(path).absolutePath());
    while (!p.isEmpty() && !QFileInfo::exists(p)) {
        const QString parent = QFileInfo(p).path();
        if (parent == p)
            break;
        p = parent;
    }
    return p;
}

} // namespace

FileStat statPath(const QString &path)
{
    FileStat st;
    struct stat sb;
    if (::lstat(QFile::encodeName(path).constData(), &sb) != 0)
        return st;
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
    st.mtimeNs = toNs(sb.st_mtim);
    st.ctimeNs = toNs(sb.st_ctim);
    st.mode = sb.st_mode & 07777;
    return st;
}

FileAttributes fileAttributes(const QString &path, const FileStat &st)
{
    FileAttributes a;
    a.readOnly = st.exists() && (st.mode & 0222) == 0;
    a.hidden = QFileInfo(path).fileName().startsWith(u'.');
    return a;
}

FileAttributes fileAttributes(const QString &path)
{
    return fileAttributes(path, statPath(path));
}

bool setReadOnly(const QString &path, bool readOnly, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat sb;
    if (::stat(native.constData(), &sb) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    mode_t mode = sb.st_mode & 07777;
    if (readOnly) {
        mode &= ~mode_t(0222);
    } else {
        // Only the owner gets write permission back; widening it for others would be a leak.
        mode |= 0200;
    }
    if (::chmod(native.constData(), mode) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

QString systemTempFolder()
{
    return withTrailingSeparator(QDir::tempPath());
}

QString userProfileFolder()
{
    return QDir::homePath();
}

QString driveOf(const QString &path)
{
    const QString existing = nearestExisting(path);
    if (existing.isEmpty())
        return QString();
    QStorageInfo info(existing);
    return info.isValid() ? info.rootPath() : QString();
}

qint64 freeSpace(const QString &path)
{
    const QString existing = nearestExisting(path);
    if (existing.isEmpty())
        return -1;
    QStorageInfo info(existing);
    return info.isValid() ? info.bytesAvailable() : -1;
}

bool isAbsolutePath(const QString &path)
{
    return path.startsWith(u'/');
}

QChar separator()
{
    return u'/';
}

QString withTrailingSeparator(const QString &path)
{
    if (path.isEmpty() || path.endsWith(separator()))
        return path;
    return path + separator();
}

} // namespace Platform
