// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/jobfile.h"
#include "jobs/jobstore.h"
#include "jobs/password.h"
#include "jobs/tauftraege.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "jobs/nextstart.h"
#include "testutil.h"

#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using TestUtil::readFile;
using TestUtil::writeFile;

namespace {
// Thursday, 10 December 2026.
const QDateTime kNow(QDate(2026, 12, 10), QTime(8, 15, 30));

QByteArray crlf(const char *text)
{
    return QByteArray(text).replace("\n", "\r\n");
}

// The value the job would write for section/key, or "<none>" when it writes no such line.
QString writtenValue(const TAuftrag &job, const QString &sectionKey)
{
    const QString section = sectionKey.section(u'/', 0, 0);
    const QString key = sectionKey.section(u'/', 1);
    for (const JobFileEntry &e : jobFileEntries(job, false)) {
        if (e.section == section && e.key == key)
            return e.value;
    }
    return QStringLiteral("<none>");
}
} // namespace

class TestJobs : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_clock.set(kNow);
        Clock::setInstance(&m_clock);
        m_tempDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tempDir->isValid());
    }
    void cleanup()
    {
        Clock::setInstance(nullptr);
    }

    void testFullFileRoundTripsByteForByte()
    {
        const QByteArray original = readFile(QStringLiteral(TREVALO_TEST_DATA "/jobs/full.scr"));
        QVERIFY(!original.isEmpty());
        writeFile(m_tempDir->filePath(QStringLiteral("7.scr")), original);

        TAuftraege jobs(m_tempDir->path());
        QVERIFY(jobs.loadAllJobs().isEmpty());
        QCOMPARE(jobs.size(), 1);
        TAuftrag &job = *jobs.at(0);
        QCOMPARE(job.fileStem, QStringLiteral("7"));
        QCOMPARE(job.Name, QStringLiteral("Tägliche Sicherung"));
        QCOMPARE(job.sources.size(), 2);
        QCOMPARE(job.sources[1].Filter, QStringLiteral("*.doc;*.xls"));
        QCOMPARE(job.sources[1].SubDir, false);
        QCOMPARE(job.databases.size(), 2);
        QCOMPARE(job.databases[1].DB_Port, QStringLiteral("3307"));
        QCOMPARE(job.email_pop3_pass, QStringLiteral("abc"));
        QCOMPARE(job.email_port, 587);
        QCOMPARE(job.email_smtp_pass, QStringLiteral("abc"));
        QCOMPARE(job.next_start, QDateTime(QDate(2026, 12, 10), QTime(22, 0, 30)));

        QString error;
        QVERIFY(saveJob(job, &error));
        QCOMPARE(readFile(job.filePath()), original);
        QCOMPARE(Platform::statPath(job.filePath()).mode, 0600u);
    }

    void testReadingRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("keys and sections ignore case") << crlf("[einstellungen]\nNAME=Abc\n") << "Einstellungen/Name"
                                                       << "Abc";
        QTest::newRow("first occurrence wins") << crlf("[Einstellungen]\nName=eins\nName=zwei\n")
                                               << "Einstellungen/Name" << "eins";
        QTest::newRow("value is the rest of the line")
            << crlf("[Einstellungen]\nZiel= /a=b \n") << "Einstellungen/Ziel" << " /a=b ";
        QTest::newRow("value cut to 2047") << QByteArray("[Einstellungen]\r\nZiel=" + QByteArray(3000, 'x') + "\r\n")
                                           << "Einstellungen/Ziel" << QString(2047, u'x');
        QTest::newRow("bool default when unparsable") << crlf("[Einstellungen]\nGesamtsicherung=ja\n")
                                                      << "Einstellungen/Gesamtsicherung" << "1";
        QTest::newRow("bool any non-zero is true") << crlf("[Einstellungen]\npruefe_platz=-7\n")
                                                   << "Einstellungen/pruefe_platz" << "1";
        QTest::newRow("bool zero") << crlf("[Einstellungen]\nGesamtsicherung=0\n") << "Einstellungen/Gesamtsicherung"
                                   << "0";
        QTest::newRow("bool defaults when missing") << QByteArray() << "Einstellungen/backup_ok_anzeigen" << "1";
        QTest::newRow("proto read under its other spelling") << crlf("[Einstellungen]\nProto=0\n")
                                                             << "Einstellungen/proto" << "0";
        QTest::newRow("integer default") << crlf("[Version]\nStatus=eins\n") << "Version/Status" << "0";
        QTest::newRow("empty last success writes no line") << QByteArray() << "Einstellungen/Zuletzt_Ausgefuehrt"
                                                           << "<none>";
        QTest::newRow("start time dropped without autostart")
            << crlf("[Einstellungen]\nautostart=0\nstartzeit=10:00\n") << "Einstellungen/startzeit" << "";
        QTest::newRow("no next start written as 29.12.1899") << QByteArray() << "Einstellungen/next_start"
                                                             << "29.12.1899";
        QTest::newRow("unparsable next start without autostart")
            << crlf("[Einstellungen]\nnext_start=morgen\n") << "Einstellungen/next_start" << "29.12.1899";
        QTest::newRow("missing next start computed for autostart")
            << crlf("[Einstellungen]\nautostart=1\nstartzeit=07:00\n") << "Einstellungen/next_start"
            << "11.12.2026 07:00:30";
        QTest::newRow("next start at midnight without time")
            << crlf("[Einstellungen]\nnext_start=24.12.2026\n") << "Einstellungen/next_start" << "24.12.2026";
        QTest::newRow("one-digit date fields read")
            << crlf("[Einstellungen]\nnext_start=1.2.2027 9:05\n") << "Einstellungen/next_start" << "01.02.2027 09:05:00";
        QTest::newRow("sources end at the first gap")
            << crlf("[Verzeichnisse]\nVerz1=/a\nVerz3=/c\n") << "Verzeichnisse/Verz2" << "<none>";
        QTest::newRow("missing filter is all files") << crlf("[Verzeichnisse]\nVerz1=/a\n") << "Filter/Filter1"
                                                     << "*.*";
        QTest::newRow("empty filter stays empty") << crlf("[Verzeichnisse]\nVerz1=/a\n[Filter]\nFilter1=\n")
                                                  << "Filter/Filter1" << "";
        QTest::newRow("missing subdir flag is on") << crlf("[Verzeichnisse]\nVerz1=/a\n") << "SubDirs/SubDir1" << "1";
        QTest::newRow("databases end at the first gap")
            << crlf("[DB_Name]\nDB1=a\nDB3=c\n") << "DB_Name/DB2" << "<none>";
        QTest::newRow("mail port of old files") << QByteArray() << "Einstellungen/email_port" << "25";
        QTest::newRow("mail security of old files") << QByteArray() << "Einstellungen/email_security" << "keine";
        QTest::newRow("database port default") << crlf("[DB_Name]\nDB1=a\n") << "DB_Port/Port1" << "3306";
        QTest::newRow("UTF-8 with byte-order mark")
            << QByteArray("\xEF\xBB\xBF[Einstellungen]\r\nName=\xC5\x81\xC3\xB3\x64\xC5\xBA\r\n") << "Einstellungen/Name"
            << QString::fromUtf8("\xC5\x81\xC3\xB3\x64\xC5\xBA");
        QTest::newRow("UTF-8 without mark") << QByteArray("[Einstellungen]\nName=B\xC3\xBCro\n") << "Einstellungen/Name"
                                            << QStringLiteral("Büro");
        QTest::newRow("Windows-1252") << QByteArray("[Einstellungen]\nName=B\xFCro \x80\n") << "Einstellungen/Name"
                                      << QStringLiteral("Büro €");
    }

    void testReadingRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeFile(m_tempDir->filePath(QStringLiteral("0.scr")), file);
        TAuftrag job;
        job.scriptsFolder = m_tempDir->path();
        job.fileStem = QStringLiteral("0");
        QVERIFY(loadJob(job));
        QCOMPARE(writtenValue(job, key), expected);
    }

    void testSaveRenumbersAndChoosesEncoding()
    {
        writeFile(m_tempDir->filePath(QStringLiteral("0.scr")), crlf("[Verzeichnisse]\nVerz1=/a\nVerz3=/c\n"));
        TAuftraege jobs(m_tempDir->path());
        jobs.loadAllJobs();
        TAuftrag &job = *jobs.at(0);
        job.sources.append({QStringLiteral("/neu"), QStringLiteral("*.txt"), false});
        QVERIFY(saveJob(job));
        const QByteArray ansi = readFile(job.filePath());
        QVERIFY(ansi.contains("Verz1=/a\r\nVerz2=/neu\r\n[Filter]\r\nFilter1=*.*\r\nFilter2=*.txt\r\n"));
        QVERIFY(!ansi.contains("DB_Name"));

        // A character outside Windows-1252 switches the whole file to UTF-8 with a mark.
        job.Name = QStringLiteral("Łódź €");
        job.letzte_meldung = QStringLiteral("zwei\r\nZeilen");
        QVERIFY(saveJob(job));
        const QByteArray utf8 = readFile(job.filePath());
        QVERIFY(utf8.startsWith("\xEF\xBB\xBF[Version]\r\n"));
        QVERIFY(utf8.contains("letzte_meldung=zwei  Zeilen\r\n"));
        TAuftrag again;
        again.scriptsFolder = job.scriptsFolder;
        again.fileStem = job.fileStem;
        QVERIFY(loadJob(again));
        QCOMPARE(again.Name, job.Name);
    }

    void testPasswords_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("stored");
        QTest::newRow("abc") << "abc" << "176049177";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("umlaut and euro") << QStringLiteral("ä€") << "114064";
        QTest::newRow("code page bytes that are valid UTF-8") << QStringLiteral("Ä€") << "098064";
        QTest::newRow("beyond the code page") << QStringLiteral("ł") << "247221223226065";
    }

    void testPasswords()
    {
        QFETCH(QString, plain);
        QFETCH(QString, stored);
        QCOMPARE(encodePassword(plain), stored);
        QCOMPARE(decodePassword(stored), plain);
    }

    void testPasswordDecodingTolerance()
    {
        QCOMPARE(decodePassword(QStringLiteral("17604917")), QStringLiteral("ab"));
        QCOMPARE(decodePassword(QStringLiteral("xyz")), QString(QChar(2)));
    }

    void testJobListNumberingLookupAndRemoval()
    {
        const QByteArray named = crlf("[Einstellungen]\nName=Daily\nautostart=1\n");
        writeFile(m_tempDir->filePath(QStringLiteral("0.scr")), named);
        writeFile(m_tempDir->filePath(QStringLiteral("2.scr")), crlf("[Einstellungen]\nName=daily\n"));
        writeFile(m_tempDir->filePath(QStringLiteral("10.scr")), named);
        QDir(m_tempDir->path()).mkdir(QStringLiteral("ordner.scr"));

        TAuftraege jobs(m_tempDir->path());
        QVERIFY(jobs.loadAllJobs().isEmpty());
        QCOMPARE(jobs.size(), 4); // 0, 10, 2, ordner (a folder loads with defaults)
        QCOMPARE(jobs.at(1)->fileStem, QStringLiteral("10"));
        QCOMPARE(jobs.at(3)->Name, QString());
        QCOMPARE(jobs.nextFreeStem(), QStringLiteral("1"));
        QCOMPARE(jobs.countScheduledJobs(), 2);

        // Lookups search from the end; the name compare ignores ASCII case only.
        QCOMPARE(jobs.findJobByName(QStringLiteral("DAILY"))->fileStem, QStringLiteral("2"));
        QVERIFY(!jobs.findJobByName(QStringLiteral("Dailÿ")));
        jobs.removeJobByName(QStringLiteral("Daily"));
        QCOMPARE(jobs.size(), 3);
        QCOMPARE(jobs.at(0)->fileStem, QStringLiteral("0"));

        // Deleting "Daily" removes the file of the job it removes, not that of "daily".
        QVERIFY(jobs.deleteJob(QStringLiteral("Daily")));
        QVERIFY(!QFileInfo::exists(m_tempDir->filePath(QStringLiteral("0.scr"))));
        QVERIFY(QFileInfo::exists(m_tempDir->filePath(QStringLiteral("2.scr"))));
        QCOMPARE(jobs.size(), 2);

        TAuftrag *fresh = jobs.addNewJob(jobs.nextFreeStem());
        QCOMPARE(fresh->fileStem, QStringLiteral("0"));
        QCOMPARE(fresh->BackupVersion, QStringLiteral("3"));
        QCOMPARE(fresh->Gesamtsicherung, true);
        QVERIFY(!QFileInfo::exists(fresh->filePath()));
    }

    void testOddFilesLoadAsDefaults()
    {
        // A pipe or a dangling link named like a job must not block or break the job list.
        QVERIFY(QProcess::execute(QStringLiteral("mkfifo"), {m_tempDir->filePath(QStringLiteral("rohr.scr"))}) == 0);
        QVERIFY(QFile::link(m_tempDir->filePath(QStringLiteral("weg")), m_tempDir->filePath(QStringLiteral("link.scr"))));
        TAuftraege jobs(m_tempDir->path());
        QVERIFY(jobs.loadAllJobs().isEmpty());
        QCOMPARE(jobs.size(), 2);
        QCOMPARE(jobs.at(1)->Gesamtsicherung, true);
    }

    void testOdbcUpgrade()
    {
        QTemporaryDir home;
        writeFile(home.filePath(QStringLiteral(".odbc.ini")),
                  "[Lager]\nDatabase = lager\nServer = db1\nUser = ich\nPassword = geheim\nPort = 3310\n");
        writeFile(home.filePath(QStringLiteral("etc/odbc.ini")), "[Lager]\nDatabase=falsch\n[Kasse]\nSERVER=db2\n");
        const QByteArray oldHome = qgetenv("HOME");
        auto restoreHome = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            qunsetenv("ODBCSYSINI");
        });
        qputenv("HOME", home.path().toUtf8());
        qputenv("ODBCSYSINI", home.filePath(QStringLiteral("etc")).toUtf8());
        writeFile(m_tempDir->filePath(QStringLiteral("0.scr")),
                  crlf("[Version]\nBackupVersion=2.0\n[DB_Name]\nDB1=Lager\nDB2=Kasse\nDB3=Fehlt\n"
                       "[DB_User]\nUser3=alt\n[DB_Port]\nPort3=3306\n"));
        TAuftrag job;
        job.scriptsFolder = m_tempDir->path();
        job.fileStem = QStringLiteral("0");
        QVERIFY(loadJob(job));
        QCOMPARE(job.BackupVersion, QStringLiteral("3"));
        QCOMPARE(job.databases.size(), 3);
        const TODBC_DB &lager = job.databases[0];
        QCOMPARE(QStringList({lager.DB_DBName, lager.DB_Host, lager.DB_User, lager.DB_Pass, lager.DB_Port}),
                 QStringList({"lager", "db1", "ich", "geheim", "3310"}));
        QCOMPARE(job.databases[1].DB_Host, QStringLiteral("db2"));
        QCOMPARE(job.databases[1].DB_Port, QString());
        const TODBC_DB &missing = job.databases[2];
        QCOMPARE(missing.DB_User + missing.DB_Port + missing.DB_Host, QString());
    }

    void testSaveOnFullDiskKeepsOldFile()
    {
        const QString mountDir = m_tempDir->filePath(QStringLiteral("voll"));
        TestUtil::TmpfsMount mount(mountDir, QStringLiteral("size=64k"));
        REQUIRE_MOUNT(mount);

        TAuftrag job;
        job.scriptsFolder = mountDir;
        job.fileStem = QStringLiteral("0");
        QVERIFY(loadJob(job)); // no file yet: the defaults
        job.Name = QStringLiteral("Voll");
        QVERIFY(saveJob(job));
        const QByteArray before = readFile(job.filePath());

        QFile filler(mountDir + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();

        for (int i = 0; i < 200; ++i)
            job.sources.append({QStringLiteral("/ein/langer/pfad/%1").arg(i), QStringLiteral("*.*"), true});
        QString error;
        QVERIFY(!saveJob(job, &error));
        QCOMPARE(error, QStringLiteral("Fehler beim Speichern des Auftrages Voll aufgetreten."));
        QCOMPARE(readFile(job.filePath()), before);
        QCOMPARE(QDir(mountDir).entryList(QDir::Files).size(), 2); // no temporary file left behind
    }

    void testComputeNextStart_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("startzeit");
        QTest::addColumn<QString>("weekdays"); // Mon..Sun as 0/1
        QTest::addColumn<QDateTime>("expected");
        QTest::addColumn<QString>("storedTime");

        const QDate thu(2026, 12, 10);
        QTest::newRow("in the start minute: next ticked day")
            << QDateTime(thu, QTime(14, 30, 20)) << "14:30" << "1111111" << QDateTime(thu.addDays(1), QTime(14, 30, 20))
            << "14:30";
        QTest::newRow("one minute before: today") << QDateTime(thu, QTime(14, 29, 59)) << "14:30" << "1111111"
                                                  << QDateTime(thu, QTime(14, 30, 59)) << "14:30";
        QTest::newRow("Saturday 23:00, Monday-only 22:00")
            << QDateTime(QDate(2026, 12, 12), QTime(23, 0)) << "22:00" << "1000000"
            << QDateTime(QDate(2026, 12, 14), QTime(22, 0)) << "22:00";
        QTest::newRow("no weekday ticked: 14 - d days") << QDateTime(thu, QTime(9, 0)) << "10:00" << "0000000"
                                                        << QDateTime(thu.addDays(10), QTime(10, 0)) << "10:00";
        QTest::newRow("empty start time becomes midnight")
            << QDateTime(thu, QTime(9, 0)) << "  :  " << "1111111" << QDateTime(thu.addDays(1), QTime(0, 0)) << "00:00";
        QTest::newRow("one-digit hour written with two") << QDateTime(thu, QTime(9, 0)) << " 9:30" << "1111111"
                                                         << QDateTime(thu, QTime(9, 30)) << "09:30";
        QTest::newRow("hour out of range leaves it") << QDateTime(thu, QTime(9, 0)) << "25:00" << "1111111"
                                                     << QDateTime() << "25:00";
    }

    void testComputeNextStart()
    {
        QFETCH(QDateTime, now);
        QFETCH(QString, startzeit);
        QFETCH(QString, weekdays);
        QFETCH(QDateTime, expected);
        QFETCH(QString, storedTime);
        TAuftrag job;
        job.autostart = true;
        job.startzeit = startzeit;
        bool *days[] = {&job.mon, &job.die, &job.mit, &job.don, &job.fre, &job.sam, &job.son};
        for (int i = 0; i < 7; ++i)
            *days[i] = weekdays[i] == u'1';
        QCOMPARE(computeNextStart(job, now), expected.isValid());
        QCOMPARE(job.next_start, expected);
        QCOMPARE(job.startzeit, storedTime);

        TAuftrag manual;
        manual.startzeit = startzeit;
        computeNextStart(manual, now);
        QVERIFY(!manual.next_start.isValid());
    }

    void testRunBookkeepingSaves()
    {
        TAuftraege jobs(m_tempDir->path());
        TAuftrag *job = jobs.addNewJob(QStringLiteral("0"));
        job->Name = QStringLiteral("Lauf");
        QVERIFY(markStarted(*job));
        QVERIFY(readFile(job->filePath()).contains("Status=1\r\n"));
        QVERIFY(setLastMessage(*job, QStringLiteral("Start des Backupauftrages")));
        QVERIFY(readFile(job->filePath()).contains("letzte_meldung=Start des Backupauftrages\r\n"));
        QString handedOver;
        job->Status = 0;
        QVERIFY(finishJob(*job, [&](const QString &stem) { handedOver = stem; }));
        QCOMPARE(handedOver, QStringLiteral("0"));
        QVERIFY(readFile(job->filePath()).contains("Status=0\r\n"));
    }

    void testStoreJob()
    {
        TAuftraege jobs(m_tempDir->path());
        jobs.addNewJob(QStringLiteral("0"))->Name = QStringLiteral("N1");
        jobs.addNewJob(QStringLiteral("1"))->Name = QStringLiteral("N");
        TAuftrag *job = jobs.addNewJob(QStringLiteral("2"));
        job->Name = QStringLiteral("N");
        job->letzte_meldung = QStringLiteral("Start des Backupauftrages"); // a run wrote meanwhile

        // The rows as the editor has them after folders were entered as D/b, then C/a.
        TAuftrag edited = *job;
        edited.letzte_meldung.clear();
        edited.sources = {{QStringLiteral("/D/b"), QString(), true}, {QStringLiteral("/C/a"), QStringLiteral("*.doc"), false}};
        edited.sources = sourceRows(edited);
        QCOMPARE(edited.sources.first().Verz, QStringLiteral("/C/a"));
        TODBC_DB top;
        top.DB_Name = QStringLiteral("oben");
        TODBC_DB bottom;
        bottom.DB_Name = QStringLiteral("unten");
        edited.databases = {top, bottom};
        edited.autostart = true;
        edited.startzeit = QStringLiteral("09:00");

        QString error;
        QVERIFY(storeJob(jobs, *job, edited, &error));
        QCOMPARE(job->Name, QStringLiteral("N11")); // N and N1 are taken; its own old name does not count
        QCOMPARE(job->sources.first().Verz, QStringLiteral("/D/b")); // the last row first
        QCOMPARE(job->sources.first().Filter, QStringLiteral("*.*"));
        QCOMPARE(job->sources.last().Filter, QStringLiteral("*.doc"));
        QCOMPARE(sourceRows(*job).first().Verz, QStringLiteral("/C/a"));
        QCOMPARE(job->databases.first().DB_Name, QStringLiteral("unten"));
        QCOMPARE(databaseRows(*job).first().DB_Name, QStringLiteral("oben"));
        QCOMPARE(job->next_start, QDateTime(kNow.date(), QTime(9, 0, 30)));
        QCOMPARE(job->letzte_meldung, QStringLiteral("Start des Backupauftrages"));
        QCOMPARE(readFile(job->filePath()), jobFileBytes(*job));

        // Storing again under its own name keeps it; rows read back and stored give the same file.
        edited = *job;
        edited.sources = sourceRows(*job);
        edited.databases = databaseRows(*job);
        const QByteArray before = readFile(job->filePath());
        QVERIFY(storeJob(jobs, *job, edited));
        QCOMPARE(job->Name, QStringLiteral("N11"));
        QCOMPARE(readFile(job->filePath()), before);

        // Refusals change nothing, in memory or on disk.
        const TAuftrag kept = *job;
        const auto unchanged = [&] {
            QCOMPARE(jobFileBytes(*job), jobFileBytes(kept));
            QCOMPARE(readFile(job->filePath()), before);
        };
        edited.Name.clear();
        QVERIFY(!storeJob(jobs, *job, edited, &error));
        QCOMPARE(error, QStringLiteral("Bitte geben Sie einen gültigen Auftragsnamen ein."));
        unchanged();
        edited.Name = QStringLiteral("Neu");
        edited.startzeit = QStringLiteral("25:00");
        QVERIFY(!storeJob(jobs, *job, edited, &error));
        QCOMPARE(error,
                 QStringLiteral("Die Startzeit \"25:00\" ist ungültig. Bitte geben Sie eine Uhrzeit von 00:00 bis 23:59 ein."));
        unchanged();
    }

    void testStoreJobWriteFailureChangesNothing()
    {
        const QString mountDir = m_tempDir->filePath(QStringLiteral("nurlesen"));
        TestUtil::TmpfsMount mount(mountDir, QStringLiteral("size=64k"));
        REQUIRE_MOUNT(mount);
        TAuftraege jobs(mountDir);
        TAuftrag *job = jobs.addNewJob(QStringLiteral("0"));
        job->Name = QStringLiteral("Alt");
        QVERIFY(saveJob(*job));
        const QByteArray before = readFile(job->filePath());
        QCOMPARE(QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), mountDir}), 0);

        TAuftrag edited = *job;
        edited.Name = QStringLiteral("Neu");
        edited.sources = {{QStringLiteral("/daten"), QStringLiteral("*.*"), true}};
        QString error;
        QVERIFY(!storeJob(jobs, *job, edited, &error));
        QCOMPARE(error, QStringLiteral("Fehler beim Speichern des Auftrages Neu aufgetreten."));
        QCOMPARE(job->Name, QStringLiteral("Alt"));
        QVERIFY(job->sources.isEmpty());
        QCOMPARE(readFile(job->filePath()), before);
    }

private:
    FixedClock m_clock{kNow};
    std::unique_ptr<QTemporaryDir> m_tempDir;
};

QTEST_GUILESS_MAIN(TestJobs)
#include "tst_jobs.moc"
