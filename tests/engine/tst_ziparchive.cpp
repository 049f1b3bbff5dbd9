// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ziparchive.h"
#include "testutil.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using TestUtil::readFile;
using TestUtil::writeFile;

namespace {

quint32 crc32Of(const QByteArray &data)
{
    quint32 crc = 0xffffffffu;
    for (char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

struct Stat {
    qint64 mtime = 0;
    uint mode = 0;
};

Stat statOf(const QString &path)
{
    struct stat sb;
    if (::stat(QFile::encodeName(path).constData(), &sb) != 0)
        return {-1, 0};
    return {qint64(sb.st_mtim.tv_sec), uint(sb.st_mode & 07777)};
}

void makeFile(const QString &path, const QByteArray &bytes, qint64 mtime, uint mode)
{
    QVERIFY(writeFile(path, bytes));
    const struct timespec times[2] = {{time_t(mtime), 0}, {time_t(mtime), 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

QByteArray textLike(int size)
{
    static const char *words[] = {"Sicherung ", "Datei ", "Verzeichnis ", "Archiv ", "komprimiert ", "\r\n", "2024 ", "ok "};
    QByteArray out;
    auto *rng = QRandomGenerator::global();
    while (out.size() < size)
        out.append(words[rng->bounded(8)]);
    out.truncate(size);
    return out;
}

QByteArray randomBytes(int size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (char &c : out)
        c = char(QRandomGenerator::global()->bounded(256));
    return out;
}

QString python()
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("python3"));
    return exe;
}

// Runs a short Python program with the given arguments; the test fails when it does.
QByteArray runPython(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(python(), QStringList{QStringLiteral("-c"), program} + args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        qWarning() << p.readAllStandardError();
        return "FAILED";
    }
    return p.readAllStandardOutput();
}

} // namespace

class TestZipArchive : public QObject
{
    Q_OBJECT

private slots:
    void testPackListExtractRoundTrip()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath(QStringLiteral("quelle"));
        struct Source {
            QString name;
            QByteArray bytes;
            qint64 mtime;
            uint mode;
        };
        const qint64 base = QDateTime(QDate(2023, 11, 5), QTime(23, 59, 58)).toSecsSinceEpoch();
        const QList<Source> sources = {
            {QStringLiteral("bericht.txt"), textLike(300000), base, 0644},
            {QStringLiteral(".versteckt"), "geheim", base - 86400 * 400 + 1, 0600},
            {QStringLiteral("Liste [2024].txt"), textLike(5000), base - 7, 0664},
            {QStringLiteral("Übersicht äöü ß.txt"), textLike(70), base + 3, 0644},
            {QStringLiteral("leer"), QByteArray(), base, 0644},
            {QStringLiteral("zufall.bin"), randomBytes(200000), base, 0755},
            {QStringLiteral("schreibgeschützt"), "nur lesen", base, 0444},
            // Larger files are packed in pieces; these sizes hit and straddle the piece boundaries.
            {QStringLiteral("gross.log"), textLike(2621457), base, 0640},
            {QStringLiteral("genau.log"), textLike(1 << 20), base, 0644},
            {QStringLiteral("zufall-gross.bin"), randomBytes(1300000), base, 0644},
        };
        QStringList files;
        for (const Source &s : sources) {
            makeFile(src + u'/' + s.name, s.bytes, s.mtime, s.mode);
            files << src + u'/' + s.name;
        }

        const QString archive = dir.filePath(QStringLiteral("Archive.zip"));
        QVERIFY(writeFile(archive, "stale archive of an earlier run"));
        QStringList lines;
        int done = 0;
        ZipProgress progress;
        progress.message = [&](const QString &line) { lines << line; };
        progress.fileDone = [&] { ++done; };
        QString error;
        QVERIFY2(zipFiles(archive, files, progress, &error), qPrintable(error));
        QCOMPARE(done, sources.size());
        QCOMPARE(lines.size(), sources.size());
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(lines[i].section(u':', 1).trimmed(), sources[i].name);

        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive});
        QVERIFY(unzip.waitForFinished(30000));
        QVERIFY2(unzip.exitCode() == 0, unzip.readAllStandardOutput().constData());

        // Another reader sees the names as stored, umlauts included, and no folder entries.
        if (!python().isEmpty()) {
            const QByteArray names = runPython(
                QStringLiteral("import sys, zipfile\n"
                               "z = zipfile.ZipFile(sys.argv[1])\n"
                               "sys.stdout.buffer.write('\\n'.join(z.namelist()).encode())\n"
                               "assert z.testzip() is None\n"
                               "assert z.infolist()[0].compress_type == zipfile.ZIP_DEFLATED\n"),
                {archive});
            QStringList expected;
            for (const Source &s : sources)
                expected << s.name;
            QCOMPARE(QString::fromUtf8(names), expected.join(u'\n'));
        }

        // Other readers still: 7-Zip tests every entry, bsdtar gives back every file's bytes.
        if (!QStandardPaths::findExecutable(QStringLiteral("7z")).isEmpty()) {
            QProcess sevenZip;
            sevenZip.start(QStringLiteral("7z"), {QStringLiteral("t"), archive});
            QVERIFY(sevenZip.waitForFinished(30000));
            QVERIFY2(sevenZip.exitCode() == 0, sevenZip.readAllStandardOutput().constData());
        }
        if (!QStandardPaths::findExecutable(QStringLiteral("bsdtar")).isEmpty()) {
            const QString unpacked = dir.filePath(QStringLiteral("bsdtar"));
            QVERIFY(QDir().mkpath(unpacked));
            QProcess bsdtar;
            bsdtar.start(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), archive, QStringLiteral("-C"), unpacked});
            QVERIFY(bsdtar.waitForFinished(30000));
            QVERIFY2(bsdtar.exitCode() == 0, bsdtar.readAllStandardError().constData());
            for (const Source &s : sources)
                QCOMPARE(readFile(unpacked + u'/' + s.name), s.bytes);
        }

        QList<TZippedFile> entries;
        QVERIFY2(listArchive(archive, &entries, &error), qPrintable(error));
        QCOMPARE(entries.size(), sources.size());
        for (int i = 0; i < sources.size(); ++i) {
            const Source &s = sources[i];
            const TZippedFile &e = entries[i];
            QCOMPARE(e.name, s.name);
            QCOMPARE(e.uncompressedSize, quint64(s.bytes.size()));
            QCOMPARE(e.crc, crc32Of(s.bytes));
            QCOMPARE(e.date, QDateTime::fromSecsSinceEpoch(s.mtime).date());
            QCOMPARE(e.encryptionMarker, QChar(u' '));
        }
        QVERIFY(entries[0].factor > 50 && entries[0].compressedSize < entries[0].uncompressedSize / 2);
        QVERIFY(entries[5].factor <= 0);

        // Extraction replaces what is in the way, even a read-only file.
        const QString out = dir.filePath(QStringLiteral("ziel"));
        makeFile(out + QStringLiteral("/bericht.txt"), "alter Inhalt, viel kürzer", base - 1000, 0444);
        for (const Source &s : sources) {
            QVERIFY2(extractEntry(archive, out, s.name, &error), qPrintable(error));
            const QString path = out + u'/' + s.name;
            QCOMPARE(readFile(path), s.bytes);
            QCOMPARE(statOf(path).mtime, s.mtime);
            QCOMPARE(statOf(path).mode, s.mode);
        }
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), sources.size());
    }

    void testFailureLeavesNoArchive_data()
    {
        QTest::addColumn<QString>("problem");
        QTest::newRow("vanished") << QStringLiteral("vanished");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("fifo") << QStringLiteral("fifo");
        QTest::newRow("same name twice") << QStringLiteral("same name");
        QTest::newRow("cancelled") << QStringLiteral("cancel");
    }

    void testFailureLeavesNoArchive()
    {
        QFETCH(QString, problem);
        QTemporaryDir dir;
        QStringList files;
        for (int i = 0; i < 20; ++i) {
            files << dir.filePath(QStringLiteral("a/datei%1.txt").arg(i));
            QVERIFY(writeFile(files.last(), textLike(20000)));
        }
        const QString bad = dir.filePath(QStringLiteral("a/problem"));
        if (problem == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(bad));
        else if (problem == QLatin1String("fifo"))
            QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), {bad}), 0);
        else if (problem == QLatin1String("same name"))
            QVERIFY(writeFile(dir.filePath(QStringLiteral("b/datei3.txt")), "anderer Ordner, gleicher Name"));
        const QString listed = problem == QLatin1String("same name") ? dir.filePath(QStringLiteral("b/datei3.txt")) : bad;
        if (problem != QLatin1String("cancel"))
            files.insert(10, listed);

        const QString archive = dir.filePath(QStringLiteral("Archive.zip"));
        QVERIFY(writeFile(archive, "stale"));
        ZipProgress progress;
        int done = 0;
        progress.fileDone = [&] { ++done; };
        progress.cancelled = [&] { return problem == QLatin1String("cancel") && done >= 2; };
        QString error;
        QVERIFY(!zipFiles(archive, files, progress, &error));
        if (problem == QLatin1String("cancel"))
            QVERIFY2(error.contains(QLatin1String("abgebrochen")), qPrintable(error));
        else
            QVERIFY2(error.contains(QFileInfo(listed).fileName()), qPrintable(error));
        QVERIFY(!QFileInfo::exists(archive));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }

    void testFullDiskLeavesNothingHalfWritten()
    {
        QTemporaryDir dir;
        TestUtil::TmpfsMount full(dir.filePath(QStringLiteral("voll")), QStringLiteral("size=256k"));
        REQUIRE_MOUNT(full);
        const QString big = dir.filePath(QStringLiteral("q/zufall.bin"));
        makeFile(big, randomBytes(1 << 20), 1700000000, 0644);
        QString error;
        const QString archive = dir.filePath(QStringLiteral("voll/Archive.zip"));
        QVERIFY(!zipFiles(archive, {big}, {}, &error));
        QVERIFY2(error.contains(archive), qPrintable(error));
        QVERIFY(QDir(dir.filePath(QStringLiteral("voll"))).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

        // Extracting into the full disk keeps the file that was there.
        const QString packed = dir.filePath(QStringLiteral("Archive.zip"));
        QVERIFY2(zipFiles(packed, {big}, {}, &error), qPrintable(error));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("voll/zufall.bin")), "vorher"));
        QVERIFY(!extractEntry(packed, dir.filePath(QStringLiteral("voll")), QStringLiteral("zufall.bin"), &error));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("voll/zufall.bin"))), QByteArray("vorher"));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("voll"))).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void testHostileEntryNamesAreRefused()
    {
        if (python().isEmpty())
            QSKIP("python3 is needed to build a hostile archive");
        QTemporaryDir dir;
        const QString archive = dir.filePath(QStringLiteral("hostile.zip"));
        const QString absolute = dir.filePath(QStringLiteral("absolut/x"));
        QStringList names = {QStringLiteral("../x"), absolute, QStringLiteral("a/b"), QStringLiteral(".."),
                             QStringLiteral("/etc/x")};
#ifdef Q_OS_WIN
        names.append(QStringLiteral("..\\x"));
#endif
        QCOMPARE(runPython(QStringLiteral("import sys, zipfile\n"
                                          "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                          "    for n in sys.argv[2:]:\n"
                                          "        z.writestr(zipfile.ZipInfo(n), b'boese')\n"
                                          "    z.writestr('gut.txt', b'harmlos')\n"
                                          "    z.writestr('a\\\\b.txt', b'gleich')\n"),
                           QStringList{archive} + names),
                 QByteArray());

        QList<TZippedFile> entries;
        QString error;
        QVERIFY(listArchive(archive, &entries, &error));
        QCOMPARE(entries.size(), names.size() + 2);

        const QString target = dir.filePath(QStringLiteral("ziel/tief"));
        QVERIFY(QDir().mkpath(target));
        for (const QString &name : names) {
            error.clear();
            QVERIFY2(!extractEntry(archive, target, name, &error), qPrintable(name));
            QVERIFY(!error.isEmpty());
        }
        QVERIFY(!QFileInfo::exists(absolute));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("ziel/x"))));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("x"))));
        QVERIFY(QDir(target).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

        QVERIFY2(extractEntry(archive, target, QStringLiteral("gut.txt"), &error), qPrintable(error));
        QCOMPARE(readFile(target + QStringLiteral("/gut.txt")), QByteArray("harmlos"));
#ifndef Q_OS_WIN
        // Only "/" separates folders here: a backslash is part of the name and stays in the folder.
        QVERIFY2(extractEntry(archive, target, QStringLiteral("a\\b.txt"), &error), qPrintable(error));
        QCOMPARE(readFile(target + QStringLiteral("/a\\b.txt")), QByteArray("gleich"));
#endif
        QVERIFY(!extractEntry(archive, target, QStringLiteral("fehlt.txt"), &error));
    }

    void testDamagedEntryLeavesExistingFileAlone()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("q/daten.txt"));
        const QByteArray content = textLike(50000);
        makeFile(file, content, 1700000000, 0644);
        const QString archive = dir.filePath(QStringLiteral("Archive.zip"));
        QString error;
        QVERIFY2(zipFiles(archive, {file}, {}, &error), qPrintable(error));

        // Flip one byte in the middle of the compressed data: the CRC no longer matches.
        QByteArray bytes = readFile(archive);
        const int middle = 30 + int(strlen("daten.txt")) + 200;
        bytes[middle] = char(bytes[middle] ^ 0x55);
        QVERIFY(writeFile(archive, bytes));

        const QString target = dir.filePath(QStringLiteral("ziel"));
        QVERIFY(writeFile(target + QStringLiteral("/daten.txt"), "die gute alte Fassung"));
        QVERIFY(!extractEntry(archive, target, QStringLiteral("daten.txt"), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(readFile(target + QStringLiteral("/daten.txt")), QByteArray("die gute alte Fassung"));
        QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // The reader gives back what was packed, deflated or stored, in pieces of any size, and
    // reports a damaged or cut-off entry instead of ending early.
    void testEntryReader_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("damage");
        const QByteArray text = textLike(3 << 20);
        const QByteArray noise = randomBytes(300000);
        QTest::newRow("deflated") << text << QString();
        QTest::newRow("stored") << noise << QString();
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("deflated, flipped byte") << text << QStringLiteral("flip");
        QTest::newRow("stored, flipped byte") << noise << QStringLiteral("flip");
        QTest::newRow("deflated, cut off") << text << QStringLiteral("cut");
    }

    void testEntryReader()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, damage);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("dump.sql"));
        QVERIFY(writeFile(file, content));
        const QString archive = dir.filePath(QStringLiteral("Archive.zip"));
        QString error;
        QVERIFY2(zipFiles(archive, {file}, {}, &error), qPrintable(error));
        QByteArray bytes = readFile(archive);
        const qsizetype dataStart = 30 + qsizetype(strlen("dump.sql"));
        if (damage == QLatin1String("flip")) {
            bytes[dataStart + 40000] = char(bytes[dataStart + 40000] ^ 0x55);
        } else if (damage == QLatin1String("cut")) {
            // The directory stays; the data it points to ends early.
            const qsizetype directory = bytes.lastIndexOf(QByteArray("PK\x01\x02", 4));
            bytes = bytes.left(dataStart + 20000) + bytes.mid(directory);
            qsizetype end = bytes.lastIndexOf(QByteArray("PK\x05\x06", 4));
            const quint32 offset = quint32(dataStart + 20000);
            for (int i = 0; i < 4; ++i)
                bytes[end + 16 + i] = char(offset >> (8 * i));
        }
        QVERIFY(writeFile(archive, bytes));

        ZipEntryReader reader;
        QVERIFY2(reader.open(archive, QStringLiteral("dump.sql"), &error), qPrintable(error));
        QCOMPARE(reader.size(), quint64(content.size()));
        QByteArray got;
        QByteArray piece(70001, Qt::Uninitialized);
        qint64 n = 0;
        while ((n = reader.read(piece.data(), piece.size())) > 0)
            got.append(piece.constData(), n);
        if (damage.isEmpty()) {
            QCOMPARE(n, qint64(0));
            QVERIFY(got == content);
        } else {
            QCOMPARE(n, qint64(-1));
            QVERIFY2(reader.errorString().startsWith(QStringLiteral("Das Archiv ")), qPrintable(reader.errorString()));
        }
        QVERIFY(!reader.open(archive, QStringLiteral("fehlt.sql"), &error));
        QVERIFY2(error.startsWith(QStringLiteral("Der Eintrag fehlt.sql fehlt im Archiv")), qPrintable(error));
    }

    void testListingReplacesEarlierEntries()
    {
        QTemporaryDir dir;
        QStringList first;
        for (const char *name : {"eins", "zwei", "drei"}) {
            first << dir.filePath(QStringLiteral("a/") + QLatin1String(name));
            QVERIFY(writeFile(first.last(), name));
        }
        const QString second = dir.filePath(QStringLiteral("b/vier"));
        QVERIFY(writeFile(second, "vier"));
        QString error;
        QVERIFY(zipFiles(dir.filePath(QStringLiteral("1.zip")), first, {}, &error));
        QVERIFY(zipFiles(dir.filePath(QStringLiteral("2.zip")), {second}, {}, &error));

        QList<TZippedFile> entries;
        QVERIFY(listArchive(dir.filePath(QStringLiteral("1.zip")), &entries, &error));
        QCOMPARE(entries.size(), 3);
        QVERIFY(listArchive(dir.filePath(QStringLiteral("2.zip")), &entries, &error));
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].name, QStringLiteral("vier"));

        QVERIFY(writeFile(dir.filePath(QStringLiteral("kaputt.zip")), "PK\x03\x04 kein Archiv"));
        for (const char *broken : {"kaputt.zip", "fehlt.zip"}) {
            error.clear();
            QVERIFY(!listArchive(dir.filePath(QLatin1String(broken)), &entries, &error));
            QVERIFY(entries.isEmpty());
            QVERIFY(!error.isEmpty());
        }
    }

    // Entries of one archive come one after the other from the archive kept open; an archive
    // made anew under the same name is read anew.
    void testExtractionFollowsAReplacedArchive()
    {
        QTemporaryDir dir;
        const QString archive = dir.filePath(QStringLiteral("Archive.zip"));
        const QString out = dir.filePath(QStringLiteral("ziel"));
        QVERIFY(QDir().mkpath(out));
        QString error;
        for (const QByteArray &content : {QByteArray("erste Fassung"), QByteArray("zweite, längere Fassung")}) {
            QStringList files;
            for (const char *name : {"a.txt", "b.txt"}) {
                files << dir.filePath(QStringLiteral("quelle/") + QLatin1String(name));
                QVERIFY(writeFile(files.last(), content + name));
            }
            QVERIFY(zipFiles(archive, files, {}, &error));
            for (const char *name : {"a.txt", "b.txt"}) {
                QVERIFY2(extractEntry(archive, out, QLatin1String(name), &error), qPrintable(error));
                QCOMPARE(readFile(out + u'/' + QLatin1String(name)), content + name);
            }
            QVERIFY(!extractEntry(archive, out, QStringLiteral("c.txt"), &error));
        }
        releaseArchive();
    }
};

QTEST_GUILESS_MAIN(TestZipArchive)
#include "tst_ziparchive.moc"
