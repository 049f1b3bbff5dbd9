// SPDX-License-Identifier: GPL-3.0-or-later
#include "bytetree.h"
#include "engine/backuprun.h"
#include "engine/filetree.h"
#include "engine/ziparchive.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "restore/databasestep.h"
#include "restore/restoremodel.h"
#include "restore/restorewalk.h"
#include "restore/setfinder.h"
#include "runfixture.h"
#include "scriptedrunhost.h"
#include "testutil.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTcpServer>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif
#include <utime.h>

using TestUtil::readFile;
using TestUtil::setMtime;
using TestUtil::writeFile;

namespace
{

const QDateTime kNow(QDate(2026, 12, 10), QTime(21, 30, 5));
constexpr qint64 kMtime = 1262304000; // 2010-01-01

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
    int processed = 0;
    std::function<bool(const RecordingScan &)> cancelWhen;
    std::function<void(const RecordingScan &)> onAppendLine;
    void processEvents() override
    {
        ++processed;
    }
    bool cancelRequested() override
    {
        return cancelWhen && cancelWhen(*this);
    }
    void setFoundText(const QString &text) override
    {
        found.append(text);
    }
    void appendLine(const QString &text) override
    {
        memo.append(text);
        if (onAppendLine)
            onAppendLine(*this);
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

// Removes dir and everything below it, however deep (the temporary folder cannot).
quint32 crc32Of(const QByteArray &data)
{
    quint32 crc = 0xffffffffu;
    for (char c : data) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// An archive with stored entries whose names are the given bytes, without the UTF-8 flag:
// what a packer writes for names that are not UTF-8, on the system madeBy (3: Unix, 0: DOS).
// Each entry has mode 0640 and the modification time mtime.
QByteArray storedZip(const QList<QPair<QByteArray, QByteArray>> &entries, quint32 madeBy, qint64 mtime)
{
    QByteArray out;
    QByteArray central;
    const auto put16 = [](QByteArray &b, quint32 v) { b.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); };
    const auto put32 = [&](QByteArray &b, quint32 v) {
        put16(b, v & 0xffff);
        put16(b, v >> 16);
    };
    const auto putTimestamp = [&](QByteArray &b) {
        put16(b, 0x5455);
        put16(b, 5);
        b.append(char(1));
        put32(b, quint32(mtime));
    };
    const quint32 dosDate = ((2020 - 1980) << 9) | (1 << 5) | 1;
    for (const auto &[name, data] : entries) {
        const quint32 offset = quint32(out.size());
        const quint32 crc = crc32Of(data);
        put32(out, 0x04034b50);
        for (quint32 v : { 20u, 0u, 0u, 0u, dosDate })
            put16(out, v);
        for (quint32 v : { crc, quint32(data.size()), quint32(data.size()) })
            put32(out, v);
        put16(out, quint32(name.size()));
        put16(out, 9);
        out += name;
        putTimestamp(out);
        out += data;
        put32(central, 0x02014b50);
        for (quint32 v : { (madeBy << 8) | 20u, 20u, 0u, 0u, 0u, dosDate })
            put16(central, v);
        for (quint32 v : { crc, quint32(data.size()), quint32(data.size()) })
            put32(central, v);
        for (quint32 v : { quint32(name.size()), 9u, 0u, 0u, 0u })
            put16(central, v);
        put32(central, 0100640u << 16);
        put32(central, offset);
        central += name;
        putTimestamp(central);
    }
    const quint32 centralOffset = quint32(out.size());
    out += central;
    put32(out, 0x06054b50);
    for (quint32 v : { 0u, 0u, quint32(entries.size()), quint32(entries.size()) })
        put16(out, v);
    put32(out, quint32(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

ByteTree::Node fileNode(const QByteArray &content)
{
    ByteTree::Node n;
    n.content = content;
    n.mtime = kMtime;
    n.mode = 0640;
    return n;
}

ByteTree::Node folderNode()
{
    ByteTree::Node n;
    n.folder = true;
    return n;
}

// Adds rel and every folder on its way to tree.
void addWithFolders(ByteTree::Tree *tree, const QByteArray &rel, const ByteTree::Node &node)
{
    tree->insert(rel, node);
    for (qsizetype slash = rel.indexOf('/'); slash >= 0; slash = rel.indexOf('/', slash + 1))
        tree->insert(rel.left(slash), folderNode());
}

#ifdef Q_OS_LINUX
// Root reads any folder; without these two capabilities it is held to the permission bits like
// any user, so that a folder of mode 000 is unreadable whoever runs the test.
constexpr quint32 kPermissionBypass = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

class WithoutPermissionBypass
{
public:
    WithoutPermissionBypass()
    {
        m_ok = ::syscall(SYS_capget, &m_header, m_saved) == 0;
        __user_cap_data_struct reduced[2] = { m_saved[0], m_saved[1] };
        reduced[0].effective &= ~kPermissionBypass;
        m_ok = m_ok && ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutPermissionBypass()
    {
        if (m_ok)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    Q_DISABLE_COPY_MOVE(WithoutPermissionBypass)

private:
    __user_cap_header_struct m_header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct m_saved[2] {};
    bool m_ok = false;
};

// In a child before it starts: the same for a program run as root.
void dropPermissionBypass()
{
    ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
}
#else
struct WithoutPermissionBypass {
};
void dropPermissionBypass()
{
}
#endif

} // namespace

class TestRestore : public QObject, private RunFixture
{
    Q_OBJECT

public:
    TestRestore()
        : RunFixture(kNow)
    {
    }

private:
    TAuftrag &makeJob(const QString &name, bool compressed)
    {
        TAuftrag &job = RunFixture::makeJob(name);
        job.komprimieren = compressed;
        QTest::qVerify(saveJob(job), "saveJob(job)", "", __FILE__, __LINE__);
        return job;
    }

    void backUp(TAuftrag &job)
    {
        BackupRun state(m_host, m_actions, *m_catalog);
        QCOMPARE(run(job, &state), BackupRun::Outcome::Completed);
        QCOMPARE(state.errorCount, 0);
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

    // trevalo-cli with the test's settings: exit code and standard output. Without the
    // permission bypass of root when asked, as the ordinary user the tests stand for. A last
    // argument given as bytes is handed over as such, through the shell.
    std::pair<int, QString> cli(const QStringList &args, bool withoutBypass = false, const QByteArray &rawLast = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        p.setProcessEnvironment(env);
        if (withoutBypass)
            p.setChildProcessModifier(dropPermissionBypass);
        if (rawLast.isEmpty()) {
            p.start(QStringLiteral(TREVALO_CLI), args);
        } else {
            QString octal;
            for (char c : rawLast)
                octal += QStringLiteral("\\%1").arg(uint(uchar(c)), 3, 8, QLatin1Char('0'));
            const QString script = QStringLiteral("exec \"$0\" \"$@\" \"$(printf '%1')\"").arg(octal);
            p.start(QStringLiteral("/bin/sh"),
                QStringList { QStringLiteral("-c"), script, QStringLiteral(TREVALO_CLI) } + args);
        }
        p.waitForFinished(60000);
        return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()));
    }

    // Selects the whole of the one set in the model and restores it below dest.
    RestoreWalk::Outcome restoreWhole(RestoreModel &model, RestoreWalk &walk, const QString &dest)
    {
        model.toggleNode(model.topLevel().first());
        walk.setRestoreFolder(true, dest);
        return walk.run();
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
        // What the backup saves comes back: a backslash is a name character here, an empty folder a folder.
        writeFile(path(QStringLiteral("quelle/Unter/a\\b.txt")), "schraeg");
        QVERIFY(QDir().mkpath(path(QStringLiteral("quelle/Unter/leer"))));
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
        QVERIFY(QFileInfo(restored + u'/' + mappedSource() + QStringLiteral("/Unter/leer")).isDir());
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
        QVERIFY(QFileInfo(path(QStringLiteral("quelle/Unter/leer"))).isDir());
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
        QCOMPARE(model.rowRecords(briefe),
            (QList<int> { model.rows(briefe)[0].record, model.rows(briefe)[1].record }));
        // Each node knows its place among its siblings, as an item model asks for it.
        for (size_t n = 0; n < model.nodes().size(); ++n) {
            const SetNode &node = model.node(int(n));
            const QList<int> &siblings = node.parent < 0 ? model.topLevel() : model.node(node.parent).children;
            QCOMPARE(siblings.at(node.row), int(n));
        }

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

        // Many rows of several folders at once: every folder and ancestor as if each had been clicked.
        model.setRecordsSelected(model.rowRecords(daten) + model.rowRecords(briefe), false);
        QCOMPARE(model.node(briefe).state, int(SetNode::NoneSelected));
        QCOMPARE(model.node(drive).state, int(SetNode::NoneSelected));
        model.setRecordsSelected(model.rowRecords(daten), true);
        QCOMPARE(model.node(daten).state, int(SetNode::PartlySelected));
        QCOMPARE(model.node(set).state, int(SetNode::PartlySelected));
        QCOMPARE(model.updateStatusBar(), QStringLiteral(" gewählte Dateien: 2 Dateien entsprechen 1.236 kB."));
    }

    // A large set keeps the window alive while it is read; a cancel keeps only the sets read in full.
    void testScanKeepAliveAndCancel()
    {
        for (int i = 0; i < 3; ++i) {
            writeFile(path(QStringLiteral("medium/B-T01071227-Lager%1/C/x.txt").arg(i)), "x");
            writeFile(path(QStringLiteral("medium/B-T01071227-Lager%1/C/Unter/y.txt").arg(i)), "y");
        }
        RestoreModel model;
        RecordingScan progress;
        bool cancelled = true;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QString(), &progress, nullptr, &cancelled));
        QVERIFY(!cancelled);
        QCOMPARE(model.topLevel().size(), 3);
        const QStringList order = texts(model, model.topLevel());

        // The second set is slow to begin: the keep-alive comes while it is read, and the user cancels there.
        progress = RecordingScan();
        progress.onAppendLine = [](const RecordingScan &p) {
            if (p.memo.size() == 2)
                QThread::msleep(60); // the first entry of the set finds the keep-alive due
        };
        progress.cancelWhen = [](const RecordingScan &p) { return p.memo.size() == 2; };
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QString(), &progress, nullptr, &cancelled));
        QVERIFY(cancelled);
        QCOMPARE(texts(model, model.topLevel()), order.mid(0, 1));
        QCOMPARE(model.setsFound(), 1);
        QCOMPARE(model.records().size(), size_t(2));
        for (const SetNode &node : model.nodes())
            QVERIFY(node.relativeFolder.startsWith(model.node(model.topLevel().first()).folderName));
        QCOMPARE(progress.memo.size(), 2);
        QVERIFY(progress.memo[0].endsWith(QStringLiteral(" ..ok")));
        QVERIFY(progress.memo[1].endsWith(QStringLiteral(" ..abgebrochen")));
        QCOMPARE(progress.found.last(), QStringLiteral("Gefundene Datensicherungen: 1"));
        // What is left works as a whole set.
        model.toggleNode(model.topLevel().first());
        QCOMPARE(model.node(model.topLevel().first()).state, int(SetNode::AllSelected));
        QCOMPARE(model.updateStatusBar(), QStringLiteral(" gewählte Dateien: 2 Dateien entsprechen 0 kB."));
    }

    // A saved database: the access data is asked until it connects or the user gives up; the walk's progress comes
    // back.
    void testDatabaseStep()
    {
        QTcpServer closed; // a port nobody listens on: the connect fails at once
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        writeFile(path(QStringLiteral("medium/-kunden/Archive.zip")), "kein Archiv");
        DatabaseRequest request;
        request.sourceFolder = path(QStringLiteral("medium/-kunden/"));
        request.archivePath = path(QStringLiteral("medium/-kunden/Archive.zip"));
        request.databaseName = QStringLiteral("kunden");
        request.jobName = QStringLiteral("Lager");
        request.itemLine = QStringLiteral("Archive.zip");
        request.gaugeProgress = 3;
        request.gaugeMaximum = 7;

        QList<DatabaseStep::AccessRequest> asked;
        int connects = 2; // answers with access data before the user gives up
        const auto choose = [&](const DatabaseStep::AccessRequest &a) -> std::optional<DatabaseRestore::Access> {
            asked.append(a);
            if (connects-- <= 0)
                return std::nullopt;
            DatabaseRestore::Access access;
            access.host = QStringLiteral("127.0.0.1");
            access.port = QString::number(port);
            access.database = QStringLiteral("kunden");
            return access;
        };
        ScriptedRunHost host;
        QCOMPARE(DatabaseStep::restoreRecord(request, host, choose), DatabaseOutcome::Skipped);
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked[0].warning,
            QStringLiteral("ACHTUNG! Die Datenbank \"kunden\" wird wiederhergestellt. Dabei gehen alle Daten, die "
                           "derzeit in der Datenbank gespeichert sind verloren. Möchten Sie fortsetzen?"));
        QCOMPARE(asked[0].jobName, QStringLiteral("Lager"));
        QCOMPARE(asked[0].entryName, QStringLiteral("kunden"));
        QVERIFY(!asked[0].afterFailedConnect);
        QVERIFY(asked[1].afterFailedConnect && asked[2].afterFailedConnect);
        QCOMPARE(host.messages, QStringList(2, DatabaseRestore::connectFailedText()));
        QCOMPARE(host.progressLines.first(), QStringLiteral("6:Datenbank: kunden"));
        QCOMPARE(host.progressLines.last(), QStringLiteral("6:Archive.zip"));

        // A database folder without its archive fails without a question.
        asked.clear();
        host = ScriptedRunHost();
        request.archivePath.clear();
        QCOMPARE(DatabaseStep::restoreRecord(request, host, choose), DatabaseOutcome::Failed);
        QVERIFY(asked.isEmpty());
        QCOMPARE(host.messages.size(), 1);
        QVERIFY(host.messages[0].contains(QStringLiteral("Archive.zip fehlt")));
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

    // A set read by name only (as the command line reads it) still dates the saved file in the question.
    void testOverwriteQuestionWithoutDetails()
    {
        makeBackupFolder();
        const QString saved = path(QStringLiteral("medium/B-T01071227-Lager/C/x.txt"));
        setMtime(saved, QDateTime(QDate(2007, 12, 27), QTime(18, 30)).toSecsSinceEpoch());
        const QString dest = path(QStringLiteral("ziel/C/x.txt"));
        writeFile(dest, "alt");
        setMtime(dest, QDateTime(QDate(2008, 2, 3), QTime(4, 5, 6)).toSecsSinceEpoch());

        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QStringLiteral("Lager"), nullptr, nullptr, nullptr, false));
        model.toggleNode(model.topLevel().first());
        ScriptedRunHost host;
        host.answers = { Answer::Yes };
        RestoreWalk walk(model, host);
        walk.setRestoreFolder(true, path(QStringLiteral("ziel")));
        QCOMPARE(walk.run(), RestoreWalk::Outcome::Completed);
        QCOMPARE(host.questions.size(), 1);
        QVERIFY2(host.questions.first().text.contains(
                     QStringLiteral("Datensicherung:\r\r   Datum: 27.12.2007 18:30:00\r\r")),
            qPrintable(host.questions.first().text));
        QCOMPARE(readFile(dest), QByteArray("x"));
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
        QVERIFY(host.messages[0].contains(QStringLiteral("Datei oder Verzeichnis nicht gefunden")));
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
                    h.pressCancel();
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

    // A copy that does not fit leaves nothing under its name, neither where nothing stood nor
    // in place of an older file; the files that fit are restored.
    void testFullDisk()
    {
        const QString set = path(QStringLiteral("medium/B-T01071227-Lager/C/"));
        writeFile(set + QStringLiteral("klein.txt"), "k");
        writeFile(set + QStringLiteral("gross.bin"), QByteArray(400 * 1024, 'g'));
        writeFile(set + QStringLiteral("alt.bin"), QByteArray(400 * 1024, 'n'));
        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QStringLiteral("Lager")));
        model.toggleNode(model.topLevel().first());

        const QString dest = path(QStringLiteral("voll"));
        TestUtil::TmpfsMount mount(dest, QStringLiteral("size=256k"));
        REQUIRE_MOUNT(mount);
        writeFile(dest + QStringLiteral("/C/alt.bin"), "meins");
        ScriptedRunHost host;
        host.answers = { Answer::All };
        RestoreWalk walk(model, host);
        walk.setRestoreFolder(true, dest);
        QCOMPARE(walk.run(), RestoreWalk::Outcome::Completed);
        QCOMPARE(walk.restoredCount, 1);
        QCOMPARE(walk.failedCount, 2);
        QCOMPARE(readFile(dest + QStringLiteral("/C/klein.txt")), QByteArray("k"));
        QCOMPARE(readFile(dest + QStringLiteral("/C/alt.bin")), QByteArray("meins"));
        QCOMPARE(QDir(dest + QStringLiteral("/C")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({ QStringLiteral("alt.bin"), QStringLiteral("klein.txt") }));
        QCOMPARE(host.messages.size(), 3);
        QVERIFY(host.messages[0].endsWith(QStringLiteral("/C/gross.bin konnte nicht wiederhergestellt werden.\r\r"
                                                         "Kein Platz mehr auf dem Datenträger")));
        QVERIFY(host.messages[1].contains(QStringLiteral("/C/alt.bin konnte nicht wiederhergestellt werden.")));
    }

    void testDamagedSets_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("restored");
        QTest::addColumn<QString>("damagedPlace"); // where the damaged part is shown
        QTest::newRow("truncated archive") << "truncated" << 0 << "/daten/";
        QTest::newRow("random archive") << "random" << 0 << "/daten/";
        QTest::newRow("empty archive") << "empty" << 0 << "/daten/";
        QTest::newRow("good archive beside a truncated one in a subfolder") << "subfolder" << 2 << "/daten/unter/";
        QTest::newRow("unreadable folder") << "folder" << 1 << "/daten/gesperrt/";
    }

    // Every part of a set that cannot be read is shown as damaged, reported by the restore and counted.
    void testDamagedSets()
    {
        QFETCH(QString, kind);
        QFETCH(int, restored);
        QFETCH(QString, damagedPlace);
        const bool compressed = kind != QLatin1String("folder");
        const QString setName
            = compressed ? QStringLiteral("B-T03261210-Kaputt") : QStringLiteral("B-T01261210-Kaputt");
        const QString daten = path(QStringLiteral("medium/") + setName + QStringLiteral("/root/daten/"));
        QString error;
        writeFile(path(QStringLiteral("work/a.txt")), QByteArray(5000, 'a'));
        writeFile(path(QStringLiteral("work/b.txt")), "b");
        QVERIFY(zipFiles(path(QStringLiteral("work/gut.zip")),
            { path(QStringLiteral("work/a.txt")), path(QStringLiteral("work/b.txt")) },
            ZipProgress(),
            &error));
        const QByteArray good = readFile(path(QStringLiteral("work/gut.zip")));
        if (kind == QLatin1String("truncated")) {
            QVERIFY(writeFile(daten + QStringLiteral("Archive.zip"), good.left(good.size() / 2)));
        } else if (kind == QLatin1String("random")) {
            QByteArray random(5000, Qt::Uninitialized);
            for (char &c : random)
                c = char(QRandomGenerator::global()->generate());
            QVERIFY(writeFile(daten + QStringLiteral("Archive.zip"), random));
        } else if (kind == QLatin1String("empty")) {
            QVERIFY(writeFile(daten + QStringLiteral("Archive.zip"), QByteArray()));
        } else if (kind == QLatin1String("subfolder")) {
            QVERIFY(writeFile(daten + QStringLiteral("Archive.zip"), good));
            QVERIFY(writeFile(daten + QStringLiteral("unter/Archive.zip"), good.left(good.size() - 10)));
        } else {
            QVERIFY(writeFile(daten + QStringLiteral("gut.txt"), "gut"));
            QVERIFY(writeFile(daten + QStringLiteral("gesperrt/x.txt"), "x"));
            setMode(daten + QStringLiteral("gesperrt"), 0);
        }

        RestoreModel model;
        RecordingScan progress;
        {
            WithoutPermissionBypass asUser;
            QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QString(), &progress));
        }
        QList<int> damaged;
        for (int i = 0; i < int(model.records().size()); ++i) {
            if (!model.record(i).damage.isEmpty())
                damaged.append(i);
        }
        if (kind == QLatin1String("folder") && damaged.isEmpty())
            QSKIP("no way to make a folder unreadable here");
        QCOMPARE(damaged.size(), 1);
        QCOMPARE(progress.memo, QStringList { QStringLiteral("Kaputt vom 10.12.2026 ..beschädigt") });
        const RestoreRecord &damage = model.record(damaged.first());
        QCOMPARE(Platform::displayPath(RestoreModel::placeText(RestoreModel::savedPlace(damage.relativeFolder))),
            damagedPlace);
        const QString broken = compressed ? path(QStringLiteral("medium/") + setName + QStringLiteral("/root")
                                   + damagedPlace + QStringLiteral("Archive.zip"))
                                          : daten + QStringLiteral("gesperrt/");
        QVERIFY2(damage.damage.contains(broken), qPrintable(damage.damage));
        // The folder shows the damaged part in its list and has something to select.
        const QList<RestoreRow> rows = model.rows(damage.node);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().damage, damage.damage);
        QCOMPARE(model.node(damage.node).state, int(SetNode::NoneSelected));

        ScriptedRunHost host;
        RestoreWalk walk(model, host);
        const QString dest = path(QStringLiteral("wieder"));
        QCOMPARE(restoreWhole(model, walk, dest), RestoreWalk::Outcome::Completed);
        QCOMPARE(model.node(damage.node).state, int(SetNode::AllSelected));
        QCOMPARE(walk.restoredCount, restored);
        QCOMPARE(walk.failedCount, 1);
        QCOMPARE(walk.damagedCount, 1);
        QCOMPARE(walk.failures, QStringList { damage.damage });
        QCOMPARE(host.messages,
            QStringList({ damage.damage
                    + QStringLiteral("\r\rDie Dateien darin können nicht wiederhergestellt werden."),
                QStringLiteral("Die Wiederherstellung ist beendet, aber 1 Teil der Sicherung ist nicht lesbar.") }));

        // The command line marks the part and fails, also for an ordinary user.
        auto [code, out] = cli({ QStringLiteral("sets"), path(QStringLiteral("medium")) }, true);
        QCOMPARE(code, 1);
        QVERIFY2(
            out.contains(QStringLiteral("  %1\tbeschädigt: %2\n").arg(damagedPlace, damage.damage)), qPrintable(out));
        QVERIFY(QDir(dest).removeRecursively());
        std::tie(code, out) = cli({ QStringLiteral("restore"),
                                      path(QStringLiteral("medium")),
                                      QStringLiteral("--set"),
                                      setName,
                                      QStringLiteral("--to"),
                                      dest },
            true);
        QCOMPARE(code, 1);
        QCOMPARE(
            out, QStringLiteral("Wiederhergestellt: %1, übersprungen: 0, nicht wiederhergestellt: 1\n").arg(restored));
    }

    void testNamesDepthAndEmptyFolders_data()
    {
        QTest::addColumn<bool>("compressed");
        QTest::newRow("copied") << false;
        QTest::newRow("zipped") << true;
    }

    // What a set holds comes back with the same bytes in its names, at any depth, empty folders included.
    void testNamesDepthAndEmptyFolders()
    {
        QFETCH(bool, compressed);
        QByteArray deep;
        for (int i = 0; i < 18; ++i)
            deep += "tief" + QByteArray::number(i) + QByteArray(240, 'x') + '/';
        QVERIFY(deep.size() > 4096);
        // Below the saved folder: files with their content, and empty folders.
        const QList<QByteArray> files { "B\xfcro/brief.txt",
            "\xff.txt",
            "\xef\xbf\xbd.txt", // U+FFFD: a lossy reading would take \xff for it
            "\xff\xfe.txt",
            "a\\b.txt",
            deep + "ende.txt",
            deep + "\xe4rger.txt" };
        const QList<QByteArray> emptyFolders { "leer", "B\xfcro/leer\xfc", deep + "leer" };

        const QString setName = compressed ? QStringLiteral("B-T03261210-Namen") : QStringLiteral("B-T01261210-Namen");
        const QString saved = path(QStringLiteral("medium/") + setName + QStringLiteral("/root/daten"));
        QVERIFY(QDir().mkpath(saved));
        const QByteArray savedRoot = Platform::encodePath(saved);
        ByteTree::Tree expected;
        QMap<QByteArray, QList<QPair<QByteArray, QByteArray>>> archives; // folder -> its entries
        for (const QByteArray &f : files) {
            const qsizetype slash = f.lastIndexOf('/') + 1;
            addWithFolders(&expected, f, fileNode(f));
            if (compressed)
                archives[f.left(slash)].append({ f.mid(slash), f });
            else
                QVERIFY(ByteTree::write(savedRoot, f, f, kMtime));
        }
        for (auto it = archives.begin(); it != archives.end(); ++it)
            QVERIFY(ByteTree::write(savedRoot, it.key() + "Archive.zip", storedZip(it.value(), 3, kMtime), kMtime));
        for (const QByteArray &folder : emptyFolders) {
            addWithFolders(&expected, folder, folderNode());
            QVERIFY(ByteTree::makeFolder(savedRoot, folder));
        }

        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QString()));
        ScriptedRunHost host;
        RestoreWalk walk(model, host);
        const QString dest = path(QStringLiteral("wieder"));
        QCOMPARE(restoreWhole(model, walk, dest), RestoreWalk::Outcome::Completed);
        QVERIFY2(walk.failures.isEmpty(), qPrintable(walk.failures.join(u'\n')));
        QCOMPARE(host.messages, QStringList { QStringLiteral("Daten wurden erfolgreich wiederhergestellt.") });
        QCOMPARE(walk.restoredCount, files.size() + emptyFolders.size());
        const ByteTree::Tree restored = ByteTree::read(Platform::encodePath(dest + QStringLiteral("/root/daten")));
        QCOMPARE(restored.keys(), expected.keys());
        QCOMPARE(restored, expected);

        // The listing shows such names readably.
        const auto [code, out] = cli({ QStringLiteral("sets"), path(QStringLiteral("medium")) });
        QCOMPARE(code, 0);
        QVERIFY2(out.contains(QStringLiteral("  /daten/B\\xFCro/\t1 Datei\n")), qPrintable(out));
        // A place whose name is not UTF-8 can be named on the command line; it comes back with
        // its empty folder, and nothing beside it does.
        const QList<QByteArray> buero { "B\xfcro", "B\xfcro/brief.txt", "B\xfcro/leer\xfc" };
        const QString byCli = path(QStringLiteral("kommandozeile"));
        const auto [cliCode, cliOut] = cli({ QStringLiteral("restore"),
                                               path(QStringLiteral("medium")),
                                               QStringLiteral("--set"),
                                               setName,
                                               QStringLiteral("--to"),
                                               byCli },
            false,
            "/daten/B\xfcro/");
        QCOMPARE(cliCode, 0);
        QCOMPARE(ByteTree::read(Platform::encodePath(byCli + QStringLiteral("/root/daten"))).keys(), buero);

        // In the tree: selecting the folder above an empty one selects it too.
        RestoreModel again;
        QVERIFY(scanBackupFolder(&again, path(QStringLiteral("medium")), QString()));
        const auto node = std::find_if(again.nodes().begin(), again.nodes().end(), [](const SetNode &n) {
            return n.folderName == Platform::decodePath("B\xfcro");
        });
        QVERIFY(node != again.nodes().end());
        again.toggleNode(int(node - again.nodes().begin()));
        QCOMPARE(again.selectedCount(), 2);
        QCOMPARE(again.updateStatusBar(), QStringLiteral(" gewählte Dateien: 1 Dateien entsprechen 0 kB."));
        const QString partial = path(QStringLiteral("teilweise"));
        RestoreWalk part(again, host);
        part.setRestoreFolder(true, partial);
        QCOMPARE(part.run(), RestoreWalk::Outcome::Completed);
        QCOMPARE(ByteTree::read(Platform::encodePath(partial + QStringLiteral("/root/daten"))).keys(), buero);
    }

    // Names packed on a Unix-like system come back as their bytes; those packed on DOS and
    // Windows without the UTF-8 flag are in code page 437 and come back as text.
    void testArchiveNamesOfOtherSystems()
    {
        const QByteArray saved = Platform::encodePath(path(QStringLiteral("medium/B-T03261210-Fremd/root/daten")));
        QVERIFY(QDir().mkpath(QString::fromUtf8(saved)));
        QVERIFY(
            ByteTree::write(saved, "unix/Archive.zip", storedZip({ { "B\xfcro.txt", "unix" } }, 3, kMtime), kMtime));
        QVERIFY(ByteTree::write(saved, "dos/Archive.zip", storedZip({ { "B\x81ro.txt", "dos" } }, 0, kMtime), kMtime));
        RestoreModel model;
        QVERIFY(scanBackupFolder(&model, path(QStringLiteral("medium")), QString()));
        ScriptedRunHost host;
        RestoreWalk walk(model, host);
        const QString dest = path(QStringLiteral("wieder"));
        QCOMPARE(restoreWhole(model, walk, dest), RestoreWalk::Outcome::Completed);
        QCOMPARE(walk.restoredCount, 2);
        ByteTree::Tree expected;
        ByteTree::Node dos = fileNode("dos");
        dos.mode = 0644; // DOS keeps no permission bits
        addWithFolders(&expected, "dos/B\xc3\xbcro.txt", dos);
        addWithFolders(&expected, "unix/B\xfcro.txt", fileNode("unix"));
        QCOMPARE(ByteTree::read(Platform::encodePath(dest + QStringLiteral("/root/daten"))), expected);
    }

    void testCommandLine()
    {
        makeSourceTree();
        backUp(makeJob(QStringLiteral("Test"), false));
        writeFile(path(QStringLiteral("ziel/B-T01261210-Anderer/root/a.txt")), "a");
        const QString ziel = path(QStringLiteral("ziel"));
        const QString unter = path(QStringLiteral("quelle/Unter/"));

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

    // A saved database is replaced only after its warning is answered, and never by a restore below a folder
    // unless asked for. None of these cases reaches a server: the port is closed.
    void testCommandLineDatabases_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("warned");
        QTest::newRow("below a folder") << QStringList { "--to", "wieder" } << 3
                                        << "Die Datenbank \"kunden\" bleibt unverändert: Bei einer "
                                           "Wiederherstellung in einen Ordner (--to)"
                                        << false;
        QTest::newRow("warning without an answer")
            << QStringList {} << 3
            << "Die Datenbank \"kunden\" bleibt unverändert: Die Warnung wurde nicht beantwortet (--answer ok)."
            << true;
        QTest::newRow("below a folder, asked for") << QStringList { "--to", "wieder", "--databases" } << 3
                                                   << "Die Warnung wurde nicht beantwortet" << true;
        QTest::newRow("warning answered cancel")
            << QStringList { "--answer", "cancel" } << 1 << "Wiederhergestellt: 1, übersprungen: 1" << true;
        QTest::newRow("warning answered ok, no server")
            << QStringList { "--answer", "ok" } << 1 << "Fehler beim Aufbau der Datenbankverbindung." << true;
    }

    void testCommandLineDatabases()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(bool, warned);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        TODBC_DB entry;
        entry.DB_Name = QStringLiteral("kunden");
        entry.DB_Host = QStringLiteral("127.0.0.1");
        entry.DB_Port = QString::number(closed.serverPort());
        entry.DB_DBName = QStringLiteral("kunden");
        closed.close();
        TAuftrag &job = makeJob(QStringLiteral("Test"), false);
        job.databases = { entry };
        QVERIFY(saveJob(job));
        const QString set = path(QStringLiteral("ziel/B-T01261210-Test"));
        writeFile(set + u'/' + mappedSource() + QStringLiteral("/a.txt"), "a");
        writeFile(set + QStringLiteral("/-kunden/Archive.zip"), "nie gelesen");
        for (QString &a : args) {
            if (a == QLatin1String("wieder"))
                a = path(a);
        }
        QStringList call;
        const qsizetype answer = args.indexOf(QStringLiteral("--answer"));
        if (answer >= 0)
            call << args.takeAt(answer) << args.takeAt(answer);
        call << QStringLiteral("restore") << path(QStringLiteral("ziel")) << QStringLiteral("--set")
             << QStringLiteral("B-T01261210-Test") << args;
        QString output;
        QVERIFY2(RunFixture::cli(call, &output) == exitCode, qPrintable(output));
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(output.contains(QStringLiteral("ACHTUNG! Die Datenbank \"kunden\" wird wiederhergestellt.")), warned);
        // The files come back in every case.
        const QString restored = args.contains(QStringLiteral("--to")) ? path(QStringLiteral("wieder/")) + mappedSource()
                                                                      : path(QStringLiteral("quelle"));
        QCOMPARE(readFile(restored + QStringLiteral("/a.txt")), QByteArray("a"));
    }
};

QTEST_GUILESS_MAIN(TestRestore)
#include "tst_restore.moc"
