// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/windowlayout.h"
#include "jobs/tauftraege.h"
#include "platform/filesystem.h"
#include "testutil.h"

#include <QDate>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using TestUtil::readFile;
using TestUtil::writeFile;

namespace {
struct CliResult {
    int code;
    QString out;
    QString err;
};

CliResult runCli(const QStringList &args, const QString &workingDir = QString())
{
    QProcess p;
    if (!workingDir.isEmpty())
        p.setWorkingDirectory(workingDir);
    p.start(QStringLiteral(TREVALO_CLI), args);
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}
} // namespace

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void testFirstStartWithWritableWorkingFolder()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        const QString work = dir.filePath(QStringLiteral("arbeit"));
        QDir().mkpath(work);
        QCOMPARE(Startup::resolveScriptsBaseFolder(&settings, work, dir.filePath(QStringLiteral("profil"))), work);
        QVERIFY(QFileInfo::exists(work + QStringLiteral("/Scripts/back_tsf.tst")));
        QCOMPARE(settings.value(QStringLiteral("Scripts")).toString(), work);
        // Later starts take the stored folder as it is.
        QCOMPARE(Startup::resolveScriptsBaseFolder(&settings, QStringLiteral("/anderswo"), QString()), work);
        QVERIFY(Startup::checkScriptsFolderWritable(work));
    }

    void testFirstStartWithReadOnlyWorkingFolder()
    {
        QTemporaryDir dir;
        const QString work = dir.filePath(QStringLiteral("nurlesen"));
        TestUtil::TmpfsMount mount(work, QStringLiteral("ro,size=64k"));
        REQUIRE_MOUNT(mount);
        QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        const QString profile = dir.filePath(QStringLiteral("profil"));
        const QString base = Startup::resolveScriptsBaseFolder(&settings, work, profile);
        QCOMPARE(base, profile + QStringLiteral("/Trevalo"));
        QCOMPARE(settings.value(QStringLiteral("Scripts")).toString(), base);
        QVERIFY(!Startup::checkScriptsFolderWritable(work));

        // The command-line program makes the scripts folder on its first start, as the window program does.
        QTemporaryDir config;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("HOME"), profile);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(work);
        p.start(QStringLiteral(TREVALO_CLI), {QStringLiteral("list")});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFileInfo(profile + QStringLiteral("/Trevalo/Scripts")).isDir());
        QVERIFY(readFile(config.path() + QStringLiteral("/Halvesto-Produkte/Backup.conf")).contains("Trevalo"));
    }

    void testTempFolder()
    {
        TAuftrag job;
        QCOMPARE(Startup::tempFolder(job), Platform::systemTempFolder());
        job.temp_pfad = QStringLiteral("/var/tmp");
        QCOMPARE(Startup::tempFolder(job), QStringLiteral("/var/tmp/"));
        job.temp_pfad = QStringLiteral("/var/tmp/");
        QCOMPARE(Startup::tempFolder(job), QStringLiteral("/var/tmp/"));
    }

    void testCommandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<QString>("job");
        QTest::addColumn<int>("errorCode");

        QTest::newRow("nothing") << QStringList() << false << "" << 0;
        QTest::newRow("/m") << QStringList{"/m"} << true << "" << 0;
        QTest::newRow("\\M") << QStringList{"\\M"} << true << "" << 0;
        QTest::newRow("minimize") << QStringList{"minimize"} << true << "" << 0;
        QTest::newRow("/s: any case") << QStringList{"/s:daily"} << false << "Daily" << 0;
        QTest::newRow("unknown job") << QStringList{"/S:Nichts"} << false << "" << 2;
        QTest::newRow("last /S: counts") << QStringList{"/S:Nichts", "/m", "/S:Woche"} << true << "Woche" << 0;
        QTest::newRow("last /S: unknown") << QStringList{"/S:Woche", "/S:Nichts"} << false << "" << 2;
        QTest::newRow("others ignored") << QStringList{"-x", "/Sdaily"} << false << "" << 0;
    }

    void testCommandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, minimized);
        QFETCH(QString, job);
        QFETCH(int, errorCode);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("0.scr")), "[Einstellungen]\r\nName=Daily\r\n");
        writeFile(dir.filePath(QStringLiteral("1.scr")), "[Einstellungen]\r\nName=Woche\r\n");
        TAuftraege jobs(dir.path());
        jobs.loadAllJobs();

        const StartupState state = parseCommandLine(args, jobs);
        QCOMPARE(state.startMinimized, minimized);
        QCOMPARE(state.commandLineErrorCode, errorCode);
        QCOMPARE(state.abortFlag, errorCode != 0);
        QCOMPARE(state.commandLineStart, !job.isEmpty());
        QCOMPARE(state.currentAuftrag ? state.currentAuftrag->Name : QString(), job);
    }

    void testWindowLayout()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        QVERIFY(!readWindowLayout(settings).posX);
        writeWindowLayout(settings, 10, 20, 700, 300);
        WindowLayout all = readWindowLayout(settings);
        QCOMPARE(*all.posX + *all.posY + *all.width + *all.height, 1030);

        settings.setValue(QStringLiteral("Layout/Width"), QStringLiteral("breit"));
        const WindowLayout partial = readWindowLayout(settings);
        QCOMPARE(*partial.posY, 20);
        QVERIFY(!partial.width);
        QVERIFY(!partial.height); // reading ends at the first bad value
    }

    void testSecondInstanceWakesTheFirst()
    {
        QTemporaryDir dir;
        SingleInstance first(QStringLiteral("Backup"), dir.path());
        int activations = 0;
        QVERIFY(first.tryToRun([&] { ++activations; }));

        SingleInstance second(QStringLiteral("Backup"), dir.path());
        QVERIFY(!second.tryToRun([] { QFAIL("the second instance must not be woken"); }));
        QTRY_COMPARE(activations, 1);
    }

    void testUpdateAddress()
    {
        QVERIFY(Startup::updatePageUrl().endsWith(QStringLiteral("?Version=") + Startup::programVersion()));
        QCOMPARE(Startup::programVersion().split(u'.').size(), 4);
    }

    void testCliListsAndShowsJobs()
    {
        QTemporaryDir dir;
        const QString scripts = dir.filePath(QStringLiteral("Scripts"));
        const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
        writeFile(scripts + QStringLiteral("/0.scr"),
                  "[Einstellungen]\r\nName=Abend\r\nautostart=1\r\nstartzeit=23:59\r\nnext_start=" + today.toLatin1()
                      + " 23:59:00\r\nletzte_meldung=Backup erfolgreich beendet\r\n");
        writeFile(scripts + QStringLiteral("/1.scr"),
                  "[Einstellungen]\r\nName=M\xE4rz\r\nautostart=1\r\nstartzeit=08:00\r\nnext_start=03.03.2031 08:00:00\r\n"
                  "Zuletzt_Ausgefuehrt=1. Feb. 2031 - 08:00\r\n[DB_Name]\r\nDB1=Kunden\r\n[DB_Pass]\r\nPass1=176049177\r\n");
        writeFile(scripts + QStringLiteral("/2.scr"), "[Einstellungen]\r\nName=Hand\r\n");

        const QStringList base{QStringLiteral("--scripts-folder"), dir.path()};
        const CliResult list = runCli(base + QStringList{QStringLiteral("list")});
        QCOMPARE(list.code, 0);
        QCOMPARE(list.out,
                 QStringLiteral("Name\tNächster Start\tErfolgreich am\tLetzter Start am\tStatus\n"
                                "Abend\theute - 23:59\t\t\tBackup erfolgreich beendet\n"
                                "März\t3. Mär. 2031 - 08:00\t1. Feb. 2031 - 08:00\t\t\n"
                                "Hand\tmanuell\t\t\t\n"));

        const CliResult show = runCli(base + QStringList{QStringLiteral("show"), QStringLiteral("MÄRZ")});
        QCOMPARE(show.code, 2); // names compare without regard to ASCII case only
        const CliResult shown = runCli(base + QStringList{QStringLiteral("show"), QStringLiteral("märz")});
        QCOMPARE(shown.code, 0);
        QVERIFY(shown.out.contains(QStringLiteral("Pass1=*****\n")));
        QVERIFY(!shown.out.contains(QStringLiteral("176049177")));
        QVERIFY(shown.out.contains(QStringLiteral("DB1=Kunden\n")));
    }

    void testCliRefusesBadInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown job") << QStringList{"show", "Gibtsnicht"}
                                     << "Der Auftrag \"Gibtsnicht\" wurde nicht gefunden.";
        QTest::newRow("unknown command") << QStringList{"sichern"} << "Unbekannter Befehl \"sichern\".";
        QTest::newRow("no command") << QStringList{} << "Es wurde kein Befehl angegeben.";
        QTest::newRow("missing scripts folder") << QStringList{"--scripts-folder", "/gibt/es/nicht", "list"}
                                                << "Der Auftragsordner \"/gibt/es/nicht/Scripts\" kann nicht gelesen werden.";
    }

    void testCliRefusesBadInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath(QStringLiteral("Scripts")));
        QStringList all = args;
        if (!args.contains(QStringLiteral("--scripts-folder")))
            all = QStringList{QStringLiteral("--scripts-folder"), dir.path()} + args;
        const CliResult r = runCli(all);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.startsWith(message + u'\n'), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
