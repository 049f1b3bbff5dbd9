// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/backuprun.h"
#include "engine/ziparchive.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "restore/restoremodel.h"
#include "restore/restorewalk.h"
#include "restore/setfinder.h"
#include "scriptedrunhost.h"
#include "testutil.h"

#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <utime.h>

using TestUtil::readFile;
using TestUtil::setMtime;
using TestUtil::writeFile;

namespace
{

const QDateTime kNow(QDate(2026, 12, 10), QTime(21, 30, 5));


void setMode(const QString &path, mode_t mode)
{
    ::chmod(QFile::encodeName(path).constData(), mode);
}

struct FileState {
    QByteArray content;
    Platform::FileStat stat;
};

// Every regular file below dir: relative path -> content and stat.
QMap<QString, FileState> treeOf(const QString &dir)
{
    QMap<QString, FileState> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path.mid(dir.size() + 1), { readFile(path), Platform::statPath(path) });
    }
    return files;
}

// Archives keep modification times to the second.
void compareTrees(const QMap<QString, FileState> &actual, const QMap<QString, FileState> &expected, bool wholeSeconds)
{
    QCOMPARE(actual.keys(), expected.keys());
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const FileState &a = actual[it.key()];
        QVERIFY2(a.content == it->content, qPrintable(it.key()));
        const qint64 divisor = wholeSeconds ? 1000000000 : 1;
        QVERIFY2(a.stat.mtimeNs / divisor == it->stat.mtimeNs / divisor, qPrintable(it.key()));
        QVERIFY2(a.stat.mode == it->stat.mode, qPrintable(it.key()));
    }
}

class RecordingScan : public ScanProgress
{
public:
    QStringList memo;
    QStringList found;
    void setFoundText(const QString &text) override
    {
        found.append(text);
    }
    void appendLine(const QString &text) override
    {
        memo.append(text);
    }
    void appendToLastLine(const QString &text) override
    {
        memo.last() += text;
    }
};

int childByText(const RestoreModel &model, int node, const QString &text)
{
    const QList<int> &list = node < 0 ? model.topLevel() : model.node(node).children;
    for (int c : list) {
        if (model.node(c).text == text)
            return c;
    }
    return -1;
}

QStringList texts(const RestoreModel &model, const QList<int> &nodes)
{
    QStringList t;
    for (int n : nodes)
        t.append(model.node(n).text);
    return t;
}

bool makeZip(const QString &archive, const QList<QPair<QString, QByteArray>> &entries)
{
    QString script = QStringLiteral("import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n");
    for (const auto &e : entries)
        script += QStringLiteral("z.writestr(%1, %2)\n")
                      .arg(QStringLiteral("'") + e.first + QStringLiteral("'"),
                          QStringLiteral("b'") + QString::fromLatin1(e.second) + QStringLiteral("'"));
    script += QStringLiteral("z.close()\n");
    QDir().mkpath(QFileInfo(archive).path());
    return QProcess::execute(QStringLiteral("python3"), { QStringLiteral("-c"), script, archive }) == 0;
}

} // namespace

class TestRestore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TAuftraege> m_jobs;
    std::unique_ptr<ArchiveCatalog> m_catalog;
    ScriptedRunHost m_backupHost;
    RecordingActions m_actions;
    FixedClock m_clock { kNow };

    QString path(const QString &rel) const
    {
        return m_dir->filePath(rel);
    }

    TAuftrag &makeJob(const QString &name, bool compressed)
    {
        TAuftrag *job = m_jobs->addNewJob(m_jobs->nextFreeStem());
        job->Name = name;
        job->Ziel = path(QStringLiteral("ziel"));
        job->proto_pfad = path(QStringLiteral("log"));
        job->Start_Meldung = false;
        job->backup_ok_anzeigen = false;
        job->komprimieren = compressed;
        job->sources.append({ path(QStringLiteral("quelle")), QStringLiteral("*.*"), true });
        saveJob(*job);
        return *job;
    }

    void backUp(TAuftrag &job)
    {
        BackupRun run(*m_jobs, m_backupHost, m_actions, *m_catalog);
        run.startAuftrag(job, BackupRun::StartedBy::User);
        QCOMPARE(run.outcome, BackupRun::Outcome::Completed);
        QCOMPARE(run.errorCount, 0);
    }

    void makeSourceTree()
    {
        writeFile(path(QStringLiteral("quelle/brief.doc")), "Sehr geehrte Damen und Herren");
        writeFile(path(QStringLiteral("quelle/tabelle.xls")), QByteArray(70000, 'x'));
        writeFile(path(QStringLiteral("quelle/.versteckt")), "h");
        writeFile(path(QStringLiteral("quelle/Unter/nur-lesen.txt")), "fest");
        writeFile(path(QStringLiteral("quelle/Unter/tief/umlaut-ä.txt")), "zwei");
        setMode(path(QStringLiteral("quelle/brief.doc")), 0640);
        setMode(path(QStringLiteral("quelle/Unter/nur-lesen.txt")), 0444);
        setMode(path(QStringLiteral("quelle/Unter/tief/umlaut-ä.txt")), 0600);
        setMtime(path(QStringLiteral("quelle/brief.doc")), 1000000000);
        setMtime(path(QStringLiteral("quelle/Unter/nur-lesen.txt")), 1200000000);
    }

    // The place of the test's source folder inside a set.
    QString mappedSource() const
    {
        return QStringLiteral("root") + path(QStringLiteral("quelle"));
    }

    // Selects the one set whose folder name begins with code and restores it.
    RestoreWalk::Outcome restoreSet(const QString &code, ScriptedRunHost &host, const QString &restoreFolder)
    {
        RestoreModel model;
        if (!scanBackupFolder(&model, path(QStringLiteral("ziel")), QString()))
            return RestoreWalk::Outcome::NothingSelected;
        for (int s : model.topLevel()) {
            if (model.node(s).folderName.startsWith(code))
                model.toggleNode(s);
        }
        RestoreWalk walk(model, host);
        walk.setRestoreFolder(!restoreFolder.isEmpty(), restoreFolder);
        const RestoreWalk::Outcome outcome = walk.run();
        if (walk.failedCount != 0)
            qWarning() << walk.failures;
        return outcome;
    }

    // A hand-made backup folder: sets of two jobs in both forms, and folders that are no sets.
    void makeBackupFolder()
    {
        const QString dated = path(QStringLiteral("medium/B-T04071226-Buchhaltung/"));
        QString error;
        writeFile(path(QStringLiteral("work/a.doc")), QByteArray(1234567, 'a'));
        writeFile(path(QStringLiteral("work/b.txt")), QByteArray(999, 'b'));
        QDir().mkpath(dated + QStringLiteral("C/Daten"));
        QVERIFY2(zipFiles(dated + QStringLiteral("C/Daten/Archive.zip"),
                     { path(QStringLiteral("work/a.doc")), path(QStringLiteral("work/b.txt")) },
                     ZipProgress(),
                     &error),
            qPrintable(error));
        writeFile(path(QStringLiteral("work/Zeta.txt")), "z");
        writeFile(path(QStringLiteral("work/alpha.txt")), "a");
        QDir().mkpath(dated + QStringLiteral("C/Daten/Briefe"));
        QVERIFY(zipFiles(dated + QStringLiteral("C/Daten/Briefe/archive.ZIP"),
            { path(QStringLiteral("work/Zeta.txt")), path(QStringLiteral("work/alpha.txt")) },
            ZipProgress(),
            &error));
        QDir().mkpath(dated + QStringLiteral("_srv/ablage"));
        QVERIFY(zipFiles(dated + QStringLiteral("_srv/ablage/Archive.zip"),
            { path(QStringLiteral("work/b.txt")) },
            ZipProgress(),
            &error));
        QDir().mkpath(dated + QStringLiteral("-kunden"));
        QDir().mkpath(dated + QStringLiteral("root/home"));
        writeFile(dated + QStringLiteral("datum.txt"), "Die letzte Sicherung ...");

        writeFile(path(QStringLiteral("medium/B-T01071227-Lager/C/x.txt")), "x");
        // Links are never written into sets: one that loops or points out of the set is not followed.
        QVERIFY(QFile::link(dated + QStringLiteral("C"), dated + QStringLiteral("C/Daten/schleife")));
        QVERIFY(QFile::link(
            path(QStringLiteral("work/a.doc")), path(QStringLiteral("medium/B-T01071227-Lager/C/fremd.doc"))));
        writeFile(path(QStringLiteral("medium/B-T01-Buchhaltung/C/ohne-marker.txt")), "m");
        writeFile(path(QStringLiteral("medium/B-T02-Buchhaltung/C/mit-marker.txt")), "m");
        writeFile(path(QStringLiteral("medium/B-T02-Buchhaltung/file")), "");
        setMtime(path(QStringLiteral("medium/B-T02-Buchhaltung/file")),
            QDateTime(QDate(2008, 1, 5), QTime(9, 0)).toSecsSinceEpoch());
        writeFile(path(QStringLiteral("medium/B-T01071332-Buchhaltung/C/falsches-datum.txt")), "d");
        writeFile(path(QStringLiteral("medium/B-T09071226-Buchhaltung/C/falscher-typ.txt")), "t");
        writeFile(path(QStringLiteral("medium/Sommerfotos-2007/C/bild.jpg")), "j");
    }

private slots:
    void initTestCase()
    {
        m_settingsDir = TestUtil::isolateSettings();
    }

    void init()
    {
        Clock::setInstance(&m_clock);
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(path(QStringLiteral("Scripts")));
        m_jobs = std::make_unique<TAuftraege>(path(QStringLiteral("Scripts")));
        m_catalog = std::make_unique<ArchiveCatalog>();
        QVERIFY(m_catalog->open(path(QStringLiteral("state/catalog.sqlite"))));
        m_backupHost = ScriptedRunHost();
        m_actions = RecordingActions();
    }

    void cleanup()
    {
        Clock::setInstance(nullptr);
    }

    void testRoundTrip_data()
    {
        QTest::addColumn<bool>("compressed");
        QTest::newRow("copied") << false;
        QTest::newRow("zipped") << true;
    }

    // Full and incremental sets back to a restore folder and to the original place.
    void testRoundTrip()
    {
        QFETCH(bool, compressed);
        makeSourceTree();
        TAuftrag &job = makeJob(QStringLiteral("Test"), compressed);
        backUp(job);
        const auto atFull = treeOf(path(QStringLiteral("quelle")));

        writeFile(path(QStringLiteral("quelle/Unter/neu.txt")), "neu");
        writeFile(path(QStringLiteral("quelle/brief.doc")), "Liebe Anna");
        setMode(path(QStringLiteral("quelle/brief.doc")), 0604);
        job.Gesamtsicherung = false;
        backUp(job);
        const auto atIncremental = treeOf(path(QStringLiteral("quelle")));
        const QString full = compressed ? QStringLiteral("B-T03") : QStringLiteral("B-T01");
        const QString incremental = compressed ? QStringLiteral("B-T04") : QStringLiteral("B-T02");

        // Into a restore folder: the full set gives the tree as it was then.
        const QString restored = path(QStringLiteral("zurueck"));
        ScriptedRunHost host;
        QCOMPARE(restoreSet(full, host, restored), RestoreWalk::Outcome::Completed);
        QCOMPARE(host.messages, QStringList { QStringLiteral("Daten wurden erfolgreich wiederhergestellt.") });
        QVERIFY(host.questions.isEmpty());
        compareTrees(treeOf(restored + u'/' + mappedSource()), atFull, compressed);
        // The incremental set on top brings the tree up to date; the changed file is replaced when asked.
        host = ScriptedRunHost();
        host.answers = { Answer::All };
        QCOMPARE(restoreSet(incremental, host, restored), RestoreWalk::Outcome::Completed);
        QCOMPARE(host.questions.size(), 1);
        compareTrees(treeOf(restored + u'/' + mappedSource()), atIncremental, compressed);

        // To the original place, after the source is lost.
        QVERIFY(QDir(path(QStringLiteral("quelle"))).removeRecursively());
        host = ScriptedRunHost();
        QCOMPARE(restoreSet(full, host, QString()), RestoreWalk::Outcome::Completed);
        compareTrees(treeOf(path(QStringLiteral("quelle"))), atFull, compressed);
        host = ScriptedRunHost();
        host.answers = { Answer::All };
        QCOMPARE(restoreSet(incremental, host, QString()), RestoreWalk::Outcome::Completed);
        QCOMPARE(host.questions.size(), 1);
        compareTrees(treeOf(path(QStringLiteral("quelle"))), atIncremental, compressed);
        QCOMPARE(host.messages, QStringList { QStringLiteral("Daten wurden erfolgreich wiederhergestellt.") });
    }

    void testScan()
    {
        makeBackupFolder();
        RestoreModel model;
        RecordingScan progress;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QString(), &progress));
        // No marker, no valid date, no valid type, no set name: not shown.
        QCOMPARE(texts(model, model.topLevel()),
            QStringList({ QStringLiteral("Lager vom 27.12.2007 (Gesamtsicherung)"),
                QStringLiteral("Buchhaltung vom 05.01.2008 (inkrementelle Sicherung)"),
                QStringLiteral("Buchhaltung vom 26.12.2007 (Komprimierte inkrementelle Sicherung)") }));
        QCOMPARE(model.setsFound(), 3);
        QCOMPARE(progress.found.last(), QStringLiteral("Gefundene Datensicherungen: 3"));
        QCOMPARE(progress.memo.last(), QStringLiteral("Buchhaltung vom 26.12.2007 ..ok"));
        QCOMPARE(model.groupCaption(), QStringLiteral(" Vorhandene Sicherungen -  "));

        // The dated compressed set: level-1 texts, archive entries as files, nothing from the set folder itself.
        const int set = childByText(
            model, -1, QStringLiteral("Buchhaltung vom 26.12.2007 (Komprimierte inkrementelle Sicherung)"));
        const SetNode &node = model.node(set);
        QCOMPARE(node.setType, 4);
        QCOMPARE(node.jobName, QStringLiteral("Buchhaltung"));
        QVERIFY(node.records.isEmpty());
        QStringList levelOne = texts(model, node.children);
        levelOne.sort();
        QCOMPARE(levelOne,
            QStringList({ QStringLiteral("/"),
                QStringLiteral("C:\\"),
                QStringLiteral("Datenbank: kunden"),
                QStringLiteral("Netzwerkumgebung: srv") }));
        const int daten = childByText(model, childByText(model, set, QStringLiteral("C:\\")), QStringLiteral("Daten"));
        QVERIFY(daten >= 0);
        const QList<RestoreRow> rows = model.rows(daten);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].name, QStringLiteral("a.doc"));
        QCOMPARE(rows[0].size, QStringLiteral("1.235 kB"));
        QCOMPARE(rows[1].size, QStringLiteral("999 Byte"));
        QCOMPARE(rows[0].date, QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
        const RestoreRecord &a = model.record(rows[0].record);
        QVERIFY(a.fromArchive);
        QCOMPARE(a.archiveName, QStringLiteral("Archive.zip"));
        QCOMPARE(a.relativeFolder, QStringLiteral("B-T04071226-Buchhaltung/C/Daten/"));
        QCOMPARE(a.date.time(), QTime(0, 0));
        // An archive named in another case is read too, and rows sort by name without regard to case.
        const int briefe = childByText(model, daten, QStringLiteral("Briefe"));
        QCOMPARE(model.node(daten).children, QList<int> { briefe });
        QCOMPARE(model.rows(briefe)[0].name, QStringLiteral("alpha.txt"));
        QCOMPARE(model.rows(briefe)[1].name, QStringLiteral("Zeta.txt"));

        // The job filter shows only that job's sets.
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QStringLiteral("Lager")));
        QCOMPARE(
            texts(model, model.topLevel()), QStringList { QStringLiteral("Lager vom 27.12.2007 (Gesamtsicherung)") });
        QCOMPARE(model.records().size(), size_t(1));
        QCOMPARE(model.groupCaption(), QStringLiteral(" Vorhandene Sicherungen - Lager "));
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QStringLiteral("Niemand")));
        QVERIFY(model.topLevel().isEmpty());
        QCOMPARE(model.groupCaption(), QStringLiteral(" Vorhandene Sicherungen "));

        QString error;
        QVERIFY(!scanBackupFolder(&model, path(QStringLiteral("fehlt")), QString(), nullptr, &error));
        QVERIFY(error.contains(path(QStringLiteral("fehlt"))));
    }

    void testSelection()
    {
        makeBackupFolder();
        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QStringLiteral("Buchhaltung")));
        const int set = childByText(
            model, -1, QStringLiteral("Buchhaltung vom 26.12.2007 (Komprimierte inkrementelle Sicherung)"));
        const int drive = childByText(model, set, QStringLiteral("C:\\"));
        const int daten = childByText(model, drive, QStringLiteral("Daten"));
        const int briefe = childByText(model, daten, QStringLiteral("Briefe"));
        const int database = childByText(model, set, QStringLiteral("Datenbank: kunden"));
        QCOMPARE(model.selectedCount(), 100);

        // A folder node selects everything below it; its ancestors show what is below them.
        model.toggleNode(daten);
        QCOMPARE(model.node(daten).state, int(SetNode::AllSelected));
        QCOMPARE(model.node(briefe).state, int(SetNode::AllSelected));
        QCOMPARE(model.node(drive).state, int(SetNode::AllSelected));
        QCOMPARE(model.node(set).state, int(SetNode::PartlySelected));
        QCOMPARE(model.selectedCount(), 4);
        QCOMPARE(model.updateStatusBar(), QStringLiteral(" gewählte Dateien: 4 Dateien entsprechen 1.236 kB."));
        QCOMPARE(model.rows(briefe)[1].image, 1);

        // One file off: its folder and every ancestor are partly selected.
        model.toggleRecord(model.rows(briefe)[0].record);
        QCOMPARE(model.rows(briefe)[0].image, 0);
        QCOMPARE(model.node(briefe).state, int(SetNode::PartlySelected));
        QCOMPARE(model.node(daten).state, int(SetNode::PartlySelected));
        QCOMPARE(model.node(drive).state, int(SetNode::PartlySelected));
        QCOMPARE(model.selectedCount(), 3);

        // A partly selected node is cleared by its click; a folder without files has nothing to select.
        model.toggleNode(daten);
        QCOMPARE(model.node(daten).state, int(SetNode::NoneSelected));
        QCOMPARE(model.node(set).state, int(SetNode::NoneSelected));
        model.toggleNode(database);
        QCOMPARE(model.node(database).state, int(SetNode::NothingToSelect));
        QCOMPARE(model.updateStatusBar(), QStringLiteral(" gewählte Dateien: 0 Dateien entsprechen 0 kB."));

        // Only a subfolder selected: a folder with files of its own does not claim to be fully selected.
        model.toggleNode(briefe);
        QCOMPARE(model.node(daten).state, int(SetNode::PartlySelected));
    }

    void testOverwriteQuestion_data()
    {
        QTest::addColumn<QList<Answer::Button>>("answers");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QStringList>("replaced");
        QTest::addColumn<QString>("lastMessage");
        // Records go last first: alpha.txt, Zeta.txt (archive order), then b.txt and a.doc of Daten.
        QTest::newRow("All") << QList<Answer::Button> { Answer::All } << 1
                             << QStringList { "Daten/Briefe/alpha.txt",
                                    "Daten/Briefe/Zeta.txt",
                                    "Daten/b.txt",
                                    "Daten/a.doc" }
                             << "Daten wurden erfolgreich wiederhergestellt.";
        QTest::newRow("unattended: No") << QList<Answer::Button> {} << 4 << QStringList {}
                                        << "Daten wurden erfolgreich wiederhergestellt.";
        QTest::newRow("Yes, No, Yes, No")
            << QList<Answer::Button> { Answer::Yes, Answer::No, Answer::Yes, Answer::No } << 4
            << QStringList { "Daten/Briefe/alpha.txt", "Daten/b.txt" } << "Daten wurden erfolgreich wiederhergestellt.";
        QTest::newRow("Cancel") << QList<Answer::Button> { Answer::Yes, Answer::Cancel } << 2
                                << QStringList { "Daten/Briefe/alpha.txt" }
                                << "Datenwiederherstellung wurde abgebrochen.";
    }

    void testOverwriteQuestion()
    {
        QFETCH(QList<Answer::Button>, answers);
        QFETCH(int, questions);
        QFETCH(QStringList, replaced);
        QFETCH(QString, lastMessage);
        makeBackupFolder();
        const QString target = path(QStringLiteral("ziel/C/"));
        const QStringList files { "Daten/a.doc", "Daten/b.txt", "Daten/Briefe/alpha.txt", "Daten/Briefe/Zeta.txt" };
        for (const QString &f : files) {
            writeFile(target + f, "alt");
            setMtime(target + f, QDateTime(QDate(2008, 2, 3), QTime(4, 5, 6)).toSecsSinceEpoch());
        }
        setMode(target + QStringLiteral("Daten/a.doc"), 0444); // a read-only file in the way is replaced too

        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QStringLiteral("Buchhaltung")));
        const int set = childByText(
            model, -1, QStringLiteral("Buchhaltung vom 26.12.2007 (Komprimierte inkrementelle Sicherung)"));
        model.toggleNode(childByText(model, set, QStringLiteral("C:\\")));
        ScriptedRunHost host;
        host.answers = answers;
        RestoreWalk walk(model, host);
        walk.setRestoreFolder(true, path(QStringLiteral("ziel")));
        walk.run();
        QCOMPARE(host.questions.size(), questions);
        const Question &q = host.questions.first();
        QCOMPARE(q.text,
            QStringLiteral(
                "Die Datei: \r\r   %1\r\r   Datum: 03.02.2008 04:05:06\r\rexistiert bereits. Soll Sie mit der "
                "Datei der Datensicherung:\r\r   Datum: %2\r\rüberschrieben werden?")
                .arg(target + QStringLiteral("Daten/Briefe/alpha.txt"),
                    QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))));
        QCOMPARE(q.buttons, Answer::Yes | Answer::No | Answer::Cancel | Answer::All);
        QCOMPARE(q.unattended, Answer::No);
        QCOMPARE(q.icon, Icon::Warning);
        for (const QString &f : files)
            QCOMPARE(readFile(target + f) != "alt", replaced.contains(f));
        QCOMPARE(host.messages.last(), lastMessage);
        QVERIFY(!host.progressVisible);
    }

    // Archives and folder names come from the medium; none of them may steer a write outside the destination.
    void testHostileArchive()
    {
        const QString outside = path(QStringLiteral("aussen.txt"));
        const QString absolute = path(QStringLiteral("absolut.txt"));
        QVERIFY(makeZip(path(QStringLiteral("medium/B-T03071226-Boese/root/daten/Archive.zip")),
            { { QStringLiteral("../x"), "boese" },
                { QStringLiteral("../../../../aussen.txt"), "boese" },
                { absolute, "boese" },
                { QStringLiteral("gut.txt"), "gut" } }));
        const QString dest = path(QStringLiteral("wieder"));
        writeFile(dest + QStringLiteral("/root/x"), "meins"); // what "../x" would hit

        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QString()));
        QCOMPARE(model.records().size(), size_t(4));
        model.toggleNode(model.topLevel().first());
        ScriptedRunHost host;
        host.answers = { Answer::All };
        RestoreWalk walk(model, host);
        walk.setRestoreFolder(true, dest);
        QCOMPARE(walk.run(), RestoreWalk::Outcome::Completed);
        QVERIFY(host.questions.isEmpty());
        QCOMPARE(walk.failedCount, 3);
        QCOMPARE(walk.restoredCount, 1);
        QCOMPARE(readFile(dest + QStringLiteral("/root/daten/gut.txt")), QByteArray("gut"));
        QCOMPARE(readFile(dest + QStringLiteral("/root/x")), QByteArray("meins"));
        QVERIFY(!QFileInfo::exists(outside));
        QCOMPARE(QFileInfo(absolute).exists(), false);
        QStringList everything; // no work folder is left behind either
        QDirIterator it(dest, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            everything.append(it.next().mid(dest.size() + 1));
        everything.sort();
        QCOMPARE(everything,
            QStringList({ QStringLiteral("root"),
                QStringLiteral("root/daten"),
                QStringLiteral("root/daten/gut.txt"),
                QStringLiteral("root/x") }));
        QVERIFY(
            host.messages.contains(QStringLiteral("Die Datei %1 konnte nicht wiederhergestellt werden.\r\rDer Name ist "
                                                  "unzulässig; die Datei wird nicht wiederhergestellt.")
                                       .arg(dest + QStringLiteral("/root/daten/../x"))));
        QCOMPARE(host.messages.last(),
            QStringLiteral(
                "Die Wiederherstellung ist beendet, aber 3 Dateien konnten nicht wiederhergestellt werden."));
    }

    void testDestinationFolder_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("restoreFolder");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("shown");
        QTest::newRow("drive below a folder") << "C/Daten/"
                                              << "/r/"
                                              << "/r/C/Daten/"
                                              << "C:\\Daten\\";
        QTest::newRow("server below a folder") << "_srv/ablage/"
                                               << "/r/"
                                               << "/r/srv/ablage/"
                                               << "\\\\srv\\ablage\\";
        QTest::newRow("root below a folder") << "root/home/anna/"
                                             << "/r/"
                                             << "/r/root/home/anna/"
                                             << "/home/anna/";
        QTest::newRow("root in place") << "root/home/anna/"
                                       << ""
                                       << "/home/anna/"
                                       << "/home/anna/";
        QTest::newRow("file-system root in place") << "root/"
                                                   << ""
                                                   << "/"
                                                   << "/";
        QTest::newRow("drive in place: no such place here") << "C/Daten/"
                                                            << ""
                                                            << ""
                                                            << "C:\\Daten\\";
        QTest::newRow("server in place: no such place here") << "_srv/ablage/"
                                                             << ""
                                                             << ""
                                                             << "\\\\srv\\ablage\\";
        QTest::newRow("climbing name") << "root/../etc/"
                                       << "/r/"
                                       << ""
                                       << "/../etc/";
    }

    void testDestinationFolder()
    {
        QFETCH(QString, place);
        QFETCH(QString, restoreFolder);
        QFETCH(QString, destination);
        QFETCH(QString, shown);
        QCOMPARE(RestoreWalk::destinationFolder(place, restoreFolder), destination);
        QCOMPARE(RestoreModel::placeText(place), shown);
    }

    // Restore folder rules, a file that cannot be copied, the cancel button, database folders.
    void testFailuresAndCancel()
    {
        makeBackupFolder();
        writeFile(path(QStringLiteral("medium/B-T01071227-Lager/C/y.txt")), "y");
        writeFile(path(QStringLiteral("medium/B-T01071227-Lager/-kunden/Archive.zip")), "dump");
        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QStringLiteral("Lager")));
        model.toggleNode(model.topLevel().first());
        QCOMPARE(model.selectedCount(), 3);

        ScriptedRunHost host;
        RestoreWalk walk(model, host);
        walk.setRestoreFolder(true, QString());
        QCOMPARE(walk.run(), RestoreWalk::Outcome::NoRestoreFolder);
        writeFile(path(QStringLiteral("eine-datei")), "f");
        walk.setRestoreFolder(true, path(QStringLiteral("eine-datei/unter")));
        QCOMPARE(walk.run(), RestoreWalk::Outcome::RestoreFolderMissing);
        QCOMPARE(host.messages,
            QStringList(
                { QStringLiteral("Bitte geben Sie den Ordner an, in dem Sie die wiederhergestellten Daten ablegen "
                                 "möchten."),
                    QStringLiteral("Der Order, in dem die wiederhergestellten Daten abgelegt werden sollen, ist nicht "
                                   "vorhanden und kann nicht erzeugt werden.") }));

        // y.txt vanished after the scan; the database goes to the database restore, which fails here.
        QFile::remove(path(QStringLiteral("medium/B-T01071227-Lager/C/y.txt")));
        host = ScriptedRunHost();
        QList<DatabaseRequest> requests;
        walk.restoreDatabase = [&](const DatabaseRequest &r, RunHost &) {
            requests.append(r);
            return DatabaseOutcome::Failed;
        };
        const QString dest = path(QStringLiteral("wieder"));
        walk.setRestoreFolder(true, dest);
        // The file in the way is to be replaced, but stays as it was when no whole copy takes its place.
        writeFile(dest + QStringLiteral("/C/y.txt"), "meins");
        host.answers = { Answer::Yes };
        QCOMPARE(walk.run(), RestoreWalk::Outcome::Completed);
        QCOMPARE(walk.restoredCount, 1);
        QCOMPARE(walk.failedCount, 2);
        QCOMPARE(readFile(dest + QStringLiteral("/C/x.txt")), QByteArray("x"));
        QCOMPARE(readFile(dest + QStringLiteral("/C/y.txt")), QByteArray("meins"));
        QCOMPARE(QDir(dest + QStringLiteral("/C")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({ QStringLiteral("x.txt"), QStringLiteral("y.txt") }));
        QVERIFY(!QFileInfo::exists(dest + QStringLiteral("/-kunden"))); // the restore folder is not for databases
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].databaseName, QStringLiteral("kunden"));
        QCOMPARE(requests[0].archivePath, path(QStringLiteral("medium/B-T01071227-Lager/-kunden/Archive.zip")));
        QCOMPARE(requests[0].record->name, QStringLiteral("Archive.zip"));
        QCOMPARE(host.messages.size(), 2);
        QVERIFY(host.messages[0].startsWith(QStringLiteral("Die Datei %1 konnte nicht wiederhergestellt werden.\r\r")
                                                .arg(dest + QStringLiteral("/C/y.txt"))));
        QVERIFY(host.messages[0].contains(QStringLiteral("No such file")));
        QCOMPARE(host.messages[1],
            QStringLiteral(
                "Die Wiederherstellung ist beendet, aber 2 Dateien konnten nicht wiederhergestellt werden."));

        // The cancel button, read after every record: No goes on, Yes ends the walk.
        writeFile(path(QStringLiteral("medium/B-T01071227-Lager/C/y.txt")), "y");
        walk.restoreDatabase = nullptr;
        for (Answer::Button answer : { Answer::No, Answer::Yes }) {
            QDir(dest).removeRecursively();
            host = ScriptedRunHost();
            host.answers = { answer };
            // The button is pressed during the first record and not again.
            host.onProcessEvents = [](ScriptedRunHost &h) {
                if (h.questions.isEmpty())
                    h.cancel = true;
            };
            const RestoreWalk::Outcome outcome = walk.run();
            QCOMPARE(host.questionTexts(),
                QStringList { QStringLiteral("Möchten Sie den Wiederherstellungsvorgang wirklich abbrechen?") });
            if (answer == Answer::Yes) {
                QCOMPARE(outcome, RestoreWalk::Outcome::Cancelled);
                QCOMPARE(walk.restoredCount + walk.failedCount, 1);
                QCOMPARE(host.messages.last(), QStringLiteral("Der Wiederherstellungsvorgang wurde abgebrochen."));
            } else {
                QCOMPARE(outcome, RestoreWalk::Outcome::Completed);
                QCOMPARE(walk.restoredCount, 2);
                QCOMPARE(walk.failedCount, 1); // no database restore here
            }
        }
    }

    void testCommandLine()
    {
        makeSourceTree();
        backUp(makeJob(QStringLiteral("Test"), false));
        writeFile(path(QStringLiteral("ziel/B-T01261210-Anderer/root/a.txt")), "a");
        const QString ziel = path(QStringLiteral("ziel"));
        const QString unter = path(QStringLiteral("quelle/Unter/"));

        const auto cli = [this](const QStringList &args) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
            env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
            env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(TREVALO_CLI), args);
            p.waitForFinished(60000);
            return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()));
        };

        auto [code, out] = cli({ QStringLiteral("sets"), ziel, QStringLiteral("--job"), QStringLiteral("Test") });
        QCOMPARE(code, 0);
        QCOMPARE(out,
            QStringLiteral(
                "B-T01261210-Test\tTest vom 10.12.2026 (Gesamtsicherung)\n  %1/\t3 Dateien\n  %2\t1 Datei\n  %3\t1 "
                "Datei\n")
                .arg(path(QStringLiteral("quelle")), unter, unter + QStringLiteral("tief/")));
        std::tie(code, out) = cli({ QStringLiteral("sets"), ziel });
        QVERIFY(out.contains(
            QStringLiteral("B-T01261210-Anderer\tAnderer vom 10.12.2026 (Gesamtsicherung)\n  /\t1 Datei\n")));

        // One saved place, below a folder: only that place comes back.
        const QString dest = path(QStringLiteral("wieder"));
        const QStringList restoreUnter { QStringLiteral("restore"),
            ziel,
            QStringLiteral("--set"),
            QStringLiteral("B-T01261210-Test"),
            QStringLiteral("--to"),
            dest,
            unter };
        std::tie(code, out) = cli(restoreUnter);
        QCOMPARE(code, 0);
        QCOMPARE(treeOf(dest).keys(),
            QStringList({ QStringLiteral("root") + unter + QStringLiteral("nur-lesen.txt"),
                QStringLiteral("root") + unter + QStringLiteral("tief/umlaut-ä.txt") }));
        // Again: the files exist, and without an answer nothing is overwritten, which is not a full restore.
        writeFile(dest + QStringLiteral("/root") + unter + QStringLiteral("tief/umlaut-ä.txt"), "geändert");
        std::tie(code, out) = cli(restoreUnter);
        QCOMPARE(code, 1);
        QCOMPARE(out, QStringLiteral("Wiederhergestellt: 0, übersprungen: 2, nicht wiederhergestellt: 0\n"));
        QCOMPARE(readFile(dest + QStringLiteral("/root") + unter + QStringLiteral("tief/umlaut-ä.txt")),
            QByteArray("geändert"));
        std::tie(code, out) = cli(QStringList { QStringLiteral("--answer"), QStringLiteral("all") } + restoreUnter);
        QCOMPARE(code, 0);
        QCOMPARE(
            readFile(dest + QStringLiteral("/root") + unter + QStringLiteral("tief/umlaut-ä.txt")), QByteArray("zwei"));

        // The whole set to its original place.
        QVERIFY(QDir(path(QStringLiteral("quelle"))).removeRecursively());
        std::tie(code, out)
            = cli({ QStringLiteral("restore"), ziel, QStringLiteral("--set"), QStringLiteral("B-T01261210-Test") });
        QCOMPARE(code, 0);
        QCOMPARE(treeOf(path(QStringLiteral("quelle"))).size(), 5);

        // Refusals: no such set (also none built from a path), no such place.
        for (const QString &set : { QStringLiteral("B-T01261210-Fehlt"), QStringLiteral("../ziel/B-T01261210-Test") }) {
            std::tie(code, out) = cli({ QStringLiteral("restore"), ziel, QStringLiteral("--set"), set });
            QCOMPARE(code, 2);
        }
        std::tie(code, out) = cli({ QStringLiteral("restore"),
            ziel,
            QStringLiteral("--set"),
            QStringLiteral("B-T01261210-Test"),
            QStringLiteral("/nicht/gesichert/") });
        QCOMPARE(code, 2);
    }
};

QTEST_GUILESS_MAIN(TestRestore)
#include "tst_restore.moc"
