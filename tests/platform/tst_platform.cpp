// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/archivecatalog.h"
#include "platform/filesystem.h"
#include "platform/inifile.h"
#include "platform/textcodec.h"
#include "testutil.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
