// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ziparchive.h"

#include "engine/zipformat.h"
#include "platform/filesystem.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace {

using Platform::systemReason;
using ZipFormat::kExtendedTimestampId;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// ---------------------------------------------------------------------------------------------
// Reading, through libzip. Writing is in zipwriter.cpp.

quint32 readLittleEndian32(const zip_uint8_t *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// The modification time from the extended-timestamp field, which holds it in UTC to the second.
bool extendedMtime(zip_t *za, zip_uint64_t index, zip_flags_t where, qint64 *mtime)
{
    zip_uint16_t len = 0;
    const zip_uint8_t *data = zip_file_extra_field_get_by_id(za, index, kExtendedTimestampId, 0, &len, where);
    if (!data || len < 5 || !(data[0] & 1))
        return false;
    *mtime = qint32(readLittleEndian32(data + 1));
    return true;
}

QString archiveReadError(const QString &archivePath, const QString &reason)
{
    return QStringLiteral("Das Archiv %1 kann nicht gelesen werden: %2").arg(archivePath, reason);
}

zip_t *openForReading(const QString &archivePath, QString *error)
{
    int code = 0;
    zip_t *za = zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &code);
    if (!za) {
        zip_error_t err;
        zip_error_init_with_code(&err, code);
        setError(error, archiveReadError(archivePath, QString::fromLocal8Bit(zip_error_strerror(&err))));
        zip_error_fini(&err);
    }
    return za;
}


} // namespace

bool listArchive(const QString &archivePath, QList<TZippedFile> *entries, QString *error)
{
    entries->clear();
    zip_t *za = openForReading(archivePath, error);
    if (!za)
        return false;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    entries->reserve(count);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0) {
            setError(error, archiveReadError(archivePath, QString::fromLocal8Bit(zip_strerror(za))));
            zip_discard(za);
            entries->clear();
            return false;
        }
        TZippedFile e;
        e.uncompressedSize = st.size;
        e.compressedSize = st.comp_size;
        if (st.size > 0)
            e.factor = int(qRound64(100.0 * (double(st.size) - double(st.comp_size)) / double(st.size)));
        e.date = QDateTime::fromSecsSinceEpoch(st.mtime).date();
        e.name = QString::fromUtf8(st.name);
        e.crc = st.crc;
        e.encryptionMarker = st.encryption_method != ZIP_EM_NONE ? u'E' : u' ';
        entries->append(e);
    }
    zip_discard(za);
    return true;
}

bool extractEntry(const QString &archivePath, const QString &targetDir, const QString &entryName, QString *error)
{
    if (!isSafeEntryName(entryName)) {
        setError(error, QStringLiteral("Der Eintrag \"%1\" im Archiv %2 hat einen unzulässigen Namen und wird nicht entpackt.")
                            .arg(entryName, archivePath));
        return false;
    }
    zip_t *za = openForReading(archivePath, error);
    if (!za)
        return false;
    const zip_int64_t index = zip_name_locate(za, entryName.toUtf8().constData(), 0);
    if (index < 0) {
        setError(error, QStringLiteral("Der Eintrag %1 fehlt im Archiv %2.").arg(entryName, archivePath));
        zip_discard(za);
        return false;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    mode_t mode = 0644;
    if (zip_stat_index(za, zip_uint64_t(index), 0, &st) == 0
        && zip_file_get_external_attributes(za, zip_uint64_t(index), 0, &opsys, &attributes) == 0
        && opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & 0777) != 0)
        mode = (attributes >> 16) & 0777;
    qint64 mtime = st.mtime;
    if (!extendedMtime(za, zip_uint64_t(index), ZIP_FL_CENTRAL, &mtime))
        extendedMtime(za, zip_uint64_t(index), ZIP_FL_LOCAL, &mtime);

    const QString target = QDir(targetDir).filePath(entryName);
    QByteArray tempName = QFile::encodeName(QDir(targetDir).filePath(QStringLiteral(".trevalo-XXXXXX")));
    const int fd = ::mkstemp(tempName.data());
    if (fd < 0) {
        setError(error, QStringLiteral("Die Datei %1 kann nicht angelegt werden: %2").arg(target, systemReason(errno)));
        zip_discard(za);
        return false;
    }
    auto fail = [&](const QString &text) {
        ::close(fd);
        ::unlink(tempName.constData());
        zip_discard(za);
        setError(error, text);
        return false;
    };

    zip_file_t *zf = zip_fopen_index(za, zip_uint64_t(index), 0);
    if (!zf)
        return fail(archiveReadError(archivePath, QString::fromLocal8Bit(zip_strerror(za))));
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        // libzip checks the CRC when the last byte has been read and then reports an error.
        const zip_int64_t n = zip_fread(zf, buffer.data(), zip_uint64_t(buffer.size()));
        if (n < 0) {
            const QString reason = QString::fromLocal8Bit(zip_file_strerror(zf));
            zip_fclose(zf);
            return fail(archiveReadError(archivePath, reason));
        }
        if (n == 0)
            break;
        for (zip_int64_t done = 0; done < n;) {
            const ssize_t w = ::write(fd, buffer.constData() + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                const int err = w < 0 ? errno : ENOSPC;
                zip_fclose(zf);
                return fail(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(target, systemReason(err)));
            }
            done += w;
        }
    }
    zip_fclose(zf);

    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(mtime), 0}};
    if (::fchmod(fd, mode) != 0 || ::futimens(fd, times) != 0)
        return fail(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(target, systemReason(errno)));
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tempName.constData());
        zip_discard(za);
        setError(error, QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(target, systemReason(err)));
        return false;
    }
    zip_discard(za);
    // The rename replaces an existing file (also a read-only one) in one step.
    if (::rename(tempName.constData(), QFile::encodeName(target).constData()) != 0) {
        const int err = errno;
        ::unlink(tempName.constData());
        setError(error, QStringLiteral("Die Datei %1 kann nicht angelegt werden: %2").arg(target, systemReason(err)));
        return false;
    }
    return true;
}

bool isSafeEntryName(const QString &name)
{
    if (name.isEmpty() || name == u'.' || name == QLatin1String(".."))
        return false;
    if (name.contains(u'/') || name.contains(u'\\') || name.contains(QChar(0)))
        return false;
#ifdef Q_OS_WIN
    if (name.contains(u':'))
        return false;
#endif
    return true;
}
