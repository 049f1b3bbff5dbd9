// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/windowlayout.h"
#include "jobs/jobstore.h"
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

#include <functional>

using TestUtil::readFile;
using TestUtil::writeFile;

namespace {
struct CliResult {
    int code;
    QString out;
    QString err;
};

CliResult runCli(const QStringList &args, const QString &workingDir = QString(), const QByteArray &input = {})
{
    QProcess p;
    if (!workingDir.isEmpty())
        p.setWorkingDirectory(workingDir);
    p.start(QStringLiteral(TREVALO_CLI), args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

// What the job editor does for one CLI edit: it works on the job list in memory and stores through storeJob.
using EditorAction = std::function<void(TAuftraege &jobs)>;

// The editor on job "Auftrag": rows as it shows them, the user's change, then "Speichern".
EditorAction editJob(const std::function<void(TAuftrag &edited)> &change)
{
    return [change](TAuftraege &jobs) {
        TAuftrag *job = jobs.findJobByName(QStringLiteral("Auftrag"));
        TAuftrag edited = *job;
        edited.sources = sourceRows(*job);
        edited.databases = databaseRows(*job);
        change(edited);
        QString error;
        QVERIFY2(storeJob(jobs, *job, edited, &error), qPrintable(error));
    };
}

// The main window's "Neu", then the editor.
EditorAction newJob(const std::function<void(TAuftrag &edited)> &change)
{
    return [change](TAuftraege &jobs) {
        TAuftrag *job = jobs.addNewJob(jobs.nextFreeStem());
        job->Name = QStringLiteral("Neuer Auftrag");
        TAuftrag edited = *job;
        change(edited);
        QString error;
        QVERIFY2(storeJob(jobs, *job, edited, &error), qPrintable(error));
    };
}

// A job file as written by hand: sources not in the order the editor stores them.
const QByteArray kFixtureJob = "[Version]\r\nBackupVersion=3\r\nStatus=0\r\n[Einstellungen]\r\nName=Auftrag\r\n"
                               "Ziel=/ziel\r\nletzte_meldung=Backup erfolgreich beendet\r\n"
                               "[Verzeichnisse]\r\nVerz1=/a\r\nVerz2=/b\r\n[Filter]\r\nFilter1=*.*\r\nFilter2=*.doc\r\n"
                               "[SubDirs]\r\nSubDir1=1\r\nSubDir2=0\r\n[DB_Name]\r\nDB1=Kunden\r\nDB2=Lager\r\n"
                               "[DB_Host]\r\nHost1=127.0.0.1\r\nHost2=lager.example.com\r\n[DB_Port]\r\nPort1=3306\r\n"
                               "Port2=\r\n[DB_DBName]\r\nDBNAME1=kunden\r\nDBNAME2=lager\r\n";

// Every job file of a scripts folder. A store puts the seconds of its moment into next_start,
// so those two digits are blanked: the CLI and the test store a second apart.
QMap<QString, QByteArray> jobFiles(const QString &scripts)
{
    static const QRegularExpression seconds(QStringLiteral("(next_start=[^\\r]*:\\d\\d:)\\d\\d"));
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(scripts).entryList({QStringLiteral("*.scr")}, QDir::Files)) {
        QString text = QString::fromLatin1(readFile(scripts + u'/' + name));
        files.insert(name, text.replace(seconds, QStringLiteral("\\1ss")).toLatin1());
    }
    return files;
}
} // namespace

Q_DECLARE_METATYPE(EditorAction)

namespace {
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

    void testCliEditsJobs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<EditorAction>("editor"); // the same edit in the editor; empty for a refusal
        QTest::addColumn<QString>("error");       // the refusal's message

        const auto row = [](const char *name, const QStringList &args, const EditorAction &editor,
                            const QByteArray &input = {}) {
            QTest::newRow(name) << args << input << editor << QString();
        };
        const auto refused = [](const char *name, const QStringList &args, const QString &error,
                                const QByteArray &input = {}) {
            QTest::newRow(name) << args << input << EditorAction() << error;
        };

        row("new", {"new", "Neu"}, newJob([](TAuftrag &e) { e.Name = QStringLiteral("Neu"); }));
        row("new with a taken name", {"new", "Auftrag"},
            newJob([](TAuftrag &e) { e.Name = QStringLiteral("Auftrag"); }));
        row("new with settings", {"new", "Neu", "komprimieren=1", "autostart=1", "startzeit=6:05"},
            newJob([](TAuftrag &e) {
                e.Name = QStringLiteral("Neu");
                e.komprimieren = e.autostart = true;
                e.startzeit = QStringLiteral("06:05");
            }));
        row("settings, keys in any case", {"set", "auftrag", "Name=Anders", "ZIEL=/media/stick", "Proto=0"},
            editJob([](TAuftrag &e) {
                e.Name = QStringLiteral("Anders");
                e.Ziel = QStringLiteral("/media/stick");
                e.Proto = false;
            }));
        row("schedule", {"set", "Auftrag", "autostart=1", "startzeit=23:59", "son=0", "lost_backup_confirm=0",
                         "lost_backup_autobackup=1"},
            editJob([](TAuftrag &e) {
                e.autostart = true;
                e.startzeit = QStringLiteral("23:59");
                e.son = e.lost_backup_confirm = false;
                e.lost_backup_autobackup = true;
            }));
        row("mail with a password from standard input",
            {"set", "Auftrag", "email=1", "email_port=587", "email_security=starttls", "email_smtp_user=ich",
             "email_smtp_pass"},
            editJob([](TAuftrag &e) {
                e.email = true;
                e.email_port = 587;
                e.email_security = QStringLiteral("STARTTLS");
                e.email_smtp_user = QStringLiteral("ich");
                e.email_smtp_pass = QStringLiteral("geheim");
            }),
            "geheim\n");
        row("numbered keys in file order", {"set", "Auftrag", "Filter2=*.txt", "TLS1=ja", "Port1=3307", "DBLogin2=ja"},
            editJob([](TAuftrag &e) { // rows: /a then /b; Lager then Kunden
                e.sources[1].Filter = QStringLiteral("*.txt");
                e.databases[1].DB_TLS = QStringLiteral("ja");
                e.databases[1].DB_Port = QStringLiteral("3307");
                e.databases[0].DB_Login = QStringLiteral("ja");
            }));
        row("add a source", {"add-source", "Auftrag", "/zeta", "--filter", "", "--no-subdirs"},
            editJob([](TAuftrag &e) { e.sources.append({QStringLiteral("/zeta"), QString(), false}); }));
        row("remove a source", {"remove-source", "Auftrag", "/a/"},
            editJob([](TAuftrag &e) { e.sources.removeFirst(); }));
        row("add a database",
            {"add-database", "Auftrag", "--label", "Neu", "--host", "db", "--database", "neu", "--port", "3310",
             "--user", "u", "--password-file", "%DIR%/pw", "--login", "--tls"},
            editJob([](TAuftrag &e) {
                TODBC_DB db;
                db.DB_Name = QStringLiteral("Neu");
                db.DB_Host = QStringLiteral("db");
                db.DB_DBName = QStringLiteral("neu");
                db.DB_Port = QStringLiteral("3310");
                db.DB_Login = QStringLiteral("ja");
                db.DB_User = QStringLiteral("u");
                db.DB_Pass = QStringLiteral("kennwort");
                db.DB_TLS = QStringLiteral("ja");
                e.databases.append(db); // the editor adds it at the bottom
            }));
        row("remove a database", {"remove-database", "Auftrag", "Kunden"},
            editJob([](TAuftrag &e) { e.databases.removeLast(); }));
        row("delete", {"delete", "Auftrag", "--answer", "yes"},
            [](TAuftraege &jobs) { QVERIFY(jobs.deleteJob(QStringLiteral("Auftrag"))); });

        refused("start time 25:00", {"set", "Auftrag", "startzeit=25:00"},
                "Ungültiger Wert \"25:00\" für \"startzeit\": erwartet wird eine Uhrzeit HH:MM von 00:00 bis 23:59.");
        refused("weekday flag 2", {"set", "Auftrag", "mon=2"},
                "Ungültiger Wert \"2\" für \"mon\": erlaubt sind 1 (ja) und 0 (nein).");
        refused("port abc", {"set", "Auftrag", "email_port=abc"},
                "Ungültiger Wert \"abc\" für \"email_port\": erlaubt ist eine Zahl von 1 bis 65535.");
        refused("database port 70000", {"set", "Auftrag", "Port1=70000"},
                "Ungültiger Wert \"70000\" für \"Port1\": erlaubt ist eine Zahl von 1 bis 65535.");
        refused("security word", {"set", "Auftrag", "email_security=SSL"},
                "Ungültiger Wert \"SSL\" für \"email_security\": erlaubt sind keine, STARTTLS und SSL/TLS.");
        refused("unknown key", {"set", "Auftrag", "gibtsnicht=1"}, "Unbekannter Schlüssel \"gibtsnicht\".");
        refused("key of the program", {"set", "Auftrag", "next_start=01.01.2030"},
                "Der Schlüssel \"next_start\" wird vom Programm geführt und kann nicht gesetzt werden.");
        refused("entry not there", {"set", "Auftrag", "Verz3=/c"}, "Der Auftrag hat keinen Ordner Nr. 3 (\"Verz3\").");
        refused("line break", {"set", "Auftrag", "Ziel=/a\nb"},
                "Der Wert für \"Ziel\" darf keinen Zeilenumbruch enthalten.");
        refused("empty name", {"set", "Auftrag", "Name="}, "Bitte geben Sie einen gültigen Auftragsnamen ein.");
        refused("a good value before a bad one", {"set", "Auftrag", "Ziel=/neu", "die=ja"},
                "Ungültiger Wert \"ja\" für \"die\": erlaubt sind 1 (ja) und 0 (nein).");
        refused("password on the command line", {"set", "Auftrag", "email_smtp_pass=geheim"},
                "Kennwörter werden nicht auf der Befehlszeile angenommen");
        refused("database password on the command line", {"set", "Auftrag", "Pass1=geheim"},
                "Kennwörter werden nicht auf der Befehlszeile angenommen");
        refused("no password on standard input", {"set", "Auftrag", "email_pop3_pass"},
                "Von der Standardeingabe kam kein Kennwort für email_pop3_pass.");
        refused("source not there", {"remove-source", "Auftrag", "/c"},
                "Der Ordner \"/c\" gehört nicht zu den Quellen des Auftrages \"Auftrag\".");
        refused("unknown job", {"set", "Gibtsnicht", "mon=1"}, "Der Auftrag \"Gibtsnicht\" wurde nicht gefunden.");
        refused("delete without an answer", {"delete", "Auftrag"}, "Der Auftrag \"Auftrag\" wurde nicht gelöscht.");
    }

    void testCliEditsJobs()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(EditorAction, editor);
        QFETCH(QString, error);
        QTemporaryDir cliDir;
        QTemporaryDir editorDir;
        for (const QTemporaryDir *dir : {&cliDir, &editorDir})
            QVERIFY(writeFile(dir->filePath(QStringLiteral("Scripts/0.scr")), kFixtureJob));
        QVERIFY(writeFile(cliDir.filePath(QStringLiteral("pw")), "kennwort\n"));
        args.replaceInStrings(QStringLiteral("%DIR%"), cliDir.path());

        const CliResult r
            = runCli(QStringList{QStringLiteral("--scripts-folder"), cliDir.path()} + args, QString(), input);
        const QMap<QString, QByteArray> written = jobFiles(cliDir.filePath(QStringLiteral("Scripts")));
        if (!editor) {
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(error), qPrintable(r.err));
            QCOMPARE(written, (QMap<QString, QByteArray>{{QStringLiteral("0.scr"), kFixtureJob}}));
            return;
        }
        QVERIFY2(r.code == 0, qPrintable(r.err));
        TAuftraege jobs(editorDir.filePath(QStringLiteral("Scripts")));
        QVERIFY(jobs.loadAllJobs().isEmpty());
        editor(jobs);
        QCOMPARE(written, jobFiles(editorDir.filePath(QStringLiteral("Scripts"))));
    }

    void testCliListWithoutJobs()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("neu"));
        QDir().mkpath(dir.filePath(QStringLiteral("leer/Scripts")));
        for (const QString &base : {dir.filePath(QStringLiteral("leer")), missing}) {
            const CliResult r = runCli({QStringLiteral("--scripts-folder"), base, QStringLiteral("list")});
            QCOMPARE(r.code, 0);
            QCOMPARE(r.out, QStringLiteral("Es gibt noch keine Aufträge. Auftragsdateien (*.scr) werden im Ordner "
                                           "\"%1/Scripts\" gesucht.\nDen ersten Auftrag legen Sie so an: trevalo-cli "
                                           "--scripts-folder \"%1\" new NAME\n")
                                .arg(base));
        }
        QVERIFY(!QFileInfo::exists(missing)); // listing makes nothing
        // The first job goes into the named base folder's "Scripts", made for it.
        const QStringList first{QStringLiteral("--scripts-folder"), dir.path(), QStringLiteral("new"),
                                QStringLiteral("Erster")};
        QCOMPARE(runCli(first).code, 0);
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("Scripts/0.scr"))));
    }

    void testCliRefusesBadInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown job") << QStringList{"show", "Gibtsnicht"}
                                     << "Der Auftrag \"Gibtsnicht\" wurde nicht gefunden.";
        QTest::newRow("unknown command") << QStringList{"sichern"} << "Unbekannter Befehl \"sichern\".";
        QTest::newRow("no command") << QStringList{} << "Es wurde kein Befehl angegeben.";
        QTest::newRow("missing scripts folder") << QStringList{"--scripts-folder", "/gibt/es/nicht", "show", "A"}
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
