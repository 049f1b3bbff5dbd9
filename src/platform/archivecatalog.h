// SPDX-License-Identifier: GPL-3.0-or-later
// The archive attribute of files, kept where the file system has none.
#pragma once

#include "platform/archiveattributes.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringView>

#include <optional>

struct sqlite3;
struct sqlite3_stmt;

/**
 * The archive attribute ("changed since the last backup") of files on Linux.
 *
 * When the program clears the attribute of a file it records the file's absolute path with
 * device, inode, size, modification and change time. The attribute reads as set when the
 * path has no record or any of these differ, so every change of content or metadata sets
 * it again. Setting it deletes the record. A lost catalog only makes the next incremental
 * backup a full one.
 *
 * A run asks for the files of one folder after another, so the records of a folder are kept
 * together: one row per folder, read with one query when its first file is asked for and
 * held until a file of another folder is. Changes to the records of the folder at hand are
 * held too and written with one statement when the run moves on to another folder; writes
 * are committed at least every second and by flush(). Memory holds one folder's records.
 */
class ArchiveCatalog : public ArchiveAttributes
{
public:
    ArchiveCatalog() = default;
    ~ArchiveCatalog() override;
    ArchiveCatalog(const ArchiveCatalog &) = delete;
    ArchiveCatalog &operator=(const ArchiveCatalog &) = delete;

    /// The catalog file of this user: $XDG_STATE_HOME/Trevalo/archive-attributes.sqlite.
    static QString defaultPath();

    /// Opens (creating, readable by the owner only) the catalog at path.
    bool open(const QString &path = defaultPath());
    bool isOpen() const
    {
        return m_db != nullptr;
    }
    QString errorString() const
    {
        return m_error;
    }

    /// True when the file changed since its attribute was cleared, or was never cleared.
    bool isSet(const QString &absolutePath, const Platform::FileStat &st) override;
    bool isSet(const QString &folder, const QString &name, const Platform::FileStat &st) override;
    bool isSet(const QString &absolutePath);
    /// Clears the attribute for the state st (taken before the file was read for the backup).
    bool clear(const QString &absolutePath, const Platform::FileStat &st) override;
    /// Sets the attribute, so the next incremental backup takes the file.
    bool set(const QString &absolutePath) override;
    /// Writes and commits pending changes; the next look-up reads the catalog again.
    bool flush() override;

    /// A file's name in system bytes, hashed quickly: a run looks up and stores a name per file.
    struct Name {
        QByteArray bytes;
        friend bool operator==(const Name &a, const Name &b) noexcept
        {
            return a.bytes == b.bytes;
        }
        friend size_t qHash(const Name &name, size_t seed) noexcept;
    };
    struct Record {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        qint64 ctimeNs = 0;
    };
    using Records = QHash<Name, Record>;

private:
    bool isSetIn(QStringView folder, QStringView name, const Platform::FileStat &st);
    /// Makes folder (ending with '/') the one whose records are held.
    bool holdFolder(QStringView folder);
    /// The same for the folder in system bytes.
    bool useFolder(const QByteArray &folder);
    bool readFolder(const QByteArray &folder, Records *records);
    /// Writes the held changes (merged into what the catalog holds now).
    bool writeBack();
    bool change(const QString &absolutePath, const std::optional<Record> &record);
    bool migrate();
    bool commit();
    bool exec(const char *sql);
    bool prepare(sqlite3_stmt **stmt, const char *sql);
    bool beginWrite();
    void beginRead();
    bool fail(const char *what);
    void close();

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_select = nullptr;
    sqlite3_stmt *m_upsert = nullptr;
    sqlite3_stmt *m_delete = nullptr;
    bool m_inTransaction = false;
    bool m_writing = false; ///< the open transaction may write
    QElapsedTimer m_transactionAge;
    QString m_error;

    // The folder at hand: its records as this program sees them, and its changes not written yet.
    bool m_folderLoaded = false;
    QString m_folderText;
    QByteArray m_folderBytes;
    Records m_records;
    /// m_records was read (or written) in the open writing transaction, so it is what the
    /// catalog holds plus the changes: these need no merge and are not kept apart.
    bool m_recordsCurrent = false;
    bool m_changed = false; ///< m_records has changes not written yet
    QHash<Name, std::optional<Record>> m_changes; ///< those changes, when they must be merged
    QElapsedTimer m_heldSince; ///< since the oldest change not written
};
