// SPDX-License-Identifier: GPL-3.0-or-later
// The archive attribute of files, kept where the file system has none.
#pragma once

#include "platform/archiveattributes.h"

#include <QElapsedTimer>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

/**
 * The archive attribute ("changed since the last backup") of files on Linux.
 *
 * When the program clears the attribute of a file it records the file's absolute path with
 * device, inode, size, modification and change time. The attribute reads as set when the
 * path has no record or any of these differ, so every change of content or metadata sets
 * it again. Setting it deletes the record. Writes are batched in a transaction that is
 * committed at least every second and by flush(); a lost catalog only makes the next
 * incremental backup a full one.
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
    bool isSet(const QString &absolutePath);
    /// Clears the attribute for the state st (taken before the file was read for the backup).
    bool clear(const QString &absolutePath, const Platform::FileStat &st) override;
    /// Sets the attribute, so the next incremental backup takes the file.
    bool set(const QString &absolutePath) override;
    /// Commits pending writes.
    bool flush() override;

private:
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
};
