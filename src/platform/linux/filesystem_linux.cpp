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

// The nearest folder of path that exists, so that a target not made yet still has a file system.
QString nearestExisting(const QString &path)
{
    QString p = QDir::cleanPath(QDir(path).absolutePath());
    while (!p.isEmpty() && !statPath(p, true).exists()) {
        const QString parent = QFileInfo(p).path();
        if (parent == p)
            break;
        p = parent;
    }
    return p;
}

} // namespace

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
    const FileStat st = statPath(path, true);
    mode_t mode = st.mode;
    if (readOnly) {
        mode &= ~mode_t(0222);
    } else {
        // Only the owner gets write permission back; widening it for others would be a leak.
        mode |= 0200;
    }
    if (!st.exists() || changeMode(path, mode) != 0) {
        if (error)
            *error = systemReason(st.exists() ? errno : ENOENT);
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

bool mediumMissing(const QString &target, const QString &lastMountPoint)
{
    const QString mount = driveOf(target);
    const QString clean = QDir::cleanPath(target);
    for (const QString &root : {QStringLiteral("/media"), QStringLiteral("/run/media"), QStringLiteral("/mnt")}) {
        if (clean.startsWith(root + u'/'))
            return !(mount == root || mount.startsWith(root + u'/'));
    }
    return !lastMountPoint.isEmpty() && mount != lastMountPoint;
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
