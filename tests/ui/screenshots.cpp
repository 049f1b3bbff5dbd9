// SPDX-License-Identifier: GPL-3.0-or-later
// Draws every window of the program into PNG files, for review: trevalo-screenshots DIR.
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "scriptedrunhost.h"
#include "testutil.h"
#include "restore/databasestep.h"
#include "ui/databasedialogs.h"
#include "ui/dialogs.h"
#include "ui/mainwindow.h"
#include "ui/progresswindow.h"
#include "ui/prompt.h"
#include "ui/restoremodels.h"
#include "ui/restoreprogress.h"
#include "ui/restorewindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QDir>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

namespace
{

QString s_outDir;

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

void save(QWidget *widget, const char *name)
{
    settle();
    const QString file = s_outDir + u'/' + QString::fromLatin1(name) + QStringLiteral(".png");
    if (!widget->grab().save(file))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}

void saveMenu(QMenu *menu, const char *name)
{
    menu->popup(QPoint(100, 100));
    save(menu, name);
    menu->hide();
}

TAuftrag &addJob(TAuftraege &jobs, const QString &name, const QString &target)
{
    TAuftrag *job = jobs.addNewJob(jobs.nextFreeStem());
    job->Name = name;
    job->Ziel = target;
    job->sources.append({ QDir::homePath(), QStringLiteral("*.*"), true });
    if (!saveJob(*job))
        std::fprintf(stderr, "job file not saved\n");
    return *job;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "Aufruf: trevalo-screenshots ORDNER\n");
        return 2;
    }
    s_outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(s_outDir);
    QTranslator german;
    if (german.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&german);
    auto settings = TestUtil::isolateSettings();
    qputenv("XDG_STATE_HOME", settings->path().toUtf8());

    QTemporaryDir dir;
    const QString scripts = dir.filePath(QStringLiteral("Scripts"));
    QDir().mkpath(scripts);
    TAuftraege jobs(scripts);
    TAuftrag &daily = addJob(jobs, QStringLiteral("Tägliche Sicherung"), QStringLiteral("/media/stick"));
    daily.autostart = true;
    daily.startzeit = QStringLiteral("09:05");
    daily.mon = daily.die = daily.mit = daily.don = daily.fre = true;
    daily.Zuletzt_Ausgefuehrt = QStringLiteral("9. Dez. 2026 - 09:05");
    daily.letzter_start = QStringLiteral("9. Dez. 2026 - 09:05");
    daily.letzte_meldung = QStringLiteral("Backup erfolgreich beendet. 0 Fehler.");
    (void)saveJob(daily);
    TAuftrag &docs = addJob(jobs, QStringLiteral("Dokumente"), QStringLiteral("/mnt/sicherung"));
    docs.letzter_start = QStringLiteral("8. Dez. 2026 - 17:30");
    docs.letzte_meldung = QStringLiteral("Abbruch durch Benutzer");
    docs.Status = 1;
    (void)saveJob(docs);
    TAuftrag &db = addJob(jobs, QStringLiteral("Kundendatenbank"), QStringLiteral("/mnt/sicherung"));
    db.Zuletzt_Ausgefuehrt = QStringLiteral("1. Dez. 2026 - 22:00");

    RecordingActions actions;
    MainWindow::Options options;
    options.scriptsBaseFolder = dir.path();
    options.actions = &actions;
    options.schedulerLockFolder = dir.path();
    options.trayAvailable = false;
    options.saveLayout = false;
    MainWindow window(jobs, options);
    window.show();
    settle();

    // A real run of "Dokumente", caught when about a third of its files are copied.
    const QString sourceDir = dir.filePath(QStringLiteral("Dokumente"));
    for (int i = 0; i < 40; ++i) {
        if (!TestUtil::writeFile(sourceDir + QStringLiteral("/Angebot 2026-%1.odt").arg(100 + i),
                QByteArray(3 * 1024 * 1024, char('a' + i % 26))))
            std::fprintf(stderr, "cannot write the files to back up\n");
    }
    docs.Ziel = dir.filePath(QStringLiteral("sicherung"));
    QDir().mkpath(docs.Ziel);
    docs.sources = { { sourceDir, QStringLiteral("*.*"), true } };
    docs.Start_Meldung = false;
    docs.backup_ok_anzeigen = false;
    (void)saveJob(docs);
    window.fillListView(docs.fileStem);
    bool caught = false;
    QTimer during;
    QObject::connect(&during, &QTimer::timeout, [&] {
        const QStringList count = window.progressWindow().line(ProgressLine::FileCount).split(u' ');
        if (caught || count.size() != 4 || count.at(1).toInt() * 3 < count.at(3).toInt())
            return;
        caught = true;
        save(&window, "main-window");
        save(&window.progressWindow(), "progress-window");
    });
    during.start(5);
    // Nobody is there to answer: every question of the run takes its unattended answer.
    Prompt::Script unattended;
    Prompt::setScript(&unattended);
    window.startJob(docs);
    Prompt::setScript(nullptr);
    during.stop();
    if (!caught)
        std::fprintf(stderr, "the run ended before it could be drawn\n");

    // The restore window on a real set of "Projekte", one folder ticked and one file of another.
    const QString projects = dir.filePath(QStringLiteral("Projekte"));
    const char *const projectFiles[] = { "Angebote/Angebot Müller.odt", "Angebote/Angebot Schmidt.odt",
        "Angebote/Preisliste 2026.ods", "Rechnungen/2026/R-0412.pdf", "Rechnungen/2026/R-0413.pdf",
        "Rechnungen/2025/R-0388.pdf", "Briefe/Kündigung Mietvertrag.odt", "Notizen.txt" };
    int sizeStep = 0;
    for (const char *file : projectFiles) {
        if (!TestUtil::writeFile(projects + u'/' + QString::fromUtf8(file), QByteArray(2400 + 5300 * sizeStep++, 'p')))
            std::fprintf(stderr, "cannot write the project files\n");
    }
    TAuftrag &projectJob = addJob(jobs, QStringLiteral("Projekte"), docs.Ziel);
    projectJob.sources = { { projects, QStringLiteral("*.*"), true } };
    projectJob.komprimieren = true;
    projectJob.Start_Meldung = false;
    projectJob.backup_ok_anzeigen = false;
    (void)saveJob(projectJob);
    Prompt::setScript(&unattended);
    window.startJob(projectJob);
    Prompt::setScript(nullptr);
    {
        RestoreWindow restore(jobs, nullptr, &window);
        restore.show();
        int selected = 0;
        const QStringList choices = window.restoreChoices(&selected);
        restore.setChoices(choices, int(choices.indexOf(QStringLiteral("Projekte"))));
        auto *tree = restore.findChild<SetTreeView *>(QStringLiteral("setTree"));
        tree->expandAll();
        const RestoreModel &model = restore.model();
        int angebote = -1;
        for (size_t n = 0; n < model.nodes().size(); ++n) {
            const SetNode &node = model.node(int(n));
            if (node.folderName == QLatin1String("Rechnungen"))
                restore.toggleNode(int(n));
            if (node.folderName == QLatin1String("Angebote"))
                angebote = int(n);
        }
        if (angebote >= 0) {
            tree->setCurrentIndex(restore.treeModel().indexOf(angebote));
            restore.toggleRecords({ restore.listModel().recordAt(0) });
        }
        save(&restore, "restore-window");

        ScanProgressWindow &scan = restore.scanWindow();
        scan.begin();
        scan.setFoundText(QStringLiteral("Gefundene Datensicherungen: 2"));
        scan.appendLine(QStringLiteral("Projekte vom 08.12.2026 .."));
        scan.appendToLastLine(QStringLiteral("ok"));
        scan.appendLine(QStringLiteral("Projekte vom 09.12.2026 .."));
        scan.setFolderLine(QStringLiteral("Rechnungen"));
        scan.processEvents();
        save(&scan, "restore-scan-progress");
        scan.hide();

        RestoreProgressWindow &progress = restore.progressWindow();
        progress.reset();
        progress.setItemLine(QStringLiteral("Datenbank: Kunden -> Tabelle: rechnungen -> Satz: 1200"));
        progress.setGauge(3, 8);
        progress.show();
        save(&progress, "restore-progress");
        progress.hide();
    }

    // The database chooser as a restore shows it: the warning, the job's entries, the saved one chosen.
    TAuftrag &customers = *jobs.findJobByName(QStringLiteral("Kundendatenbank"));
    for (const char *name : { "Kunden", "Lager" }) {
        TODBC_DB entry;
        entry.DB_Name = QString::fromLatin1(name);
        entry.DB_Host = QStringLiteral("db.firma.example");
        entry.DB_DBName = entry.DB_Name.toLower();
        entry.DB_User = QStringLiteral("sicherung");
        entry.DB_Pass = QStringLiteral("geheim");
        entry.DB_Login = QStringLiteral("nein");
        customers.databases.append(entry);
    }
    DatabaseChooserDialog databaseChooser;
    databaseChooser.setWarning(DatabaseStep::warningText(QStringLiteral("Kunden")));
    databaseChooser.setPresetName(QStringLiteral("Kunden"));
    databaseChooser.fill(&customers);
    databaseChooser.show();
    save(&databaseChooser, "database-chooser");
    databaseChooser.setManualEdit(true);
    databaseChooser.findChild<QLineEdit *>(QStringLiteral("dbPasswordEdit"))->setText(QStringLiteral("neu"));
    save(&databaseChooser, "database-chooser-manual");
    databaseChooser.hide();

    saveMenu(window.trayIcon().contextMenu(), "tray-menu");
    saveMenu(&window.contextMenu(), "context-menu");

    InfoBox info;
    info.show();
    save(&info, "info-box");
    info.hide();

    ScriptsFolderDialog chooser;
    chooser.show();
    save(&chooser, "scripts-folder-chooser");
    chooser.hide();

    LoginDialog login(QStringLiteral("Anmeldung an der Datenbank"),
        QStringLiteral("Bitte geben Sie Benutzername und Passwort für die Datenbank \"Kunden\" ein."));
    login.setCredentials(QStringLiteral("sicherung"), QString());
    login.show();
    save(&login, "login-dialog");
    login.hide();

    struct Box {
        const char *name;
        Icon icon;
        Answer::Buttons buttons;
        QString text;
    };
    const Box boxes[] = {
        { "message-ok", Icon::None, Answer::Ok, QStringLiteral("Sicherungsvorgang wurde vorzeitig abgebrochen.") },
        { "message-yes-no",
            Icon::Question,
            Answer::Yes | Answer::No,
            QStringLiteral("Wollen Sie den Auftrag \"Dokumente\" wirklich löschen?") },
        { "message-ok-cancel",
            Icon::Information,
            Answer::Ok | Answer::Cancel,
            QStringLiteral(
                "Der Backupauftrag: \"Dokumente\" wird jetzt ausgeführt. Bitte legen Sie ein Medium im Laufwerk "
                "/mnt/sicherung ein.") },
        { "message-retry-ignore-cancel",
            Icon::Warning,
            Answer::Cancel | Answer::Retry | Answer::Ignore,
            QStringLiteral(
                "Die Datei \"/home/anna/Dokumente/Angebot.odt\" kann nicht geöffnet werden. Wahrscheinlich wird "
                "sie zur Zeit benutzt. Bitte schließen sie alle Anwendungen und klicken Sie auf Wiederholen.") },
        { "database-connect-failed", Icon::None, Answer::Ok, DatabaseRestore::connectFailedText() },
        { "message-yes-no-cancel-all",
            Icon::Warning,
            Answer::Yes | Answer::No | Answer::Cancel | Answer::All,
            QStringLiteral(
                "Die Datei: \r\r   /home/anna/Dokumente/Angebot.odt\r\r   Datum: 09.12.2026 10:12:00\r\rexistiert "
                "bereits. Soll Sie mit der Datei der Datensicherung:\r\r   Datum: 08.12.2026 17:30:00\r\rüberschrieben "
                "werden?") },
    };
    for (const Box &b : boxes) {
        Question q;
        q.text = b.text;
        q.icon = b.icon;
        q.buttons = b.buttons;
        std::unique_ptr<QMessageBox> box(Prompt::create(nullptr, q));
        box->show();
        save(box.get(), b.name);
    }
    return 0;
}
