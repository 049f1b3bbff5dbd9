// SPDX-License-Identifier: GPL-3.0-or-later
#include "db/databasebackup.h"

#include "db/tmysqldatabase.h"
#include "engine/backuprun.h"
#include "engine/ziparchive.h"
#include "jobs/tauftrag.h"
#include "platform/clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace
{

constexpr quint16 kNotNullFlag = 1;
constexpr quint16 kBinaryCollation = 63;
constexpr qsizetype kWriteChunk = 1 << 20;
constexpr int kNullable = 1;

const QString kTableCaption = QStringLiteral("Tabelle");

enum class Failure { Connect, Reading, Copying };

class DumpFile
{
public:
    bool open(const QString &path)
    {
        m_file.setFileName(path);
        m_ok = m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
        m_buffer.clear();
        m_buffer.reserve(kWriteChunk + 65536);
        return m_ok;
    }
    QByteArray &buffer()
    {
        return m_buffer;
    }
    /// Writes the buffer out once it has grown past a chunk.
    bool spill()
    {
        return m_buffer.size() < kWriteChunk || flush();
    }
    bool flush()
    {
        if (m_ok && !m_buffer.isEmpty())
            m_ok = m_file.write(m_buffer) == m_buffer.size();
        m_buffer.clear();
        return m_ok;
    }
    bool ok() const
    {
        return m_ok;
    }
    /// Writes what is left and closes; false when anything could not be written.
    bool close()
    {
        if (!m_file.isOpen())
            return m_ok;
        flush();
        m_file.close();
        return m_ok;
    }

private:
    QFile m_file;
    QByteArray m_buffer;
    bool m_ok = false;
};

void appendHex(QByteArray &out, const char *data, qsizetype size)
{
    static const char digits[] = "0123456789ABCDEF";
    const qsizetype at = out.size();
    out.resize(at + 2 + 2 * size);
    char *p = out.data() + at;
    *p++ = '0';
    *p++ = 'x';
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        *p++ = digits[b >> 4];
        *p++ = digits[b & 15];
    }
}

// Line breaks would split the value over lines and a double quote would end it early; a NUL
// byte has no business in a statement's text.
bool needsHex(const char *data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '"' || c == '\r' || c == '\n' || c == '\0')
            return true;
    }
    return false;
}

void appendQuoted(QByteArray &out, const QByteArray &text)
{
    out += '"';
    out += text;
    out += '"';
}

// Numbers, dates and times go out as the server's own text, which it reads back exactly.
void appendValue(QByteArray &out, const TmySQLField &field)
{
    if (field.isNull()) {
        if (field.tag() == kNullable) {
            out += "NULL";
        } else if (field.kind() == FieldKind::Date || field.kind() == FieldKind::DateTime) {
            out += "\"--\"";
        } else {
            out += "\"\"";
        }
        return;
    }
    const QByteArray bytes = field.asBytes();
    switch (field.kind()) {
    case FieldKind::Float:
    case FieldKind::Date:
    case FieldKind::DateTime:
        appendQuoted(out, bytes);
        return;
    case FieldKind::Blob:
        if (bytes.isEmpty())
            out += "\"\"";
        else
            appendHex(out, bytes.constData(), bytes.size());
        return;
    default:
        break;
    }
    // Binary strings (BINARY, VARBINARY) may hold bytes that are no text in the statement's
    // character set; in hexadecimal they come back byte for byte.
    const bool binary = field.column().charset == kBinaryCollation
        && (field.kind() == FieldKind::String || field.kind() == FieldKind::Memo);
    if (!bytes.isEmpty() && (binary || needsHex(bytes.constData(), bytes.size())))
        appendHex(out, bytes.constData(), bytes.size());
    else
        appendQuoted(out, bytes);
}

// A backquoted name at text[*pos] (which is the opening backquote); doubled backquotes stand for one.
bool takeQuotedName(const QByteArray &text, qsizetype *pos, QByteArray *name)
{
    name->clear();
    qsizetype i = *pos + 1;
    while (i < text.size()) {
        if (text[i] == '`') {
            if (i + 1 < text.size() && text[i + 1] == '`') {
                name->append('`');
                i += 2;
                continue;
            }
            *pos = i + 1;
            return true;
        }
        name->append(text[i]);
        ++i;
    }
    return false;
}

/**
 * Marks each column of the open table nullable or not from the create statement's column
 * lines (those beginning with a backquoted name). A line naming no column of the table is a
 * failure. The server's own flag wins over a line whose text merely mentions "NOT NULL"
 * (a comment or a default), so that a null value is never written as an empty text.
 */
bool markNullability(const QByteArray &createStatement, TmySQLTable &table)
{
    for (int i = 0; i < table.fieldCount(); ++i)
        table.field(i)->setTag(0);
    qsizetype pos = createStatement.indexOf('\n');
    if (pos < 0)
        return true;
    ++pos;
    QByteArray name;
    for (;;) {
        const qsizetype end = createStatement.indexOf('\n', pos);
        if (end < 0)
            break; // the closing line with the table options
        const QByteArray line = createStatement.mid(pos, end - pos + 1);
        pos = end + 1;
        qsizetype at = 0;
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at >= line.size() || line[at] != '`')
            continue;
        if (!takeQuotedName(line, &at, &name))
            return false;
        TmySQLField *field = nullptr;
        for (int i = 0; i < table.fieldCount(); ++i) {
            if (table.field(i)->column().name == name) {
                field = table.field(i);
                break;
            }
        }
        if (!field)
            return false;
        const bool markedNullable = !line.contains("NOT NULL");
        field->setTag(markedNullable || !(field->column().flags & kNotNullFlag) ? kNullable : 0);
    }
    return true;
}

struct TableEntry {
    QString name;
    bool isView = false;
    QByteArray createStatement; // views: fetched before they are ordered
};

// A view that selects from another view must come after it, or its CREATE fails on restore.
QList<TableEntry> orderViews(QList<TableEntry> views)
{
    QList<TableEntry> ordered;
    while (!views.isEmpty()) {
        qsizetype pick = 0;
        for (qsizetype i = 0; i < views.size(); ++i) {
            bool usesPending = false;
            for (qsizetype j = 0; j < views.size() && !usesPending; ++j)
                usesPending = j != i && views[i].createStatement.contains(DatabaseDump::quoteName(views[j].name));
            if (!usesPending) {
                pick = i;
                break;
            }
        }
        ordered.append(views.takeAt(pick));
    }
    return ordered;
}

class DatabaseSaver
{
public:
    explicit DatabaseSaver(BackupRun &run)
        : m_run(run)
        , m_host(run.host())
        , m_job(*run.currentAuftrag)
    {
    }

    void saveAll();

private:
    enum class Outcome { Done, Failed, Cancelled };

    void saveEntry(int index);
    Outcome dumpDatabase(TmySQLDatabase &db, DumpFile &file, int index);
    Outcome dumpTable(TmySQLDatabase &db, DumpFile &file, const TableEntry &entry);
    bool runStatement(TmySQLDatabase &db, const QByteArray &sql);
    bool confirmCancel();
    void copyArchive(const TODBC_DB &entry, const QString &workDir, const QString &dumpPath);
    void fail(Failure failure, const QString &entryName);
    void setOverall(qint64 position);
    QByteArray header(const QString &entryName) const;

    BackupRun &m_run;
    RunHost &m_host;
    TAuftrag &m_job;
    int m_count = 0;
    bool m_stopped = false;
};

void DatabaseSaver::saveAll()
{
    m_run.dbFilesCopied = 0;
    m_run.kbDbCopied = 0;
    m_count = int(m_job.databases.size());
    m_run.databaseCount = m_count;
    if (m_count == 0)
        return;

    m_host.setProgressLine(ProgressLine::FolderCount, QStringLiteral("Datenbank 1 von %1").arg(m_count));
    m_host.setGauge(2, 0, qint64(m_count) * 100);
    m_host.setProgressLine(ProgressLine::FileCount, QStringLiteral("Tabellen werden ermittelt .."));
    m_host.setGauge(1, 0, 0);
    m_host.setProgressLine(ProgressLine::FolderCaption, QStringLiteral("Datenbank"));
    m_host.setProgressLine(ProgressLine::SourceCaption, kTableCaption);
    m_host.setProgressLine(ProgressLine::TargetCaption, QStringLiteral("Aktion"));

    for (int i = 1; i <= m_count && !m_stopped; ++i)
        saveEntry(i);
}

QByteArray DatabaseSaver::header(const QString &entryName) const
{
    const QDateTime now = Clock::now();
    QString stamp = now.toString(QStringLiteral("dd.MM.yyyy"));
    if (now.time() != QTime(0, 0))
        stamp += now.toString(QStringLiteral(" hh:mm:ss"));
    return (QStringLiteral("# Datensicherung der Datenbank: ") + entryName + QStringLiteral("\r\n")
        + QStringLiteral("# Erstellt mit Trevalo \r\n") + QStringLiteral("# am: ") + stamp)
        .toUtf8();
}

void DatabaseSaver::saveEntry(int index)
{
    const TODBC_DB entry = m_job.databases.at(index - 1);
    m_host.setProgressLine(ProgressLine::FolderCount, QStringLiteral("Datenbank %1 von %2").arg(index).arg(m_count));

    // A folder of this process's own, so two programs saving at once never share a dump.
    const QString workDir
        = m_job.tempFolder() + QStringLiteral("trevalo-db-%1/").arg(QCoreApplication::applicationPid());
    QDir().mkpath(workDir);
    const QString dumpPath = workDir + DatabaseDump::kDumpFileName;
    DumpFile file;
    if (file.open(dumpPath))
        file.buffer() += header(entry.DB_Name);
    m_host.setProgressLine(ProgressLine::Folder, entry.DB_Name);

    TmySQLDatabase db;
    db.setDatabaseName(entry.DB_DBName);
    db.setHost(entry.DB_Host);
    bool portOk = false;
    const int port = entry.DB_Port.trimmed().toInt(&portOk);
    db.setPort(portOk && port > 0 && port <= 65535 ? port : 3306);
    db.setLoginPrompt(entry.DB_Login == QLatin1String("ja"));
    db.setLoginPromptHandler(
        [this, user = entry.DB_User](const QString &database, QString *userName, QString *password) {
            *userName = user;
            password->clear();
            return m_host.askCredentials(
                MySqlLoginTexts::caption(), MySqlLoginTexts::databaseLabel() + u' ' + database, userName, password);
        });
    db.setUserName(entry.DB_User);
    db.setUserPassword(entry.DB_Pass);

    if (db.open()) {
        m_run.writeLog(
            QStringLiteral("Datenbankverbindung zu ") + entry.DB_Name + QStringLiteral(" wurde hergestellt."));
    } else {
        file.close();
        fail(Failure::Connect, entry.DB_Name);
    }
    if (m_run.abortFlag) {
        file.close();
        db.close();
        return;
    }

    const Outcome outcome = dumpDatabase(db, file, index);
    if (outcome == Outcome::Cancelled) {
        file.close();
        db.close();
        m_run.abortFlag = true;
        m_stopped = true;
        return;
    }
    const bool written = file.close();
    db.close();
    if (outcome == Outcome::Failed || !written) {
        fail(Failure::Reading, entry.DB_Name);
        return;
    }
    setOverall(qint64(index) * 100);
    if (m_run.abortFlag)
        return;
    copyArchive(entry, workDir, dumpPath);
}

void DatabaseSaver::setOverall(qint64 position)
{
    const qint64 maximum = qint64(m_count) * 100;
    m_host.setGauge(2, position, maximum);
    const QString status = QStringLiteral("aktiv (MySQL: %1 %)").arg(maximum > 0 ? position * 100 / maximum : 0);
    m_host.setJobProgressText(status);
    m_host.setTrayHint(m_job.Name + u' ' + status);
}

bool DatabaseSaver::runStatement(TmySQLDatabase &db, const QByteArray &sql)
{
    TmySQLQuery query(&db);
    query.setSqlBytes(sql);
    if (query.execSql())
        return true;
    return false;
}

DatabaseSaver::Outcome DatabaseSaver::dumpDatabase(TmySQLDatabase &db, DumpFile &file, int index)
{
    if (!file.ok())
        return Outcome::Failed;

    // One snapshot for all tables, UTC for TIMESTAMP values, and create statements with
    // backquoted names whatever the server's global SQL mode says.
    const int version = db.serverVersionNumber();
    QList<QByteArray> session;
    if (version >= 40101)
        session << "SET NAMES utf8mb4"
                << "SET SESSION sql_mode=''";
    session << "SET SESSION sql_quote_show_create=1";
    if (version >= 40103)
        session << "SET time_zone='+00:00'";
    if (version >= 40108)
        session << "SET SESSION TRANSACTION ISOLATION LEVEL REPEATABLE READ"
                << "START TRANSACTION WITH CONSISTENT SNAPSHOT";
    for (const QByteArray &sql : std::as_const(session)) {
        if (!runStatement(db, sql))
            return Outcome::Failed;
    }

    QList<TableEntry> tables;
    QList<TableEntry> views;
    {
        TmySQLQuery list(&db);
        list.setSql(version >= 50002 ? QStringLiteral("SHOW FULL TABLES") : QStringLiteral("SHOW TABLES"));
        if (!list.open())
            return Outcome::Failed;
        while (!list.eof()) {
            TableEntry e;
            e.name = QString::fromUtf8(list.field(0)->asBytes());
            e.isView = list.fieldCount() > 1 && list.field(1)->asBytes() == "VIEW";
            (e.isView ? views : tables).append(e);
            if (!list.next())
                return Outcome::Failed;
        }
    }
    for (TableEntry &view : views) {
        TmySQLQuery show(&db);
        show.setSqlBytes("SHOW CREATE TABLE " + DatabaseDump::quoteName(view.name));
        if (!show.open() || show.eof() || show.fieldCount() < 2)
            return Outcome::Failed;
        view.createStatement = show.field(1)->asBytes();
    }
    tables += orderViews(views);

    const int count = int(tables.size());
    m_host.setGauge(1, 0, count);
    for (int k = 0; k < count; ++k) {
        m_host.setProgressLine(ProgressLine::FileCount, QStringLiteral("Tabelle %1 von %2").arg(k + 1).arg(count));
        setOverall(qint64(k) * 100 / count + qint64(index) * 100 - 100);
        const Outcome outcome = dumpTable(db, file, tables[k]);
        if (outcome != Outcome::Done)
            return outcome;
        m_host.setGauge(1, k + 1, count);
    }
    return Outcome::Done;
}

DatabaseSaver::Outcome DatabaseSaver::dumpTable(TmySQLDatabase &db, DumpFile &file, const TableEntry &entry)
{
    const QByteArray name = DatabaseDump::quoteName(entry.name);
    m_host.setProgressLine(ProgressLine::Source, entry.name);
    m_host.setProgressLine(ProgressLine::Target, QStringLiteral("Struktur lesen"));
    m_host.processEvents();

    QByteArray create = entry.createStatement;
    if (!entry.isView) {
        TmySQLQuery show(&db);
        show.setSqlBytes("SHOW CREATE TABLE " + name);
        if (!show.open() || show.eof() || show.fieldCount() < 2)
            return Outcome::Failed;
        create = show.field(1)->asBytes();
    }
    QByteArray &out = file.buffer();
    out += "\r\n\r\n\r\nDROP TABLE IF EXISTS " + name + ";\r\n\r\n";
    if (entry.isView) {
        // A view of that name from an earlier restore is not a table, so DROP TABLE leaves it.
        out += "DROP VIEW IF EXISTS " + name + ";\r\n\r\n";
        out += create + ';';
        return file.spill() ? Outcome::Done : Outcome::Failed;
    }
    out += create + ';';
    m_host.setProgressLine(ProgressLine::Target, QStringLiteral("Daten lesen"));
    m_host.processEvents();

    TmySQLTable table(&db);
    table.setTableName(entry.name);
    if (!table.open())
        return Outcome::Failed;
    if (!markNullability(create, table))
        return Outcome::Failed;
    m_host.processEvents();

    const QByteArray rowStart = "\r\nINSERT INTO " + name + " VALUES (";
    const int columns = table.fieldCount();
    qint64 rows = 0;
    while (!table.eof()) {
        if (++rows % 50 == 0)
            m_host.processEvents();
        if (m_host.cancelRequested() && confirmCancel())
            return Outcome::Cancelled;
        out += rowStart;
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                out += ", ";
            appendValue(out, *table.field(c));
        }
        out += ");";
        if (!file.spill())
            return Outcome::Failed;
        if (!table.next())
            return Outcome::Failed;
    }
    table.close();
    return Outcome::Done;
}

// True when the user confirms the cancel; No takes the request back and the dump goes on.
bool DatabaseSaver::confirmCancel()
{
    Question q;
    q.text = QStringLiteral("Möchten Sie den Sicherungsvorgang wirklich abbrechen?");
    q.icon = Icon::Warning;
    q.buttons = Answer::Yes | Answer::No;
    q.unattended = Answer::Yes;
    if (m_host.ask(q) == Answer::Yes)
        return true;
    m_host.setCancelRequested(false);
    return false;
}

void DatabaseSaver::copyArchive(const TODBC_DB &entry, const QString &workDir, const QString &dumpPath)
{
    const QString zipPath = workDir + QStringLiteral("Archive.zip");
    QFile::remove(zipPath);
    ZipProgress progress;
    progress.message = [this](const QString &line) {
        m_host.setProgressLine(ProgressLine::Source, QStringLiteral("Verpacke : ") + line.section(u':', 1));
    };
    progress.fileDone = [this] { m_host.setGauge(1, 1, 1); };
    progress.keepAlive = [this] { m_host.processEvents(); };
    QString error;
    if (!zipFiles(zipPath, { dumpPath }, progress, &error)) {
        fail(Failure::Copying, entry.DB_Name);
        return;
    }
    const QString targetFolder = m_run.setFolder + u'-' + entry.DB_Name + u'/';
    if (!QDir().mkpath(targetFolder)) {
        fail(Failure::Copying, entry.DB_Name);
        return;
    }
    const qint64 copiedBefore = m_run.dbFilesCopied;
    // The archive is the run's own work file: it gets no archive-attribute record.
    m_run.copyWorkFileToTarget(zipPath, targetFolder + QStringLiteral("Archive.zip"), false);
    if (!QFile::remove(zipPath) || !QFile::remove(dumpPath)) {
        fail(Failure::Copying, entry.DB_Name);
        return;
    }
    QDir().rmdir(workDir);
    if (m_host.cancelRequested()) {
        // The copy's own confirmation was answered Yes: no further database.
        m_run.abortFlag = true;
        m_stopped = true;
        return;
    }
    // An ignored copy error is counted and logged by the copy; the database is not saved then.
    if (!m_run.abortFlag && m_run.dbFilesCopied > copiedBefore)
        m_run.writeLog(QStringLiteral("Datenbank: \"") + entry.DB_Name + QStringLiteral("\" gesichert."));
}

void DatabaseSaver::fail(Failure failure, const QString &entryName)
{
    ++m_run.errorCount;
    m_run.abortFlag = true;
    QString box;
    QString text;
    switch (failure) {
    case Failure::Connect:
        box = QStringLiteral("Fehler beim Verbinden mit der Database aufgetreten.");
        text = QStringLiteral("Fehler beim Verbinden mit der Datenbank: ");
        break;
    case Failure::Reading:
        box = QStringLiteral("Fehler beim Auslesen der Datenbank aufgetreten.");
        text = QStringLiteral("Fehler beim Auslesen mit der Datenbank: ");
        break;
    case Failure::Copying:
        box = QStringLiteral("Fehler beim Kopieren der Datenbank aufgetreten.");
        text = QStringLiteral("Fehler beim Kopieren mit der Datenbank: ");
        break;
    }
    if (m_job.fehler_anzeigen)
        m_host.showMessage(box);
    m_run.setLastMessage(text + entryName);
    m_run.writeLog(text + entryName);
}

} // namespace

QByteArray DatabaseDump::quoteName(const QString &name)
{
    QByteArray quoted = name.toUtf8();
    quoted.replace("`", "``");
    return '`' + quoted + '`';
}

void backUpDatabases(BackupRun &run)
{
    if (!run.currentAuftrag)
        return;
    DatabaseSaver saver(run);
    saver.saveAll();
}
