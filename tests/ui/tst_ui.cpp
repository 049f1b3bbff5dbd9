// SPDX-License-Identifier: GPL-3.0-or-later
// The windows on the offscreen platform: widgets found by object name, questions answered by a script.
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "jobs/germanformat.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/clock.h"
#include "platform/settingsstore.h"
#include "schedule/scheduler.h"
#include "scriptedrunhost.h"
#include "testutil.h"
#include "ui/dialogs.h"
#include "ui/logprinter.h"
#include "ui/mainwindow.h"
#include "ui/progresswindow.h"
#include "ui/prompt.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeWidget>

#include <memory>

using TestUtil::writeFile;

namespace
{

QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList t;
    for (const QAction *a : actions)
        t.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return t;
}

QStringList rowTexts(QTreeWidget *list, int column)
{
    QStringList t;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        t.append(list->topLevelItem(i)->text(column));
    return t;
}

} // namespace

// Stands in for the system's text viewer.
class UrlSpy : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url)
    {
        opened.append(url);
    }
};

class TestUi : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TAuftraege> m_jobs;
    std::unique_ptr<MainWindow> m_window;
    RecordingActions m_actions;
    Prompt::Script m_script;
    QTranslator m_german;

    QString path(const QString &rel) const
    {
        return m_dir->filePath(rel);
    }

    // A job with one small source folder of three files, saved to its job file.
    TAuftrag &addJob(const QString &name)
    {
        TAuftrag *job = m_jobs->addNewJob(m_jobs->nextFreeStem());
        job->Name = name;
        job->Ziel = path(QStringLiteral("ziel"));
        job->proto_pfad = path(QStringLiteral("log"));
        job->Start_Meldung = false;
        job->backup_ok_anzeigen = false;
        job->fehler_anzeigen = true;
        job->Proto = true;
        const QString source = path(QStringLiteral("quelle-") + job->fileStem);
        for (int i = 0; i < 3; ++i)
            writeFile(source + QStringLiteral("/datei%1.txt").arg(i), QByteArray(1000, 'x'));
        job->sources.append({ source, QStringLiteral("*.*"), true });
        if (!saveJob(*job))
            qFatal("job file not saved");
        return *job;
    }

    MainWindow &makeWindow(std::optional<bool> tray = false, const StartupState &startup = {})
    {
        m_window.reset();
        MainWindow::Options options;
        options.scriptsBaseFolder = m_dir->path();
        options.actions = &m_actions;
        options.schedulerLockFolder = m_dir->path();
        options.trayAvailable = tray;
        options.startup = startup;
        m_window = std::make_unique<MainWindow>(*m_jobs, options);
        return *m_window;
    }

    template <typename T> T *find(const char *name) const
    {
        T *w = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    QTreeWidget *list() const
    {
        return find<QTreeWidget>("jobList");
    }

    void selectRow(int row)
    {
        list()->setCurrentItem(list()->topLevelItem(row));
    }

private slots:
    void initTestCase()
    {
        m_settings = TestUtil::isolateSettings();
        qputenv("XDG_STATE_HOME", m_settings->path().toUtf8());
        QVERIFY(m_german.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
        QApplication::installTranslator(&m_german);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(path(QStringLiteral("Scripts")));
        QDir().mkpath(path(QStringLiteral("ziel")));
        m_jobs = std::make_unique<TAuftraege>(path(QStringLiteral("Scripts")));
        m_script = Prompt::Script();
        Prompt::setScript(&m_script);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir->filePath(QStringLiteral("settings")));
    }

    void cleanup()
    {
        m_window.reset();
        Prompt::setScript(nullptr);
        Clock::setInstance(nullptr);
        m_jobs.reset();
        m_dir.reset();
    }

    void testJobListShowsJobsLastFirstWithTheirCells()
    {
        FixedClock clock(QDateTime(QDate(2026, 3, 2), QTime(8, 0)));
        Clock::setInstance(&clock);
        TAuftrag &a = addJob(QStringLiteral("A"));
        a.autostart = true;
        a.next_start = QDateTime(QDate(2026, 3, 2), QTime(9, 5));
        a.Zuletzt_Ausgefuehrt = QStringLiteral("1. Mär. 2026 - 09:05");
        TAuftrag &b = addJob(QStringLiteral("B"));
        b.autostart = true;
        b.next_start = QDateTime(QDate(2026, 3, 3), QTime(9, 5));
        b.Status = 1;
        b.letzte_meldung = QStringLiteral("Abbruch durch Benutzer");
        TAuftrag &c = addJob(QStringLiteral("C"));
        MainWindow &w = makeWindow();
        w.scheduler().runningAuftraege.append(c.fileStem.toUpper()); // waiting in the queue
        w.fillListView(b.fileStem);

        QCOMPARE(rowTexts(list(), 0), (QStringList { QStringLiteral("C"), QStringLiteral("B"), QStringLiteral("A") }));
        QCOMPARE(rowTexts(list(), 1),
            (QStringList {
                QStringLiteral("manuell"), QStringLiteral("3. Mär. 2026 - 09:05"), QStringLiteral("heute - 09:05") }));
        QCOMPARE(rowTexts(list(), 2),
            (QStringList { QStringLiteral("wird ausgeführt"), QString(), QStringLiteral("1. Mär. 2026 - 09:05") }));
        QCOMPARE(list()->topLevelItem(1)->text(4), QStringLiteral("Abbruch durch Benutzer"));
        QCOMPARE(list()->currentItem()->text(0), QStringLiteral("B"));
        QCOMPARE(list()->headerItem()->text(2), QStringLiteral("Erfolgreich am"));
        // The status pictures are the program's own SVG files; a missing image plugin shows none.
        QVERIFY(!list()->topLevelItem(1)->icon(0).pixmap(16, 16).isNull());
        QVERIFY(list()->topLevelItem(0)->icon(0).cacheKey() != list()->topLevelItem(1)->icon(0).cacheKey());
        QVERIFY(!find<QToolButton>("startButton")->icon().pixmap(28, 28).isNull());
    }

    void testMenusAndEnabling()
    {
        addJob(QStringLiteral("A"));
        addJob(QStringLiteral("B"));
        MainWindow &w = makeWindow();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QCOMPARE(actionTexts(find<QMenu>("jobMenu")->actions()),
            QStringList({ "&Neu",
                "&Löschen",
                "&Eigenschaften",
                "Protokoll ansehen",
                "-",
                "Wiederherstellen",
                "Auftrag &Starten",
                "-",
                "Beenden" }));
        QCOMPARE(actionTexts(find<QMenu>("helpMenu")->actions()),
            QStringList({ "Hilfethemen", "auf Updates prüfen", "-", "Info" }));
        QCOMPARE(actionTexts(w.contextMenu().actions()),
            QStringList(
                { "&Starten", "&Protokoll", "&Wiederherstellen", "-", "&Neu", "&Löschen", "-", "&Einstellungen" }));
        QCOMPARE(find<QAction>("startAction")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_S));
        QCOMPARE(find<QAction>("deleteAction")->shortcut(), QKeySequence(Qt::Key_Delete));

        auto *start = find<QToolButton>("startButton");
        QVERIFY(!start->isEnabled());
        QCOMPARE(start->toolTip(), QStringLiteral("Auftrag ausführen (Alt+S)"));
        selectRow(0);
        QVERIFY(start->isEnabled());
        QVERIFY(find<QAction>("deleteAction")->isEnabled());
        QCOMPARE(start->toolTip(), QStringLiteral("Auftrag \"B\" sofort starten (Alt+A)"));
        QCOMPARE(find<QToolButton>("propertiesButton")->toolTip(),
            QStringLiteral("Eigenschaften des Auftrages \"B\" bearbeiten (Alt+E)"));

        // Whatever enabled them, no selection turns them off at the next check.
        list()->clearSelection();
        start->setEnabled(true);
        find<QAction>("startAction")->setEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(!start->isEnabled() && !find<QAction>("startAction")->isEnabled(), 400);

        const auto contextStates = [&] {
            emit w.contextMenu().aboutToShow();
            QStringList on;
            for (const QAction *a : w.contextMenu().actions()) {
                if (!a->isSeparator() && a->isEnabled())
                    on.append(a->text());
            }
            return on;
        };
        QCOMPARE(contextStates(), QStringList({ "&Neu" }));
        selectRow(1);
        // Restore is a window of its own, not there yet.
        QCOMPARE(contextStates(), QStringList({ "&Starten", "&Protokoll", "&Neu", "&Löschen", "&Einstellungen" }));
        w.setRestoreOpener([](const QStringList &, int) {});
        QCOMPARE(contextStates(),
            QStringList({ "&Starten", "&Protokoll", "&Wiederherstellen", "&Neu", "&Löschen", "&Einstellungen" }));
    }

    void testRestoreChoices()
    {
        MainWindow &empty = makeWindow();
        int selected = 0;
        QCOMPARE(empty.restoreChoices(&selected), QStringList { QStringLiteral("  -- manuell --  ") });
        QCOMPARE(selected, -1);

        addJob(QStringLiteral("A"));
        addJob(QStringLiteral("B"));
        MainWindow &w = makeWindow();
        QStringList opened;
        int openedSelected = -2;
        w.setRestoreOpener([&](const QStringList &choices, int sel) {
            opened = choices;
            openedSelected = sel;
        });
        find<QToolButton>("restoreButton")->click();
        QCOMPARE(opened, QStringList({ "  -- manuell --  ", "A", "B" }));
        QCOMPARE(openedSelected, 0);
        selectRow(0); // B: the view shows the last job first
        find<QToolButton>("restoreButton")->click();
        QCOMPARE(openedSelected, 2);
    }

    void testDeleteAsksAndKeepsAJobInUse()
    {
        addJob(QStringLiteral("A"));
        TAuftrag &b = addJob(QStringLiteral("B"));
        const QString bFile = b.filePath();
        MainWindow &w = makeWindow();

        selectRow(0);
        m_script.answers = { Answer::No };
        find<QAction>("deleteAction")->trigger();
        QCOMPARE(m_script.texts().last(), QStringLiteral("Wollen Sie den Auftrag \"B\" wirklich löschen?"));
        QCOMPARE(m_jobs->size(), 2);

        // Waiting in the queue: the scheduler holds the job, so it stays.
        w.scheduler().runningAuftraege.append(b.fileStem);
        find<QAction>("deleteAction")->trigger();
        QVERIFY(m_script.texts().last().contains(QStringLiteral("wartet auf seinen Start")));
        QCOMPARE(m_jobs->size(), 2);
        w.scheduler().runningAuftraege.clear();

        m_script.answers = { Answer::Yes };
        find<QAction>("deleteAction")->trigger();
        QCOMPARE(m_jobs->size(), 1);
        QVERIFY(!QFile::exists(bFile));
        QCOMPARE(rowTexts(list(), 0), QStringList { QStringLiteral("A") });
        QCOMPARE(list()->currentItem()->text(0), QStringLiteral("A"));
    }

    void testRunFromButtonAsksThroughScriptAndRefusesASecondStart()
    {
        TAuftrag &a = addJob(QStringLiteral("A"));
        a.Start_Meldung = true;
        QVERIFY(saveJob(a));
        addJob(QStringLiteral("B"));
        MainWindow &w = makeWindow();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        selectRow(1);

        bool progressShownDuringRun = false;
        QString cellDuringQuestion;
        m_script.answers = { Answer::Ok };
        m_script.onAsk = [&](const Question &q) {
            if (!q.text.startsWith(QStringLiteral("Der Backupauftrag:")))
                return;
            cellDuringQuestion = list()->topLevelItem(1)->text(2);
            QVERIFY(w.runInProgress());
            // A second start while the first waits for its answer: refused, never nested.
            selectRow(0);
            find<QToolButton>("startButton")->click();
            selectRow(1);
            QTimer::singleShot(0, &w, [&] { progressShownDuringRun = w.progressWindow().isVisible(); });
        };
        find<QToolButton>("startButton")->click();

        QStringList texts = m_script.texts();
        QVERIFY(texts.value(0).startsWith(QStringLiteral("Der Backupauftrag: \"A\" wird jetzt ausgeführt.")));
        QCOMPARE(texts.value(1), QStringLiteral("Zur Zeit läuft bereits ein Backupauftrag"));
        QCOMPARE(texts.size(), 2);
        QCOMPARE(cellDuringQuestion, QStringLiteral("wird ausgeführt"));
        QVERIFY(progressShownDuringRun);
        QVERIFY(!w.runInProgress());
        QVERIFY(!w.progressWindow().isVisible());
        QCOMPARE(m_jobs->findJobByName(QStringLiteral("B"))->letzter_start, QString());
        QVERIFY(QFile::exists(path(QStringLiteral("log/protokoll.txt"))));
        QCOMPARE(list()->topLevelItem(1)->text(0), QStringLiteral("A"));
        QCOMPARE(list()->topLevelItem(1)->text(2), a.Zuletzt_Ausgefuehrt);
        QVERIFY(!a.Zuletzt_Ausgefuehrt.isEmpty());
    }

    void testDoubleClick_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("background");
        QTest::addColumn<QString>("asked");
        QTest::newRow("idle") << false << false << QStringLiteral("Wollen sie den Sicherungsauftrag \"A\" starten?");
        QTest::newRow("run in front") << true << false
                                      << QStringLiteral(
                                             "Bitte warten Sie, bis der aktuelle Auftrag abgeschlossen ist.");
        QTest::newRow("run in background")
            << true << true
            << QStringLiteral("Möchten Sie die Fortschrittsanzeige des zur Zeit ausgeführten Auftrages einblenden?");
    }

    void testDoubleClick()
    {
        QFETCH(bool, running);
        QFETCH(bool, background);
        QFETCH(QString, asked);
        TAuftrag &a = addJob(QStringLiteral("A"));
        a.Start_Meldung = running; // the run waits at its medium question while the list is double-clicked
        a.hintergrundBackup = background;
        QVERIFY(saveJob(a));
        MainWindow &w = makeWindow();
        selectRow(0);
        const auto doubleClick = [&] { emit list()->itemDoubleClicked(list()->topLevelItem(0), 0); };

        if (!running) {
            m_script.answers = { Answer::No };
            doubleClick();
            QCOMPARE(m_script.texts(), QStringList { asked });
            QVERIFY(a.letzter_start.isEmpty());
            return;
        }
        bool progressShown = false;
        m_script.answers = { Answer::Yes, Answer::Cancel };
        m_script.onAsk = [&](const Question &q) {
            if (!q.text.startsWith(QStringLiteral("Der Backupauftrag:")))
                return;
            m_script.answers = { Answer::Yes };
            doubleClick();
            progressShown = w.progressWindow().isVisible();
            m_script.answers = { Answer::Cancel };
        };
        selectRow(0);
        find<QToolButton>("startButton")->click();
        QCOMPARE(m_script.texts().value(1), asked);
        QCOMPARE(progressShown, background);
    }

    void testBackgroundRunCancelledThroughProgressWindowShownOnRequest()
    {
        TAuftrag &a = addJob(QStringLiteral("A"));
        a.hintergrundBackup = true;
        QVERIFY(saveJob(a));
        MainWindow &w = makeWindow();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        selectRow(0);

        bool hiddenBeforeRequest = false;
        // Runs at the run's first keep-alive: the user asks for the window and presses cancel twice.
        QTimer::singleShot(0, &w, [&] {
            QVERIFY(w.runInProgress());
            hiddenBeforeRequest = !w.progressWindow().isVisible();
            m_script.answers = { Answer::Yes };
            emit list()->itemDoubleClicked(list()->topLevelItem(0), 0);
            QVERIFY(w.progressWindow().isVisible());
            auto *cancel = w.progressWindow().findChild<QPushButton *>(QStringLiteral("cancelButton"));
            QCOMPARE(cancel->text(), QStringLiteral("&Auftrag abbrechen"));
            QTest::mouseClick(cancel, Qt::LeftButton);
            QTest::mouseClick(cancel, Qt::LeftButton);
            m_script.answers = { Answer::Yes };
        });
        find<QToolButton>("startButton")->click();

        QVERIFY(hiddenBeforeRequest);
        QCOMPARE(m_script.texts().count(QStringLiteral("Möchten Sie den Sicherungsvorgang wirklich abbrechen?")), 1);
        QVERIFY(m_script.texts().contains(QStringLiteral("Sicherungsvorgang wurde vorzeitig abgebrochen.")));
        QCOMPARE(a.letzte_meldung, QStringLiteral("Abbruch durch Benutzer"));
        QVERIFY(!w.progressWindow().isVisible());
        QVERIFY(!w.run().cancel().requested());
    }

    void testCloseGoesToTrayAndTrayQuitEnds()
    {
        MainWindow &w = makeWindow(true);
        QSignalSpy ended(&w, &MainWindow::programEnd);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *editor = new QDialog(&w);
        editor->setObjectName(QStringLiteral("jobEditor"));
        editor->show();

        w.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(w.isInTray());
        QVERIFY(!w.isVisible());
        QVERIFY(!editor->isVisible());
        QCOMPARE(editor->result(), int(QDialog::Rejected));
        QVERIFY(w.trayIcon().isVisible());
        QCOMPARE(w.trayIcon().toolTip(), QStringLiteral("Trevalo - Kein geplanter Auftrag"));
        w.setTrayHint(QString(80, u'x'));
        QCOMPARE(w.trayIcon().toolTip().size(), 63);

        QMenu *menu = w.trayIcon().contextMenu();
        QCOMPARE(actionTexts(menu->actions()), QStringList({ "Einstellungen", "-", "Info", "Beenden" }));
        menu->findChild<QAction *>(QStringLiteral("trayShowAction"))->trigger();
        QVERIFY(w.isVisible());
        QVERIFY(!w.isInTray());

        w.close(); // the close button goes to the tray, it does not end the program
        QVERIFY(w.isInTray());
        QCOMPARE(ended.count(), 0);
        menu->findChild<QAction *>(QStringLiteral("trayQuitAction"))->trigger();
        QCOMPARE(ended.count(), 1);
    }

    void testWithoutTrayMinimizesToTaskBar()
    {
        MainWindow &w = makeWindow(false);
        QSignalSpy ended(&w, &MainWindow::programEnd);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        w.close();
        QVERIFY(w.isMinimized());
        QVERIFY(!w.isInTray());
        QVERIFY(!w.trayIcon().isVisible());
        QCOMPARE(ended.count(), 0);
        const QString note = find<QLabel>("statusPanel")->text();
        QVERIFY(note.contains(QStringLiteral("Taskleiste")));

        w.showFromTray();
        QVERIFY(w.isVisible() && !w.isMinimized());
        find<QToolButton>("quitButton")->click(); // nothing else could end it
        QCOMPARE(ended.count(), 1);
    }

    void testMissedRunAskedAtFirstActivationUnlessTheSchedulerRunsElsewhere()
    {
        TAuftrag &a = addJob(QStringLiteral("A"));
        a.autostart = true;
        a.startzeit = QStringLiteral("03:00");
        a.mon = a.die = a.mit = a.don = a.fre = a.sam = a.son = true;
        a.lost_backup_confirm = true;
        QVERIFY(saveJob(a));
        a.next_start = QDateTime(QDate::currentDate().addDays(-1), QTime(3, 0)); // saving computes the next one

        {
            SchedulerLock other(m_dir->path());
            QVERIFY(other.tryLock());
            MainWindow &w = makeWindow();
            w.show();
            QTRY_VERIFY(find<QLabel>("statusPanel")->text().contains(QStringLiteral("trevalo-cli scheduler")));
            QCOMPARE(m_script.asked.size(), 0);
            m_window.reset();
        }

        MainWindow &w = makeWindow();
        m_script.answers = { Answer::No };
        QCOMPARE(m_script.asked.size(), 0); // not before the window is shown
        w.show();
        QTRY_COMPARE(m_script.asked.size(), 1);
        QVERIFY(m_script.texts().first().startsWith(QStringLiteral("Der Auftrag A konnte am ")));
        QVERIFY(a.next_start > QDateTime::currentDateTime());
        QTest::qWait(50);
        QCOMPARE(m_script.asked.size(), 1); // once, not at every activation
    }

    void testCommandLineStart_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("ran");
        QTest::addColumn<bool>("ends");
        QTest::addColumn<QString>("message");
        QTest::newRow("/S: minimized ends after the run") << QStringList { "/m", "/s:a" } << true << true << QString();
        QTest::newRow("/S: shown goes to the tray") << QStringList { "/S:A" } << true << false << QString();
        QTest::newRow("unknown job") << QStringList { "/M", "/S:X" } << false << false
                                     << QStringLiteral("Die angegebene Auftragsdatei ist ungültig.");
    }

    void testCommandLineStart()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, ran);
        QFETCH(bool, ends);
        QFETCH(QString, message);
        TAuftrag &a = addJob(QStringLiteral("A"));
        const StartupState startup = parseCommandLine(arguments, *m_jobs);
        MainWindow &w = makeWindow(true, startup);
        QSignalSpy ended(&w, &MainWindow::programEnd);
        w.show();
        QTRY_VERIFY(w.isInTray() || !a.letzter_start.isEmpty() || !m_script.asked.isEmpty());
        QTest::qWait(20);
        QCOMPARE(!a.letzter_start.isEmpty(), ran);
        QCOMPARE(ended.count(), ends ? 1 : 0);
        QVERIFY(w.isInTray()); // either asked by /M or by the close request after the run
        if (!message.isEmpty())
            QCOMPARE(m_script.texts(), QStringList { message });
        QVERIFY(!w.runInProgress());
    }

    void testQuitDuringARunWaitsForItsCancel_data()
    {
        QTest::addColumn<int>("confirm");
        QTest::addColumn<int>("ends");
        QTest::newRow("cancel confirmed") << int(Answer::Yes) << 1;
        QTest::newRow("run goes on") << int(Answer::No) << 0;
    }

    void testQuitDuringARunWaitsForItsCancel()
    {
        QFETCH(int, confirm);
        QFETCH(int, ends);
        TAuftrag &a = addJob(QStringLiteral("A"));
        a.Start_Meldung = true;
        QVERIFY(saveJob(a));
        MainWindow &w = makeWindow(true);
        QSignalSpy ended(&w, &MainWindow::programEnd);
        selectRow(0);
        m_script.onAsk = [&](const Question &q) {
            if (!q.text.startsWith(QStringLiteral("Der Backupauftrag:")))
                return;
            w.trayIcon().contextMenu()->findChild<QAction *>(QStringLiteral("trayQuitAction"))->trigger();
            QCOMPARE(ended.count(), 0); // never while the run is on the stack
        };
        m_script.answers = { Answer::Ok, Answer::Button(confirm) };
        find<QToolButton>("startButton")->click();

        QCOMPARE(m_script.texts().count(QStringLiteral("Möchten Sie den Sicherungsvorgang wirklich abbrechen?")), 1);
        QCOMPARE(ended.count(), ends);
        QCOMPARE(a.letzte_meldung == QStringLiteral("Abbruch durch Benutzer"), bool(ends));
    }

    void testLogViewPrintAndHelp()
    {
        TAuftrag &a = addJob(QStringLiteral("A"));
        MainWindow &w = makeWindow();
        selectRow(0);
        find<QAction>("viewLogAction")->trigger();
        QVERIFY(m_script.texts().last().contains(QStringLiteral("ist nicht vorhanden")));

        const QString log = path(QStringLiteral("log/protokoll.txt"));
        writeFile(log, "Sicherung gestartet am 10.12.2026\r\nÄnderungen übernommen\r\n");
        UrlSpy viewer;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &viewer, "open");
        find<QAction>("viewLogAction")->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(viewer.opened, QList<QUrl> { QUrl::fromLocalFile(log) });

        QPrinter pdf(QPrinter::HighResolution);
        pdf.setOutputFormat(QPrinter::PdfFormat);
        pdf.setOutputFileName(path(QStringLiteral("protokoll.pdf")));
        QString error;
        QVERIFY(LogPrinter::print(log, a.Drucker, &error, &pdf));
        QVERIFY(TestUtil::readFile(path(QStringLiteral("protokoll.pdf"))).startsWith("%PDF"));
        QVERIFY(!LogPrinter::print(path(QStringLiteral("fehlt.txt")), QString(), &error));
        QVERIFY(error.contains(QStringLiteral("kann nicht gelesen werden")));

        find<QAction>("helpAction")->trigger();
        QVERIFY(m_script.texts().last().startsWith(QStringLiteral("Die Hilfe ist nicht vorhanden")));
        QVERIFY(!w.findChild<HelpWindow *>());
        writeFile(path(QStringLiteral("Doku/index.htm")), "<html><body><h1>Hilfe</h1></body></html>");
        find<QAction>("helpAction")->trigger();
        auto *help = w.findChild<HelpWindow *>();
        QVERIFY(help);
        QCOMPARE(help->windowTitle(), QStringLiteral("Trevalo 3 - Hilfe"));
        QVERIFY(help->findChild<QTextBrowser *>()->toPlainText().contains(QStringLiteral("Hilfe")));
    }

    void testUnwritableScriptsFolderOpensTheChooser()
    {
        MainWindow::Options options;
        options.scriptsBaseFolder = path(QStringLiteral("fehlt")); // no Scripts folder: the write test fails
        options.actions = &m_actions;
        options.schedulerLockFolder = m_dir->path();
        options.trayAvailable = false;
        m_window = std::make_unique<MainWindow>(*m_jobs, options);

        QString chooserTitle;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto *chooser = qobject_cast<ScriptsFolderDialog *>(QApplication::activeModalWidget());
            if (!chooser)
                return;
            chooserTitle = chooser->windowTitle();
            QVERIFY(chooser->folder().endsWith(QStringLiteral("/Trevalo")));
            chooser->findChild<QLineEdit *>(QStringLiteral("folderEdit"))->setText(path(QStringLiteral("neu")));
            QTest::mouseClick(chooser->findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
        });
        answer.start(20);
        m_window->show();
        QTRY_VERIFY(!m_script.asked.isEmpty());
        QCOMPARE(chooserTitle, QStringLiteral("Einstellungen vornehmen"));
        QVERIFY(m_script.texts().first().startsWith(QStringLiteral("Um die neuen Einstellungen zu aktivieren")));
        QCOMPARE(
            SettingsStore::programSettings()->value(QStringLiteral("Scripts")).toString(), path(QStringLiteral("neu")));

        TempFolderDialog temp(QStringLiteral("/var/tmp"));
        QCOMPARE(temp.windowTitle(), QStringLiteral("Temporärer Ordner"));
        QCOMPARE(temp.folder(), QStringLiteral("/var/tmp"));
    }

    // The program itself: a second start ends at once and wakes the first; "/M /S:" runs the job and ends.
    void testTheProgramStartsOnceAndEndsAfterACommandLineRun()
    {
        TAuftrag &a = addJob(QStringLiteral("Abend"));
        const QString stem = a.fileStem;
        QTemporaryDir home;
        QDir().mkpath(home.filePath(QStringLiteral("config/Halvesto-Produkte")));
        writeFile(home.filePath(QStringLiteral("config/Halvesto-Produkte/Backup.conf")),
            "[General]\nScripts=" + m_dir->path().toUtf8() + "\n");
        QDir().mkpath(home.filePath(QStringLiteral("run")));
        QFile::setPermissions(home.filePath(QStringLiteral("run")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const auto start = [&](QProcess &p, const QStringList &args) {
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p.start(QStringLiteral(TREVALO_GUI), args);
            QVERIFY(p.waitForStarted());
        };

        QProcess first;
        start(first, {});
        // Listening means it holds the instance lock.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(home.filePath(QStringLiteral("run/Backup.OneInstance.socket"))), 15000);
        QCOMPARE(first.state(), QProcess::Running);
        QProcess second;
        start(second, { QStringLiteral("/S:Abend") });
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(!QFile::exists(path(QStringLiteral("log/protokoll.txt")))); // the second start ran nothing

        QProcess run;
        start(run, { QStringLiteral("/M"), QStringLiteral("/S:abend") });
        QVERIFY(run.waitForFinished(30000));
        QCOMPARE(run.exitCode(), 0);
        TAuftraege reloaded(path(QStringLiteral("Scripts")));
        reloaded.loadAllJobs();
        QCOMPARE(reloaded.findJobByStem(stem)->letzte_meldung, QStringLiteral("Erfolgreich. Kein Fehler!"));
    }

    void testLayoutStoredAndRestored()
    {
        {
            MainWindow &w = makeWindow();
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QTest::qWait(10);
            w.move(40, 30);
            w.resize(640, 300);
            m_window.reset();
        }
        auto settings = SettingsStore::programSettings();
        QCOMPARE(settings->value(QStringLiteral("Layout/Width")).toInt(), 640);
        QCOMPARE(settings->value(QStringLiteral("Layout/PosX")).toInt(), 40);

        MainWindow &w = makeWindow();
        w.show();
        QTRY_COMPARE(w.size(), QSize(640, 300));
        QCOMPARE(w.pos(), QPoint(40, 30));

        // A place no screen shows any more keeps the window where it can be reached.
        m_window.reset();
        settings->setValue(QStringLiteral("Layout/PosX"), 90000);
        settings->sync();
        MainWindow &far = makeWindow();
        far.show();
        QTRY_COMPARE(far.size(), QSize(640, 300));
        QVERIFY(far.pos().x() < 5000);
    }

    void testSecondInstanceRaisesTheFirst()
    {
        MainWindow &w = makeWindow(true);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.close();
        QVERIFY(w.isInTray());

        SingleInstance first(QStringLiteral("Backup"), m_dir->path());
        QVERIFY(first.tryToRun([&w] { w.showFromTray(); }));
        SingleInstance second(QStringLiteral("Backup"), m_dir->path());
        QVERIFY(!second.tryToRun([] {}));
        QTRY_VERIFY(w.isVisible());
        QVERIFY(!w.isInTray());
    }

    void testInfoBoxRows()
    {
        InfoBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("Info"));
        auto *table = box.findChild<QTableWidget *>(QStringLiteral("versionTable"));
        QStringList labels;
        for (int r = 0; r < table->rowCount(); ++r) {
            labels.append(table->item(r, 0)->text());
            QVERIFY(!table->item(r, 1)->text().isEmpty());
        }
        QCOMPARE(
            labels, QStringList({ "Dateiversion", "Dateibeschreibung", "Produktversion", "Produktname", "Copyright" }));
        QCOMPARE(box.findChild<QLabel *>(QStringLiteral("productLabel"))->text(), QStringLiteral("Trevalo 3"));
    }

    void testMessageBoxButtons_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("click");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes no") << int(Answer::Yes | Answer::No) << QStringList { "&Ja", "&Nein" }
                                << int(QMessageBox::No) << int(Answer::No);
        QTest::newRow("ok cancel") << int(Answer::Ok | Answer::Cancel) << QStringList { "OK", "Abbrechen" }
                                   << int(QMessageBox::Ok) << int(Answer::Ok);
        QTest::newRow("retry ignore cancel") << int(Answer::Retry | Answer::Ignore | Answer::Cancel)
                                             << QStringList { "Wiederholen", "Ignorieren", "Abbrechen" }
                                             << int(QMessageBox::Ignore) << int(Answer::Ignore);
        QTest::newRow("yes no cancel all")
            << int(Answer::Yes | Answer::No | Answer::Cancel | Answer::All)
            << QStringList { "&Ja", "&Nein", "&Alle", "Abbrechen" } << int(QMessageBox::YesToAll) << int(Answer::All);
        QTest::newRow("closed without a choice")
            << int(Answer::Retry | Answer::Ignore | Answer::Cancel) << QStringList() << -1 << int(Answer::Cancel);
    }

    void testMessageBoxButtons()
    {
        QFETCH(int, buttons);
        QFETCH(QStringList, texts);
        QFETCH(int, click);
        QFETCH(int, answer);
        Prompt::setScript(nullptr);
        Question q;
        q.text = QStringLiteral("Frage\rzweite Zeile");
        q.icon = Icon::Warning;
        q.buttons = Answer::Buttons(buttons);

        std::unique_ptr<QMessageBox> box(Prompt::create(nullptr, q));
        QCOMPARE(box->text(), QStringLiteral("Frage\nzweite Zeile"));
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QStringList shown;
        for (QAbstractButton *b : box->buttons())
            shown.append(b->text());
        for (const QString &t : texts)
            QVERIFY2(shown.contains(t), qPrintable(shown.join(u',')));
        if (!texts.isEmpty())
            QCOMPARE(shown.size(), texts.size());

        QTimer::singleShot(0, [click] {
            auto *open = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(open);
            if (click < 0)
                open->reject(); // the window's close button
            else
                QTest::mouseClick(open->button(QMessageBox::StandardButton(click)), Qt::LeftButton);
        });
        QCOMPARE(int(Prompt::ask(nullptr, q)), answer);
    }

    void testLoginDialogAndProgressWindowClose()
    {
        Prompt::setScript(nullptr);
        QString user = QStringLiteral("sicherung");
        QString password;
        QTimer::singleShot(0, [] {
            auto *login = qobject_cast<LoginDialog *>(QApplication::activeModalWidget());
            QVERIFY(login);
            QCOMPARE(login->windowTitle(), QStringLiteral("Anmeldung"));
            QCOMPARE(
                login->findChild<QLineEdit *>(QStringLiteral("loginUserEdit"))->text(), QStringLiteral("sicherung"));
            QTest::keyClicks(
                login->findChild<QLineEdit *>(QStringLiteral("loginPasswordEdit")), QStringLiteral("geheim"));
            login->accept();
        });
        QVERIFY(LoginDialog::ask(nullptr, QString(), QStringLiteral("Datenbank \"Kunden\""), &user, &password));
        QCOMPARE(password, QStringLiteral("geheim"));
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        QVERIFY(!LoginDialog::ask(nullptr, QString(), QString(), &user, &password));
        QCOMPARE(password, QStringLiteral("geheim"));

        // Closing the window of a run in front asks to cancel it; a background run's window just goes.
        ProgressWindow progress;
        RunCancel work;
        progress.setCancel(&work);
        progress.show();
        progress.close();
        QVERIFY(progress.isVisible());
        QVERIFY(work.requested());
        work.reset();
        progress.setCloseHides(true);
        progress.close();
        QVERIFY(!progress.isVisible());
        QVERIFY(!work.requested());
    }

    void testProgressGauges_data()
    {
        QTest::addColumn<qint64>("progress");
        QTest::addColumn<qint64>("maximum");
        QTest::addColumn<int>("percent");
        QTest::newRow("no maximum") << qint64(5) << qint64(0) << 0;
        QTest::newRow("truncated") << qint64(2) << qint64(3) << 66;
        QTest::newRow("beyond 2^31") << qint64(3) * (qint64(1) << 31) << qint64(4) * (qint64(1) << 31) << 75;
        QTest::newRow("over the top") << qint64(7) << qint64(5) << 100;
    }

    void testProgressGauges()
    {
        QFETCH(qint64, progress);
        QFETCH(qint64, maximum);
        QFETCH(int, percent);
        ProgressWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Kopieren"));
        QCOMPARE(window.line(ProgressLine::FolderCaption), QStringLiteral("Verzeichnis"));
        window.setGauge(2, progress, maximum);
        QCOMPARE(window.percent(2), percent);
        window.setLine(ProgressLine::SourceCaption, QStringLiteral("Tabelle"));
        window.reset();
        QCOMPARE(window.line(ProgressLine::SourceCaption), QStringLiteral("Quelldatei:"));
        QCOMPARE(window.percent(2), 0);
    }
};

QTEST_MAIN(TestUi)
#include "tst_ui.moc"
