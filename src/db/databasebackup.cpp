// SPDX-License-Identifier: GPL-3.0-or-later
#include "db/databasebackup.h"

#include "db/tmysqldatabase.h"
#include "engine/runhost.h"
#include "engine/runstep.h"
#include "engine/ziparchive.h"
#include "jobs/tauftrag.h"
#include "platform/clock.h"
#include "platform/file.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QTemporaryDir>


namespace
{

constexpr quint16 kNotNullFlag = 1;
constexpr quint16 kBinaryCollation = 63;
constexpr quint8 kJsonType = 245;
constexpr qsizetype kWriteChunk = 1 << 20;
constexpr int kNullable = 1;

const QString kTableCaption = QStringLiteral("Tabelle");

enum class Failure { Connect, Reading, Copying };

class DumpFile
{
public:
    /// Creates the file; it must not exist yet, and a link in its place is never followed.
    bool open(const QString &path)
    {
        m_ok = m_file.open(path, Platform::File::CreateNew);
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
            m_ok = m_file.write(m_buffer.constData(), m_buffer.size());
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
        if (!m_file.close())
            m_ok = false;
        return m_ok;
    }

private:
    Platform::File m_file;
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

void appendQuoted(QByteArray &out, QByteArrayView text)
{
    out += '"';
    out += text;
    out += '"';
}

/// The server runs on this machine: "localhost" (or an empty host), 127.0.0.0/8, ::1.
bool isLoopback(const QString &host)
{
    const QString h = host.trimmed();
    if (h.isEmpty() || h.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(h.startsWith(u'[') && h.endsWith(u']') ? h.mid(1, h.size() - 2) : h);
    return !address.isNull() && address.isLoopback();
}

bool isAscii(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

/// How the text of a column's character set may be written into a dump read as UTF-8.
enum class TextForm {
    Utf8, // utf8mb4, utf8mb3, ascii: its bytes are UTF-8 already
    AsciiCompatible, // single- and multi-byte sets whose ASCII bytes mean ASCII (latin1, cp1250, sjis ...)
    Other, // ucs2, utf16, utf32 and sets the server did not name: bytes only
};

TextForm textFormOf(const QByteArray &charsetName)
{
    if (charsetName.isEmpty())
        return TextForm::Other;
    if (charsetName.startsWith("utf8") || charsetName == "ascii")
        return TextForm::Utf8;
    if (charsetName.startsWith("ucs2") || charsetName.startsWith("utf16") || charsetName.startsWith("utf32"))
        return TextForm::Other;
    return TextForm::AsciiCompatible;
}

// Numbers, dates and times go out as the server's own text, which it reads back exactly.
// Text arrives in its column's own character set (the session asks for no conversion); what
// is not plain UTF-8 goes out in hexadecimal, which the server stores byte for byte.
void appendValue(QByteArray &out, const TmySQLField &field, TextForm form)
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
    const QByteArrayView bytes = field.bytesView();
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
    // JSON text is UTF-8 whatever collation id it comes with, and a JSON column takes no bytes.
    const bool binary = field.column().charset == kBinaryCollation && field.column().type != kJsonType
        && (field.kind() == FieldKind::String || field.kind() == FieldKind::Memo);
    const bool foreign = form == TextForm::Other || (form == TextForm::AsciiCompatible && !isAscii(bytes));
    if (!bytes.isEmpty() && (binary || foreign || needsHex(bytes.constData(), bytes.size()))) {
        // A JSON column refuses a string of bytes; the introducer makes the hexadecimal text.
        if (field.column().type == kJsonType)
            out += "_utf8mb4 ";
        appendHex(out, bytes.constData(), bytes.size());
    } else {
        appendQuoted(out, bytes);
    }
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

/// The column names of a create statement, in order (the lines that begin with a backquoted name).
QStringList columnNamesOf(const QByteArray &createStatement)
{
    QStringList names;
    qsizetype pos = createStatement.indexOf('\n');
    QByteArray name;
    while (pos >= 0) {
        const qsizetype end = createStatement.indexOf('\n', pos + 1);
        if (end < 0)
            break;
        const QByteArray line = createStatement.mid(pos + 1, end - pos - 1);
        pos = end;
        qsizetype at = 0;
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at < line.size() && line[at] == '`' && takeQuotedName(line, &at, &name))
            names.append(QString::fromUtf8(name));
    }
    return names;
}

// "SELECT *" leaves out invisible columns; the server marks them in the create statement.
bool hasInvisibleColumn(const QByteArray &createStatement)
{
    return createStatement.contains(" INVISIBLE") || createStatement.contains("/*!80023 INVISIBLE */");
}

QByteArray sqlString(const QByteArray &text)
{
    QByteArray quoted = text;
    quoted.replace("\\", "\\\\").replace("'", "\\'");
    return '\'' + quoted + '\'';
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
    explicit DatabaseSaver(RunStep &run)
        : m_run(run)
        , m_host(run.host())
        , m_job(run.job())
    {
    }

    void saveAll();

private:
    enum class Outcome { Done, Failed, Cancelled };

    /// One kind of stored object: how to list it and how to show its definition.
    struct ObjectKind {
        const char *listSql; // first column: the name (second with nameColumn 1)
        int nameColumn;
        const char *keyword; // TRIGGER, FUNCTION, PROCEDURE, EVENT
        int createColumn; // of SHOW CREATE <keyword>
        int timeZoneColumn; // -1 when the object has none
        int charsetColumn; // character_set_client; collation_connection follows it
        int minVersion;
    };

    void saveEntry(int index);
    Outcome dumpDatabase(TmySQLDatabase &db, DumpFile &file, int index);
    Outcome dumpTable(TmySQLDatabase &db, DumpFile &file, const TableEntry &entry);
    Outcome dumpObjects(TmySQLDatabase &db, DumpFile &file, const QList<ObjectKind> &kinds);
    bool readCharsets(TmySQLDatabase &db);
    bool runStatement(TmySQLDatabase &db, const QByteArray &sql);
    bool rawResults(TmySQLDatabase &db, bool raw);
    bool confirmCancel();
    bool cancelCheck();
    void copyArchive(const TODBC_DB &entry, const QString &workDir, const QString &dumpPath);
    /// reason (the server's or the client's text), when known, follows as a log line of its own.
    void fail(Failure failure, const QString &entryName, const QString &reason = QString());
    void setOverall(qint64 position);
    QByteArray header(const QString &entryName) const;

    RunStep &m_run;
    RunHost &m_host;
    TAuftrag &m_job;
    int m_count = 0;
    bool m_stopped = false;
    bool m_cancelConfirmed = false; // a wait for the server ended by the user's confirmed cancel
    QHash<quint16, QByteArray> m_charsets; // collation id -> character set name
};

// Waits for statements the server answers at once; reading a table may first need the
// server to sort it, which gets the long limit.
constexpr int kCatalogTimeoutSeconds = 60;
constexpr int kRowsTimeoutSeconds = 600;

void DatabaseSaver::saveAll()
{
    m_count = int(m_job.databases.size());
    m_run.setDatabaseCount(m_count);
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

    // A folder nobody else can guess or enter; it goes with everything in it on every path.
    const QString tempFolder = m_job.tempFolder();
    QDir().mkpath(tempFolder);
    QTemporaryDir work(QDir(tempFolder).filePath(QStringLiteral("trevalo-db-XXXXXX")));
    const QString workDir = work.isValid() ? work.path() + u'/' : QString();
    const QString dumpPath = workDir + DatabaseDump::kDumpFileName;
    DumpFile file;
    if (work.isValid() && file.open(dumpPath))
        file.buffer() += header(entry.DB_Name);
    m_host.setProgressLine(ProgressLine::Folder, entry.DB_Name);

    TmySQLDatabase db;
    // Compression pays over a network; to a server on this machine it only costs both sides time.
    db.setConnectOptions((isLoopback(entry.DB_Host) ? 0 : TmySQLDatabase::coCompress)
        | (entry.DB_TLS == QLatin1String("ja") ? TmySQLDatabase::coRequireTls : 0));
    db.setConnectionTimeout(10);
    db.setReadOnly(true);
    db.setHandleShared(true);
    db.setIoTimeout(kCatalogTimeoutSeconds);
    db.setCancelCheck([this] { return cancelCheck(); });
    db.setDatabaseName(entry.DB_DBName);
    db.setHost(entry.DB_Host);
    bool portOk = false;
    const int port = entry.DB_Port.trimmed().toInt(&portOk);
    db.setPort(portOk && port > 0 && port <= 65535 ? port : 3306);
    db.setLoginPrompt(entry.DB_Login == QLatin1String("ja"));
    // With the prompt on, the stored user and password are not used: the fields start empty.
    db.setLoginPromptHandler([this](const QString &database, QString *userName, QString *password) {
        userName->clear();
        password->clear();
        return m_host.askCredentials(
            MySqlLoginTexts::caption(), MySqlLoginTexts::databaseLabel() + u' ' + database, userName, password);
    });
    db.setUserName(entry.DB_User);
    db.setUserPassword(entry.DB_Pass);

    const bool opened = db.open();
    if (m_cancelConfirmed) {
        file.close();
        m_run.cancel().stop();
        m_stopped = true;
        return;
    }
    if (opened) {
        m_run.writeLog(
            QStringLiteral("Datenbankverbindung zu ") + entry.DB_Name + QStringLiteral(" wurde hergestellt."));
    } else {
        file.close();
        fail(Failure::Connect, entry.DB_Name, db.errorString());
    }
    if (m_run.cancel().stopped()) {
        file.close();
        db.close();
        return;
    }

    Outcome outcome = dumpDatabase(db, file, index);
    if (m_cancelConfirmed)
        outcome = Outcome::Cancelled;
    if (outcome == Outcome::Cancelled) {
        file.close();
        db.close();
        m_run.cancel().stop();
        m_stopped = true;
        return;
    }
    const bool written = file.close();
    const QString serverError = db.wire().errorString();
    db.close();
    if (outcome == Outcome::Failed || !written) {
        fail(Failure::Reading,
            entry.DB_Name,
            written ? serverError : QStringLiteral("Die Sicherungsdatei kann nicht geschrieben werden."));
        return;
    }
    setOverall(qint64(index) * 100);
    if (m_run.cancel().stopped())
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

/*
 * Rows and stored objects are read without conversion: text in its column's own character
 * set (so every value of every set is exact), an object's body in the character set it was
 * made in (the dump sets that set again before the object). Everything else (names, create
 * statements of tables and views) comes in the connection's set, as the dump is read back.
 */
bool DatabaseSaver::rawResults(TmySQLDatabase &db, bool raw)
{
    const int version = db.serverVersionNumber();
    if (version < 40101)
        return true;
    return runStatement(db,
        raw ? QByteArray("SET character_set_results=NULL")
            : QByteArray(version >= 50503 ? "SET character_set_results=utf8mb4" : "SET character_set_results=utf8"));
}

bool DatabaseSaver::runStatement(TmySQLDatabase &db, const QByteArray &sql)
{
    TmySQLQuery query(&db);
    query.setSqlBytes(sql);
    if (query.execSql())
        return true;
    return false;
}

// The server names the character set of each collation id its columns report.
bool DatabaseSaver::readCharsets(TmySQLDatabase &db)
{
    m_charsets.clear();
    {
        TmySQLQuery list(&db);
        list.setSql(QStringLiteral("SHOW COLLATION"));
        if (!list.open())
            return false;
        while (!list.eof()) {
            if (list.fieldCount() >= 3 && !list.field(2)->isNull())
                m_charsets.insert(quint16(list.field(2)->asBytes().toUInt()), list.field(1)->asBytes());
            if (!list.next())
                return false;
        }
    }
    // Newer servers keep some collations (ids above 2047) out of SHOW COLLATION; older ones
    // have no ID column here, and the query's error is of no concern then.
    TmySQLQuery more(&db);
    more.setSql(
        QStringLiteral("SELECT ID, CHARACTER_SET_NAME FROM information_schema.COLLATION_CHARACTER_SET_APPLICABILITY"
                       " WHERE ID IS NOT NULL"));
    if (more.open()) {
        while (!more.eof()) {
            m_charsets.insert(quint16(more.field(0)->asBytes().toUInt()), more.field(1)->asBytes());
            if (!more.next())
                return false;
        }
    }
    return db.connected();
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
        session << (version >= 50503 ? "SET NAMES utf8mb4" : "SET NAMES utf8") << "SET SESSION sql_mode=''";
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
    if (version >= 40101 && !readCharsets(db))
        return Outcome::Failed;
    // The mark that the times of this dump are UTC; dumps without it hold the server's local time.
    if (version >= 40103)
        file.buffer() += "\r\n/*!40103 SET TIME_ZONE='+00:00' */;";

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
    const int tableCount = int(tables.size());
    tables += orderViews(views);

    // Routines before the views (a view may call a function), triggers and events at the end.
    static const QList<ObjectKind> routines = {
        { "SHOW FUNCTION STATUS WHERE Db = DATABASE()", 1, "FUNCTION", 2, -1, 3, 50003 },
        { "SHOW PROCEDURE STATUS WHERE Db = DATABASE()", 1, "PROCEDURE", 2, -1, 3, 50003 },
    };
    static const QList<ObjectKind> triggersAndEvents = {
        { "SHOW TRIGGERS", 0, "TRIGGER", 2, -1, 3, 50121 },
        { "SHOW EVENTS", 1, "EVENT", 3, 2, 4, 50106 },
    };
    const int count = int(tables.size());
    m_host.setGauge(1, 0, count);
    for (int k = 0; k < count; ++k) {
        if (k == tableCount) {
            const Outcome outcome = dumpObjects(db, file, routines);
            if (outcome != Outcome::Done)
                return outcome;
        }
        m_host.setProgressLine(ProgressLine::FileCount, QStringLiteral("Tabelle %1 von %2").arg(k + 1).arg(count));
        setOverall(qint64(k) * 100 / count + qint64(index) * 100 - 100);
        const Outcome outcome = dumpTable(db, file, tables[k]);
        if (outcome != Outcome::Done)
            return outcome;
        m_host.setGauge(1, k + 1, count);
    }
    Outcome outcome = Outcome::Done;
    if (tableCount == count)
        outcome = dumpObjects(db, file, routines);
    if (outcome == Outcome::Done)
        outcome = dumpObjects(db, file, triggersAndEvents);
    return outcome;
}

/*
 * Each object is written between "DELIMITER ;;" and "DELIMITER ;" lines, as the stock client
 * reads them too: its body has ";" at line ends. Before it, the session gets the SQL mode, the
 * character set (and for events the time zone) the object was made with, so it behaves the
 * same after the restore; the session's own settings come back after the last object.
 */
DatabaseSaver::Outcome DatabaseSaver::dumpObjects(TmySQLDatabase &db, DumpFile &file, const QList<ObjectKind> &kinds)
{
    const int version = db.serverVersionNumber();
    QByteArray &out = file.buffer();
    bool saved = false;
    if (!rawResults(db, true))
        return Outcome::Failed;
    for (const ObjectKind &kind : kinds) {
        if (version < kind.minVersion)
            continue;
        QList<QByteArray> names;
        {
            TmySQLQuery list(&db);
            list.setSql(QString::fromLatin1(kind.listSql));
            if (!list.open())
                return Outcome::Failed;
            while (!list.eof()) {
                if (list.fieldCount() > kind.nameColumn)
                    names.append(list.field(kind.nameColumn)->asBytes());
                if (!list.next())
                    return Outcome::Failed;
            }
        }
        for (const QByteArray &rawName : std::as_const(names)) {
            const QString name = QString::fromUtf8(rawName);
            m_host.setProgressLine(ProgressLine::Source, name);
            m_host.processEvents();
            TmySQLQuery show(&db);
            show.setSqlBytes(QByteArray("SHOW CREATE ") + kind.keyword + ' ' + DatabaseDump::quoteName(name));
            if (!show.open() || show.eof() || show.fieldCount() <= kind.charsetColumn + 1)
                return Outcome::Failed;
            // Without the right to see it, the server shows no definition: it cannot be saved.
            if (show.field(kind.createColumn)->isNull())
                return Outcome::Failed;
            if (!saved) {
                out += "\r\n\r\n\r\nSET @trevalo_sql_mode=@@sql_mode, @trevalo_time_zone=@@time_zone,"
                       " @trevalo_cs_client=@@character_set_client, @trevalo_cs_results=@@character_set_results,"
                       " @trevalo_collation=@@collation_connection;";
                saved = true;
            }
            out += "\r\n\r\n\r\nDROP " + QByteArray(kind.keyword) + " IF EXISTS " + DatabaseDump::quoteName(name) + ";";
            out += "\r\nSET sql_mode=" + sqlString(show.field(1)->asBytes());
            if (kind.timeZoneColumn >= 0)
                out += ", time_zone=" + sqlString(show.field(kind.timeZoneColumn)->asBytes());
            const QByteArray charset = show.field(kind.charsetColumn)->asBytes();
            out += ", character_set_client=" + sqlString(charset) + ", character_set_results=" + sqlString(charset)
                + ", collation_connection=" + sqlString(show.field(kind.charsetColumn + 1)->asBytes()) + ";";
            out += "\r\nDELIMITER ;;\r\n" + show.field(kind.createColumn)->asBytes() + ";;\r\nDELIMITER ;";
            if (!file.spill())
                return Outcome::Failed;
        }
    }
    if (saved)
        out += "\r\nSET sql_mode=@trevalo_sql_mode, time_zone=@trevalo_time_zone,"
               " character_set_client=@trevalo_cs_client, character_set_results=@trevalo_cs_results,"
               " collation_connection=@trevalo_collation;";
    if (!rawResults(db, false))
        return Outcome::Failed;
    return file.spill() ? Outcome::Done : Outcome::Failed;
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
    // Invisible columns are read and written by name; an INSERT without names would leave them out.
    QByteArray columnList;
    if (hasInvisibleColumn(create)) {
        const QStringList names = columnNamesOf(create);
        table.setColumnNames(names);
        QList<QByteArray> quoted;
        for (const QString &column : names)
            quoted.append(DatabaseDump::quoteName(column));
        columnList = " (" + quoted.join(", ") + ')';
    }
    if (!rawResults(db, true))
        return Outcome::Failed;
    db.setIoTimeout(kRowsTimeoutSeconds);
    const bool opened = table.open();
    if (!opened)
        return Outcome::Failed;
    if (!markNullability(create, table))
        return Outcome::Failed;
    m_host.processEvents();

    QList<TextForm> forms;
    for (int c = 0; c < table.fieldCount(); ++c) {
        const quint16 charset = table.field(c)->column().charset;
        if (table.field(c)->column().type == kJsonType)
            forms.append(TextForm::Utf8);
        else
            forms.append(charset == 0 ? TextForm::AsciiCompatible : textFormOf(m_charsets.value(charset)));
    }
    const QByteArray rowStart = "\r\nINSERT INTO " + name + columnList + " VALUES (";
    const int columns = table.fieldCount();
    qint64 rows = 0;
    while (!table.eof()) {
        if (++rows % 50 == 0)
            m_host.processEvents();
        if (m_run.cancel().requested() && confirmCancel())
            return Outcome::Cancelled;
        out += rowStart;
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                out += ", ";
            appendValue(out, *table.field(c), forms[c]);
        }
        out += ");";
        if (!file.spill())
            return Outcome::Failed;
        if (!table.next())
            return Outcome::Failed;
    }
    table.close();
    db.setIoTimeout(kCatalogTimeoutSeconds);
    return rawResults(db, false) ? Outcome::Done : Outcome::Failed;
}

// True when the user confirms the cancel; No takes the request back and the dump goes on.
bool DatabaseSaver::confirmCancel()
{
    Question q;
    q.text = QStringLiteral("Möchten Sie den Sicherungsvorgang wirklich abbrechen?");
    q.confirmsCancel = true;
    q.icon = Icon::Warning;
    q.buttons = Answer::Yes | Answer::No;
    q.unattended = Answer::Yes;
    if (m_host.ask(q) == Answer::Yes)
        return true;
    m_run.cancel().withdraw();
    return false;
}

// Asked while the connection waits for the server: the window stays alive, and a confirmed
// cancel ends the wait at once instead of after the server's answer.
bool DatabaseSaver::cancelCheck()
{
    if (m_cancelConfirmed)
        return true;
    m_host.processEvents();
    if (m_run.cancel().requested() && confirmCancel())
        m_cancelConfirmed = true;
    return m_cancelConfirmed;
}

void DatabaseSaver::copyArchive(const TODBC_DB &entry, const QString &workDir, const QString &dumpPath)
{
    const QString zipPath = workDir + QStringLiteral("Archive.zip");
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
    const QString targetFolder = m_run.targetSetFolder() + u'-' + entry.DB_Name + u'/';
    const bool saved = m_run.copyDumpIntoSet(zipPath, targetFolder + QStringLiteral("Archive.zip"));
    if (!QFile::remove(zipPath) || !QFile::remove(dumpPath)) {
        fail(Failure::Copying, entry.DB_Name);
        return;
    }
    if (m_run.cancel().requested()) {
        // The copy's own confirmation was answered Yes: no further database.
        m_run.cancel().stop();
        m_stopped = true;
        return;
    }
    // An ignored copy error is counted and logged by the copy; the database is not saved then.
    if (!m_run.cancel().stopped() && saved)
        m_run.writeLog(QStringLiteral("Datenbank: \"") + entry.DB_Name + QStringLiteral("\" gesichert."));
}

void DatabaseSaver::fail(Failure failure, const QString &entryName, const QString &reason)
{
    m_run.countError();
    m_run.cancel().stop();
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
    if (!reason.isEmpty())
        m_run.writeLog(reason);
}

} // namespace

QByteArray DatabaseDump::quoteName(const QString &name)
{
    QByteArray quoted = name.toUtf8();
    quoted.replace("`", "``");
    return '`' + quoted + '`';
}

void backUpDatabases(RunStep &run)
{
    DatabaseSaver saver(run);
    saver.saveAll();
}
