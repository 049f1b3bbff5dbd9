// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/backuprun.h"
#include "engine/runlog.h"
#include "engine/setlayout.h"
#include "engine/ziparchive.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "restore/restoremodel.h"
#include "restore/setfinder.h"
#include "runfixture.h"
#include "scriptedrunhost.h"
#include "testutil.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <utime.h>

using TestUtil::readFile;
using TestUtil::setMtime;
using TestUtil::writeFile;

namespace {

const QDateTime kNow(QDate(2026, 12, 10), QTime(21, 30, 5));


// Every regular file below dir, relative path -> stat.
QMap<QString, Platform::FileStat> treeOf(const QString &dir)
{
    QMap<QString, Platform::FileStat> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path.mid(dir.size() + 1), Platform::statPath(path));
    }
    return files;
}

} // namespace

class TestEngine : public QObject, private RunFixture
{
    Q_OBJECT

public:
    TestEngine()
        : RunFixture(kNow)
    {
    }

private:
    QString setFolder(const QString &code, const QString &name = QStringLiteral("Test")) const
    {
        return path(QStringLiteral("ziel/") + code + QStringLiteral("261210-") + name);
    }
    // The set of a run of the command-line program, which goes by the real date.
    QString cliSetFolder(const QString &code, const QString &name) const
    {
        return path(QStringLiteral("ziel/") + code + QDate::currentDate().toString(QStringLiteral("yyMMdd"))
            + u'-' + name);
    }

    void makeSourceTree()
    {
        writeFile(path(QStringLiteral("quelle/brief.doc")), "Sehr geehrte Damen und Herren");
        writeFile(path(QStringLiteral("quelle/tabelle.xls")), QByteArray(70000, 'x'));
        writeFile(path(QStringLiteral("quelle/.versteckt")), "h");
        writeFile(path(QStringLiteral("quelle/Unter/Liste[1].txt")), "eins");
        writeFile(path(QStringLiteral("quelle/Unter/tief/umlaut-ä.txt")), "zwei");
        QDir().mkpath(path(QStringLiteral("quelle/leer")));
        ::chmod(QFile::encodeName(path(QStringLiteral("quelle/brief.doc"))).constData(), 0640);
        setMtime(path(QStringLiteral("quelle/brief.doc")), 1000000000);
    }

    void compareCopies(const QString &mappedRoot)
    {
        const auto source = treeOf(path(QStringLiteral("quelle")));
        const auto copy = treeOf(mappedRoot);
        QCOMPARE(copy.keys(), source.keys());
        for (auto it = source.begin(); it != source.end(); ++it) {
            const QString rel = it.key();
            QCOMPARE(readFile(mappedRoot + u'/' + rel), readFile(path(QStringLiteral("quelle/")) + rel));
            QCOMPARE(copy[rel].mtimeNs, it->mtimeNs);
            QCOMPARE(copy[rel].mode, it->mode);
        }
    }

private slots:
    void initTestCase()
    {
        isolateSettings();
    }

    void init()
    {
        freshFolder();
    }

    void cleanup()
    {
        finish();
    }

    void testSetLayout_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("mapped");
        QTest::newRow("drive folder") << "C:\\Daten\\Briefe\\" << "C/Daten/Briefe/";
        QTest::newRow("drive root") << "C:\\" << "C/";
        QTest::newRow("UNC") << "\\\\srv\\ablage\\Texte\\" << "_srv/ablage/Texte/";
        QTest::newRow("Linux folder") << "/home/anna/" << "root/home/anna/";
        QTest::newRow("Linux root") << "/" << "root/";
    }

    void testSetLayout()
    {
        QFETCH(QString, source);
        QFETCH(QString, mapped);
        QCOMPARE(SetLayout::mappedSource(source), mapped);

        TAuftrag job;
        job.Name = QStringLiteral("Buchhaltung");
        const QDate date(2007, 12, 26);
        const char *codes[] = {"B-T01", "B-T02", "B-T03", "B-T04"};
        for (int i = 0; i < 4; ++i) {
            job.Gesamtsicherung = i % 2 == 0;
            job.komprimieren = i >= 2;
            job.ueberschreiben = false;
            const QString dated = SetLayout::setFolderName(job, date);
            QCOMPARE(dated, QString::fromLatin1(codes[i]) + QStringLiteral("071226-Buchhaltung"));
            QCOMPARE(dated[11], u'-');
            job.ueberschreiben = true;
            QCOMPARE(SetLayout::setFolderName(job, date), QString::fromLatin1(codes[i]) + QStringLiteral("-Buchhaltung"));
        }
    }

    void testFullAndIncrementalCopies()
    {
        makeSourceTree();
        TAuftrag &job = makeJob();
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        const QString full = setFolder(QStringLiteral("B-T01")) + QStringLiteral("/root") + path(QStringLiteral("quelle"));
        compareCopies(full);
        QVERIFY(QFileInfo(setFolder(QStringLiteral("B-T01")) + QStringLiteral("/root") + path(QStringLiteral("quelle/leer")))
                    .isDir());
        QCOMPARE(readFile(setFolder(QStringLiteral("B-T01")) + QStringLiteral("/datum.txt")),
                 QByteArray("Die letzte Sicherung auf diesem Medium ist vom 10.12.2026 21:30:05"));
        QCOMPARE(job.Status, 0);
        QCOMPARE(job.letzte_meldung, QStringLiteral("Erfolgreich. Kein Fehler!"));
        QCOMPARE(QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Halvesto_Backup"))
                     .value(QStringLiteral("Erfolgreich")),
                 QVariant(QStringLiteral("1")));

        // The full run cleared every archive attribute: an incremental run right after copies nothing.
        job.Gesamtsicherung = false;
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        const QString incr = setFolder(QStringLiteral("B-T02")) + QStringLiteral("/root") + path(QStringLiteral("quelle"));
        QVERIFY(treeOf(incr).isEmpty());
        QVERIFY(QFileInfo(incr + QStringLiteral("/Unter/tief")).isDir()); // folders are made all the same

        // One changed file is the whole next incremental set.
        writeFile(path(QStringLiteral("quelle/Unter/Liste[1].txt")), "geändert");
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        QCOMPARE(treeOf(incr).keys(), QStringList{QStringLiteral("Unter/Liste[1].txt")});
        QCOMPARE(readFile(incr + QStringLiteral("/Unter/Liste[1].txt")), QByteArray("geändert"));
    }

    // Every permission bit and every size comes over, whether the copy is made with its bits
    // at once or changed afterwards (bits the creation mask takes away, set-user-ID and the like).
    void testCopiesKeepModesAndSizes()
    {
        const QList<QPair<uint, qint64>> files = {{0644, 0},       {0600, 1},         {0444, 4096},
                                                  {0755, 300000},  {04755, 70000},    {02750, 5},
                                                  {0777, 5 << 20}, {0666, (9 << 20) + 3}};
        for (int i = 0; i < files.size(); ++i) {
            QByteArray content(files[i].second, Qt::Uninitialized);
            for (qint64 b = 0; b < content.size(); ++b)
                content[b] = char((b * 31 + i) & 0xff);
            const QString file = path(QStringLiteral("quelle/datei%1").arg(i));
            writeFile(file, content);
            QCOMPARE(::chmod(QFile::encodeName(file).constData(), files[i].first), 0);
        }
        TAuftrag &job = makeJob();
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        compareCopies(setFolder(QStringLiteral("B-T01")) + QStringLiteral("/root") + path(QStringLiteral("quelle")));
    }

    void testCompressedSets()
    {
        makeSourceTree();
        TAuftrag &job = makeJob();
        job.komprimieren = true;
        job.proto_ausfuehrlich = true;
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        const QString root = setFolder(QStringLiteral("B-T03")) + QStringLiteral("/root") + path(QStringLiteral("quelle"));
        // One archive per folder with that folder's files only; restoring them gives the tree back.
        QTemporaryDir restored;
        for (const QString &rel : {QString(), QStringLiteral("Unter"), QStringLiteral("Unter/tief")}) {
            const QString archive = root + u'/' + rel + QStringLiteral("/Archive.zip");
            QList<TZippedFile> entries;
            QString error;
            QVERIFY2(listArchive(archive, &entries, &error), qPrintable(error));
            for (const TZippedFile &e : entries) {
                QDir().mkpath(restored.filePath(rel));
                QVERIFY2(extractEntry(archive, restored.filePath(rel), e.name, &error), qPrintable(error));
            }
        }
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/leer/Archive.zip")));
        const auto source = treeOf(path(QStringLiteral("quelle")));
        const auto back = treeOf(restored.path());
        QCOMPARE(back.keys(), source.keys());
        for (const QString &rel : source.keys())
            QCOMPARE(readFile(restored.filePath(rel)), readFile(path(QStringLiteral("quelle/")) + rel));
        QVERIFY(logText().contains(QStringLiteral("  -> Archive.zip: ") + path(QStringLiteral("quelle/Unter/Liste[1].txt"))));
        QVERIFY(logText().contains(QStringLiteral("Es wurden 5 Dateien mit 0,07 MB in 3 komprimierten Archiven mit ")));
        QCOMPARE(job.letzte_meldung, QStringLiteral("Erfolgreich. Kein Fehler!"));
        // No work archive is left in the temporary folder.
        QVERIFY(QDir(QDir::tempPath()).entryList({QStringLiteral("Archive-*.zip")}).isEmpty());
    }

    void testExactLogAndMergedFolders()
    {
        writeFile(path(QStringLiteral("quelle/a.doc")), "a");
        writeFile(path(QStringLiteral("quelle/b.xls")), "b");
        writeFile(path(QStringLiteral("quelle/c.txt")), "c");
        writeFile(path(QStringLiteral("quelle/sub/d.doc")), "d");
        TAuftrag &job = makeJob();
        job.databases.append({QStringLiteral("Kunden"), QStringLiteral("nein"), {}, {}, {}, QStringLiteral("3306"), {}, {}});
        job.sources = {
            {path(QStringLiteral("quelle")), QStringLiteral("*.doc;;A.DOC"), true},
            {path(QStringLiteral("quelle/")), QStringLiteral("*.txt"), false},
            {path(QStringLiteral("quelle")), QStringLiteral("*.xls"), false},
        };
        m_host.onProcessEvents = nullptr;
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        QString log = logText();
        log.replace(QRegularExpression(QStringLiteral("\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d")), QStringLiteral("DATUM"));
        const QString src = path(QStringLiteral("quelle/"));
        const QString expected = QStringLiteral("\r\n\r\n") + QString(45, u'#') + QStringLiteral("\r\n   DATUM Backup gestartet\r\n"
                                                                                                "   Auftragsname: Test\r\n")
            + QString(45, u'#') + QStringLiteral("\r\n\r\n") + QStringLiteral("Verzeichnis gesichert: ") + src
            + QStringLiteral("sub/\r\n") + QStringLiteral("Verzeichnis gesichert: ") + src + QStringLiteral("\r\n")
            + QStringLiteral("Verzeichnis gesichert: ") + src + QStringLiteral("\r\n")
            + QStringLiteral("Es trat kein Fehler auf.\r\nBackup erfolgreich beendet. \r\n")
            + QStringLiteral("Es wurden 5 Dateien mit 0,00 MB gesichert.\r\n\r\nVon 1 ausgewählten Datenbank wurde 0 "
                             "gesichert. (Verpackte Größe: 0,00 MB)\r\n");
        QCOMPARE(log, expected);
        // Both entries spelt "quelle" are one pass with all their masks and the first one's subfolder flag;
        // "quelle/" is a folder of its own.
        QVERIFY(m_host.progressLines.contains(QStringLiteral("8:Verzeichnis 1 von 2")));
        QVERIFY(m_host.progressLines.contains(QStringLiteral("8:Verzeichnis 2 von 2")));
        // a.doc matched two masks and was copied twice.
        QVERIFY(m_host.progressLines.filter(QStringLiteral("2:") + src + QStringLiteral("a.doc")).size() == 2);
        QCOMPARE(job.sources[1].Filter, QStringLiteral("*.xls")); // sorted, saved with the job
    }

    void testMissingFolderQuestion_data()
    {
        QTest::addColumn<Answer::Button>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("lastMessage");
        QTest::newRow("go on") << Answer::Yes << int(BackupRun::Outcome::Completed)
                               << "Erfolgreich. 1 nicht kritischer Fehler!";
        QTest::newRow("stop") << Answer::No << int(BackupRun::Outcome::Aborted) << "Abbruch durch den Benutzer.";
    }

    void testMissingFolderQuestion()
    {
        QFETCH(Answer::Button, answer);
        QFETCH(int, outcome);
        QFETCH(QString, lastMessage);
        TAuftrag &job = makeJob();
        job.runterfahren = true;
        const QString missing = path(QStringLiteral("quelle/"));
        m_host.answers = {answer};
        QCOMPARE(int(run(job)), outcome);
        QCOMPARE(m_host.questionTexts(),
                 QStringList{QStringLiteral("Das Verzeichnis:\r\r%1\r\rexistiert nicht. Das Verzeichnis wird übersprungen. "
                                            "Wollen Sie die Datensicherung fortfahren?")
                                 .arg(missing)});
        QCOMPARE(job.letzte_meldung, lastMessage);
        const QString skipped =
            QStringLiteral("Verzeichnis \"%1\" existiert nicht mehr. Das Verzeichnis wurde übersprungen.").arg(missing);
        if (answer == Answer::No) {
            QVERIFY(logText().endsWith(QStringLiteral("Das Backup wurde abgebrochen ...\r\n") + skipped + QStringLiteral("\r\n")));
            QCOMPARE(job.Status, 1);
        } else {
            QVERIFY(logText().contains(skipped + QStringLiteral("\r\nVerzeichnis gesichert: ") + missing + QStringLiteral("\r\n")));
        }
        QCOMPARE(m_actions.calls, QStringList{QStringLiteral("shutdown")}); // also after an aborted run
    }

    void testStartChecksAndPrompt()
    {
        TAuftrag &job = makeJob();
        job.Ziel.clear();
        job.sources.clear();
        job.start_before_backup = QStringLiteral("/bin/true");
        job.runterfahren = true;
        QCOMPARE(run(job), BackupRun::Outcome::ChecksFailed);
        QCOMPARE(m_host.messages,
                 QStringList({QStringLiteral("Kein Zielpfad angegeben."), QStringLiteral("Keine zu sichernden Daten angegeben.")}));
        QCOMPARE(job.letzte_meldung, QStringLiteral("Keine zu sichernden Daten angegeben."));
        QCOMPARE(m_actions.calls, QStringList{QStringLiteral("start /bin/true [] wait")}); // no shutdown

        m_host = ScriptedRunHost();
        job.Ziel = QStringLiteral("relativ/ziel");
        job.sources.append({path(QStringLiteral("quelle")), QStringLiteral("*.*"), true});
        QCOMPARE(run(job), BackupRun::Outcome::ChecksFailed);
        QCOMPARE(m_host.messages, QStringList{QStringLiteral("Kein Ziellaufwerk angegeben.")});

        m_host = ScriptedRunHost();
        job.Ziel = path(QStringLiteral("ziel"));
        job.Start_Meldung = true;
        m_host.answers = {Answer::Cancel};
        QCOMPARE(run(job), BackupRun::Outcome::PromptCancelled);
        QVERIFY(m_host.questions[0].text.startsWith(QStringLiteral("Der Backupauftrag: \"Test\" wird jetzt ausgeführt. "
                                                                   "Bitte legen Sie ein Medium im Laufwerk /")));
        QCOMPARE(job.letzte_meldung, QStringLiteral("Backup nicht gestartet. Durch Benutzer abgebrochen."));
        QCOMPARE(job.Status, 1);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("log/protokoll.txt"))));
    }

    void testCopyErrorDialog_data()
    {
        QTest::addColumn<QList<Answer::Button>>("answers");
        QTest::addColumn<bool>("showErrors");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("errors");
        QTest::addColumn<bool>("copied");
        QTest::newRow("retry then works") << QList<Answer::Button>{Answer::Retry} << true
                                          << int(BackupRun::Outcome::Completed) << 0 << true;
        QTest::newRow("ignore") << QList<Answer::Button>{Answer::Ignore} << true << int(BackupRun::Outcome::Completed) << 1
                                << false;
        QTest::newRow("cancel") << QList<Answer::Button>{Answer::Cancel} << true << int(BackupRun::Outcome::Aborted) << 0
                                << false;
        QTest::newRow("only logged") << QList<Answer::Button>{} << false << int(BackupRun::Outcome::Completed) << 1
                                     << false;
    }

    void testCopyErrorDialog()
    {
        QFETCH(QList<Answer::Button>, answers);
        QFETCH(bool, showErrors);
        QFETCH(int, outcome);
        QFETCH(int, errors);
        QFETCH(bool, copied);
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        TAuftrag &job = makeJob();
        job.fehler_anzeigen = showErrors;
        // A folder in the place of the copy makes it fail until the answer removes it.
        const QString blocker = setFolder(QStringLiteral("B-T01")) + QStringLiteral("/root") + path(QStringLiteral("quelle/a.txt"));
        writeFile(blocker + QStringLiteral("/inhalt"), "x");
        m_host.answers = answers;
        m_host.onAsk = [&](const Question &q) {
            if (q.text.startsWith(QStringLiteral("Fehler beim Kopieren")) && answers.value(0) == Answer::Retry)
                QDir(blocker).removeRecursively();
        };
        BackupRun state(m_host, m_actions, *m_catalog);
        QCOMPARE(int(run(job, &state)), outcome);
        QCOMPARE(state.errorCount, errors);
        QCOMPARE(QFileInfo(blocker).isFile(), copied);
        QCOMPARE(m_host.questions.size(), showErrors ? 1 : 0);
        if (showErrors)
            QVERIFY(m_host.questions[0].text.endsWith(QStringLiteral(
                "Abbruch        --> Das Programm wird beendet. Es wurde kein vollständiges Backup durchgeführt")));
        if (outcome == int(BackupRun::Outcome::Aborted))
            QCOMPARE(job.letzte_meldung, QStringLiteral("Fehler beim Schreiben auf Ziellaufwerk."));
        if (errors)
            QVERIFY(logText().contains(QStringLiteral("Konnte Datei %1 nicht sichern.").arg(path(QStringLiteral("quelle/a.txt")))));
    }

    void testCancelOnTheProgressWindow_data()
    {
        QTest::addColumn<Answer::Button>("confirm");
        QTest::newRow("no, go on") << Answer::No;
        QTest::newRow("yes, stop") << Answer::Yes;
    }

    void testCancelOnTheProgressWindow()
    {
        QFETCH(Answer::Button, confirm);
        for (int i = 0; i < 5; ++i)
            writeFile(path(QStringLiteral("quelle/f%1.txt").arg(i)), "x");
        TAuftrag &job = makeJob();
        job.runterfahren = true;
        job.email = true;
        int mails = 0;
        m_host.onProcessEvents = [](ScriptedRunHost &h) {
            if (h.questions.isEmpty())
                h.pressCancel(); // the button, pressed once while the first file is copied
        };
        m_host.answers = {confirm};
        BackupRun state(m_host, m_actions, *m_catalog);
        state.setHooks({{}, {}, {}, [&](RunStep &, const QString &) { ++mails; }});
        const BackupRun::Outcome result = run(job, &state);
        QCOMPARE(m_host.questionTexts(), QStringList{QStringLiteral("Möchten Sie den Sicherungsvorgang wirklich abbrechen?")});
        if (confirm == Answer::No) {
            QCOMPARE(result, BackupRun::Outcome::Completed);
            QCOMPARE(state.filesCopied, 5);
            QCOMPARE(mails, 1);
        } else {
            QCOMPARE(result, BackupRun::Outcome::Cancelled);
            QCOMPARE(state.filesCopied, 1);
            QCOMPARE(mails, 0);
            QCOMPARE(job.Status, 1);
            QCOMPARE(job.letzte_meldung, QStringLiteral("Abbruch durch Benutzer"));
            QVERIFY(m_host.messages.contains(QStringLiteral("Sicherungsvorgang wurde vorzeitig abgebrochen.")));
            QVERIFY(logText().endsWith(QStringLiteral("Sicherungsvorgang wurde durch den Benutzer abgebrochen.\r\n")));
            QVERIFY(!m_host.cancelLeftPending);
        }
        QCOMPARE(m_actions.calls.last(), QStringLiteral("shutdown"));
    }

    void testFullTargetDisk_data()
    {
        QTest::addColumn<bool>("showErrors");
        QTest::newRow("errors only logged") << false;
        QTest::newRow("cancel in the dialog") << true;
    }

    void testFullTargetDisk()
    {
        QFETCH(bool, showErrors);
        const QString target = path(QStringLiteral("medium"));
        TestUtil::TmpfsMount mount(target, QStringLiteral("size=256k"));
        REQUIRE_MOUNT(mount);
        writeFile(path(QStringLiteral("quelle/1-klein.txt")), "klein");
        writeFile(path(QStringLiteral("quelle/2-gross.bin")), QByteArray(600 * 1024, 'g'));
        writeFile(path(QStringLiteral("quelle/3-klein.txt")), "auch klein");
        TAuftrag &job = makeJob();
        job.Ziel = target;
        job.fehler_anzeigen = showErrors;
        m_host.answers = {Answer::Cancel};
        BackupRun state(m_host, m_actions, *m_catalog);
        const BackupRun::Outcome result = run(job, &state);
        const QString copies = target + QStringLiteral("/B-T01261210-Test/root") + path(QStringLiteral("quelle"));
        QVERIFY(QFileInfo::exists(copies + QStringLiteral("/1-klein.txt")));
        QVERIFY(!QFileInfo::exists(copies + QStringLiteral("/2-gross.bin"))); // no partial file under its name
        if (showErrors) {
            QCOMPARE(result, BackupRun::Outcome::Aborted);
            QVERIFY(!QFileInfo::exists(copies + QStringLiteral("/3-klein.txt")));
        } else {
            QCOMPARE(result, BackupRun::Outcome::Completed);
            QCOMPARE(state.errorCount, 1);
            QVERIFY(QFileInfo::exists(copies + QStringLiteral("/3-klein.txt")));
            QCOMPARE(job.letzte_meldung, QStringLiteral("Erfolgreich. 1 nicht kritischer Fehler!"));
        }
        // The file that was not saved stays due for the next incremental run.
        QVERIFY(m_catalog->isSet(path(QStringLiteral("quelle/2-gross.bin"))));
        QVERIFY(!m_catalog->isSet(path(QStringLiteral("quelle/1-klein.txt"))));
    }

    void testFreeSpaceQuestion_data()
    {
        QTest::addColumn<QList<Answer::Button>>("answers");
        QTest::addColumn<int>("outcome");
        QTest::newRow("cancel") << QList<Answer::Button>{Answer::Cancel} << int(BackupRun::Outcome::SpaceRefused);
        QTest::newRow("retry, then go ahead") << QList<Answer::Button>{Answer::Retry, Answer::Ok}
                                              << int(BackupRun::Outcome::Completed);
    }

    void testFreeSpaceQuestion()
    {
        QFETCH(QList<Answer::Button>, answers);
        QFETCH(int, outcome);
        const QString target = path(QStringLiteral("medium"));
        TestUtil::TmpfsMount mount(target, QStringLiteral("size=64k"));
        REQUIRE_MOUNT(mount);
        writeFile(path(QStringLiteral("quelle/gross.bin")), QByteArray(3 * 1024 * 1024, 'g'));
        TAuftrag &job = makeJob();
        job.Ziel = target;
        job.pruefe_platz = true;
        job.fehler_anzeigen = false;
        m_host.answers = answers;
        QCOMPARE(int(run(job)), outcome);
        QCOMPARE(m_host.questions.size(), answers.size());
        QVERIFY(m_host.questions[0].text.contains(QStringLiteral("Sie bebötigen weitere 2,94 MB auf dem Zieldatenträger.")));
        QVERIFY(m_host.questions[0].text.contains(QStringLiteral(" MB auf dem Zieldatenträger.\r\rWiederholen --> ")));
        if (outcome == int(BackupRun::Outcome::SpaceRefused)) {
            QCOMPARE(job.letzte_meldung, QStringLiteral("Nicht genügend Platz auf Ziellaufwerk."));
            QVERIFY(!QFileInfo::exists(path(QStringLiteral("log/protokoll.txt")))); // no header: the run never began
        }
    }

    void testShortfallFormat_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("1024") << 1024.0 << "1024 Byte";
        QTest::newRow("1025") << 1025.0 << "1 KB";
        QTest::newRow("1 MiB") << 1048576.0 << "1024 KB";
        QTest::newRow("1 MiB + 1") << 1048577.0 << "1,00 MB";
        QTest::newRow("large") << 5.5 * 1024 * 1024 * 1024 << "5632,00 MB";
    }

    void testShortfallFormat()
    {
        QFETCH(double, bytes);
        QFETCH(QString, text);
        QCOMPARE(BackupRun::shortfallText(bytes), text);
    }

    void testUnwritableLogReportedOncePerRun()
    {
        const QString logDir = path(QStringLiteral("nurlesen"));
        TestUtil::TmpfsMount mount(logDir, QStringLiteral("ro,size=64k"));
        REQUIRE_MOUNT(mount);
        for (int i = 0; i < 3; ++i)
            writeFile(path(QStringLiteral("quelle/f%1.txt").arg(i)), "x");
        TAuftrag &job = makeJob();
        job.proto_pfad = logDir;
        job.proto_ausfuehrlich = true;
        job.backup_ok_anzeigen = true;
        for (int round = 0; round < 2; ++round) {
            m_host = ScriptedRunHost();
            QCOMPARE(run(job), BackupRun::Outcome::Completed);
            QCOMPARE(m_host.messages.filter(QStringLiteral("Fehler beim Schreiben der Protokolldatei.")).size(), 1);
            QVERIFY(m_host.messages.last().startsWith(QStringLiteral("Backup erfolgreich durchgeführt.\r\r")));
        }
    }

    // A folder of many files is listed in the order of a small one, and keeps its caller alive meanwhile.
    void testLargeFolderListing()
    {
        const QString dir = path(QStringLiteral("viele"));
        QVERIFY(QDir().mkpath(dir));
        QStringList names;
        for (int i = 0; i < 9000; ++i) {
            // Mixed case and names equal without regard to case, in no order a file system would keep.
            const QString name = QStringLiteral("%1datei-%2.txt").arg(i % 2 ? u'D' : u'd').arg((i * 7919) % 9000);
            names.append(name);
            QFile f(dir + u'/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
            const int c = a.compare(b, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a < b;
        });
        std::vector<FileTree::Entry> entries;
        int calls = 0;
        QVERIFY(FileTree::listDirectory(dir, &entries, nullptr, Platform::ListDetail::Everything, [&calls] { ++calls; }));
        QStringList listed;
        for (const FileTree::Entry &e : entries)
            listed.append(e.name);
        QCOMPARE(listed, names);
        QVERIFY2(calls >= 9, qPrintable(QString::number(calls)));
    }

    void testOddEntriesDoNotHang()
    {
        writeFile(path(QStringLiteral("quelle/echt.txt")), "echt");
        QVERIFY(QProcess::execute(QStringLiteral("mkfifo"), {path(QStringLiteral("quelle/rohr"))}) == 0);
        QVERIFY(QFile::link(path(QStringLiteral("quelle")), path(QStringLiteral("quelle/schleife"))));
        QVERIFY(QFile::link(path(QStringLiteral("quelle/echt.txt")), path(QStringLiteral("quelle/verweis.txt"))));
        TAuftrag &job = makeJob();
        job.komprimieren = false;
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        const QString copies = setFolder(QStringLiteral("B-T01")) + QStringLiteral("/root") + path(QStringLiteral("quelle"));
        QCOMPARE(treeOf(copies).keys(), QStringList({QStringLiteral("echt.txt"), QStringLiteral("verweis.txt")}));
        QVERIFY(logText().contains(QStringLiteral("ist keine gewöhnliche Datei und wurde übersprungen.")));
        QVERIFY(logText().contains(QStringLiteral("wurde nicht verfolgt.")));
    }

    // A file that vanishes while its folder is packed is missing alone; the totals count what is in the set.
    void testVanishedFileWhilePacking()
    {
        // Large enough that the packer, which reads at most a few MiB ahead of the deflating
        // threads, keeps the window alive before it opens the second file, also on a fast machine.
        QByteArray big(128 * 1024 * 1024, Qt::Uninitialized);
        quint64 x = 88172645463325252ull;
        for (qsizetype i = 0; i + 8 <= big.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            memcpy(big.data() + i, &x, 8);
        }
        writeFile(path(QStringLiteral("quelle/a-gross.bin")), big);
        writeFile(path(QStringLiteral("quelle/b-weg.txt")), "weg");
        TAuftrag &job = makeJob();
        job.komprimieren = true;
        bool removed = false;
        // Once packing has begun (the count before it keeps the window alive too).
        m_host.onProcessEvents = [&](ScriptedRunHost &host) {
            if (!removed && host.progressLines.contains(QString::number(int(ProgressLine::Target)) + u':'))
                removed = QFile::remove(path(QStringLiteral("quelle/b-weg.txt")));
        };
        BackupRun state(m_host, m_actions, *m_catalog);
        QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
        QVERIFY(removed);
        QCOMPARE(state.errorCount, 1);
        QCOMPARE(state.filesPacked, 1);
        QCOMPARE(state.kbPacked, 128.0 * 1024);
        QList<TZippedFile> entries;
        QVERIFY(listArchive(setFolder(QStringLiteral("B-T03")) + QStringLiteral("/root") + path(QStringLiteral("quelle/Archive.zip")),
                            &entries, nullptr));
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().name, QStringLiteral("a-gross.bin"));
        QVERIFY(logText().contains(QStringLiteral("Konnte Datei %1 nicht sichern.").arg(path(QStringLiteral("quelle/b-weg.txt")))));
        QVERIFY(logText().contains(QStringLiteral("Es wurden 1 Dateien mit 128,00 MB in 1 komprimierten Archiven")));
    }

    // An archive that cannot be copied into the set is not logged or counted as saved, and the
    // run's work folder goes with the run.
    void testFullDiskWhilePacking()
    {
        const QString target = path(QStringLiteral("medium"));
        TestUtil::TmpfsMount mount(target, QStringLiteral("size=256k"));
        REQUIRE_MOUNT(mount);
        QByteArray noise(600 * 1024, Qt::Uninitialized);
        quint32 x = 7;
        for (char &c : noise) {
            x = x * 1664525u + 1013904223u;
            c = char(x >> 24);
        }
        writeFile(path(QStringLiteral("quelle/rauschen.bin")), noise);
        writeFile(path(QStringLiteral("quelle/klein.txt")), "klein");
        TAuftrag &job = makeJob();
        job.Ziel = target;
        job.komprimieren = true;
        job.proto_ausfuehrlich = true;
        job.temp_pfad = path(QStringLiteral("arbeit"));
        QDir().mkpath(job.temp_pfad);
        BackupRun state(m_host, m_actions, *m_catalog);
        QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
        QCOMPARE(state.filesPacked, 0);
        QCOMPARE(state.kbPacked, 0.0);
        QCOMPARE(state.errorCount, 1);
        const QString log = logText();
        QVERIFY(!log.contains(QStringLiteral("-> Archive.zip:")));
        const QRegularExpression failed(QStringLiteral("Konnte Datei %1/trevalo-[^/]+/Archive\\.zip nicht sichern\\.")
                                            .arg(QRegularExpression::escape(job.temp_pfad)));
        QVERIFY2(failed.match(log).hasMatch(), qPrintable(log));
        QVERIFY(log.contains(QStringLiteral("Es wurden 0 Dateien mit 0,00 MB in 0 komprimierten Archiven")));
        QCOMPARE(treeOf(target).keys(), QStringList{QStringLiteral("B-T03261210-Test/datum.txt")});
        QVERIFY(QDir(job.temp_pfad).isEmpty());
        QVERIFY(m_catalog->isSet(path(QStringLiteral("quelle/klein.txt"))));
    }

    // In an overwritten set the previous copy stays until its replacement is complete.
    void testOverwrittenSetKeepsTheGoodCopy()
    {
        const QString target = path(QStringLiteral("medium"));
        TestUtil::TmpfsMount mount(target, QStringLiteral("size=256k"));
        REQUIRE_MOUNT(mount);
        writeFile(path(QStringLiteral("quelle/daten.bin")), QByteArray(100 * 1024, 'a'));
        TAuftrag &job = makeJob();
        job.Ziel = target;
        job.ueberschreiben = true;
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        const QString copy = target + QStringLiteral("/B-T01-Test/root") + path(QStringLiteral("quelle/daten.bin"));
        QCOMPARE(readFile(copy), QByteArray(100 * 1024, 'a'));

        writeFile(path(QStringLiteral("quelle/daten.bin")), QByteArray(200 * 1024, 'b'));
        BackupRun state(m_host, m_actions, *m_catalog);
        QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
        QCOMPARE(state.errorCount, 1);
        QCOMPARE(readFile(copy), QByteArray(100 * 1024, 'a'));
        QCOMPARE(QDir(QFileInfo(copy).path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("daten.bin")});
    }

    void testMediumMissing_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("lastMountPoint");
        QTest::addColumn<bool>("missing");
        QTest::newRow("below /media, nothing mounted") << "/media/trevalo-stick/Sicherung" << "" << true;
        QTest::newRow("below /run/media") << "/run/media/anna/trevalo-stick" << "" << true;
        QTest::newRow("below /mnt") << "/mnt/trevalo-platte/Sicherung" << "" << true;
        QTest::newRow("a folder of the system disk") << "/var/tmp/trevalo-ziel" << "" << false;
        QTest::newRow("same file system as last time") << "/var/tmp/trevalo-ziel" << "=" << false;
        QTest::newRow("another file system than last time") << "/var/tmp/trevalo-ziel" << "/srv/platte" << true;
    }

    void testMediumMissing()
    {
        QFETCH(QString, target);
        QFETCH(QString, lastMountPoint);
        QFETCH(bool, missing);
        if (lastMountPoint == u'=')
            lastMountPoint = Platform::driveOf(target);
        QCOMPARE(Platform::mediumMissing(target, lastMountPoint), missing);
    }

    // A medium that was written to and is gone now is asked for; nothing lands on the disk below it.
    void testUnmountedMediumIsMissing()
    {
        const QString target = path(QStringLiteral("medium"));
        auto mount = std::make_unique<TestUtil::TmpfsMount>(target, QStringLiteral("size=1m"));
        REQUIRE_MOUNT(*mount);
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        writeFile(path(QStringLiteral("quelle/unter/b.txt")), "b");
        TAuftrag &job = makeJob();
        job.Ziel = target + QStringLiteral("/Sicherung");
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        mount.reset();
        QVERIFY(QDir(target).isEmpty());

        job.fehler_anzeigen = true;
        m_host.answers = {Answer::Ignore, Answer::Ignore};
        BackupRun state(m_host, m_actions, *m_catalog);
        QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
        QCOMPARE(state.errorCount, 2);
        QCOMPARE(m_host.questions.size(), 2);
        QVERIFY(m_host.questions.first().text.contains(QStringLiteral("Sie können jetzt ein neues Medium einlegen")));
        QVERIFY(QDir(target).isEmpty());
    }

    void testJobNamesThatArePaths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("climbing out") << "../../../esc" << "B-T01261210-.._.._.._esc";
        QTest::newRow("nested") << "a/b" << "B-T01261210-a_b";
        QTest::newRow("backslash") << "a\\b" << "B-T01261210-a_b";
    }

    void testJobNamesThatArePaths()
    {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        TAuftrag &job = makeJob(name);
        job.Ziel = path(QStringLiteral("ziel/innen"));
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        QCOMPARE(QDir(job.Ziel).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{folder});
        QCOMPARE(QDir(path(QStringLiteral("ziel"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("innen")});
        QCOMPARE(job.Name, name);
        // The restore finds the set by the job's name.
        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, job.Ziel, name));
        QCOMPARE(model.setsFound(), 1);
    }

    // Packed files of an incremental set are not packed again until they change.
    void testCompressedIncrementalSets()
    {
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        writeFile(path(QStringLiteral("quelle/b.txt")), "b");
        TAuftrag &job = makeJob();
        job.komprimieren = true;
        job.Gesamtsicherung = false;
        QList<qint64> packed;
        for (int i = 0; i < 3; ++i) {
            if (i == 2) {
                writeFile(path(QStringLiteral("quelle/b.txt")), "b, geändert");
                setMtime(path(QStringLiteral("quelle/b.txt")), 2000000000);
            }
            BackupRun state(m_host, m_actions, *m_catalog);
            QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
            packed.append(state.filesPacked);
        }
        QCOMPARE(packed, (QList<qint64>{2, 0, 1}));
    }

    // A file where a folder of the set must go is no plain failure: the run ends with the message.
    void testTargetFolderBlockedByAFile()
    {
        writeFile(path(QStringLiteral("quelle/unter/a.txt")), "a");
        TAuftrag &job = makeJob();
        const QString mapped = setFolder(QStringLiteral("B-T01")) + QStringLiteral("/root") + path(QStringLiteral("quelle/"));
        writeFile(mapped + QStringLiteral("unter"), "im Weg");
        QCOMPARE(run(job), BackupRun::Outcome::Aborted);
        QCOMPARE(m_host.messages, QStringList{QStringLiteral("Zielverzeichnis %1 konnte nicht erstellt werden.").arg(mapped)});
        QCOMPARE(readFile(mapped + QStringLiteral("unter")), QByteArray("im Weg"));
    }

    // Only a command-line start that ran asks the window to close; the minimized start of a job
    // without autostart is left for the window to finish.
    void testRunFlagsAfterEveryEnd_data()
    {
        QTest::addColumn<bool>("checksFail");
        QTest::addColumn<bool>("promptCancelled");
        QTest::newRow("start checks failed") << true << false;
        QTest::newRow("medium prompt cancelled") << false << true;
        QTest::newRow("completed") << false << false;
    }

    void testRunFlagsAfterEveryEnd()
    {
        QFETCH(bool, checksFail);
        QFETCH(bool, promptCancelled);
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        TAuftrag &job = makeJob();
        if (checksFail)
            job.Ziel.clear();
        job.Start_Meldung = promptCancelled;
        m_host.answers = {Answer::Cancel};
        BackupRun state(m_host, m_actions, *m_catalog);
        state.startedMinimized = true;
        state.startAuftrag(job, BackupRun::StartedBy::CommandLine);
        QCOMPARE(m_host.closeRequests, checksFail || promptCancelled ? 0 : 1);
        QVERIFY(state.startedMinimized);
    }

    // A pipe in the log's place never blocks the run.
    void testLogThatIsAPipe()
    {
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        TAuftrag &job = makeJob(QStringLiteral("Rohr"));
        QDir().mkpath(job.proto_pfad);
        QVERIFY(QProcess::execute(QStringLiteral("mkfifo"), {path(QStringLiteral("log/protokoll.txt"))}) == 0);
        QString output;
        QCOMPARE(cli({QStringLiteral("run"), job.Name}, &output, 30000), 0);
        QVERIFY(output.contains(QStringLiteral("Fehler beim Schreiben der Protokolldatei")));
        QVERIFY(QFileInfo::exists(cliSetFolder(QStringLiteral("B-T01"), job.Name) + QStringLiteral("/root") + path(QStringLiteral("quelle/a.txt"))));
    }

    // A job without a log folder keeps its log with the job files, not in the current folder.
    void testLogWithoutFolder()
    {
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        TAuftrag &job = makeJob();
        job.proto_pfad.clear();
        const QString expected = QFileInfo(job.scriptsFolder + QStringLiteral("/../Protokolle/") + job.fileStem
                                           + QStringLiteral("/protokoll.txt")).absoluteFilePath();
        QCOMPARE(QFileInfo(RunLog::logFilePath(job)).absoluteFilePath(), expected);
        QCOMPARE(run(job), BackupRun::Outcome::Completed);
        QVERIFY(QString::fromUtf8(readFile(expected)).contains(QStringLiteral("Es trat kein Fehler auf.")));
        QVERIFY(m_host.messages.filter(QStringLiteral("Protokolldatei")).isEmpty());
    }

    void testArchiveFileLimit()
    {
        // 32001 files are packed, 32002 are refused as a whole with one counted error.
        for (int n : {32001, 32002}) {
            init();
            QDir().mkpath(path(QStringLiteral("quelle")));
            for (int i = 0; i < n; ++i)
                QFile(path(QStringLiteral("quelle/%1").arg(i))).open(QIODevice::WriteOnly);
            TAuftrag &job = makeJob();
            job.komprimieren = true;
            job.fehler_anzeigen = false;
            BackupRun state(m_host, m_actions, *m_catalog);
            QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
            const QString archive = setFolder(QStringLiteral("B-T03")) + QStringLiteral("/root")
                + path(QStringLiteral("quelle/Archive.zip"));
            QCOMPARE(QFileInfo::exists(archive), n == 32001);
            QCOMPARE(state.errorCount, n == 32001 ? 0 : 1);
            if (n == 32002)
                QVERIFY(logText().contains(
                    QStringLiteral("Verzeichnis nicht gesichert (zu viele Dateien zum komprimieren, max. 32001): ")
                    + path(QStringLiteral("quelle/"))));
        }
    }

    void testEndOfRunActions()
    {
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        TAuftrag &job = makeJob();
        job.proto_nach_sicherung_anzeigen = true;
        job.proto_drucken = true;
        job.start_after_backup = QStringLiteral("/usr/bin/nachher");
        job.start_after_backup_param = QStringLiteral("--fertig \"mit Leerzeichen\"");
        job.start_after_backup_wait = false;
        job.cd_auswerfen = true;
        m_actions.ejectSucceeds = false;
        BackupRun state(m_host, m_actions, *m_catalog);
        state.startAuftrag(job, BackupRun::StartedBy::CommandLine);
        QCOMPARE(state.outcome, BackupRun::Outcome::Completed);
        QCOMPARE(m_actions.calls,
                 QStringList({QStringLiteral("start /usr/bin/nachher [--fertig \"mit Leerzeichen\"] "),
                              QStringLiteral("eject ") + job.Ziel}));
        QCOMPARE(m_host.viewedLogs, QStringList{path(QStringLiteral("log/protokoll.txt"))});
        QCOMPARE(m_host.printedLogs.size(), 1);
        QCOMPARE(m_host.closeRequests, 1);
        QVERIFY(m_host.messages.contains(QStringLiteral("Konnte Medium nicht auswerfen.")));
        QVERIFY(logText().contains(QStringLiteral(" nach abgeschlossenem Backup nicht auswerfen.\r\n")));
        QCOMPARE(job.Status, 0);
    }

    void testCliRun_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("blocked");
        QTest::addColumn<bool>("prompt");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("shown");
        QTest::newRow("clean run") << QStringList() << false << false << 0 << "Backup erfolgreich durchgeführt.";
        QTest::newRow("failed copy, default answer") << QStringList() << true << false << 1 << "-> Ignorieren";
        QTest::newRow("failed copy, cancelled") << QStringList{"--answer", "cancel"} << true << false << 2
                                                << "-> Abbrechen";
        QTest::newRow("medium prompt cancelled") << QStringList{"--answer=cancel"} << false << true << 2
                                                 << "Bitte legen Sie ein Medium im Laufwerk";
        QTest::newRow("answer that does not fit") << QStringList{"--answer", "all"} << false << true << 0
                                                  << "passt nicht zu dieser Frage";
    }

    void testCliRun()
    {
        QFETCH(QStringList, answers);
        QFETCH(bool, blocked);
        QFETCH(bool, prompt);
        QFETCH(int, exitCode);
        QFETCH(QString, shown);
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        TAuftrag &job = makeJob(QStringLiteral("Kommandozeile"));
        job.Start_Meldung = prompt;
        job.backup_ok_anzeigen = true;
        QVERIFY(saveJob(job));
        if (blocked)
            writeFile(cliSetFolder(QStringLiteral("B-T01"), job.Name) + QStringLiteral("/root") + path(QStringLiteral("quelle/a.txt"))
                          + QStringLiteral("/inhalt"),
                      "x");
        QString err;
        QCOMPARE(cli(QStringList{QStringLiteral("run"), job.Name} + answers, &err, 60000), exitCode);
        QVERIFY2(err.contains(shown), qPrintable(err));
    }

};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
