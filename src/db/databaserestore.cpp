// SPDX-License-Identifier: GPL-3.0-or-later
#include "db/databaserestore.h"

#include "db/databasebackup.h"
#include "db/tmysqldatabase.h"
#include "engine/runhost.h"
#include "engine/ziparchive.h"
#include "platform/filesystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cctype>

namespace
{

using DatabaseRestore::Access;
using DatabaseRestore::Report;
using DatabaseRestore::Result;

constexpr qsizetype kReadChunk = 1 << 20;
constexpr qsizetype kBatchLimit = 1 << 20;
constexpr qsizetype kMinBatchLimit = 16 * 1024;

const QByteArray kInsertInto = "INSERT INTO ";
const QByteArray kDropTable = "DROP TABLE IF EXISTS ";
const QByteArray kCreateTable = "CREATE TABLE ";

/// The lines of the dump, without their line ends, read in large chunks straight from its archive.
class LineReader
{
public:
    explicit LineReader(ZipEntryReader &source)
        : m_source(source)
    {
    }
    qint64 size() const
    {
        return qint64(m_source.size());
    }
    /// The archive could not be read to its end (see the source's errorString()).
    bool failed() const
    {
        return m_failed;
    }
    /// The line before the last LF ended with CR (which next() leaves out).
    bool lastHadCr() const
    {
        return m_lastHadCr;
    }
    /// The next line into *line and the bytes it took (with its line end) into *taken.
    bool next(QByteArray *line, qsizetype *taken)
    {
        for (;;) {
            const qsizetype lf = m_buffer.indexOf('\n', m_pos);
            if (lf >= 0) {
                take(lf, 1, line, taken);
                return true;
            }
            if (m_atEnd) {
                if (m_failed || m_pos >= m_buffer.size())
                    return false;
                take(m_buffer.size(), 0, line, taken);
                return true;
            }
            m_buffer.remove(0, m_pos);
            m_pos = 0;
            const qsizetype had = m_buffer.size();
            m_buffer.resize(had + kReadChunk);
            const qint64 got = m_source.read(m_buffer.data() + had, kReadChunk);
            m_buffer.resize(had + qMax<qint64>(got, 0));
            m_failed = got < 0;
            if (got <= 0)
                m_atEnd = true;
        }
    }

private:
    void take(qsizetype end, qsizetype terminator, QByteArray *line, qsizetype *taken)
    {
        qsizetype length = end - m_pos;
        *taken = length + terminator;
        m_lastHadCr = length > 0 && m_buffer[m_pos + length - 1] == '\r';
        if (m_lastHadCr)
            --length;
        *line = m_buffer.mid(m_pos, length);
        m_pos = end + terminator;
    }

    ZipEntryReader &m_source;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_atEnd = false;
    bool m_failed = false;
    bool m_lastHadCr = false;
};

// "`my-table`" -> "my-table", "kunden" stays; *rest points behind the name.
QByteArray takeName(const QByteArray &text, qsizetype from, qsizetype *rest)
{
    QByteArray name;
    if (from < text.size() && text[from] == '`') {
        qsizetype i = from + 1;
        while (i < text.size()) {
            if (text[i] == '`') {
                if (i + 1 < text.size() && text[i + 1] == '`') {
                    name += '`';
                    i += 2;
                    continue;
                }
                ++i;
                break;
            }
            name += text[i++];
        }
        *rest = i;
        return name;
    }
    qsizetype end = from;
    while (end < text.size() && text[end] != ' ' && text[end] != '(' && text[end] != ';')
        ++end;
    *rest = end;
    return text.mid(from, end - from);
}

// The first words of a statement in upper case, behind a version comment's "/*!40101".
QList<QByteArray> leadingWords(const QByteArray &sql, int count)
{
    qsizetype i = 0;
    const auto skipSpace = [&] {
        while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n'))
            ++i;
    };
    skipSpace();
    if (sql.mid(i, 3) == "/*!") {
        i += 3;
        while (i < sql.size() && sql[i] >= '0' && sql[i] <= '9')
            ++i;
    }
    QList<QByteArray> words;
    while (words.size() < count) {
        skipSpace();
        const qsizetype start = i;
        while (i < sql.size() && (std::isalpha(uchar(sql[i])) || sql[i] == '_'))
            ++i;
        if (i == start)
            break;
        words.append(sql.mid(start, i - start).toUpper());
    }
    return words;
}

bool hasPrimaryKey(const QList<QByteArray> &createLines)
{
    return std::any_of(createLines.cbegin(), createLines.cend(), [](const QByteArray &line) {
        return line.trimmed().startsWith("PRIMARY KEY ");
    });
}

class Restorer
{
public:
    Restorer(RunHost &host, RunCancel &cancel, const QString &displayName)
        : m_host(host)
        , m_cancel(cancel)
        , m_name(displayName)
    {
        m_lanes[0].db = &m_db;
        m_lanes[1].db = &m_secondDb;
    }

    bool connect(const Access &access);
    void restore(ZipEntryReader &dump);
    /// Ends the restore after a confirmed cancel.
    void cancelled();
    void disconnect()
    {
        m_db.close();
        m_secondDb.close();
    }
    Report report() const
    {
        return m_report;
    }
    void fail(Result result, const QString &text)
    {
        m_report.result = result;
        m_report.errorString = text;
    }

private:
    /// A server session the rows are sent on. The rows of a large table alternate between two,
    /// so that the server works on both at once (it runs one session on one core).
    struct Lane {
        TmySQLDatabase *db = nullptr;
        QList<QByteArray> sent; ///< the statements of the batch the server runs now; empty: none
        quint64 sentAs = 0; ///< its number, so that answers are taken in the order of the dump
    };
    enum class Second { Closed, Open, Refused };

    bool confirmCancel();
    bool cancelCheck();
    void showItem(qsizetype counter);
    void runStatement(QList<QByteArray> &lines);
    void followSession(const QByteArray &sql, bool ok);
    void addToBatch(const QByteArray &statement, const QByteArray &prefix, qsizetype valuesAt);
    void flushBatch();
    Lane &freeLane();
    bool openSecondLane();
    void closeSecondLane();
    void endSecondLane();
    void settle(Lane &lane);
    void settleAll();
    void finishBatches()
    {
        flushBatch();
        settleAll();
        endSecondLane();
    }
    bool readAnswer(TmySQLDatabase &db, QString *error);
    bool answerTaken(Lane &lane, bool ok, const QString &error);
    void batchDone(Lane &lane, bool ok, const QString &error);
    bool execute(TmySQLDatabase &db, const QByteArray &sql, QString *error);
    bool execute(const QByteArray &sql, QString *error)
    {
        return execute(m_db, sql, error);
    }
    bool executeReported(const QByteArray &sql, const QByteArray &firstLine);
    void reportFailure(const QByteArray &firstLine, const QString &message);

    RunHost &m_host;
    RunCancel &m_cancel;
    QString m_name;
    TmySQLDatabase m_db;
    Report m_report;
    QString m_tableText;
    bool m_stopped = false;
    bool m_cancelConfirmed = false; // a wait for the server ended by the user's confirmed cancel

    // Consecutive rows of one InnoDB table become one multi-row INSERT.
    QByteArray m_batchableTable; ///< the table whose CREATE said ENGINE=InnoDB
    QByteArray m_batchTable; ///< the statement start ("INSERT INTO `t`", with its column list) of the batch
    QByteArray m_batch;
    QList<QByteArray> m_batchStatements;
    qsizetype m_batchLimit = kBatchLimit;
    // Each session runs one batch while the next is read from the dump. Answers are read in the
    // order the batches were sent, and a refused batch is taken apart before anything else is sent.
    Lane m_lanes[2];
    quint64 m_batchesSent = 0;

    // The second session: opened for the first table that fills more than one batch, with every
    // session setting the first one was given, and kept in step with it.
    TmySQLDatabase m_secondDb;
    Second m_second = Second::Closed;
    QList<QByteArray> m_sessionStatements; ///< what the second session must run before its first rows
    bool m_twoLanes = false; ///< the rows being read may go over both sessions
    bool m_secondUsed = false; ///< the second session has had rows of the table being read
    bool m_firstAutocommit = false; ///< the first session commits each batch meanwhile
};

bool Restorer::connect(const Access &access)
{
    const QString portText = access.port.trimmed().isEmpty() ? QStringLiteral("3306") : access.port.trimmed();
    bool portOk = false;
    const int port = portText.toInt(&portOk);
    if (!portOk || port <= 0 || port > 65535) {
        fail(Result::ConnectFailed, QStringLiteral("Ungültiger Port: ") + access.port);
        return false;
    }
    m_db.setParams({ QStringLiteral("DatabaseName=") + access.database,
        QStringLiteral("Host=") + access.host,
        QStringLiteral("Port=") + QString::number(port),
        QStringLiteral("UID=") + access.user,
        QStringLiteral("PWD=") + access.password,
        QStringLiteral("TIMEOUT=5") });
    m_db.setLoginPrompt(false);
    m_db.setConnectOptions(access.requireTls ? TmySQLDatabase::coRequireTls : 0);
    m_db.setCancelCheck([this] { return cancelCheck(); });
    if (!m_db.open()) {
        fail(m_cancelConfirmed ? Result::Cancelled : Result::ConnectFailed, m_db.errorString());
        return false;
    }

    // The session a dump file expects; rows are committed per table, not per statement. The
    // time zone stays the server's: a dump whose times are UTC says so itself.
    const int version = m_db.serverVersionNumber();
    QList<QByteArray> session;
    if (version >= 40101)
        session << (version >= 50503 ? "SET NAMES utf8mb4" : "SET NAMES utf8")
                << "SET SESSION sql_mode='NO_AUTO_VALUE_ON_ZERO'";
    session << "SET FOREIGN_KEY_CHECKS=0"
            << "SET autocommit=0";
    QString error;
    for (const QByteArray &sql : std::as_const(session)) {
        if (!execute(sql, &error)) {
            m_db.close();
            fail(Result::ConnectFailed, error);
            return false;
        }
    }
    m_sessionStatements = session;
    TmySQLQuery packet(&m_db);
    packet.setSql(QStringLiteral("SELECT @@max_allowed_packet"));
    if (packet.open() && !packet.eof()) {
        const qsizetype allowed = packet.field(0)->asBytes().toLongLong();
        m_batchLimit = qBound(kMinBatchLimit, allowed / 2, kBatchLimit);
    }
    packet.close();
    return m_db.connected();
}

bool Restorer::execute(TmySQLDatabase &db, const QByteArray &sql, QString *error)
{
    MySqlWire &wire = db.wire();
    bool hasResult = false;
    if (!wire.query(sql, &hasResult)) {
        *error = wire.errorString();
        return false;
    }
    if (wire.resultPending() && !wire.discardResult()) {
        *error = wire.errorString();
        return false;
    }
    return true;
}

void Restorer::reportFailure(const QByteArray &firstLine, const QString &message)
{
    ++m_report.failed;
    m_host.showMessage(
        QStringLiteral("Fehler bei der Datenbankwiederherstellung. Wiederherstellung wird fortgesetzt.\r\r"
                       "Befehl: ")
        + QString::fromUtf8(firstLine) + QStringLiteral("\r\r") + QStringLiteral("Fehlermeldung: ") + message);
}

// Runs one statement of the dump; false when the server refused it.
bool Restorer::executeReported(const QByteArray &sql, const QByteArray &firstLine)
{
    ++m_report.statements;
    QString error;
    if (execute(sql, &error))
        return true;
    if (m_cancelConfirmed) {
        m_stopped = true;
        return false;
    }
    reportFailure(firstLine, error);
    if (!m_db.connected()) {
        // Every further statement would fail the same way: one report is enough.
        m_stopped = true;
        fail(Result::ConnectionLost, error);
    }
    return false;
}

void Restorer::flushBatch()
{
    if (m_batchStatements.isEmpty())
        return;
    Lane &lane = freeLane();
    // The lists and the batch's buffer are kept for the next batch: their memory is in use already.
    lane.sent.swap(m_batchStatements);
    m_batchStatements.clear();
    m_batchTable.clear();
    if (m_stopped) {
        m_batch.resize(0);
        lane.sent.clear();
        return;
    }
    lane.sentAs = ++m_batchesSent;
    if (&lane == &m_lanes[1])
        m_secondUsed = true;
    const bool sent = lane.db->wire().sendQuery(m_batch);
    m_batch.resize(0);
    if (!sent)
        batchDone(lane, false, lane.db->wire().errorString());
}

// The session the next batch goes to, its last batch answered.
Restorer::Lane &Restorer::freeLane()
{
    Lane &first = m_lanes[0];
    Lane &second = m_lanes[1];
    if (m_twoLanes && !first.sent.isEmpty() && !second.sent.isEmpty())
        settle(first.sentAs < second.sentAs ? first : second);
    if (m_twoLanes && !m_stopped) {
        if (second.sent.isEmpty() && !first.sent.isEmpty() && openSecondLane())
            return second;
        if (first.sent.isEmpty())
            return first;
    }
    settleAll();
    return first;
}

bool Restorer::openSecondLane()
{
    if (m_second == Second::Open)
        return true;
    if (m_second == Second::Refused)
        return false;
    // Whatever goes wrong, the restore goes on in the one session.
    m_second = Second::Refused;
    m_secondDb.setParams(m_db.params());
    m_secondDb.setLoginPrompt(false);
    m_secondDb.setConnectOptions(m_db.connectOptions());
    m_secondDb.setCancelCheck([this] { return cancelCheck(); });
    if (!m_secondDb.open())
        return false;
    QString error;
    // Each batch is committed by itself: see settle().
    m_sessionStatements << "SET autocommit=1";
    for (const QByteArray &sql : std::as_const(m_sessionStatements)) {
        if (!execute(m_secondDb, sql, &error)) {
            m_secondDb.close();
            m_sessionStatements.clear();
            return false;
        }
    }
    m_sessionStatements.clear();
    m_second = Second::Open;
    return true;
}

void Restorer::closeSecondLane()
{
    m_secondDb.close();
    m_second = Second::Refused;
    m_sessionStatements.clear();
}

// After a table's rows went over two sessions, the first one commits per table again.
void Restorer::endSecondLane()
{
    m_secondUsed = false;
    if (m_firstAutocommit && !m_stopped) {
        QString error;
        execute("SET autocommit=0", &error);
    }
    m_firstAutocommit = false;
}

/*
 * While a table's rows go over two sessions, each batch is committed as it is run. A session
 * whose row has the key of a row the other one has not committed yet waits for that commit; were
 * the other session to hold its rows until the end of the table, it would wait until that one
 * gave up (50 seconds by default), or the server would end the wait by taking back one of the two
 * whole transactions, rows of earlier batches with it. With a commit per batch, the wait ends
 * with the other batch, and what the server takes back is one batch, which is then taken apart.
 * The second session commits by itself; the first one, whose first batch of the table was sent
 * before the second session got rows, commits from the answer to that batch on.
 */
void Restorer::settle(Lane &lane)
{
    if (lane.sent.isEmpty())
        return;
    QString error;
    const bool ok = readAnswer(*lane.db, &error);
    if (&lane == &m_lanes[0] && m_secondUsed && !m_firstAutocommit && !m_cancelConfirmed) {
        QString switchError;
        m_firstAutocommit = execute("SET autocommit=1", &switchError);
    }
    batchDone(lane, ok, error);
}

void Restorer::settleAll()
{
    Lane &first = m_lanes[0];
    Lane &second = m_lanes[1];
    const bool secondOlder = second.sentAs < first.sentAs;
    settle(secondOlder ? second : first);
    settle(secondOlder ? first : second);
}

bool Restorer::readAnswer(TmySQLDatabase &db, QString *error)
{
    MySqlWire &wire = db.wire();
    const bool ok = wire.readAnswer() && (!wire.resultPending() || wire.discardResult());
    if (!ok)
        *error = wire.errorString();
    return ok;
}

// Counts an accepted batch, or ends the restore after a cancel or a lost connection; false when
// the server refused the batch.
bool Restorer::answerTaken(Lane &lane, bool ok, const QString &error)
{
    if (ok) {
        m_report.statements += int(lane.sent.size());
        return true;
    }
    if (m_cancelConfirmed) {
        m_stopped = true;
        return true;
    }
    if (!lane.db->connected()) {
        m_report.statements += int(lane.sent.size());
        reportFailure(lane.sent.first(), error);
        m_stopped = true;
        fail(Result::ConnectionLost, error);
        return true;
    }
    return false;
}

void Restorer::batchDone(Lane &lane, bool ok, const QString &error)
{
    const auto sentDone = qScopeGuard([&lane] { lane.sent.clear(); });
    if (answerTaken(lane, ok, error))
        return;
    // InnoDB took back the whole refused statement: row by row, each refusal is reported as itself.
    QList<QList<QByteArray>> refused { lane.sent };
    if (m_twoLanes || m_secondUsed) {
        // The rest of the table goes over the first session alone, once the other batch is
        // answered: its rows come before the refused ones are sent again.
        m_twoLanes = false;
        Lane &other = &lane == &m_lanes[0] ? m_lanes[1] : m_lanes[0];
        if (!other.sent.isEmpty()) {
            const auto otherDone = qScopeGuard([&other] { other.sent.clear(); });
            QString otherError;
            const bool otherOk = readAnswer(*other.db, &otherError);
            if (!answerTaken(other, otherOk, otherError))
                refused.append(other.sent);
        }
        endSecondLane();
    }
    for (const QList<QByteArray> &statements : std::as_const(refused)) {
        for (const QByteArray &statement : statements) {
            if (m_stopped)
                return;
            executeReported(statement, statement);
        }
    }
}

// prefix: the statement up to " VALUES ("; rows join a batch only behind the same prefix.
void Restorer::addToBatch(const QByteArray &statement, const QByteArray &prefix, qsizetype valuesAt)
{
    if (!m_batchStatements.isEmpty()
        && (m_batchTable != prefix || m_batch.size() + statement.size() - valuesAt + 1 > m_batchLimit))
        flushBatch();
    if (m_batchStatements.isEmpty()) {
        m_batchTable = prefix;
        if (m_batch.capacity() < m_batchLimit)
            m_batch.reserve(m_batchLimit);
        m_batch.append(statement);
    } else {
        m_batch += ',';
        m_batch.append(statement.constData() + valuesAt, statement.size() - valuesAt);
    }
    m_batchStatements.append(statement);
}

void Restorer::runStatement(QList<QByteArray> &lines)
{
    while (!lines.isEmpty() && lines.first().isEmpty())
        lines.removeFirst();
    if (lines.isEmpty())
        return;
    const QByteArray &first = lines.first();

    if (lines.size() == 1 && first.startsWith(kInsertInto) && first.endsWith(')')) {
        qsizetype rest = 0;
        const QByteArray table = takeName(first, kInsertInto.size(), &rest);
        static const QByteArray values = " VALUES (";
        // Rows of a table with invisible columns name their columns: " (`a`, `b`) VALUES (".
        qsizetype at = rest;
        if (first.mid(rest, 3) == " (`") {
            at = first.indexOf("`)" + values, rest);
            at = at < 0 ? rest : at + 2;
        }
        if (!m_batchableTable.isEmpty() && table == m_batchableTable && first.mid(at, values.size()) == values) {
            addToBatch(first, first.left(at), at + values.size() - 1);
            return;
        }
    }
    finishBatches();
    if (m_stopped)
        return;

    m_twoLanes = false;
    const QByteArray sql = lines.join('\n');
    const bool ok = executeReported(sql, first);
    followSession(sql, ok);
    if (first.startsWith(kCreateTable)) {
        // Only a transactional table takes a refused multi-row INSERT back as a whole.
        qsizetype rest = 0;
        const QByteArray table = takeName(first, kCreateTable.size(), &rest);
        const bool innodb = lines.last().toLower().contains("engine=innodb");
        m_batchableTable = ok && innodb ? table : QByteArray();
        // Its rows may go over two sessions when they follow right after it. Without a primary
        // key, the rows would keep the order in which they arrived instead of the dump's.
        m_twoLanes = !m_batchableTable.isEmpty() && hasPrimaryKey(lines) && m_second != Second::Refused;
    } else if (first.startsWith(kDropTable)) {
        m_batchableTable.clear();
    }
}

// The second session runs as the first: it is given each of the dump's session settings too. A
// lock the first one takes could make the second one wait for it, so it is not used after one.
void Restorer::followSession(const QByteArray &sql, bool ok)
{
    if (m_second == Second::Refused)
        return;
    const QList<QByteArray> words = leadingWords(sql, 2);
    const QByteArray verb = words.value(0);
    if (verb == "LOCK" || verb == "FLUSH") {
        closeSecondLane();
        return;
    }
    // "SET STATEMENT ... FOR" runs a statement of its own and sets nothing for the session.
    if (!ok || !(verb == "USE" || (verb == "SET" && words.value(1) != "STATEMENT")))
        return;
    // The sessions' commits are this restore's own: a dump that changes them keeps one session.
    if (sql.toUpper().contains("AUTOCOMMIT")) {
        closeSecondLane();
        return;
    }
    if (m_second == Second::Closed) {
        m_sessionStatements.append(sql);
        return;
    }
    QString error;
    if (!execute(m_secondDb, sql, &error))
        closeSecondLane();
}

void Restorer::showItem(qsizetype counter)
{
    m_host.setProgressLine(
        ProgressLine::FileCount, m_tableText + QStringLiteral(" -> Satz: ") + QString::number(counter));
}

bool Restorer::confirmCancel()
{
    Question q;
    q.text = QStringLiteral("Möchten Sie die Wiederherstellung wirklich abbrechen?");
    q.confirmsCancel = true;
    q.icon = Icon::Warning;
    q.buttons = Answer::Yes | Answer::No;
    q.unattended = Answer::No;
    if (m_host.ask(q) == Answer::Yes)
        return true;
    m_cancel.withdraw();
    return false;
}

// Asked while the connection waits for the server, so that a cancel does not wait for its answer.
bool Restorer::cancelCheck()
{
    if (m_cancelConfirmed)
        return true;
    m_host.processEvents();
    if (m_cancel.requested() && confirmCancel())
        m_cancelConfirmed = true;
    return m_cancelConfirmed;
}

void Restorer::cancelled()
{
    m_db.close();
    m_secondDb.close();
    m_host.showMessage(QStringLiteral("Der Wiederherstellungsvorgang wurde abgebrochen."));
    m_host.setProgressVisible(false);
    m_stopped = true;
    fail(Result::Cancelled, QString());
}

void Restorer::restore(ZipEntryReader &dump)
{
    LineReader reader(dump);
    const qint64 maximum = reader.size() / 1000;
    m_host.setGauge(2, 0, maximum);
    qint64 total = 0;
    qsizetype counter = 0;
    bool inInsert = false;
    bool started = false; // the statement has a line that is not empty
    // Stored objects stand between "DELIMITER ;;" and "DELIMITER ;": their bodies hold ";" at
    // line ends, and their lines are taken as they are.
    QByteArray delimiter = ";";
    QList<QByteArray> statement;
    QByteArray line;
    qsizetype taken = 0;
    QString error;

    while (!m_stopped && !m_cancelConfirmed && reader.next(&line, &taken)) {
        total += taken;
        if (counter % 10 == 0) {
            m_host.setGauge(2, total / 1000, maximum);
            showItem(counter);
            m_host.processEvents();
            if (m_cancel.requested() && confirmCancel()) {
                finishBatches();
                if (!m_cancelConfirmed)
                    execute("COMMIT", &error);
                cancelled();
                return;
            }
        }
        ++counter;
        if (!started && line.startsWith("DELIMITER ")) {
            delimiter = line.mid(10).trimmed();
            if (delimiter.isEmpty())
                delimiter = ";";
            statement.clear();
            continue;
        }
        if (delimiter != ";") {
            started = true;
            if (line.endsWith(delimiter)) {
                line.chop(delimiter.size());
                statement.append(line);
                runStatement(statement);
                statement.clear();
                started = false;
            } else {
                // A body's own CR LF line ends stay as they were.
                statement.append(reader.lastHadCr() ? line + '\r' : line);
            }
            continue;
        }
        if (line.isEmpty()) {
            statement.append(QByteArray());
            continue;
        }
        if (line.startsWith('#'))
            continue;
        if (!started)
            inInsert = line.startsWith(kInsertInto);
        started = true;
        // Values are written raw between double quotes; the server's create statements are
        // SQL already, and doubling their escapes would break them.
        if (inInsert && line.contains('\\'))
            line.replace("\\", "\\\\");
        if (line.startsWith('"') && !statement.isEmpty())
            statement.last() = "\r\n" + statement.last() + line;
        else
            statement.append(line);
        if (!line.endsWith(';'))
            continue;
        if (line.startsWith(kDropTable)) {
            qsizetype rest = 0;
            QByteArray table = line.mid(kDropTable.size());
            table.chop(1);
            if (table.startsWith('`'))
                table = takeName(table, 0, &rest);
            m_tableText
                = QStringLiteral("Datenbank: ") + m_name + QStringLiteral(" -> Tabelle: ") + QString::fromUtf8(table);
            counter = 0;
            showItem(0);
        }
        statement.last().chop(1);
        runStatement(statement);
        statement.clear();
        inInsert = false;
        started = false;
    }
    if (m_cancelConfirmed) {
        cancelled();
        return;
    }
    if (reader.failed() && !m_stopped) {
        // Read through once before, the archive has changed or its medium has gone since: what
        // was sent of the last table is not committed.
        m_stopped = true;
        fail(Result::NoDump, dump.errorString());
        ++m_report.failed;
        m_host.showMessage(
            QStringLiteral("Die gesicherte Datenbank konnte nicht gelesen werden.\r\r") + dump.errorString());
    }
    if (!m_stopped) {
        finishBatches();
        if (!m_stopped && !execute("COMMIT", &error)) {
            reportFailure("COMMIT", error);
            fail(Result::ConnectionLost, error);
        }
    }
    m_host.setGauge(2, maximum, maximum);
    if (m_report.result == Result::Completed && m_report.failed > 0)
        m_report.result = Result::WithErrors;
}

// The archive as the set holds it; older sets wrote its name in lower case.
QString findArchive(const QString &archivePath)
{
    // Looked at through the platform: the medium's path may be long or hold names that are not UTF-8.
    if (Platform::statPath(archivePath, true).exists())
        return archivePath;
    const QFileInfo info(archivePath);
    for (const QString &name : { QStringLiteral("Archive.zip"), QStringLiteral("archive.zip") }) {
        const QString candidate = info.dir().filePath(name);
        if (Platform::statPath(candidate, true).exists())
            return candidate;
    }
    return archivePath;
}

} // namespace

namespace DatabaseRestore
{

Report restoreDatabase(RunHost &host, const QString &archivePath, const QString &displayName, const Access &access)
{
    RunCancel cancel;
    const CancelScope cancelScope(host, cancel);
    return restoreDatabase(host, cancel, archivePath, displayName, access);
}

QString connectFailedText()
{
    return QStringLiteral(
        "Fehler beim Aufbau der Datenbankverbindung. Datenbank konnte nicht wiederhergesetellt werden. "
        "Bitte ändern sie die Zugangsdaten.");
}

Report restoreDatabase(
    RunHost &host, RunCancel &cancel, const QString &archivePath, const QString &displayName, const Access &access)
{
    host.setGauge(2, 0, 0);
    host.setProgressLine(ProgressLine::FileCount, QStringLiteral("Datenbank: ") + displayName);

    Restorer restorer(host, cancel, displayName);
    if (!restorer.connect(access)) {
        if (restorer.report().result == Result::Cancelled)
            restorer.cancelled();
        else
            host.showMessage(connectFailedText());
        return restorer.report();
    }

    // The dump is read through once before anything is changed, so that a damaged one changes
    // nothing; then it is read again, straight into the statements, without a copy on disk.
    const QString archive = findArchive(archivePath);
    QString error;
    ZipEntryReader dump;
    bool readable = dump.open(archive, DatabaseDump::kDumpFileName, &error);
    if (readable) {
        QByteArray buffer(kReadChunk, Qt::Uninitialized);
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        qint64 n = 0;
        while ((n = dump.read(buffer.data(), buffer.size())) > 0) {
            if (sinceEvents.elapsed() >= 40) {
                host.processEvents();
                sinceEvents.restart();
            }
        }
        readable = n == 0 && dump.open(archive, DatabaseDump::kDumpFileName, &error);
        if (n < 0)
            error = dump.errorString();
    }
    if (readable) {
        restorer.restore(dump);
        dump.close(); // the archive's medium may be ejected next
        restorer.disconnect();
        return restorer.report();
    }
    dump.close();
    restorer.disconnect();
    host.showMessage(QStringLiteral("Die gesicherte Datenbank konnte nicht gelesen werden.\r\r") + error);
    restorer.fail(Result::NoDump, error);
    return restorer.report();
}

} // namespace DatabaseRestore
