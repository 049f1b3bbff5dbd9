// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/archivecatalog.h"
#include "platform/filesystem.h"
#include "platform/inifile.h"
#include "platform/textcodec.h"
#include "testutil.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>
#include <utime.h>

using TestUtil::writeFile;

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void testCp1252RoundTripsEveryByte()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = TextCodec::fromCp1252(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(text[0x80], QChar(0x20AC));
        bool ok = false;
        QCOMPARE(TextCodec::toCp1252(text, &ok), all);
        QVERIFY(ok);
        TextCodec::toCp1252(QStringLiteral("Łódź"), &ok);
        QVERIFY(!ok);
    }

    void testIniSectionsKeepWriteOrder()
    {
        IniWriter w;
        w.write(QStringLiteral("B"), QStringLiteral("k1"), QStringLiteral("1"));
        w.write(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("x"));
        w.write(QStringLiteral("b"), QStringLiteral("k2"), QStringLiteral("2"));
        QCOMPARE(w.text(), QStringLiteral("[B]\r\nk1=1\r\nk2=2\r\n[A]\r\nk=x\r\n"));
        const IniDocument doc(w.text());
        QCOMPARE(doc.value(QStringLiteral("b"), QStringLiteral("K2")), QStringLiteral("2"));
        QVERIFY(doc.hasSection(QStringLiteral("a")));
    }

    void testStatSeesLinksAndPipesAsThemselves()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("datei")), "12345");
        QVERIFY(QFile::link(dir.path(), dir.filePath(QStringLiteral("schleife"))));
        QVERIFY(QProcess::execute(QStringLiteral("mkfifo"), {dir.filePath(QStringLiteral("rohr"))}) == 0);
        QCOMPARE(Platform::statPath(dir.filePath(QStringLiteral("datei"))).size, 5);
        QCOMPARE(Platform::statPath(dir.filePath(QStringLiteral("schleife"))).kind, Platform::FileStat::Symlink);
        QCOMPARE(Platform::statPath(dir.filePath(QStringLiteral("rohr"))).kind, Platform::FileStat::Other);
        QVERIFY(!Platform::statPath(dir.filePath(QStringLiteral("fehlt"))).exists());
    }

    void testAttributes()
    {
        QTemporaryDir dir;
        const QString hidden = dir.filePath(QStringLiteral(".versteckt"));
        writeFile(hidden, "x");
        ::chmod(QFile::encodeName(hidden).constData(), 0640);
        QVERIFY(Platform::fileAttributes(hidden).hidden);
        QVERIFY(!Platform::fileAttributes(hidden).readOnly);
        QVERIFY(Platform::setReadOnly(hidden, true));
        QVERIFY(Platform::fileAttributes(hidden).readOnly);
        QCOMPARE(Platform::statPath(hidden).mode, 0440u);
        QVERIFY(Platform::setReadOnly(hidden, false));
        QCOMPARE(Platform::statPath(hidden).mode, 0640u); // nobody else gains write access
        QVERIFY(!Platform::fileAttributes(dir.filePath(QStringLiteral("sichtbar"))).hidden);
    }

    void testArchiveCatalog()
    {
        QTemporaryDir dir;
        const QString catalogPath = dir.filePath(QStringLiteral("state/archive.sqlite"));
        const QString file = dir.filePath(QStringLiteral("daten.txt"));
        writeFile(file, "eins");
        {
            ArchiveCatalog catalog;
            QVERIFY2(catalog.open(catalogPath), qPrintable(catalog.errorString()));
            QVERIFY(catalog.isSet(file)); // never backed up
            QVERIFY(catalog.clear(file, Platform::statPath(file)));
            QVERIFY(!catalog.isSet(file));
        } // closing commits
        QCOMPARE(Platform::statPath(catalogPath).mode, 0600u);

        ArchiveCatalog catalog;
        QVERIFY(catalog.open(catalogPath));
        QVERIFY(!catalog.isSet(file));

        // Content, size, time and metadata changes each set it again.
        writeFile(file, "zwei"); // same size, new content and time
        QVERIFY(catalog.isSet(file));
        QVERIFY(catalog.clear(file, Platform::statPath(file)));
        ::chmod(QFile::encodeName(file).constData(), 0600);
        QVERIFY(catalog.isSet(file));
        QVERIFY(catalog.clear(file, Platform::statPath(file)));
        QVERIFY(catalog.set(file));
        QVERIFY(catalog.isSet(file));

        // A state taken before a change does not hide the change.
        const Platform::FileStat before = Platform::statPath(file);
        writeFile(file, "drei und mehr");
        QVERIFY(catalog.clear(file, before));
        QVERIFY(catalog.isSet(file));
        QVERIFY(catalog.flush());
    }

    // Records are kept per folder: a walk that goes from folder to folder and back, two
    // programs clearing files of the same folder, and a catalog of the earlier row-per-file form.
    void testArchiveCatalogFolders()
    {
        QTemporaryDir dir;
        const QString catalogPath = dir.filePath(QStringLiteral("archive.sqlite"));
        QStringList files;
        for (const char *name : {"a/1.txt", "a/2.txt", "b/1.txt", "a/b/1.txt", "b/\xff.txt"}) {
            const QString file = dir.filePath(Platform::decodePath(name));
            QVERIFY(Platform::makePath(file.left(file.lastIndexOf(u'/'))));
            QVERIFY(Platform::writeNewFile(file, name));
            files << file;
        }
        // The folder's own removal cannot name a file whose name is no text.
        const auto removeOddName = qScopeGuard([&files] { Platform::removeFile(files.last()); });
        {
            ArchiveCatalog first;
            ArchiveCatalog second;
            QVERIFY(first.open(catalogPath));
            QVERIFY(second.open(catalogPath));
            // Back and forth between folders, and each program with its own files of "a": the
            // second read "a" before the first wrote it, and keeps what the first wrote.
            QVERIFY(second.isSet(files[1]));
            QVERIFY(first.clear(files[0], Platform::statPath(files[0])));
            QVERIFY(first.clear(files[2], Platform::statPath(files[2])));
            QVERIFY(first.isSet(files[1]));
            QVERIFY(!first.isSet(files[0]));
            QVERIFY(first.clear(files[4], Platform::statPath(files[4])));
            QVERIFY(first.flush());
            QVERIFY(second.clear(files[1], Platform::statPath(files[1])));
            QVERIFY(second.clear(files[3], Platform::statPath(files[3])));
            QVERIFY(second.flush());
            QVERIFY(first.set(files[2]));
        }
        ArchiveCatalog catalog;
        QVERIFY(catalog.open(catalogPath));
        QVERIFY(!catalog.isSet(files[0]));
        QVERIFY(!catalog.isSet(files[1]));
        QVERIFY(catalog.isSet(files[2]));
        QVERIFY(!catalog.isSet(files[3]));
        QVERIFY(!catalog.isSet(files[4]));
        QVERIFY(catalog.isSet(dir.filePath(QStringLiteral("a/3.txt"))));

        // The earlier form: its records are taken over, not lost.
        const QString oldPath = dir.filePath(QStringLiteral("old.sqlite"));
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(oldPath).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "CREATE TABLE files (path TEXT PRIMARY KEY, dev INTEGER, ino INTEGER, size INTEGER,"
                              " mtime INTEGER, ctime INTEGER) WITHOUT ROWID",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        for (const QString &file : std::as_const(files)) {
            const Platform::FileStat st = Platform::statPath(file);
            const QByteArray sql = "INSERT INTO files VALUES ('" + Platform::encodePath(file) + "', "
                + QByteArray::number(st.device) + ", " + QByteArray::number(st.inode) + ", "
                + QByteArray::number(st.size) + ", " + QByteArray::number(st.mtimeNs) + ", "
                + QByteArray::number(st.ctimeNs) + ")";
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        }
        sqlite3_close(db);
        ArchiveCatalog migrated;
        QVERIFY2(migrated.open(oldPath), qPrintable(migrated.errorString()));
        for (const QString &file : std::as_const(files))
            QVERIFY2(!migrated.isSet(file), qPrintable(file));
        writeFile(files[1], "geändert");
        QVERIFY(migrated.isSet(files[1]));
    }

    void testDriveAndFreeSpaceOfTargetsNotMadeYet()
    {
        QTemporaryDir dir;
        const QString mountDir = dir.filePath(QStringLiteral("medium"));
        TestUtil::TmpfsMount mount(mountDir, QStringLiteral("size=1m"));
        REQUIRE_MOUNT(mount);
        const QString target = mountDir + QStringLiteral("/Sicherung/neu");
        QCOMPARE(Platform::driveOf(target), mountDir);
        QCOMPARE(Platform::freeSpace(target), qint64(1024 * 1024));
        QCOMPARE(Platform::withTrailingSeparator(QStringLiteral("/a")), QStringLiteral("/a/"));
        QCOMPARE(Platform::withTrailingSeparator(QStringLiteral("/a/")), QStringLiteral("/a/"));
        QVERIFY(Platform::systemTempFolder().endsWith(u'/'));
    }

    // A copy replaces a file only complete: a full disk leaves the old file or nothing, and no stray names.
    void testCopyReplacesOnlyWhenComplete_data()
    {
        QTest::addColumn<Platform::NewCopy>("newCopy");
        QTest::addColumn<QByteArray>("old");
        QTest::addColumn<int>("size");
        for (const Platform::NewCopy c : {Platform::NewCopy::Direct, Platform::NewCopy::WhenComplete}) {
            const char *how = c == Platform::NewCopy::Direct ? "direct" : "when complete";
            QTest::addRow("%s, new", how) << c << QByteArray() << 5000;
            QTest::addRow("%s, replaced", how) << c << QByteArray("alt") << 5000;
            QTest::addRow("%s, new, disk full", how) << c << QByteArray() << 3 * 1024 * 1024;
            QTest::addRow("%s, replaced, disk full", how) << c << QByteArray("alt") << 3 * 1024 * 1024;
        }
    }

    void testCopyReplacesOnlyWhenComplete()
    {
        QFETCH(Platform::NewCopy, newCopy);
        QFETCH(QByteArray, old);
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString mountDir = dir.filePath(QStringLiteral("medium"));
        TestUtil::TmpfsMount mount(mountDir, QStringLiteral("size=2m"));
        REQUIRE_MOUNT(mount);
        const QString source = dir.filePath(QStringLiteral("quelle.bin"));
        QByteArray bytes(size, 'q');
        QVERIFY(writeFile(source, bytes));
        QVERIFY(::chmod(source.toLocal8Bit().constData(), 0640) == 0);
        TestUtil::setMtime(source, 1200000000);
        const QString target = mountDir + QStringLiteral("/ziel.bin");
        if (!old.isEmpty())
            QVERIFY(writeFile(target, old));

        QString error;
        const bool ok = Platform::copyFile(source, target, {}, nullptr, &error, newCopy);
        const bool fits = size < 2 * 1024 * 1024;
        QCOMPARE(ok, fits);
        const QStringList left = QDir(mountDir).entryList(QDir::Files | QDir::Hidden);
        if (ok) {
            QCOMPARE(left, QStringList{QStringLiteral("ziel.bin")});
            QCOMPARE(TestUtil::readFile(target), bytes);
            const Platform::FileStat st = Platform::statPath(target, false);
            QCOMPARE(st.mode & 07777, 0640u);
            QCOMPARE(st.mtimeNs, 1200000000 * qint64(1000000000));
        } else {
            QVERIFY(!error.isEmpty());
            QCOMPARE(left, old.isEmpty() ? QStringList() : QStringList{QStringLiteral("ziel.bin")});
            if (!old.isEmpty())
                QCOMPARE(TestUtil::readFile(target), old);
        }
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
