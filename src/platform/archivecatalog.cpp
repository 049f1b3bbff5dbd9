// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/archivecatalog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtEndian>

#include <cstring>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

constexpr qint64 kCommitIntervalMs = 1000;

// The records of a folder as one value: per file its name's length (4 bytes), its name, then
// device, inode, size, modification and change time (8 bytes each), all little-endian.
constexpr qsizetype kNumbersSize = 5 * 8;

void putNumber(QByteArray &out, quint64 v)
{
    const quint64 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&le), sizeof le);
}

quint64 takeNumber(const char *p)
{
    quint64 v;
    std::memcpy(&v, p, sizeof v);
    return qFromLittleEndian(v);
}

QByteArray encodeRecords(const ArchiveCatalog::Records &records)
{
    QByteArray out;
    out.reserve(records.size() * (4 + 24 + kNumbersSize));
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        const quint32 length = qToLittleEndian(quint32(it.key().bytes.size()));
        out.append(reinterpret_cast<const char *>(&length), sizeof length);
        out.append(it.key().bytes);
        putNumber(out, it->device);
        putNumber(out, it->inode);
        putNumber(out, quint64(it->size));
        putNumber(out, quint64(it->mtimeNs));
        putNumber(out, quint64(it->ctimeNs));
    }
    return out;
}

// A damaged value gives the records before the damage: the others read as changed files.
void decodeRecords(const char *p, qsizetype size, ArchiveCatalog::Records *records)
{
    const char *end = p + size;
    // Room for the records a value of this size holds with names of about 16 bytes.
    records->reserve(size / (4 + 16 + kNumbersSize));
    while (end - p >= 4) {
        quint32 length;
        std::memcpy(&length, p, sizeof length);
        length = qFromLittleEndian(length);
        p += 4;
        if (end - p < qsizetype(length) + kNumbersSize)
            return;
        ArchiveCatalog::Record &r = (*records)[ArchiveCatalog::Name{QByteArray(p, length)}];
        p += length;
        r.device = takeNumber(p);
        r.inode = takeNumber(p + 8);
        r.size = qint64(takeNumber(p + 16));
        r.mtimeNs = qint64(takeNumber(p + 24));
        r.ctimeNs = qint64(takeNumber(p + 32));
        p += kNumbersSize;
    }
}

// A path split into its folder (ending with '/') and its name, without copies.
struct SplitPath {
    explicit SplitPath(const QString &absolutePath)
    {
        const qsizetype slash = absolutePath.lastIndexOf(u'/');
        folder = QStringView(absolutePath).left(slash + 1);
        name = QStringView(absolutePath).mid(slash + 1);
    }
    QStringView folder;
    QStringView name;
};

} // namespace

// Names come from the disk, not from a network peer: a multiply-and-shift mix over eight bytes
// at a time, seeded per process, is enough, and many times faster than the general hash.
size_t qHash(const ArchiveCatalog::Name &name, size_t seed) noexcept
{
    const char *p = name.bytes.constData();
    size_t n = size_t(name.bytes.size());
    quint64 h = quint64(seed) ^ (quint64(n) * 0x9E3779B97F4A7C15ull);
    for (; n >= 8; p += 8, n -= 8) {
        quint64 v;
        std::memcpy(&v, p, 8);
        h = (h ^ v) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    quint64 v = 0;
    std::memcpy(&v, p, n);
    h = (h ^ v) * 0x94D049BB133111EBull;
    h ^= h >> 29;
    return size_t(h);
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
        || !exec("CREATE TABLE IF NOT EXISTS folders (folder TEXT PRIMARY KEY NOT NULL, records BLOB NOT NULL)")
        || !prepare(&m_select, "SELECT records FROM folders WHERE folder = ?1")
        || !prepare(&m_upsert, "INSERT OR REPLACE INTO folders VALUES (?1, ?2)")
        || !prepare(&m_delete, "DELETE FROM folders WHERE folder = ?1") || !migrate()) {
        close();
        return false;
    }
    return true;
}

// Catalogs of earlier versions kept a row per file; their records move over, so the first
// incremental run after an update is not a full one.
bool ArchiveCatalog::migrate()
{
    sqlite3_stmt *old = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT path, dev, ino, size, mtime, ctime FROM files", -1, &old, nullptr) != SQLITE_OK)
        return true; // no such table
    QHash<QByteArray, Records> folders;
    int rc;
    while ((rc = sqlite3_step(old)) == SQLITE_ROW) {
        const QByteArray path(reinterpret_cast<const char *>(sqlite3_column_text(old, 0)), sqlite3_column_bytes(old, 0));
        const qsizetype slash = path.lastIndexOf('/');
        Record &r = folders[path.left(slash + 1)][Name{path.mid(slash + 1)}];
        r.device = quint64(sqlite3_column_int64(old, 1));
        r.inode = quint64(sqlite3_column_int64(old, 2));
        r.size = sqlite3_column_int64(old, 3);
        r.mtimeNs = sqlite3_column_int64(old, 4);
        r.ctimeNs = sqlite3_column_int64(old, 5);
    }
    sqlite3_finalize(old);
    bool ok = (rc == SQLITE_DONE || fail("migrate")) && exec("BEGIN IMMEDIATE");
    for (auto it = folders.cbegin(); ok && it != folders.cend(); ++it) {
        const QByteArray value = encodeRecords(*it);
        sqlite3_reset(m_upsert);
        sqlite3_bind_text(m_upsert, 1, it.key().constData(), int(it.key().size()), SQLITE_STATIC);
        sqlite3_bind_blob(m_upsert, 2, value.constData(), int(value.size()), SQLITE_STATIC);
        ok = sqlite3_step(m_upsert) == SQLITE_DONE || fail("migrate");
        sqlite3_reset(m_upsert);
    }
    if (ok && exec("DROP TABLE files") && exec("COMMIT"))
        return true;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool ArchiveCatalog::readFolder(const QByteArray &folder, Records *records)
{
    records->clear();
    sqlite3_reset(m_select);
    sqlite3_bind_text(m_select, 1, folder.constData(), int(folder.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(m_select);
    if (rc == SQLITE_ROW)
        decodeRecords(static_cast<const char *>(sqlite3_column_blob(m_select, 0)), sqlite3_column_bytes(m_select, 0), records);
    sqlite3_reset(m_select);
    return rc == SQLITE_ROW || rc == SQLITE_DONE || fail("read");
}

bool ArchiveCatalog::useFolder(const QByteArray &folder)
{
    if (m_folderLoaded && folder == m_folderBytes)
        return true;
    if (!writeBack())
        return false;
    beginRead();
    m_folderLoaded = false;
    m_folderText.clear();
    m_folderBytes = folder;
    if (!readFolder(folder, &m_records))
        return false;
    m_folderLoaded = true;
    m_recordsCurrent = m_inTransaction && m_writing;
    return true;
}

bool ArchiveCatalog::writeBack()
{
    if (!m_changed)
        return true;
    m_changed = false;
    Records current;
    if (m_recordsCurrent) {
        // Read in this writing transaction: nobody else can have changed the folder since.
        current = std::move(m_records);
    } else {
        // Merged into what the catalog holds now: another program's records of the folder stay.
        const bool ok = beginWrite() && readFolder(m_folderBytes, &current);
        if (ok) {
            for (auto it = m_changes.cbegin(); it != m_changes.cend(); ++it) {
                if (it->has_value())
                    current.insert(it.key(), **it);
                else
                    current.remove(it.key());
            }
        }
        m_changes.clear();
        if (!ok) {
            m_folderLoaded = false;
            return false;
        }
    }
    int rc;
    const QByteArray value = encodeRecords(current);
    if (current.isEmpty()) {
        sqlite3_reset(m_delete);
        sqlite3_bind_text(m_delete, 1, m_folderBytes.constData(), int(m_folderBytes.size()), SQLITE_STATIC);
        rc = sqlite3_step(m_delete);
        sqlite3_reset(m_delete);
    } else {
        sqlite3_reset(m_upsert);
        sqlite3_bind_text(m_upsert, 1, m_folderBytes.constData(), int(m_folderBytes.size()), SQLITE_STATIC);
        sqlite3_bind_blob(m_upsert, 2, value.constData(), int(value.size()), SQLITE_STATIC);
        rc = sqlite3_step(m_upsert);
        sqlite3_reset(m_upsert);
    }
    m_records = std::move(current);
    if (rc != SQLITE_DONE) {
        m_folderLoaded = false;
        return fail("write");
    }
    m_recordsCurrent = true;
    return true;
}

bool ArchiveCatalog::isSet(const QString &folder, const QString &name, const Platform::FileStat &st)
{
    return isSetIn(folder, name, st);
}

bool ArchiveCatalog::isSet(const QString &absolutePath, const Platform::FileStat &st)
{
    const SplitPath path(absolutePath);
    return isSetIn(path.folder, path.name, st);
}

bool ArchiveCatalog::isSetIn(QStringView folder, QStringView name, const Platform::FileStat &st)
{
    if (!m_db || !st.exists())
        return true;
    if (!holdFolder(folder))
        return true;
    const auto it = m_records.constFind(Name{Platform::encodePath(name)});
    if (it == m_records.cend())
        return true;
    return it->device != st.device || it->inode != st.inode || it->size != st.size || it->mtimeNs != st.mtimeNs
        || it->ctimeNs != st.ctimeNs;
}

bool ArchiveCatalog::holdFolder(QStringView folder)
{
    if (m_folderLoaded && folder == m_folderText)
        return true;
    if (!useFolder(Platform::encodePath(folder)))
        return false;
    m_folderText = folder.toString();
    return true;
}

bool ArchiveCatalog::isSet(const QString &absolutePath)
{
    return isSet(absolutePath, Platform::statPath(absolutePath));
}

bool ArchiveCatalog::change(const QString &absolutePath, const std::optional<Record> &record)
{
    if (!m_db) {
        m_error = QStringLiteral("Der Archivattribut-Katalog ist nicht geöffnet.");
        return false;
    }
    const SplitPath path(absolutePath);
    if (!holdFolder(path.folder))
        return false;
    const Name key{Platform::encodePath(path.name)};
    if (record)
        m_records.insert(key, *record);
    else
        m_records.remove(key);
    if (!m_changed) {
        m_changed = true;
        m_heldSince.start();
    }
    // Records read in the writing transaction are written as they stand; others are merged.
    if (!m_recordsCurrent)
        m_changes.insert(key, record);
    // A long folder does not hold its changes back for longer than the commit interval.
    if (m_heldSince.elapsed() >= kCommitIntervalMs)
        return writeBack() && commit();
    return true;
}

bool ArchiveCatalog::clear(const QString &absolutePath, const Platform::FileStat &st)
{
    return change(absolutePath, Record{st.device, st.inode, st.size, st.mtimeNs, st.ctimeNs});
}

bool ArchiveCatalog::set(const QString &absolutePath)
{
    return change(absolutePath, std::nullopt);
}

bool ArchiveCatalog::flush()
{
    const bool written = writeBack();
    // What another program changed in between is seen by the next run.
    m_folderLoaded = false;
    return commit() && written;
}

bool ArchiveCatalog::commit()
{
    if (!m_db || !m_inTransaction)
        return true;
    m_inTransaction = false;
    m_recordsCurrent = false;
    return exec("COMMIT");
}

// Look-ups share one transaction too: each query on its own would take the file's locks anew.
void ArchiveCatalog::beginRead()
{
    if (m_inTransaction && m_transactionAge.elapsed() >= kCommitIntervalMs)
        commit();
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
    if (m_inTransaction && (!m_writing || m_transactionAge.elapsed() >= kCommitIntervalMs) && !commit())
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
    m_folderLoaded = false;
    m_recordsCurrent = false;
    m_changed = false;
    m_records.clear();
    m_changes.clear();
}
