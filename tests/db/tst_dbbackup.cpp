// SPDX-License-Identifier: GPL-3.0-or-later
#include "db/databasebackup.h"
#include "db/databaserestore.h"
#include "db/tmysqldatabase.h"
#include "engine/backuprun.h"
#include "engine/ziparchive.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "mariadbserver.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "runfixture.h"
#include "scriptedrunhost.h"
#include "testutil.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using TestUtil::readFile;
using TestUtil::writeFile;

namespace
{

const QDateTime kNow(QDate(2026, 12, 10), QTime(21, 30, 5));

} // namespace

class TestDbBackup : public QObject, private RunFixture
{
    Q_OBJECT

public:
    TestDbBackup()
        : RunFixture(kNow)
    {
    }

private:
    MariaDbServer m_server;
    QTemporaryDir m_kept; // outlives the folders of single tests
    QString m_fixtureArchive; // kept for the command-line test

    TODBC_DB entry(const QString &name, const QString &database, const QString &port = QString()) const
    {
        TODBC_DB db;
        db.DB_Name = name;
        db.DB_Login = QStringLiteral("nein");
        db.DB_User = QStringLiteral("test_native");
        db.DB_Pass = QStringLiteral("nativepw");
        db.DB_Host = m_server.host();
        db.DB_Port = port.isEmpty() ? QString::number(m_server.port()) : port;
        db.DB_DBName = database;
        return db;
    }

    TAuftrag &makeJob(const QList<TODBC_DB> &databases)
    {
        TAuftrag *job = &RunFixture::makeJob(QStringLiteral("DB"));
        job->sources.clear();
        job->temp_pfad = path(QStringLiteral("tmp"));
        job->fehler_anzeigen = true;
        job->databases = databases;
        if (!saveJob(*job))
            qWarning() << "the job file could not be written";
        return *job;
    }

    BackupRun::Outcome run(TAuftrag &job, BackupRun **keep = nullptr)
    {
        static std::unique_ptr<BackupRun> last;
        last = std::make_unique<BackupRun>(m_host, m_actions, *m_catalog);
        BackupRun::Hooks hooks;
        hooks.backUpDatabases = backUpDatabases;
        last->setHooks(hooks);
        last->startAuftrag(job, BackupRun::StartedBy::User);
        if (keep)
            *keep = last.get();
        return last->outcome;
    }

    QString archiveOf(const QString &name) const
    {
        return path(QStringLiteral("ziel/B-T01261210-DB/-") + name + QStringLiteral("/Archive.zip"));
    }

    QByteArray dumpOf(const QString &name)
    {
        QTemporaryDir out;
        QString error;
        if (!extractEntry(archiveOf(name), out.path(), DatabaseDump::kDumpFileName, &error)) {
            qWarning() << error;
            return {};
        }
        return readFile(out.filePath(DatabaseDump::kDumpFileName));
    }

    QString logText() const
    {
        return QString::fromUtf8(readFile(path(QStringLiteral("log/protokoll.txt"))));
    }

    void sql(const QString &statements)
    {
        QString error;
        QVERIFY2(m_server.execute(statements, &error), qPrintable(error));
    }

    bool connect(TmySQLDatabase &db, const QString &database)
    {
        db.setParams({ QStringLiteral("DatabaseName=") + database,
            QStringLiteral("Host=") + m_server.host(),
            QStringLiteral("Port=%1").arg(m_server.port()),
            QStringLiteral("UID=test_native"),
            QStringLiteral("PWD=nativepw") });
        return db.open();
    }

    // Every row of a query as bytes, NULL told apart from every text.
    QList<QList<QByteArray>> rows(TmySQLDatabase &db, const QString &select)
    {
        QList<QList<QByteArray>> result;
        TmySQLQuery q(&db);
        q.setSql(select);
        if (!q.open()) {
            qWarning() << select << q.errorString();
            return result;
        }
        while (!q.eof()) {
            QList<QByteArray> row;
            for (int i = 0; i < q.fieldCount(); ++i)
                row.append(q.field(i)->isNull() ? QByteArray("<NULL>") : q.field(i)->asBytes());
            result.append(row);
            q.next();
        }
        return result;
    }

    DatabaseRestore::Access access(const QString &database) const
    {
        return { m_server.host(),
            QString::number(m_server.port()),
            QStringLiteral("test_native"),
            QStringLiteral("nativepw"),
            database };
    }

    // A hand-written dump packed as a set would hold it.
    QString packDump(const QByteArray &dump)
    {
        const QString folder = path(QStringLiteral("handmade/-Hand"));
        QDir().mkpath(folder);
        writeFile(folder + QStringLiteral("/trevalo_db.sql"), dump);
        QString error;
        const QString archive = folder + QStringLiteral("/Archive.zip");
        if (!zipFiles(archive, { folder + QStringLiteral("/trevalo_db.sql") }, ZipProgress(), &error))
            qWarning() << error;
        QFile::remove(folder + QStringLiteral("/trevalo_db.sql"));
        return archive;
    }

    // A row of the large table: all rows are of one length, the times UTC, a second apart.
    static QByteArray rowStatement(int id, const QByteArray &text)
    {
        const QByteArray time = QDateTime(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc())
                                    .addSecs(id)
                                    .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                    .toLatin1();
        return "INSERT INTO t VALUES (\"" + QByteArray::number(id).rightJustified(8, '0') + "\", \"" + time + "\", \""
            + (text + ' ' + QByteArray::number(id)).leftJustified(20, '.') + "\")";
    }

    // How many of those rows one batch takes: about 1 MiB of them, the size the restore sends.
    static int rowsPerBatch()
    {
        const QByteArray row = rowStatement(1, "Zeile");
        return (1 << 20) / int(row.size() - row.indexOf(" VALUES (") - 8);
    }

private slots:
    void initTestCase()
    {
        isolateSettings();
        if (!MariaDbServer::available()) {
            if (MariaDbServer::required())
                QFAIL("mariadbd is not installed");
            QSKIP("mariadbd is not installed");
        }
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        sql(QString::fromUtf8(readFile(QStringLiteral(TREVALO_TEST_DATA "/db/fixture.sql"))));
        sql(QString::fromUtf8(readFile(QStringLiteral(TREVALO_TEST_DATA "/db/alltypes.sql"))));
        sql(QString::fromUtf8(readFile(QStringLiteral(TREVALO_TEST_DATA "/db/roundtrip.sql"))));
    }

    void cleanupTestCase()
    {
        m_server.stop();
    }

    void init()
    {
        freshFolder();
        QDir().mkpath(path(QStringLiteral("tmp")));
    }

    void cleanup()
    {
        finish();
    }

    void testDumpLayout()
    {
        TAuftrag &job = makeJob({ entry(QStringLiteral("Stammdaten"), QStringLiteral("fixture")),
            entry(QStringLiteral("Leer"), QStringLiteral("leer")) });
        BackupRun *state = nullptr;
        QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
        QCOMPARE(state->errorCount, 0);
        QCOMPARE(state->databaseCount, 2);
        QCOMPARE(state->dbFilesCopied, 2);

        const QByteArray expected = readFile(QStringLiteral(TREVALO_TEST_DATA "/db/fixture_dump.sql"));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(dumpOf(QStringLiteral("Stammdaten")), expected);
        QCOMPARE(dumpOf(QStringLiteral("Leer")),
            QByteArray("# Datensicherung der Datenbank: Leer\r\n# Erstellt mit Trevalo \r\n# am: 10.12.2026 21:30:05"
                       "\r\n/*!40103 SET TIME_ZONE='+00:00' */;"));

        const QString log = logText();
        for (const char *line : { "Datenbankverbindung zu Stammdaten wurde hergestellt.\r\n",
                 "Datenbank: \"Stammdaten\" gesichert.\r\n",
                 "Datenbankverbindung zu Leer wurde hergestellt.\r\n",
                 "Datenbank: \"Leer\" gesichert.\r\n",
                 "Von 2 ausgewählten Datenbanken wurden 2 gesichert." })
            QVERIFY2(log.contains(QString::fromUtf8(line)), line);
        for (const char *line : { "5:Datenbank",
                 "1:Tabelle",
                 "3:Aktion",
                 "8:Datenbank 2 von 2",
                 "7:Tabelle 3 von 3",
                 "2:v_umsatz",
                 "4:Struktur lesen",
                 "4:Daten lesen" })
            QVERIFY2(m_host.progressLines.contains(QString::fromUtf8(line)), line);
        // Work files are gone once the archives are in the set.
        QCOMPARE(QDir(path(QStringLiteral("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
        m_fixtureArchive = m_kept.filePath(QStringLiteral("-Stammdaten/Archive.zip"));
        QDir().mkpath(m_kept.filePath(QStringLiteral("-Stammdaten")));
        QVERIFY(QFile::copy(archiveOf(QStringLiteral("Stammdaten")), m_fixtureArchive));
    }

    void testRoundTrip()
    {
        TAuftrag &job = makeJob({ entry(QStringLiteral("Alle Typen"), QStringLiteral("alltypes")) });
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        sql(QStringLiteral("CREATE DATABASE alltypes_copy CHARACTER SET utf8mb4"));
        const DatabaseRestore::Report report = DatabaseRestore::restoreDatabase(m_host,
            archiveOf(QStringLiteral("Alle Typen")),
            QStringLiteral("Alle Typen"),
            access(QStringLiteral("alltypes_copy")));
        QVERIFY2(report.result == DatabaseRestore::Result::Completed, qPrintable(m_host.messages.join(u'\n')));
        QCOMPARE(report.failed, 0);
        QCOMPARE(m_host.messages, QStringList());

        TmySQLDatabase source;
        TmySQLDatabase copy;
        QVERIFY(connect(source, QStringLiteral("alltypes")));
        QVERIFY(connect(copy, QStringLiteral("alltypes_copy")));
        QCOMPARE(rows(copy, QStringLiteral("SHOW FULL TABLES")), rows(source, QStringLiteral("SHOW FULL TABLES")));
        for (const char *table : { "eltern", "typen", "my-table", "order" }) {
            const QString name = QString::fromUtf8(DatabaseDump::quoteName(QString::fromUtf8(table)));
            QCOMPARE(rows(copy, QStringLiteral("SHOW CREATE TABLE ") + name),
                rows(source, QStringLiteral("SHOW CREATE TABLE ") + name));
            const auto checksum = [&](TmySQLDatabase &db) {
                return rows(db, QStringLiteral("CHECKSUM TABLE ") + name).value(0).value(1);
            };
            QVERIFY(!checksum(source).isEmpty());
            QCOMPARE(checksum(copy), checksum(source));
            const QString all = QStringLiteral("SELECT * FROM ") + name + QStringLiteral(" ORDER BY 1");
            QVERIFY(rows(source, all).size() >= 2);
            QCOMPARE(rows(copy, all), rows(source, all));
        }
        for (const char *view : { "v_a", "v_b" }) {
            const QString all
                = QStringLiteral("SELECT * FROM ") + QString::fromUtf8(view) + QStringLiteral(" ORDER BY 1");
            QVERIFY(!rows(source, all).isEmpty());
            QCOMPARE(rows(copy, all), rows(source, all));
        }
        // The session's UTC made the TIMESTAMP come back as the same instant.
        const QString ts = QStringLiteral("SELECT UNIX_TIMESTAMP(ts) FROM typen ORDER BY id");
        QCOMPARE(rows(copy, ts), rows(source, ts));
    }

    // Text of every character set, invisible and generated columns, and the stored objects.
    void testRoundTripCharsetsAndObjects()
    {
        TAuftrag &job = makeJob({ entry(QStringLiteral("Rundreise"), QStringLiteral("rundreise")) });
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        sql(QStringLiteral("CREATE DATABASE rundreise_copy CHARACTER SET utf8mb4"));
        TmySQLDatabase source;
        QVERIFY(connect(source, QStringLiteral("rundreise")));
        const auto inserts = [&] {
            return rows(source, QStringLiteral("SHOW GLOBAL STATUS LIKE 'Com_insert'")).value(0).value(1).toInt();
        };
        const int insertsBefore = inserts();
        const DatabaseRestore::Report report = DatabaseRestore::restoreDatabase(m_host,
            archiveOf(QStringLiteral("Rundreise")),
            QStringLiteral("Rundreise"),
            access(QStringLiteral("rundreise_copy")));
        QCOMPARE(m_host.messages, QStringList());
        QCOMPARE(report.result, DatabaseRestore::Result::Completed);
        // The rows of each InnoDB table went as one statement, column list or not; MyISAM's one row alone.
        QCOMPARE(inserts() - insertsBefore, 4);

        TmySQLDatabase copy;
        QVERIFY(connect(copy, QStringLiteral("rundreise_copy")));
        const auto same = [&](const QString &select) {
            const auto expected = rows(source, select);
            QVERIFY2(!expected.isEmpty(), qPrintable(select));
            QCOMPARE(rows(copy, select), expected);
        };
        for (const char *table : { "zeichen", "arten", "protokoll", "`größe`", "kommentar" }) {
            const QString name = QString::fromUtf8(table);
            same(QStringLiteral("SHOW CREATE TABLE ") + name);
            QCOMPARE(rows(copy, QStringLiteral("CHECKSUM TABLE ") + name).value(0).value(1),
                rows(source, QStringLiteral("CHECKSUM TABLE ") + name).value(0).value(1));
        }
        same(QStringLiteral("SELECT id, HEX(l1), HEX(l1t), HEX(w1250), HEX(u16), HEX(u32), HEX(uc2), HEX(sj), "
                            "HEX(m3), HEX(asc7), HEX(en), HEX(st) FROM zeichen ORDER BY id"));
        same(QStringLiteral("SELECT id, versteckt, sichtbar, doppelt, gespeichert, HEX(punkt), adresse, kennung "
                            "FROM arten ORDER BY id"));
        same(QStringLiteral("SELECT `maß`, `übrig` FROM `größe`"));
        QCOMPARE(rows(copy, QStringLiteral("SELECT HEX(l1) FROM zeichen WHERE id = 1")).value(0).value(0),
            QByteArray("E40AF6"));
        QCOMPARE(rows(copy, QStringLiteral("SELECT HEX(u16) FROM zeichen WHERE id = 1")).value(0).value(0),
            QByteArray("006100220062"));

        // The objects as the server shows them (the columns up to the collation; not their creation time).
        const auto definition = [&](TmySQLDatabase &db, const QString &show, int columns) {
            QList<QByteArray> first = rows(db, show).value(0);
            return first.mid(0, columns);
        };
        for (const char *show : { "FUNCTION verdoppeln",
                 "FUNCTION altzeichen",
                 "FUNCTION verketten",
                 "PROCEDURE aufraeumen",
                 "TRIGGER vorher",
                 "TRIGGER danach",
                 "TRIGGER danach2",
                 "EVENT aufraeumen_nachts" }) {
            const QString sqlText = QStringLiteral("SHOW CREATE ") + QString::fromLatin1(show);
            const int columns = sqlText.contains(QLatin1String("EVENT")) ? 6 : 5;
            const auto expected = definition(source, sqlText, columns);
            QCOMPARE(expected.size(), columns);
            QCOMPARE(definition(copy, sqlText, columns), expected);
        }
        same(QStringLiteral("SELECT TRIGGER_NAME, ACTION_ORDER FROM information_schema.TRIGGERS "
                            "WHERE TRIGGER_SCHEMA = DATABASE() ORDER BY ACTION_ORDER, TRIGGER_NAME"));
        // The function kept its SQL mode ('a' || 'b' joins), the view its function.
        QCOMPARE(rows(copy, QStringLiteral("SELECT verketten()")).value(0).value(0), QByteArray("ab"));
        same(QStringLiteral("SELECT * FROM v_doppelt ORDER BY id"));
        same(QStringLiteral("SELECT HEX(altzeichen())"));
    }

    // The server's own tables (copied): their engines, collations, ENUM and SET columns,
    // statistics in binary strings, thousands of help texts.
    void testRoundTripSystemTableCopies()
    {
        TAuftrag &job = makeJob({ entry(QStringLiteral("System"), QStringLiteral("systemkopie")) });
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        sql(QStringLiteral("CREATE DATABASE systemkopie_copy CHARACTER SET utf8mb4"));
        const DatabaseRestore::Report report = DatabaseRestore::restoreDatabase(m_host,
            archiveOf(QStringLiteral("System")),
            QStringLiteral("System"),
            access(QStringLiteral("systemkopie_copy")));
        QCOMPARE(m_host.messages, QStringList());
        QCOMPARE(report.result, DatabaseRestore::Result::Completed);
        TmySQLDatabase source;
        TmySQLDatabase copy;
        QVERIFY(connect(source, QStringLiteral("systemkopie")));
        QVERIFY(connect(copy, QStringLiteral("systemkopie_copy")));
        const auto tables = rows(source, QStringLiteral("SHOW TABLES"));
        QCOMPARE(tables.size(), 7);
        for (const auto &table : tables) {
            const QString name = QString::fromUtf8(DatabaseDump::quoteName(QString::fromUtf8(table.value(0))));
            QCOMPARE(rows(copy, QStringLiteral("SHOW CREATE TABLE ") + name),
                rows(source, QStringLiteral("SHOW CREATE TABLE ") + name));
            const auto sourceCount = rows(source, QStringLiteral("SELECT COUNT(*) FROM ") + name);
            QCOMPARE(rows(copy, QStringLiteral("SELECT COUNT(*) FROM ") + name), sourceCount);
            QCOMPARE(rows(copy, QStringLiteral("CHECKSUM TABLE ") + name).value(0).value(1),
                rows(source, QStringLiteral("CHECKSUM TABLE ") + name).value(0).value(1));
        }
        QVERIFY(rows(source, QStringLiteral("SELECT COUNT(*) FROM help_topic")).value(0).value(0).toInt() > 100);
        QVERIFY(rows(source, QStringLiteral("SELECT COUNT(*) FROM column_stats")).value(0).value(0).toInt() > 5);
    }

    void testRestoreStatements_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("select");
        QTest::addColumn<QByteArray>("rows");

        const QByteArray head = "# Datensicherung der Datenbank: Hand\r\n# Erstellt mit Trevalo \r\n# am: 10.12.2026";
        const QByteArray create = "\r\n\r\n\r\nDROP TABLE IF EXISTS t;\r\n\r\n"
                                  "CREATE TABLE `t` (\n  `id` int(11) NOT NULL,\n  `v` varchar(20) DEFAULT NULL,\n"
                                  "  PRIMARY KEY (`id`)\n) ENGINE=InnoDB;";
        QTest::newRow("unquoted names, comments, backslashes")
            << head + create
                + "\r\nINSERT INTO t VALUES (\"1\", \"a\\b\");\r\n# Kommentar;\r\nINSERT INTO t VALUES (\"2\", NULL);"
            << QStringList() << "SELECT id, IFNULL(v, 'NULL') FROM t ORDER BY id" << QByteArray("1|a\\b;2|NULL;");
        QTest::newRow("rejected row inside a batch")
            << head + create
                + "\r\nINSERT INTO t VALUES (\"1\", \"a\");\r\nINSERT INTO t VALUES (\"1\", \"doppelt\");"
                  "\r\nINSERT INTO t VALUES (\"2\", \"b\");"
            << QStringList { QStringLiteral(
                   "Fehler bei der Datenbankwiederherstellung. Wiederherstellung wird fortgesetzt."
                   "\r\rBefehl: INSERT INTO t VALUES (\"1\", \"doppelt\")\r\rFehlermeldung: "
                   "Duplicate entry '1' for key 'PRIMARY'") }
            << "SELECT id, v FROM t ORDER BY id" << QByteArray("1|a;2|b;");
        // The server's zone is +02:00 here: a dump without the UTC mark holds its local times.
        const QByteArray times
            = "\r\n\r\n\r\nDROP TABLE IF EXISTS t;\r\n\r\n"
              "CREATE TABLE `t` (\n  `id` int(11) NOT NULL,\n  `ts` timestamp NULL,\n"
              "  PRIMARY KEY (`id`)\n) ENGINE=InnoDB;\r\nINSERT INTO t VALUES (\"1\", \"2024-01-01 12:00:00\");";
        QTest::newRow("older dump in local time")
            << head + times << QStringList() << "SELECT ts FROM t" << QByteArray("2024-01-01 12:00:00;");
        QTest::newRow("dump marked as UTC") << head + "\r\n/*!40103 SET TIME_ZONE='+00:00' */;" + times << QStringList()
                                            << "SELECT ts FROM t" << QByteArray("2024-01-01 14:00:00;");
        QTest::newRow("rejected create statement")
            << head
                + "\r\n\r\n\r\nDROP TABLE IF EXISTS t;\r\n\r\nCREATE TABLE `t` (\n  `id` int(11) NOT NUL\n);"
                  "\r\n\r\n\r\nDROP TABLE IF EXISTS u;\r\n\r\nCREATE TABLE u (id int);\r\nINSERT INTO u VALUES (\"5\");"
            << QStringList { QStringLiteral(
                   "Fehler bei der Datenbankwiederherstellung. Wiederherstellung wird fortgesetzt.\r\rBefehl: CREATE "
                   "TABLE "
                   "`t` (\r\rFehlermeldung: You have an error in your SQL syntax; check the manual that corresponds to "
                   "your MariaDB server version for the right syntax to use near 'NUL\n)' at line 2") }
            << "SELECT id FROM u" << QByteArray("5;");
    }

    void testRestoreStatements()
    {
        QFETCH(QByteArray, dump);
        QFETCH(QStringList, messages);
        QFETCH(QString, select);
        QFETCH(QByteArray, rows);
        sql(QStringLiteral("DROP DATABASE IF EXISTS hand; CREATE DATABASE hand CHARACTER SET utf8mb4"));
        sql(QStringLiteral("SET GLOBAL time_zone = '+02:00'"));
        const auto zoneBack = qScopeGuard([this] { sql(QStringLiteral("SET GLOBAL time_zone = SYSTEM")); });
        const DatabaseRestore::Report report = DatabaseRestore::restoreDatabase(
            m_host, packDump(dump), QStringLiteral("Hand"), access(QStringLiteral("hand")));
        QCOMPARE(m_host.messages, messages);
        QCOMPARE(report.failed, int(messages.size()));
        QCOMPARE(report.result,
            messages.isEmpty() ? DatabaseRestore::Result::Completed : DatabaseRestore::Result::WithErrors);
        TmySQLDatabase db;
        QVERIFY(connect(db, QStringLiteral("hand")));
        QByteArray got;
        for (const auto &row : this->rows(db, select))
            got += row.join('|') + ';';
        QCOMPARE(got, rows);
        QVERIFY(m_host.progressLines.contains(QStringLiteral("7:Datenbank: Hand -> Tabelle: t -> Satz: 0")));
    }

    // A table of several batches: its rows alternate between two sessions of the server.
    void testRestoreInTwoSessions_data()
    {
        QTest::addColumn<bool>("primaryKey");
        QTest::addColumn<QList<QPoint>>("repeats"); // before row x, a row with the key of row y
        QTest::addColumn<QString>("interruption"); // "", "cancel" or "kill" half way
        QTest::addColumn<QString>("user"); // "einzeln" may have one session only
        QTest::addColumn<int>("sessions"); // logins tried

        // Batch k holds the rows from k * perBatch on (see rowsPerBatch()).
        const int b = rowsPerBatch();
        QTest::newRow("times marked as UTC") << true << QList<QPoint>() << QString() << "test_native" << 2;
        QTest::newRow("no primary key: one session, rows in their order")
            << false << QList<QPoint>() << QString() << "test_native" << 1;
        QTest::newRow("the server allows one session: the restore goes on in it")
            << true << QList<QPoint>() << QString() << "einzeln" << 2;
        // The repeated row meets its twin of the other session before that one is committed: it
        // must still be reported as the duplicate it is, without a wait until the server gives up.
        QTest::newRow("second session repeats a row of the first")
            << true << QList<QPoint> { { b + b / 2, 7 } } << QString() << "test_native" << 2;
        QTest::newRow("first session repeats a row of the second, then one more")
            << true << QList<QPoint> { { 2 * b + b / 2, b + 9 }, { 3 * b + b / 2, 11 } } << QString() << "test_native"
            << 2;
        QTest::newRow("cancelled: what both sessions sent is kept") << true << QList<QPoint>() << "cancel"
                                                                    << "test_native" << 2;
        QTest::newRow("second session killed") << true << QList<QPoint>() << "kill"
                                               << "test_native" << 2;
    }

    void testRestoreInTwoSessions()
    {
        QFETCH(bool, primaryKey);
        QFETCH(QList<QPoint>, repeats);
        QFETCH(QString, interruption);
        QFETCH(QString, user);
        QFETCH(int, sessions);
        const int count = 4 * rowsPerBatch() + 100;
        QByteArray dump = "# Datensicherung der Datenbank: Hand\r\n/*!40103 SET TIME_ZONE='+00:00' */;"
                          "\r\n\r\n\r\nDROP TABLE IF EXISTS t;\r\n\r\nCREATE TABLE `t` (\n  `id` int(11) NOT NULL,\n"
                          "  `ts` timestamp NULL,\n  `v` varchar(40) NOT NULL";
        dump += primaryKey ? ",\n  PRIMARY KEY (`id`)\n) ENGINE=InnoDB;" : "\n) ENGINE=InnoDB;";
        QStringList messages;
        for (int id = 1; id <= count; ++id) {
            for (const QPoint &repeat : std::as_const(repeats)) {
                if (repeat.x() != id)
                    continue;
                const QByteArray statement = rowStatement(repeat.y(), "doppelt");
                dump += "\r\n" + statement + ';';
                messages << QStringLiteral("Fehler bei der Datenbankwiederherstellung. Wiederherstellung wird "
                                           "fortgesetzt.\r\rBefehl: ")
                        + QString::fromUtf8(statement)
                        + QStringLiteral("\r\rFehlermeldung: Duplicate entry '%1' for key 'PRIMARY'").arg(repeat.y());
            }
            dump += "\r\n" + rowStatement(id, "Zeile") + ';';
        }
        const QString archive = packDump(dump);
        sql(QStringLiteral("DROP DATABASE IF EXISTS hand; CREATE DATABASE hand CHARACTER SET utf8mb4; "
                           "CREATE USER IF NOT EXISTS einzeln@'%' IDENTIFIED BY 'pw' WITH MAX_USER_CONNECTIONS 1; "
                           "GRANT ALL ON hand.* TO einzeln@'%'"));
        // New sessions start in +02:00: a session that missed the dump's UTC mark would shift the times.
        sql(QStringLiteral("SET GLOBAL time_zone = '+02:00'"));
        const auto zoneBack = qScopeGuard([this] { sql(QStringLiteral("SET GLOBAL time_zone = SYSTEM")); });

        TmySQLDatabase db;
        QVERIFY(connect(db, QStringLiteral("hand")));
        const auto status = [&](const char *name) {
            return rows(db, QStringLiteral("SHOW GLOBAL STATUS LIKE '%1'").arg(QLatin1String(name)))
                .value(0)
                .value(1)
                .toInt();
        };
        const int connectionsBefore = status("Connections");
        const int refusedBefore = status("Aborted_connects");
        // A row of one session that waited for the other session's open transaction until the server gave up.
        const auto lockTimeouts = [&] {
            return rows(
                db, QStringLiteral("SELECT COUNT FROM information_schema.INNODB_METRICS WHERE NAME = 'lock_timeouts'"))
                .value(0)
                .value(0)
                .toInt();
        };
        const int lockTimeoutsBefore = lockTimeouts();
        bool interrupted = false;
        m_host.onProcessEvents = [&](ScriptedRunHost &host) {
            if (interrupted || interruption.isEmpty()
                || !host.progressLines.last().endsWith(QStringLiteral("Satz: %1").arg(rowsPerBatch() * 5 / 2)))
                return;
            interrupted = true;
            if (interruption == QLatin1String("cancel")) {
                host.pressCancel();
                return;
            }
            // The second session is the newest of the restore's two.
            const QByteArray second = rows(db,
                QStringLiteral("SELECT MAX(ID) FROM information_schema.PROCESSLIST "
                               "WHERE USER = 'test_native' AND ID <> CONNECTION_ID()"))
                                          .value(0)
                                          .value(0);
            TmySQLQuery kill(&db);
            kill.setSql(QStringLiteral("KILL CONNECTION ") + QString::fromLatin1(second));
            QVERIFY2(kill.execSql(), qPrintable(kill.errorString()));
        };
        m_host.answers = { Answer::Yes };
        DatabaseRestore::Access login = access(QStringLiteral("hand"));
        if (user != login.user) {
            login.user = user;
            login.password = QStringLiteral("pw");
        }
        const DatabaseRestore::Report report
            = DatabaseRestore::restoreDatabase(m_host, archive, QStringLiteral("Hand"), login);
        m_host.onProcessEvents = nullptr;
        QCOMPARE(status("Connections") - connectionsBefore, sessions);
        QCOMPARE(status("Aborted_connects") - refusedBefore, user == QLatin1String("einzeln") ? 1 : 0);
        QCOMPARE(lockTimeouts() - lockTimeoutsBefore, 0);
        QCOMPARE(interrupted, !interruption.isEmpty());

        const auto value = [&](const QString &select) { return rows(db, select).value(0).value(0).toInt(); };
        // Each row of the table, at the instant it was saved.
        const QString sameTime
            = QStringLiteral("SELECT COUNT(*) FROM t WHERE v LIKE 'Zeile%' AND ts = TIMESTAMP'2024-01-01 02:00:00' "
                             "+ INTERVAL id SECOND");
        if (interruption == QLatin1String("cancel")) {
            QCOMPARE(report.result, DatabaseRestore::Result::Cancelled);
            // Every row counted as done is in the table: a row from the first, a row from the
            // second session in every pair of batches.
            const int restored = report.statements - 3;
            QVERIFY2(restored >= 2 * rowsPerBatch(), qPrintable(QString::number(restored)));
            QCOMPARE(value(QStringLiteral("SELECT COUNT(*) FROM t")), restored);
            QCOMPARE(value(QStringLiteral("SELECT MAX(id) FROM t")), restored);
            QCOMPARE(value(sameTime), restored);
            return;
        }
        if (interruption == QLatin1String("kill")) {
            QCOMPARE(report.result, DatabaseRestore::Result::ConnectionLost);
            QCOMPARE(m_host.messages.size(), 1);
            QCOMPARE(report.failed, 1);
            return;
        }
        QCOMPARE(m_host.messages, messages);
        QCOMPARE(report.failed, int(messages.size()));
        QCOMPARE(report.result,
            messages.isEmpty() ? DatabaseRestore::Result::Completed : DatabaseRestore::Result::WithErrors);
        QCOMPARE(value(QStringLiteral("SELECT COUNT(*) FROM t")), count);
        QCOMPARE(value(sameTime), count);
        if (!primaryKey) {
            QList<QList<QByteArray>> inOrder;
            for (int id = 1; id <= count; ++id)
                inOrder.append({ QByteArray::number(id) });
            QCOMPARE(rows(db, QStringLiteral("SELECT id FROM t")), inOrder);
        }
    }

    // A dump whose archive is damaged past its first table changes nothing: it is read through
    // before the first statement is sent.
    void testRestoreDamagedDump()
    {
        sql(QStringLiteral("DROP DATABASE IF EXISTS hand; CREATE DATABASE hand CHARACTER SET utf8mb4; "
                           "CREATE TABLE hand.t (id int PRIMARY KEY, v text) ENGINE=InnoDB; "
                           "INSERT INTO hand.t VALUES (1, 'bleibt')"));
        QByteArray dump = "\r\n\r\n\r\nDROP TABLE IF EXISTS t;\r\n\r\nCREATE TABLE `t` (\n  `id` int(11) NOT NULL,\n"
                          "  `v` text,\n  PRIMARY KEY (`id`)\n) ENGINE=InnoDB;\r\n";
        for (int i = 0; i < 20000; ++i)
            dump += "INSERT INTO t VALUES (\"" + QByteArray::number(i) + "\", \"Zeile " + QByteArray::number(i * 7919)
                + "\");\r\n";
        const QString archive = packDump(dump);
        QFile file(archive);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        bytes[bytes.size() * 3 / 4] = char(bytes[bytes.size() * 3 / 4] ^ 0x55);
        QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
        file.close();

        const DatabaseRestore::Report report
            = DatabaseRestore::restoreDatabase(m_host, archive, QStringLiteral("Hand"), access(QStringLiteral("hand")));
        QCOMPARE(report.result, DatabaseRestore::Result::NoDump);
        QCOMPARE(report.statements, 0);
        QCOMPARE(m_host.messages.size(), 1);
        QVERIFY2(m_host.messages[0].startsWith(
                     QStringLiteral("Die gesicherte Datenbank konnte nicht gelesen werden.\r\rDas Archiv ")),
            qPrintable(m_host.messages[0]));
        TmySQLDatabase db;
        QVERIFY(connect(db, QStringLiteral("hand")));
        QCOMPARE(rows(db, QStringLiteral("SELECT id, v FROM t")), (QList<QList<QByteArray>> { { "1", "bleibt" } }));
    }

    void testRestoreCancel_data()
    {
        QTest::addColumn<Answer::Button>("answer");
        QTest::newRow("Yes") << Answer::Yes;
        QTest::newRow("No") << Answer::No;
    }

    void testRestoreCancel()
    {
        QFETCH(Answer::Button, answer);
        if (m_fixtureArchive.isEmpty())
            QSKIP("needs the archive of testDumpLayout");
        sql(QStringLiteral(
            "DROP DATABASE IF EXISTS fixture_cancel; CREATE DATABASE fixture_cancel CHARACTER SET utf8mb4"));
        // Cancel is pressed when the second table begins.
        bool pressed = false;
        m_host.onProcessEvents = [&pressed](ScriptedRunHost &host) {
            if (!pressed && host.progressLines.last().contains(QLatin1String("Tabelle: order"))) {
                host.pressCancel();
                pressed = true;
            }
        };
        m_host.answers = { answer };
        const DatabaseRestore::Report report = DatabaseRestore::restoreDatabase(
            m_host, m_fixtureArchive, QStringLiteral("Stammdaten"), access(QStringLiteral("fixture_cancel")));
        QCOMPARE(m_host.questionTexts(),
            QStringList { QStringLiteral("Möchten Sie die Wiederherstellung wirklich abbrechen?") });
        // Stopping half way would leave a database without some of its tables.
        QCOMPARE(m_host.questions.first().unattended, Answer::No);

        TmySQLDatabase source;
        TmySQLDatabase copy;
        QVERIFY(connect(source, QStringLiteral("fixture")));
        QVERIFY(connect(copy, QStringLiteral("fixture_cancel")));
        const QString all = QStringLiteral("SELECT * FROM kunden ORDER BY id");
        QCOMPARE(rows(copy, all), rows(source, all)); // the rows sent before the cancel are kept
        if (answer == Answer::Yes) {
            QCOMPARE(report.result, DatabaseRestore::Result::Cancelled);
            QCOMPARE(
                m_host.messages, QStringList { QStringLiteral("Der Wiederherstellungsvorgang wurde abgebrochen.") });
            QCOMPARE(rows(copy, QStringLiteral("SHOW TABLES")), QList<QList<QByteArray>> { { "kunden" } });
        } else {
            QCOMPARE(report.result, DatabaseRestore::Result::Completed);
            QVERIFY(!m_host.cancelLeftPending);
            QCOMPARE(rows(copy, QStringLiteral("SHOW FULL TABLES")), rows(source, QStringLiteral("SHOW FULL TABLES")));
        }
    }

    void testConnectFailureOfFirstDatabase()
    {
        // A port nobody listens on.
        quint16 closed = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closed = probe.serverPort();
        }
        TAuftrag &job = makeJob({ entry(QStringLiteral("Eins"), QStringLiteral("fixture"), QString::number(closed)),
            entry(QStringLiteral("Zwei"), QStringLiteral("fixture")) });
        BackupRun *state = nullptr;
        QCOMPARE(run(job, &state), BackupRun::Outcome::Aborted);
        QCOMPARE(state->errorCount, 1);
        QCOMPARE(state->dbFilesCopied, 0);
        QCOMPARE(
            m_host.messages, QStringList { QStringLiteral("Fehler beim Verbinden mit der Database aufgetreten.") });
        QCOMPARE(job.letzte_meldung, QStringLiteral("Fehler beim Verbinden mit der Datenbank: Eins"));
        const QString log = logText();
        QVERIFY(log.contains(QStringLiteral("Fehler beim Verbinden mit der Datenbank: Eins\r\n")));
        QVERIFY(log.contains(QStringLiteral("Datenbankverbindung zu Zwei wurde hergestellt.\r\n")));
        QVERIFY(!log.contains(QStringLiteral("gesichert")));
        QVERIFY(!QFileInfo::exists(archiveOf(QStringLiteral("Zwei"))));
    }

    void testIgnoredCopyErrorIsNoSavedDatabase()
    {
        TAuftrag &job = makeJob({ entry(QStringLiteral("Stammdaten"), QStringLiteral("fixture")) });
        job.fehler_anzeigen = false;
        // A folder where the archive should go: the copy fails, is counted and logged, and the run goes on.
        QDir().mkpath(archiveOf(QStringLiteral("Stammdaten")));
        BackupRun *state = nullptr;
        QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
        QCOMPARE(state->errorCount, 1);
        QCOMPARE(state->dbFilesCopied, 0);
        const QString log = logText();
        QVERIFY(log.contains(QStringLiteral("Konnte Datei ")));
        QVERIFY(!log.contains(QStringLiteral("Datenbank: \"Stammdaten\" gesichert.")));
        QVERIFY(log.contains(QStringLiteral("Von 1 ausgewählten Datenbank wurde 0 gesichert.")));
    }

    void testLoginPrompt_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("credentials given") << true;
        QTest::newRow("prompt cancelled") << false;
    }

    void testLoginPrompt()
    {
        QFETCH(bool, answered);
        TODBC_DB db = entry(QStringLiteral("Geheim"), QStringLiteral("leer"));
        db.DB_Login = QStringLiteral("ja");
        db.DB_Pass = QStringLiteral("falsch");
        TAuftrag &job = makeJob({ db });
        if (answered)
            m_host.credentials = { { QStringLiteral("test_native"), QStringLiteral("nativepw") } };
        QCOMPARE(run(job), answered ? BackupRun::Outcome::Completed : BackupRun::Outcome::Aborted);
        QCOMPARE(m_host.credentialPrompts, QStringList { QStringLiteral("Datenbank-Login|Datenbank: leer") });
        // The stored user and password are not used with the prompt on, not even as a preset.
        QCOMPARE(m_host.credentialPresets, (QList<QPair<QString, QString>> { { QString(), QString() } }));
        QCOMPARE(QFileInfo::exists(archiveOf(QStringLiteral("Geheim"))), answered);
    }

    void testCancel_data()
    {
        QTest::addColumn<Answer::Button>("answer");
        QTest::newRow("Yes") << Answer::Yes;
        QTest::newRow("No") << Answer::No;
    }

    void testCancel()
    {
        QFETCH(Answer::Button, answer);
        TAuftrag &job = makeJob({ entry(QStringLiteral("Stammdaten"), QStringLiteral("fixture")) });
        // The cancel button is pressed while the first table's rows are read.
        bool pressed = false;
        QFileInfoList work;
        m_host.onProcessEvents = [&](ScriptedRunHost &host) {
            if (!pressed && host.progressLines.last() == QLatin1String("4:Daten lesen")) {
                host.pressCancel();
                pressed = true;
                work = QDir(path(QStringLiteral("tmp"))).entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries);
                if (work.size() == 1)
                    work += QDir(work.first().filePath()).entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries);
            }
        };
        m_host.answers = { answer };
        const BackupRun::Outcome outcome = run(job);
        // The work folder: a name nobody can guess, and only its owner may look inside.
        QCOMPARE(work.size(), 2);
        QVERIFY(work[0].fileName().startsWith(QLatin1String("trevalo-db-")));
        QVERIFY(!work[0].fileName().contains(QString::number(QCoreApplication::applicationPid())));
        const auto groupOrOther = [](const QFileInfo &info) { return int(info.permissions() & 0x0077); };
        QCOMPARE(groupOrOther(work[0]), 0);
        QCOMPARE(work[1].fileName(), QStringLiteral("trevalo_db.sql"));
        QCOMPARE(groupOrOther(work[1]), 0);
        QCOMPARE(m_host.questionTexts(),
            QStringList { QStringLiteral("Möchten Sie den Sicherungsvorgang wirklich abbrechen?") });
        if (answer == Answer::Yes) {
            QCOMPARE(outcome, BackupRun::Outcome::Cancelled);
            QVERIFY(!QFileInfo::exists(archiveOf(QStringLiteral("Stammdaten"))));
            QVERIFY(!logText().contains(QStringLiteral("gesichert")));
        } else {
            QCOMPARE(outcome, BackupRun::Outcome::Completed);
            QVERIFY(!m_host.cancelLeftPending);
            QCOMPARE(dumpOf(QStringLiteral("Stammdaten")),
                readFile(QStringLiteral(TREVALO_TEST_DATA "/db/fixture_dump.sql")));
        }
        // The unfinished dump holds rows: it goes with its work folder either way.
        QCOMPARE(QDir(path(QStringLiteral("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    void testRestoreDbCommand_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("restored") << "test_native"
                                  << "nativepw" << 0;
        QTest::newRow("a statement fails") << "cli_noview"
                                           << "pw" << 1; // may not create the view
        QTest::newRow("wrong password") << "test_native"
                                        << "falsch" << 2;
    }

    void testRestoreDbCommand()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(int, exitCode);
        if (m_fixtureArchive.isEmpty())
            QSKIP("needs the archive of testDumpLayout");
        sql(QStringLiteral("DROP DATABASE IF EXISTS fixture_cli; CREATE DATABASE fixture_cli CHARACTER SET utf8mb4;"
                           "CREATE USER IF NOT EXISTS 'cli_noview'@'%' IDENTIFIED BY 'pw';"
                           "GRANT SELECT, INSERT, UPDATE, DELETE, CREATE, DROP, INDEX, ALTER ON fixture_cli.* TO "
                           "'cli_noview'@'%'"));
        writeFile(path(QStringLiteral("pw")), password.toUtf8() + "\n");
        QProcess cli;
        cli.start(QStringLiteral(TREVALO_CLI),
            { QStringLiteral("restore-db"),
                m_fixtureArchive,
                QStringLiteral("--host"),
                m_server.host(),
                QStringLiteral("--port"),
                QString::number(m_server.port()),
                QStringLiteral("--user"),
                user,
                QStringLiteral("--password-file"),
                path(QStringLiteral("pw")),
                QStringLiteral("--database"),
                QStringLiteral("fixture_cli") });
        QVERIFY(cli.waitForFinished(60000));
        const QString errors = QString::fromUtf8(cli.readAllStandardError());
        QCOMPARE(cli.exitCode(), exitCode);
        if (exitCode == 2) {
            QVERIFY2(
                errors.contains(QStringLiteral("Fehler beim Aufbau der Datenbankverbindung.")), qPrintable(errors));
            return;
        }
        TmySQLDatabase source;
        TmySQLDatabase copy;
        QVERIFY(connect(source, QStringLiteral("fixture")));
        QVERIFY(connect(copy, QStringLiteral("fixture_cli")));
        const QString all = QStringLiteral("SELECT * FROM kunden ORDER BY id");
        QCOMPARE(rows(copy, all), rows(source, all));
    }

    void testRunAndRestoreThroughCli()
    {
        sql(QStringLiteral("DROP DATABASE IF EXISTS fixture_cli2; CREATE DATABASE fixture_cli2 CHARACTER SET utf8mb4"));
        TAuftrag job;
        job.scriptsFolder = path(QStringLiteral("cli/Scripts"));
        QDir().mkpath(job.scriptsFolder);
        job.fileStem = QStringLiteral("0");
        QVERIFY(loadJob(job));
        job.Name = QStringLiteral("CliDB");
        job.Ziel = path(QStringLiteral("cli/ziel"));
        job.proto_pfad = path(QStringLiteral("cli/log"));
        job.Start_Meldung = false;
        job.databases = { entry(QStringLiteral("Kunden"), QStringLiteral("fixture")) };
        QVERIFY(saveJob(job));
        writeFile(path(QStringLiteral("pw")), "nativepw\n");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("cli/config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("cli/state")));
        const auto cli = [&](const QStringList &args) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.setStandardInputFile(QProcess::nullDevice());
            p.start(QStringLiteral(TREVALO_CLI),
                QStringList { QStringLiteral("--scripts-folder"), path(QStringLiteral("cli")) } + args);
            p.waitForFinished(120000);
            if (p.exitCode() != 0 && p.exitCode() != 3)
                qWarning() << p.readAllStandardError();
            return p.exitCode();
        };
        QCOMPARE(cli({ QStringLiteral("run"), QStringLiteral("CliDB") }), 0);
        QVERIFY(QString::fromUtf8(readFile(path(QStringLiteral("cli/log/protokoll.txt"))))
                    .contains(QStringLiteral("Datenbank: \"Kunden\" gesichert.")));

        const QString set = QStringLiteral("B-T01") + QDate::currentDate().toString(QStringLiteral("yyMMdd"))
            + QStringLiteral("-CliDB");
        // With the access data of the job that saved it: back into its own database, once the warning is answered.
        QCOMPARE(cli({ QStringLiteral("--answer"),
                     QStringLiteral("ok"),
                     QStringLiteral("restore"),
                     path(QStringLiteral("cli/ziel")),
                     QStringLiteral("--set"),
                     set }),
            0);
        // With access data of its own: into another database. Without an answer it is left as it is.
        const QStringList intoCopy { QStringLiteral("restore"),
            path(QStringLiteral("cli/ziel")),
            QStringLiteral("--set"),
            set,
            QStringLiteral("--db-host"),
            m_server.host(),
            QStringLiteral("--db-port"),
            QString::number(m_server.port()),
            QStringLiteral("--db-user"),
            QStringLiteral("test_native"),
            QStringLiteral("--db-password-file"),
            path(QStringLiteral("pw")),
            QStringLiteral("--db-name"),
            QStringLiteral("fixture_cli2") };
        TmySQLDatabase copy;
        QVERIFY(connect(copy, QStringLiteral("fixture_cli2")));
        const QString tables = QStringLiteral("SHOW TABLES");
        QCOMPARE(cli(intoCopy), 3);
        QVERIFY(rows(copy, tables).isEmpty());
        QCOMPARE(cli(QStringList { QStringLiteral("--answer"), QStringLiteral("ok") } + intoCopy), 0);
        TmySQLDatabase source;
        QVERIFY(connect(source, QStringLiteral("fixture")));
        const QString all = QStringLiteral("SELECT * FROM kunden ORDER BY id");
        QVERIFY(!rows(source, all).isEmpty());
        QCOMPARE(rows(copy, all), rows(source, all));
    }

    // A folder planted where older versions put their work files, with a link in place of the
    // dump: the run neither follows the link nor uses the folder.
    void testPlantedLinkIsNotFollowed()
    {
        TAuftrag &job = makeJob({ entry(QStringLiteral("Stammdaten"), QStringLiteral("fixture")) });
        const QString planted = path(QStringLiteral("tmp/trevalo-db-%1").arg(QCoreApplication::applicationPid()));
        QVERIFY(QDir().mkpath(planted));
        writeFile(path(QStringLiteral("victim")), "unberührt");
        QVERIFY(QFile::link(path(QStringLiteral("victim")), planted + QStringLiteral("/trevalo_db.sql")));
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        QVERIFY(QFileInfo::exists(archiveOf(QStringLiteral("Stammdaten"))));
        QCOMPARE(readFile(path(QStringLiteral("victim"))), QByteArray("unberührt"));
        QCOMPARE(QDir(path(QStringLiteral("tmp"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
            QStringList { QFileInfo(planted).fileName() });
    }

    // The job asks for an encrypted connection; this server has no TLS: the log says so.
    void testRequiredTlsNotOffered()
    {
        TODBC_DB db = entry(QStringLiteral("Sicher"), QStringLiteral("fixture"));
        db.DB_TLS = QStringLiteral("ja");
        TAuftrag &job = makeJob({ db });
        TAuftrag reloaded;
        reloaded.scriptsFolder = job.scriptsFolder;
        reloaded.fileStem = job.fileStem;
        QVERIFY(loadJob(reloaded));
        QCOMPARE(reloaded.databases.value(0).DB_TLS, QStringLiteral("ja"));

        BackupRun *state = nullptr;
        run(job, &state);
        QCOMPARE(state->errorCount, 1);
        QVERIFY(!QFileInfo::exists(archiveOf(QStringLiteral("Sicher"))));
        const QString log = logText();
        QVERIFY2(log.contains(QStringLiteral("Fehler beim Verbinden mit der Datenbank: Sicher\r\n")
                     + QStringLiteral("Der Datenbankserver bietet keine verschlüsselte Verbindung (TLS) an.")),
            qPrintable(log));

        // The restore of such a job asks the same of its server.
        DatabaseRestore::Access secure = access(QStringLiteral("fixture_tls"));
        secure.requireTls = true;
        const DatabaseRestore::Report report = DatabaseRestore::restoreDatabase(
            m_host, path(QStringLiteral("nowhere/Archive.zip")), QStringLiteral("Sicher"), secure);
        QCOMPARE(report.result, DatabaseRestore::Result::ConnectFailed);
        QCOMPARE(
            report.errorString, QStringLiteral("Der Datenbankserver bietet keine verschlüsselte Verbindung (TLS) an."));
    }

    // A server that never greets holds the dump in its connect; SIGTERM ends it at once, and
    // the work folder goes with it.
    void testSigtermEndsStalledDump()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        TAuftrag job;
        job.scriptsFolder = path(QStringLiteral("sig/Scripts"));
        QDir().mkpath(job.scriptsFolder);
        job.fileStem = QStringLiteral("0");
        QVERIFY(loadJob(job));
        job.Name = QStringLiteral("SigDB");
        job.Ziel = path(QStringLiteral("sig/ziel"));
        job.proto_pfad = path(QStringLiteral("sig/log"));
        job.temp_pfad = path(QStringLiteral("sig/tmp"));
        QDir().mkpath(job.temp_pfad);
        job.Start_Meldung = false;
        job.databases
            = { entry(QStringLiteral("Stumm"), QStringLiteral("fixture"), QString::number(silent.serverPort())) };
        QVERIFY(saveJob(job));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("sig/config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("sig/state")));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(TREVALO_CLI),
            { QStringLiteral("--scripts-folder"),
                path(QStringLiteral("sig")),
                QStringLiteral("run"),
                QStringLiteral("SigDB") });
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            !QDir(job.temp_pfad).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty(), 5000);
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(QDir(job.temp_pfad).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    // The restore's own cancel question defaults to No; a program told to end takes Yes all the same.
    void testSigtermEndsStalledRestore()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        const QString archive = packDump("CREATE TABLE t (id INT);\r\n");
        writeFile(path(QStringLiteral("pw-stumm")), "pw\n");
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(TREVALO_CLI),
            { QStringLiteral("restore-db"),
                archive,
                QStringLiteral("--host"),
                QStringLiteral("127.0.0.1"),
                QStringLiteral("--port"),
                QString::number(silent.serverPort()),
                QStringLiteral("--user"),
                QStringLiteral("u"),
                QStringLiteral("--password-file"),
                path(QStringLiteral("pw-stumm")),
                QStringLiteral("--database"),
                QStringLiteral("stumm") });
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections() || silent.waitForNewConnection(0), 5000);
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(p.exitCode() != 0);
    }

    // Last: the server does not survive it.
    void testServerKilledDuringDump()
    {
        sql(QStringLiteral(
            "CREATE DATABASE gross; USE gross; CREATE TABLE t (id INT PRIMARY KEY, v TEXT) ENGINE=InnoDB;"
            "INSERT INTO t SELECT seq, REPEAT('x', 2000) FROM seq_1_to_40000;"));
        TAuftrag &job = makeJob({ entry(QStringLiteral("Gross"), QStringLiteral("gross")) });
        int calls = 0;
        m_host.onProcessEvents = [this, &calls](ScriptedRunHost &) {
            if (++calls == 5)
                m_server.kill();
        };
        BackupRun *state = nullptr;
        QCOMPARE(run(job, &state), BackupRun::Outcome::Aborted);
        QVERIFY(calls >= 5);
        QCOMPARE(state->errorCount, 1);
        QCOMPARE(m_host.messages, QStringList { QStringLiteral("Fehler beim Auslesen der Datenbank aufgetreten.") });
        QVERIFY(logText().contains(QStringLiteral("Fehler beim Auslesen mit der Datenbank: Gross\r\n")));
    }
};

QTEST_GUILESS_MAIN(TestDbBackup)
#include "tst_dbbackup.moc"
