// SPDX-License-Identifier: GPL-3.0-or-later
// Draws every window of the program into PNG files, for review: trevalo-screenshots DIR.
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "scriptedrunhost.h"
#include "testutil.h"
#include "restore/databasestep.h"
#include "ui/databasedialogs.h"
#include "ui/dialogs.h"
#include "ui/folderchooser.h"
#include "ui/jobeditor.h"
#include "ui/jobeditorpages.h"
#include "ui/mailoptionsdialog.h"
#include "ui/mainwindow.h"
#include "ui/progresswindow.h"
#include "ui/prompt.h"
#include "ui/restoremodels.h"
#include "ui/restoreprogress.h"
#include "ui/restorewindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
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

// Draws the modal dialog that opens inside call(), then closes it.
void saveModal(const char *name, const std::function<void()> &call)
{
    QTimer::singleShot(300, [name] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            save(dialog, name);
            dialog->reject();
        }
    });
    call();
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

    // The folder chooser on a real folder, filter on: only the documents are listed.
    const QString office = dir.filePath(QStringLiteral("Büro"));
    for (const char *name :
        { "Angebot Müller.odt", "Brief.DOC", "Rechnung 2026-03.pdf", "Tabelle.xls", "notiz.txt", "Vertrag.odt" }) {
        if (!TestUtil::writeFile(office + u'/' + QString::fromUtf8(name), QByteArray(12345, 'x')))
            std::fprintf(stderr, "cannot write the chooser's files\n");
    }
    QDir().mkpath(office + QStringLiteral("/Archiv"));
    QDir().mkpath(office + QStringLiteral("/Vorlagen"));
    FolderChooser folderChooser;
    folderChooser.setChoice({ office, QStringLiteral("*.odt;*.doc;*.xls"), true });
    folderChooser.findChild<QToolButton *>(QStringLiteral("filterButton"))->click();
    folderChooser.show();
    // Tree and list fill themselves in the background: wait until the chosen folder is in sight.
    QAbstractItemView *files = folderChooser.fileView();
    QTreeView *tree = folderChooser.folderTree();
    const auto ready = [&] {
        return files->model()->rowCount(files->rootIndex()) == 4
            && tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex()));
    };
    QElapsedTimer loading;
    loading.start();
    while (!ready() && loading.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    save(&folderChooser, "folder-chooser");
    folderChooser.findChild<QToolButton *>(QStringLiteral("foldersButton"))->click();
    folderChooser.findChild<QToolButton *>(QStringLiteral("largeIconsButton"))->click();
    save(&folderChooser, "folder-chooser-icons");
    folderChooser.hide();

    LoginDialog login(QStringLiteral("Anmeldung an der Datenbank"),
        QStringLiteral("Bitte geben Sie Benutzername und Passwort für die Datenbank \"Kunden\" ein."));
    login.setCredentials(QStringLiteral("sicherung"), QString());
    login.show();
    save(&login, "login-dialog");
    login.hide();

    // The job editor on a job with every page filled, and its dialogs.
    daily.komprimieren = true;
    daily.Proto = true;
    daily.proto_pfad = QDir::homePath() + QStringLiteral("/Protokolle");
    daily.proto_drucken = true;
    daily.email = true;
    daily.email_empfaenger = QStringLiteral("anna@firma.example");
    daily.email_server = QStringLiteral("mail.firma.example");
    daily.email_port = 587;
    daily.email_security = QStringLiteral("STARTTLS");
    daily.email_smtp_user = QStringLiteral("anna");
    daily.email_smtp_pass = QStringLiteral("geheim");
    daily.sources = { { QStringLiteral("/home/anna/Dokumente"), QStringLiteral("*.*"), true },
        { QStringLiteral("/home/anna/Bilder"), QStringLiteral("*.jpg;*.png"), false },
        { QStringLiteral("/srv/projekte"), QStringLiteral("*.*"), true } };
    TODBC_DB customerDb;
    customerDb.DB_Name = QStringLiteral("Kunden");
    customerDb.DB_Host = QStringLiteral("192.168.0.10");
    customerDb.DB_DBName = QStringLiteral("kunden");
    customerDb.DB_Port = QStringLiteral("3306");
    customerDb.DB_Login = QStringLiteral("nein");
    customerDb.DB_User = QStringLiteral("sicherung");
    customerDb.DB_Pass = QStringLiteral("geheim");
    TODBC_DB stock = customerDb;
    stock.DB_Name = QStringLiteral("Lager");
    stock.DB_DBName = QStringLiteral("lager");
    stock.DB_Login = QStringLiteral("ja");
    stock.DB_TLS = QStringLiteral("ja");
    daily.databases = { customerDb, stock };
    daily.start_before_backup = QStringLiteral("/usr/local/bin/dienste-anhalten");
    daily.start_before_backup_param = QStringLiteral("--alle");
    daily.start_after_backup = QStringLiteral("/usr/local/bin/dienste-starten");
    JobEditor::Environment env;
    env.actions = &actions;
    auto *editor = new JobEditor(jobs, daily, JobEditor::Mode::Edit, env, &window);
    editor->show();
    const char *pages[] = { "job-editor-1-auftrag",
        "job-editor-2-dateien",
        "job-editor-3-datenbanken",
        "job-editor-4-ziel",
        "job-editor-5-zeitplan",
        "job-editor-6-protokoll",
        "job-editor-7-sonstiges" };
    for (int i = 0; i < 7; ++i) {
        editor->tabs()->setCurrentIndex(i);
        save(editor, pages[i]);
    }
    editor->tabs()->setCurrentIndex(JobEditor::DatabasesTab);
    editor->tabs()->widget(JobEditor::DatabasesTab)->findChild<QTableWidget *>()->selectRow(1);
    editor->mailOptions()->show();
    save(editor->mailOptions(), "mail-options");
    editor->mailOptions()->hide();
    saveModal("database-access-edit", [&] { static_cast<DatabasesPage *>(editor->tabs()->widget(2))->editDatabase(); });
    saveModal("database-access-new", [&] { static_cast<DatabasesPage *>(editor->tabs()->widget(2))->addDatabase(); });
    saveModal("program-file-dialog", [&] { MiscPage::chooseProgram(editor, QStringLiteral("/usr/bin/true")); });
    saveModal("temp-folder-dialog", [&] {
        TempFolderDialog temp(QStringLiteral("/var/tmp/trevalo"), editor);
        temp.exec();
    });
    saveModal("printer-dialog", [&] {
        editor->tabs()->setCurrentIndex(JobEditor::LogTab);
        editor->tabs()->widget(JobEditor::LogTab)->findChild<QPushButton *>(QStringLiteral("printerButton"))->click();
    });
    editor->cancel();

    DatabaseChooserDialog dbChooser;
    dbChooser.setWarning(QStringLiteral("Achtung: Die Datenbank \"Kunden\" wird mit dem Stand der Sicherung "
                                        "überschrieben."));
    dbChooser.setPresetName(QStringLiteral("Kunden"));
    dbChooser.fill(&daily);
    dbChooser.show();
    save(&dbChooser, "database-chooser");
    dbChooser.hide();

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
