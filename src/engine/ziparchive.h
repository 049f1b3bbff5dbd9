// SPDX-License-Identifier: GPL-3.0-or-later
// The "Archive.zip" of a compressed set: packing a directory's files, listing and extracting entries.
#pragma once

#include <QChar>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include "platform/filesystem.h"

#include <functional>
#include <memory>
#include <vector>

/// One entry of a listed archive.
struct TZippedFile {
    quint64 uncompressedSize = 0;
    quint64 compressedSize = 0;
    int factor = 0;           ///< percent saved by compression (negative when the entry grew)
    QDate date;               ///< day, month and year of the entry; its time of day is not kept
    QChar caseMarker = u' ';  ///< always blank: names are stored as they are
    QString name;
    quint32 crc = 0;          ///< CRC-32 of the uncompressed data
    QChar encryptionMarker = u' '; ///< 'E' for an encrypted entry (this program never writes one)
};

/**
 * What zipFiles reports while it packs. Every member may be empty. All of them are called
 * on the thread that called zipFiles.
 */
struct ZipProgress {
    /// One line per packed file, "  adding: <name>"; the text after the first colon is the name.
    std::function<void(const QString &line)> message;
    /// Once per packed file, after its line.
    std::function<void()> fileDone;
    /// Called at least every 100 ms while packing, so that a window can repaint and take a cancel click.
    std::function<void()> keepAlive;
    /// Asked as often as keepAlive; true stops packing, and zipFiles fails with a "cancelled" text.
    std::function<bool()> cancelled;
};

/**
 * Creates archivePath, replacing a file of that name, from files (full paths) in list order:
 * standard deflate (ISA-L's level 2, which packs text a little tighter than zlib's level 3),
 * entries under their bare file names, no folder entries, hidden files like any other, each
 * entry with its modification time and permission bits, ZIP64 where sizes, offsets or the
 * entry count need it.
 *
 * Returns false and sets *error (German, with the file's name and the system's reason)
 * when a file cannot be read (vanished, no permission, not a regular file), when two
 * different files have the same name, when the archive cannot be written (disk full) and
 * when progress.cancelled() answered true. A failure leaves no file at archivePath.
 * An empty list creates nothing and succeeds.
 */
[[nodiscard]] bool zipFiles(const QString &archivePath, const QStringList &files, const ZipProgress &progress, QString *error);

/// What a packing of a folder's files put into the archive and what it left out.
struct ZipResult {
    struct Packed {
        QString path;
        Platform::FileStat stat; ///< the file as it was opened for packing
    };
    struct Skipped {
        QString path;
        QString reason; ///< German, with the file's name and the system's reason
    };
    std::vector<Packed> packed; ///< in archive order
    std::vector<Skipped> skipped;
};

/**
 * The same, except that a file that vanished, cannot be read or is no regular file is left
 * out of the archive (listed in result->skipped) while the others are packed; the archive
 * still fails as a whole when it cannot be written or packing is cancelled. An archive of
 * which every file was left out holds no entry.
 */
[[nodiscard]] bool zipFiles(const QString &archivePath,
              const QStringList &files,
              const ZipProgress &progress,
              ZipResult *result,
              QString *error);

/**
 * Replaces the content of *entries with one record per entry of the archive, in the
 * archive's order. A name packed on a Unix-like system keeps its bytes (see
 * Platform::decodePath); one packed on DOS or Windows without the UTF-8 flag is read in code
 * page 437. Returns false with *error (and an empty list) for a missing, empty or damaged
 * archive.
 */
[[nodiscard]] bool listArchive(const QString &archivePath, QList<TZippedFile> *entries, QString *error);

/// Closes the archive that extractEntry keeps open on this thread between the entries of one archive.
void releaseArchive();

/// True for a plain file name that stays inside any folder it is written to: not empty, not "." or "..",
/// no "/" or NUL (on Windows also no "\\" or drive colon; elsewhere a backslash is a name character).
bool isSafeEntryName(const QString &name);

/**
 * One entry of an archive, read from its start to its end without being written anywhere.
 * The archive is opened by the reader itself and stays open until close() or the reader's end.
 */
class ZipEntryReader
{
public:
    ZipEntryReader();
    ZipEntryReader(const ZipEntryReader &) = delete;
    ZipEntryReader &operator=(const ZipEntryReader &) = delete;
    ~ZipEntryReader();

    /// False with *error for a missing or damaged archive or a missing entry.
    [[nodiscard]] bool open(const QString &archivePath, const QString &name, QString *error);
    /// Up to size bytes into data: 0 at the end, -1 when the data is damaged or does not match
    /// the entry's CRC, which is checked when the last byte has been read (see errorString()).
    qint64 read(char *data, qint64 size);
    /// The entry's uncompressed size.
    quint64 size() const
    {
        return m_size;
    }
    QString errorString() const
    {
        return m_error;
    }
    void close();

private:
    struct Inflater;
    qint64 inflate(char *data, qint64 size);

    struct zip *m_archive = nullptr;
    struct zip_file *m_file = nullptr;
    std::unique_ptr<Inflater> m_inflater; ///< for a deflated entry, read as it is stored
    QString m_archivePath;
    quint64 m_size = 0;
    QString m_error;
};

/**
 * Extracts the entry named entryName into targetDir (which must exist) as targetDir/entryName,
 * replacing a file of that name, with the entry's modification time and permission bits
 * (set-user-ID, set-group-ID and sticky bits are not given back).
 *
 * Names that could leave targetDir (empty, ".", "..", absolute, or holding "/"; on Windows
 * also "\\" or ":") are refused. The data is checked against the entry's CRC before the
 * target name is touched, so a failed extraction leaves an existing file as it was and never
 * a partial one.
 * Returns false with *error for a refused name, a missing entry, a damaged archive or a
 * write failure. keepAlive, when given, is called at least every 100 ms while a large entry
 * is written. Paths of any length, names of any bytes.
 */
[[nodiscard]] bool extractEntry(const QString &archivePath,
    const QString &targetDir,
    const QString &entryName,
    QString *error,
    const std::function<void()> &keepAlive = {});
