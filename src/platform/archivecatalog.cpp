// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/archivecatalog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sqlite3.h>
#include <sys/stat.h>

namespace {
constexpr qint64 kCommitIntervalMs = 1000;
}

ArchiveCatalog::~ArchiveCatalog()
{
    flush();
    close();
}

QString ArchiveCatalog::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Trevalo/archive-attributes.sqlite");
}

bool ArchiveCatalog::open(const QString &path)
{
    close();
    m_error.clear();
    const QString dir = QFileInfo(path).absolutePath();
    if (!Platform::makePath(dir)) {
        m_error = QStringLiteral("Der Ordner %1 kann nicht angelegt werden.").arg(dir);
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    const bool existed = QFileInfo::exists(path);
    if (sqlite3_open_v2(native.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        return fail("open");
    if (!existed)
        ::chmod(native.constData(), 0600);
    sqlite3_busy_timeout(m_db, 5000);
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL")
        || !exec("CREATE TABLE IF NOT EXISTS files (path TEXT PRIMARY KEY, dev INTEGER, ino INTEGER,"
                 " size INTEGER, mtime INTEGER, ctime INTEGER) WITHOUT ROWID")
        || !prepare(&m_select, "SELECT dev, ino, size, mtime, ctime FROM files WHERE path = ?1")
        || !prepare(&m_upsert, "INSERT OR REPLACE INTO files VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
        || !prepare(&m_delete, "DELETE FROM files WHERE path = ?1")) {
        close();
        return false;
    }
    return true;
}

bool ArchiveCatalog::isSet(const QString &absolutePath, const Platform::FileStat &st)
{
    if (!m_db || !st.exists())
        return true;
    beginRead();
    const QByteArray key = Platform::encodePath(absolutePath);
    sqlite3_reset(m_select);
    sqlite3_bind_text(m_select, 1, key.constData(), int(key.size()), SQLITE_STATIC);
    bool set = true;
    if (sqlite3_step(m_select) == SQLITE_ROW) {
        set = quint64(sqlite3_column_int64(m_select, 0)) != st.device
            || quint64(sqlite3_column_int64(m_select, 1)) != st.inode || sqlite3_column_int64(m_select, 2) != st.size
            || sqlite3_column_int64(m_select, 3) != st.mtimeNs || sqlite3_column_int64(m_select, 4) != st.ctimeNs;
    }
    sqlite3_reset(m_select);
    return set;
}

bool ArchiveCatalog::isSet(const QString &absolutePath)
{
    return isSet(absolutePath, Platform::statPath(absolutePath));
}

bool ArchiveCatalog::clear(const QString &absolutePath, const Platform::FileStat &st)
{
    if (!beginWrite())
        return false;
    const QByteArray key = Platform::encodePath(absolutePath);
    sqlite3_reset(m_upsert);
    sqlite3_bind_text(m_upsert, 1, key.constData(), int(key.size()), SQLITE_STATIC);
    sqlite3_bind_int64(m_upsert, 2, sqlite3_int64(st.device));
    sqlite3_bind_int64(m_upsert, 3, sqlite3_int64(st.inode));
    sqlite3_bind_int64(m_upsert, 4, st.size);
    sqlite3_bind_int64(m_upsert, 5, st.mtimeNs);
    sqlite3_bind_int64(m_upsert, 6, st.ctimeNs);
    const int rc = sqlite3_step(m_upsert);
    sqlite3_reset(m_upsert);
    return rc == SQLITE_DONE || fail("write");
}

bool ArchiveCatalog::set(const QString &absolutePath)
{
    if (!beginWrite())
        return false;
    const QByteArray key = Platform::encodePath(absolutePath);
    sqlite3_reset(m_delete);
    sqlite3_bind_text(m_delete, 1, key.constData(), int(key.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(m_delete);
    sqlite3_reset(m_delete);
    return rc == SQLITE_DONE || fail("write");
}

bool ArchiveCatalog::flush()
{
    if (!m_db || !m_inTransaction)
        return true;
    m_inTransaction = false;
    return exec("COMMIT");
}

// Look-ups share one transaction too: each statement on its own would take the file's locks
// anew, once per file of a run.
void ArchiveCatalog::beginRead()
{
    if (m_inTransaction && m_transactionAge.elapsed() >= kCommitIntervalMs)
        flush();
    if (!m_inTransaction && exec("BEGIN")) {
        m_inTransaction = true;
        m_writing = false;
        m_transactionAge.start();
    }
}

bool ArchiveCatalog::beginWrite()
{
    if (!m_db) {
        m_error = QStringLiteral("Der Archivattribut-Katalog ist nicht geöffnet.");
        return false;
    }
    // A reading transaction gives way to a writing one, which later look-ups share.
    if (m_inTransaction && (!m_writing || m_transactionAge.elapsed() >= kCommitIntervalMs) && !flush())
        return false;
    if (!m_inTransaction) {
        if (!exec("BEGIN IMMEDIATE"))
            return false;
        m_inTransaction = true;
        m_writing = true;
        m_transactionAge.start();
    }
    return true;
}

bool ArchiveCatalog::exec(const char *sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || fail(sql);
}

bool ArchiveCatalog::prepare(sqlite3_stmt **stmt, const char *sql)
{
    return sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, stmt, nullptr) == SQLITE_OK || fail(sql);
}

bool ArchiveCatalog::fail(const char *what)
{
    m_error = QStringLiteral("Archivattribut-Katalog (%1): %2")
                  .arg(QString::fromUtf8(what), m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString());
    return false;
}

void ArchiveCatalog::close()
{
    for (sqlite3_stmt **stmt : {&m_select, &m_upsert, &m_delete}) {
        sqlite3_finalize(*stmt);
        *stmt = nullptr;
    }
    if (m_db) {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
    m_inTransaction = false;
}
