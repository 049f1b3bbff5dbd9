// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mainwindow.h"

#include "app/joblisttext.h"
#include "app/runhooks.h"
#include "app/startup.h"
#include "app/windowlayout.h"
#include "engine/runlog.h"
#include "jobs/germanformat.h"
#include "jobs/tauftraege.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "platform/settingsstore.h"
#include "platform/systemactions.h"
#include "schedule/scheduler.h"
#include "schedule/schedulerloop.h"
#include "ui/dialogs.h"
#include "ui/jobeditor.h"
#include "ui/progresswindow.h"
#include "ui/prompt.h"
#include "ui/widgetrunhost.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace
{

const QString kListHintIdle = QStringLiteral("Übersicht Ihrer Backup Aufträge. \r\n\r\nKlicken Sie auf Einstellungen, "
                                             "um den Auftrag zu bearbeiten oder doppelt, "
                                             "um den Auftrag starten.");
const QString kStartHint = QStringLiteral("Auftrag ausführen (Alt+S)");
const QString kPropertiesHint = QStringLiteral("Einstellungen des Auftrages ändern (Alt+E)");
constexpr int kHintDurationMs = 10000;
constexpr int kTrayTipLength = 63;

enum Column { ColName, ColNextStart, ColSucceeded, ColLastStart, ColStatus };
constexpr int kStemRole = Qt::UserRole;

QString tipText(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t;
}

QIcon icon(const QString &name)
{
    return QIcon(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
}

} // namespace

MainWindow::MainWindow(TAuftraege &jobs, const Options &options, QWidget *parent)
    : QMainWindow(parent)
    , m_jobs(jobs)
    , m_options(options)
    , m_catalog(std::make_unique<ArchiveCatalog>())
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Auftragsübersicht"));
    setWindowIcon(icon(QStringLiteral("trevalo")));

    m_progress = new ProgressWindow(this);
    m_host = std::make_unique<WidgetRunHost>(*this, *m_progress);
    m_host->onCancelWithdrawn = [this] { m_quitAfterRun = false; };
    m_actions = options.actions ? options.actions : &SystemActions::system();
    m_run = std::make_unique<BackupRun>(*m_host, *m_actions, *m_catalog);
    m_scheduler = std::make_unique<Scheduler>(m_jobs, *m_run, *m_host);
    m_scheduler->isMinimized = [this] { return m_inTray || isMinimized(); };
    // A run started inside the restore window's loop would stall until it closes: due jobs wait for it.
    m_scheduler->isHeld = [this] { return m_restoreOpen; };
    m_scheduler->onStart = [this](TAuftrag &job) { beginRun(job); };
    m_scheduler->onEnd = [this](TAuftrag &) {
        --m_runDepth;
        afterRun();
    };
    m_run->setHooks(m_scheduler->runHooks(standardRunHooks()));
    m_loop = std::make_unique<SchedulerLoop>(m_jobs, *m_scheduler, *m_run, options.schedulerLockFolder);
    // Job files changed on disk are taken over by the loop; the list shows them at once.
    m_loop->report = [this](const QString &) {
        const TAuftrag *job = selectedJob();
        fillListView(job ? job->fileStem : QString());
    };
    // A job open in an editor stays as the editor holds it; a new one has no file until it is stored.
    m_loop->editing = [this](const TAuftrag &job) { return jobEditorOf(job.fileStem) != nullptr; };

    buildActions();
    buildWindow();
    buildTray();

    if (!m_catalog->open())
        m_statusNote = m_catalog->errorString() + QStringLiteral(" Alle Dateien gelten als geändert.");
    setStatusText(QString());
    setJobListHint(kListHintIdle);
    updateHint();

    resize(std::max(727, m_listWidth + 4), 362);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    fillListView();
}

MainWindow::~MainWindow()
{
    m_loop->stop();
    if (m_activated)
        storeLayout();
}

QToolButton *MainWindow::makeButton(const QString &name, const QString &text, const QString &iconName)
{
    auto *b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(text);
    b->setIcon(icon(iconName));
    b->setIconSize(QSize(28, 28));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    // 90 x 56, wider only where the caption would not fit in the font of this desktop.
    b->setFixedSize(std::max(90, b->sizeHint().width()), 56);
    b->setToolTipDuration(kHintDurationMs);
    // The menu's shortcuts (Alt+S, Alt+E) do the same; a mnemonic of the button would make them ambiguous.
    b->setShortcut(QKeySequence());
    return b;
}

void MainWindow::buildActions()
{
    const auto make = [this](const char *name, const QString &text, const QKeySequence &key = QKeySequence()) {
        auto *a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty())
            a->setShortcut(key);
        return a;
    };
    m_newAction = make("newAction", QStringLiteral("&Neu"), QKeySequence(Qt::Key_Insert));
    m_deleteAction = make("deleteAction", QStringLiteral("&Löschen"), QKeySequence(Qt::Key_Delete));
    m_propertiesAction = make("propertiesAction", QStringLiteral("&Eigenschaften"), QKeySequence(Qt::ALT | Qt::Key_E));
    m_viewLogAction = make("viewLogAction", QStringLiteral("Protokoll ansehen"), QKeySequence(Qt::ALT | Qt::Key_P));
    m_restoreAction = make("restoreAction", QStringLiteral("Wiederherstellen"));
    m_startAction = make("startAction", QStringLiteral("Auftrag &Starten"), QKeySequence(Qt::ALT | Qt::Key_S));
    m_quitAction = make("quitAction", QStringLiteral("Beenden"), QKeySequence(Qt::ALT | Qt::Key_F4));
    QAction *help = make("helpAction", QStringLiteral("Hilfethemen"), QKeySequence(Qt::Key_F1));
    QAction *updates = make("updatesAction", QStringLiteral("auf Updates prüfen"));
    QAction *info = make("infoAction", QStringLiteral("Info"));

    m_ctxStart = make("contextStartAction", QStringLiteral("&Starten"));
    m_ctxLog = make("contextLogAction", QStringLiteral("&Protokoll"));
    m_ctxRestore = make("contextRestoreAction", QStringLiteral("&Wiederherstellen"));
    m_ctxNew = make("contextNewAction", QStringLiteral("&Neu"));
    m_ctxDelete = make("contextDeleteAction", QStringLiteral("&Löschen"));
    m_ctxProperties = make("contextPropertiesAction", QStringLiteral("&Einstellungen"));

    for (QAction *a : { m_startAction, m_ctxStart })
        connect(a, &QAction::triggered, this, &MainWindow::startSelected);
    for (QAction *a : { m_viewLogAction, m_ctxLog })
        connect(a, &QAction::triggered, this, &MainWindow::viewSelectedLog);
    for (QAction *a : { m_deleteAction, m_ctxDelete })
        connect(a, &QAction::triggered, this, &MainWindow::deleteSelected);
    for (QAction *a : { m_propertiesAction, m_ctxProperties })
        connect(a, &QAction::triggered, this, &MainWindow::openSelectedJob);
    for (QAction *a : { m_newAction, m_ctxNew })
        connect(a, &QAction::triggered, this, &MainWindow::newJob);
    for (QAction *a : { m_restoreAction, m_ctxRestore })
        connect(a, &QAction::triggered, this, &MainWindow::openRestore);
    connect(m_quitAction, &QAction::triggered, this, &MainWindow::quitCommand);
    connect(help, &QAction::triggered, this, &MainWindow::openHelp);
    connect(updates, &QAction::triggered, this, &MainWindow::openUpdatePage);
    connect(info, &QAction::triggered, this, &MainWindow::showInfo);

    QMenu *jobMenu = menuBar()->addMenu(QStringLiteral("&Auftrag"));
    jobMenu->setObjectName(QStringLiteral("jobMenu"));
    jobMenu->addActions({ m_newAction, m_deleteAction, m_propertiesAction, m_viewLogAction });
    jobMenu->addSeparator();
    jobMenu->addActions({ m_restoreAction, m_startAction });
    jobMenu->addSeparator();
    jobMenu->addAction(m_quitAction);
    QMenu *helpMenu = menuBar()->addMenu(QStringLiteral("&Hilfe"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpMenu->addActions({ help, updates });
    helpMenu->addSeparator();
    helpMenu->addAction(info);

    m_contextMenu = new QMenu(this);
    m_contextMenu->setObjectName(QStringLiteral("jobContextMenu"));
    m_contextMenu->addActions({ m_ctxStart, m_ctxLog, m_ctxRestore });
    m_contextMenu->addSeparator();
    m_contextMenu->addActions({ m_ctxNew, m_ctxDelete });
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_ctxProperties);
    connect(m_contextMenu, &QMenu::aboutToShow, this, [this] {
        const bool selected = selectedRow() != nullptr;
        m_ctxStart->setEnabled(selected);
        m_ctxLog->setEnabled(selected);
        m_ctxDelete->setEnabled(selected);
        m_ctxProperties->setEnabled(selected);
        m_ctxRestore->setEnabled(bool(m_restoreOpener));
        m_ctxNew->setEnabled(true);
    });

    m_restoreAction->setEnabled(false);
}

void MainWindow::buildWindow()
{
    auto *central = new QWidget(this);
    auto *topBar = new QWidget(central);
    topBar->setObjectName(QStringLiteral("topBar"));
    topBar->setFixedHeight(62);
    m_startButton
        = makeButton(QStringLiteral("startButton"), QStringLiteral("&Starten"), QStringLiteral("bitbtnstart"));
    m_restoreButton = makeButton(
        QStringLiteral("restoreButton"), QStringLiteral("Wiederherstellen"), QStringLiteral("bitbtnrecover"));
    m_propertiesButton = makeButton(
        QStringLiteral("propertiesButton"), QStringLiteral("&Einstellungen"), QStringLiteral("bitbtnproperty"));
    m_quitButton = makeButton(QStringLiteral("quitButton"), QStringLiteral("Beenden"), QStringLiteral("bitbtnquit"));
    m_quitButton->setToolTip(QStringLiteral("Programm beenden (Alt+F4)"));
    m_restoreButton->setToolTip(QStringLiteral("Daten wiederherstellen"));
    m_restoreButton->setEnabled(false);
    connect(m_startButton, &QToolButton::clicked, this, &MainWindow::startSelected);
    connect(m_restoreButton, &QToolButton::clicked, this, &MainWindow::openRestore);
    connect(m_propertiesButton, &QToolButton::clicked, this, &MainWindow::openSelectedJob);
    connect(m_quitButton, &QToolButton::clicked, this, &MainWindow::quitCommand);
    auto *bar = new QHBoxLayout(topBar);
    bar->setContentsMargins(4, 3, 4, 3);
    bar->setSpacing(2);
    bar->addWidget(m_startButton);
    bar->addWidget(m_restoreButton);
    bar->addWidget(m_propertiesButton);
    bar->addStretch();
    bar->addWidget(m_quitButton);

    m_list = new QTreeWidget(central);
    m_list->setObjectName(QStringLiteral("jobList"));
    m_list->setColumnCount(5);
    m_list->setHeaderLabels({ QStringLiteral("Name"),
        QStringLiteral("Nächster Start"),
        QStringLiteral("Erfolgreich am"),
        QStringLiteral("Letzter Start am"),
        QStringLiteral("Status") });
    // The date columns are at least as wide as a full date stamp in this desktop's font.
    const int stampWidth = m_list->fontMetrics().horizontalAdvance(QStringLiteral("30. Mär. 2026 - 22:00")) + 16;
    const int widths[] = { 140, std::max(120, stampWidth), std::max(120, stampWidth), std::max(120, stampWidth), 200 };
    for (int c = 0; c < 5; ++c)
        m_list->setColumnWidth(c, widths[c]);
    m_listWidth = widths[0] + widths[1] + widths[2] + widths[3] + widths[4];
    m_list->headerItem()->setTextAlignment(ColSucceeded, Qt::AlignRight | Qt::AlignVCenter);
    m_list->headerItem()->setTextAlignment(ColLastStart, Qt::AlignRight | Qt::AlignVCenter);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setIconSize(QSize(16, 16));
    m_list->setAllColumnsShowFocus(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setToolTipDuration(kHintDurationMs);
    connect(m_list, &QTreeWidget::customContextMenuRequested, this, &MainWindow::showContextMenu);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &MainWindow::currentRowChanged);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &MainWindow::currentRowChanged);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &MainWindow::doubleClicked);

    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(topBar);
    layout->addWidget(m_list, 1);
    setCentralWidget(central);

    m_statusPanel = new QLabel(this);
    m_statusPanel->setObjectName(QStringLiteral("statusPanel"));
    m_datePanel = new QLabel(GermanFormat::shortDate(Clock::now().date()), this);
    m_datePanel->setObjectName(QStringLiteral("datePanel"));
    m_clockPanel = new QLabel(GermanFormat::longTime(Clock::now().time()), this);
    m_clockPanel->setObjectName(QStringLiteral("clockPanel"));
    for (QLabel *l : { m_datePanel, m_clockPanel }) {
        l->setFixedWidth(70);
        l->setAlignment(Qt::AlignCenter);
    }
    statusBar()->addWidget(m_statusPanel, 1);
    statusBar()->addPermanentWidget(m_datePanel);
    statusBar()->addPermanentWidget(m_clockPanel);

    m_clock = new QTimer(this);
    connect(m_clock, &QTimer::timeout, this, [this] {
        m_clockPanel->setText(GermanFormat::longTime(Clock::now().time()));
    });
    m_clock->start(1000);
    // Whatever enabled them, the row commands go off within 200 ms once no row is selected.
    m_checkButtons = new QTimer(this);
    connect(m_checkButtons, &QTimer::timeout, this, &MainWindow::checkButtons);
    m_checkButtons->start(200);

    setSelectionActionsEnabled(false);
}

void MainWindow::buildTray()
{
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setObjectName(QStringLiteral("trayIcon"));
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("trayMenu"));
    QAction *show = menu->addAction(QStringLiteral("Einstellungen"));
    show->setObjectName(QStringLiteral("trayShowAction"));
    menu->addSeparator();
    QAction *info = menu->addAction(QStringLiteral("Info"));
    info->setObjectName(QStringLiteral("trayInfoAction"));
    QAction *quit = menu->addAction(QStringLiteral("Beenden"));
    quit->setObjectName(QStringLiteral("trayQuitAction"));
    connect(show, &QAction::triggered, this, &MainWindow::showFromTray);
    connect(info, &QAction::triggered, this, &MainWindow::showInfo);
    connect(quit, &QAction::triggered, this, &MainWindow::endProgram);
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            showFromTray();
    });
}

void MainWindow::fillListView(const QString &fileStem)
{
    m_list->clear();
    QTreeWidgetItem *select = nullptr;
    for (qsizetype i = m_jobs.size() - 1; i >= 0; --i) {
        const TAuftrag &job = *m_jobs.at(i);
        auto *row = new QTreeWidgetItem(m_list);
        row->setData(ColName, kStemRole, job.fileStem);
        row->setText(ColName, job.Name);
        row->setIcon(ColName, icon(job.Status == 0 ? QStringLiteral("status0") : QStringLiteral("status1")));
        row->setText(ColNextStart, JobListText::nextStart(job));
        const bool running = m_run->jobRunning && m_run->currentAuftrag == &job && !m_runningCellText.isEmpty();
        if (running)
            row->setText(ColSucceeded, m_runningCellText);
        else if (m_scheduler->runningAuftraege.contains(job.fileStem, Qt::CaseInsensitive))
            row->setText(ColSucceeded, QStringLiteral("wird ausgeführt"));
        else
            row->setText(ColSucceeded, job.Zuletzt_Ausgefuehrt);
        row->setText(ColLastStart, job.letzter_start);
        row->setText(ColStatus, job.letzte_meldung);
        row->setTextAlignment(ColSucceeded, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(ColLastStart, Qt::AlignRight | Qt::AlignVCenter);
        if (!fileStem.isEmpty() && job.fileStem.compare(fileStem, Qt::CaseInsensitive) == 0)
            select = row;
    }
    if (select) {
        m_list->setCurrentItem(select);
        select->setSelected(true);
    } else {
        m_list->setCurrentItem(nullptr);
        m_list->clearSelection();
    }
    currentRowChanged();
    if (isVisible())
        m_list->setFocus();
}

QTreeWidgetItem *MainWindow::selectedRow() const
{
    const QList<QTreeWidgetItem *> rows = m_list->selectedItems();
    return rows.isEmpty() ? nullptr : rows.first();
}

TAuftrag *MainWindow::selectedJob() const
{
    const QTreeWidgetItem *row = selectedRow();
    return row ? m_jobs.findJobByStem(row->data(ColName, kStemRole).toString()) : nullptr;
}

QTreeWidgetItem *MainWindow::rowOf(const QString &fileStem) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = m_list->topLevelItem(i);
        if (row->data(ColName, kStemRole).toString().compare(fileStem, Qt::CaseInsensitive) == 0)
            return row;
    }
    return nullptr;
}

void MainWindow::setSelectionActionsEnabled(bool enabled)
{
    m_startButton->setEnabled(enabled);
    m_propertiesButton->setEnabled(enabled);
    m_viewLogAction->setEnabled(enabled);
    m_propertiesAction->setEnabled(enabled);
    m_deleteAction->setEnabled(enabled);
    m_startAction->setEnabled(enabled);
}

void MainWindow::currentRowChanged()
{
    const QTreeWidgetItem *row = selectedRow();
    const QString name = row ? row->text(ColName) : QString();
    const bool enabled = !name.isEmpty();
    setSelectionActionsEnabled(enabled);
    m_startButton->setToolTip(enabled ? QStringLiteral("Auftrag \"%1\" sofort starten (Alt+A)").arg(name) : kStartHint);
    m_propertiesButton->setToolTip(
        enabled ? QStringLiteral("Eigenschaften des Auftrages \"%1\" bearbeiten (Alt+E)").arg(name) : kPropertiesHint);
}

void MainWindow::checkButtons()
{
    if (!selectedRow())
        setSelectionActionsEnabled(false);
}

void MainWindow::showContextMenu(const QPoint &pos)
{
    m_contextMenu->popup(m_list->viewport()->mapToGlobal(pos));
}

bool MainWindow::runInProgress() const
{
    return m_runDepth > 0 || m_run->jobRunning;
}

void MainWindow::beginRun(TAuftrag &job)
{
    ++m_runDepth;
    m_runningCellText.clear();
    m_progress->reset();
    m_progress->setCloseHides(job.hintergrundBackup);
    m_options.startup.abortFlag = false;
}

void MainWindow::startJob(TAuftrag &job, BackupRun::StartedBy how)
{
    if (runInProgress()) {
        m_host->showMessage(QStringLiteral("Zur Zeit läuft bereits ein Backupauftrag"));
        return;
    }
    beginRun(job);
    m_run->startAuftrag(job, how);
    --m_runDepth;
    afterRun();
}

// What a run asked of the window while it was under way, done once it has unwound.
void MainWindow::afterRun()
{
    if (m_runDepth > 0)
        return;
    m_runningCellText.clear();
    m_progress->setCloseHides(false);
    if (m_quitAfterRun) {
        m_quitAfterRun = false;
        endProgram();
        return;
    }
    if (m_closeRequested) {
        m_closeRequested = false;
        close();
    }
}

void MainWindow::startSelected()
{
    if (TAuftrag *job = selectedJob())
        startJob(*job);
}

void MainWindow::doubleClicked()
{
    const QTreeWidgetItem *row = selectedRow();
    if (!row)
        return;
    if (!runInProgress()) {
        if (Prompt::confirm(
                this, QStringLiteral("Wollen sie den Sicherungsauftrag \"%1\" starten?").arg(row->text(ColName))))
            startSelected();
        return;
    }
    const TAuftrag *current = m_run->currentAuftrag;
    if (!current || !current->hintergrundBackup) {
        Prompt::message(this, QStringLiteral("Bitte warten Sie, bis der aktuelle Auftrag abgeschlossen ist."));
        return;
    }
    Question q;
    q.text = QStringLiteral("Möchten Sie die Fortschrittsanzeige des zur Zeit ausgeführten Auftrages einblenden?");
    q.icon = Icon::Question;
    q.buttons = Answer::Yes | Answer::No;
    q.unattended = Answer::No;
    if (Prompt::ask(this, q) == Answer::Yes) {
        m_progress->show();
        m_progress->raise();
    }
}

void MainWindow::viewSelectedLog()
{
    if (const TAuftrag *job = selectedJob())
        viewLogFile(RunLog::logFilePath(*job));
}

void MainWindow::viewLogFile(const QString &logFile)
{
    const QString shown = QDir::toNativeSeparators(logFile);
    if (!QFileInfo(logFile).isFile()) {
        Prompt::message(this, QStringLiteral("Das Protokoll \"%1\" ist nicht vorhanden.").arg(shown));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(logFile)))
        Prompt::message(this,
            QStringLiteral("Das Protokoll \"%1\" kann nicht angezeigt werden: Es ist kein Programm zum "
                           "Anzeigen von Textdateien eingerichtet.")
                .arg(shown));
}

JobEditor *MainWindow::newJob()
{
    // The number is free on disk and in the list: another new job may be open in its editor.
    TAuftrag *job = m_jobs.addNewJob(unusedJobStem(m_jobs));
    job->Name = QStringLiteral("Neuer Auftrag");
    return showEditor(*job, true);
}

void MainWindow::openSelectedJob()
{
    // By the row's file stem, not its name: two jobs may have names that differ in case only.
    if (TAuftrag *job = selectedJob())
        openJobEditor(*job);
}

JobEditor *MainWindow::openJobEditor(TAuftrag &job)
{
    // A second editor on the same job would overwrite the first one's changes when both store.
    if (JobEditor *open = jobEditorOf(job.fileStem)) {
        open->show();
        open->raise();
        open->activateWindow();
        return open;
    }
    return showEditor(job, false);
}

JobEditor *MainWindow::showEditor(TAuftrag &job, bool created)
{
    JobEditor::Environment env;
    env.actions = m_actions;
    env.viewLog = [this](const QString &logFile) { viewLogFile(logFile); };
    env.jobRunning = [this](const TAuftrag &j) { return runInProgress() && m_run->currentAuftrag == &j; };
    env.stored = [this](const TAuftrag &j) {
        fillListView(j.fileStem);
        updateHint();
    };
    auto *editor = new JobEditor(m_jobs, job, created ? JobEditor::Mode::New : JobEditor::Mode::Edit, env, this);
    editor->show();
    editor->raise();
    editor->activateWindow();
    return editor;
}

JobEditor *MainWindow::jobEditorOf(const QString &fileStem) const
{
    for (JobEditor *editor : findChildren<JobEditor *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (editor->isVisible() && editor->fileStem().compare(fileStem, Qt::CaseInsensitive) == 0)
            return editor;
    }
    return nullptr;
}

void MainWindow::deleteSelected()
{
    const QTreeWidgetItem *row = selectedRow();
    if (!row)
        return;
    const QString name = row->text(ColName);
    // The job that goes may be another of the same name; none of them may be in use.
    for (qsizetype i = 0; i < m_jobs.size(); ++i) {
        const TAuftrag *job = m_jobs.at(i);
        if (upperAscii(job->Name) != upperAscii(name))
            continue;
        const bool inUse = (runInProgress() && m_run->currentAuftrag == job)
            || m_scheduler->runningAuftraege.contains(job->fileStem, Qt::CaseInsensitive)
            || m_scheduler->waitingAuftraege.contains(job);
        if (inUse) {
            Prompt::message(this,
                QStringLiteral("Der Auftrag \"%1\" wird gerade ausgeführt oder wartet auf seinen Start. "
                               "Er kann erst danach gelöscht werden.")
                    .arg(name));
            return;
        }
        // Its editor would store it again, or hold a job that is gone.
        if (JobEditor *editor = jobEditorOf(job->fileStem)) {
            Prompt::message(this,
                QStringLiteral("Der Auftrag \"%1\" wird gerade bearbeitet. Bitte schließen Sie zuerst das "
                               "Fenster \"%2\".")
                    .arg(name, editor->windowTitle()));
            editor->raise();
            return;
        }
    }
    if (!Prompt::confirm(this, QStringLiteral("Wollen Sie den Auftrag \"%1\" wirklich löschen?").arg(name)))
        return;
    // An idle run still points at its last job, which may be the one that goes now.
    if (!runInProgress())
        m_run->currentAuftrag = nullptr;
    QString error;
    if (!m_jobs.deleteJob(name, &error))
        Prompt::message(this, error);
    fillListView(m_jobs.size() > 0 ? m_jobs.at(0)->fileStem : QString());
}

QStringList MainWindow::restoreChoices(int *selected) const
{
    QStringList choices { QStringLiteral("  -- manuell --  ") };
    for (qsizetype i = 0; i < m_jobs.size(); ++i)
        choices.append(m_jobs.at(i)->Name);
    int index = -1;
    if (m_jobs.size() > 0) {
        index = 0;
        if (const TAuftrag *job = selectedJob()) {
            for (qsizetype i = 0; i < m_jobs.size(); ++i) {
                if (m_jobs.at(i) == job)
                    index = int(i) + 1;
            }
        }
    }
    if (selected)
        *selected = index;
    return choices;
}

void MainWindow::setRestoreOpener(std::function<void(const QStringList &, int)> opener)
{
    m_restoreOpener = std::move(opener);
    const bool available = bool(m_restoreOpener);
    m_restoreButton->setEnabled(available);
    m_restoreAction->setEnabled(available);
}

void MainWindow::openRestore()
{
    if (!m_restoreOpener || m_restoreOpen)
        return;
    // The restore window is modal: opened inside a run's loop it would hold the run until it closes.
    if (runInProgress()) {
        m_host->showMessage(QStringLiteral("Zur Zeit läuft ein Backupauftrag. Bitte stellen Sie Daten wieder her, "
                                           "wenn er beendet ist."));
        return;
    }
    int selected = -1;
    const QStringList choices = restoreChoices(&selected);
    m_restoreOpen = true;
    m_restoreOpener(choices, selected);
    m_restoreOpen = false;
}

void MainWindow::openHelp()
{
    const QString page = HelpWindow::indexPage(m_options.scriptsBaseFolder);
    if (!QFileInfo(page).isFile()) {
        Prompt::message(this,
            QStringLiteral("Die Hilfe ist nicht vorhanden: \"%1\" wurde nicht gefunden.")
                .arg(QDir::toNativeSeparators(page)));
        return;
    }
    auto *help = new HelpWindow(page, this);
    help->show();
}

void MainWindow::openUpdatePage()
{
    if (!QDesktopServices::openUrl(QUrl(Startup::updatePageUrl())))
        Prompt::message(this,
            QStringLiteral("Die Seite \"%1\" kann nicht geöffnet werden: Es ist kein Web-Browser eingerichtet.")
                .arg(Startup::updatePageUrl()));
}

void MainWindow::showInfo()
{
    InfoBox box(isVisible() ? this : nullptr);
    box.exec();
}

void MainWindow::setStatusText(const QString &text)
{
    m_statusPanel->setText(text.isEmpty() ? m_statusNote : text);
}

void MainWindow::setRunningJobCell(const QString &text)
{
    m_runningCellText = text;
    if (!m_run->currentAuftrag)
        return;
    if (QTreeWidgetItem *row = rowOf(m_run->currentAuftrag->fileStem))
        row->setText(ColSucceeded, text);
}

void MainWindow::setTrayHint(const QString &text)
{
    m_trayHint = text;
    m_tray->setToolTip(text.left(kTrayTipLength));
}

void MainWindow::setJobListHint(const QString &text)
{
    m_list->setToolTip(tipText(text));
}

void MainWindow::updateHint()
{
    setTrayHint(m_scheduler->scheduleHint());
}

void MainWindow::requestCloseAfterRun()
{
    m_closeRequested = true;
}

void MainWindow::closeJobEditors()
{
    // The job editor (its own window class) names itself "jobEditor"; closing it like this stores nothing.
    for (QDialog *editor : findChildren<QDialog *>(QStringLiteral("jobEditor"))) {
        if (editor->isVisible())
            editor->reject();
    }
}

void MainWindow::minimizeToTray()
{
    closeJobEditors();
    updateHint();
    if (trayAvailable()) {
        m_inTray = true;
        m_tray->show();
        hide();
        return;
    }
    if (!m_noTraySaid) {
        m_noTraySaid = true;
        m_statusNote = QStringLiteral("Kein Infobereich vorhanden: Trevalo wird in die Taskleiste minimiert.");
        setStatusText(QString());
    }
    if (!isMinimized())
        showMinimized();
}

bool MainWindow::trayAvailable() const
{
    return m_options.trayAvailable.value_or(QSystemTrayIcon::isSystemTrayAvailable());
}

void MainWindow::showFromTray()
{
    m_tray->hide();
    m_inTray = false;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::quitCommand()
{
    // Without a tray there is no tray menu to end the program from: "Beenden" ends it.
    if (!trayAvailable()) {
        endProgram();
        return;
    }
    close();
}

void MainWindow::endProgram()
{
    if (m_ending)
        return;
    if (runInProgress()) {
        // The run asks its own question whether to cancel; a No keeps the run and the program.
        m_quitAfterRun = true;
        m_run->cancel().request();
        setStatusText(QStringLiteral("Trevalo wird beendet, sobald der Auftrag abgebrochen ist ..."));
        return;
    }
    m_ending = true;
    m_loop->stop();
    m_tray->hide();
    storeLayout();
    emit programEnd();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (m_ending) {
        event->accept();
        return;
    }
    if (m_inTray || (!trayAvailable() && isMinimized())) {
        endProgram();
        return;
    }
    updateHint();
    minimizeToTray();
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_ending) {
        if (trayAvailable() && !m_inTray) {
            // Hiding inside the state change confuses some window managers: do it right after.
            QTimer::singleShot(0, this, [this] {
                if (isMinimized() && !m_inTray) {
                    setWindowState(windowState() & ~Qt::WindowMinimized);
                    minimizeToTray();
                }
            });
        } else if (!trayAvailable()) {
            minimizeToTray();
        }
    } else if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        updateHint();
    }
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_activated)
        QTimer::singleShot(0, this, &MainWindow::firstActivation);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    updateHint();
}

bool MainWindow::event(QEvent *event)
{
    if (event->type() == QEvent::Hide)
        updateHint();
    return QMainWindow::event(event);
}

void MainWindow::firstActivation()
{
    if (m_activated)
        return;
    m_activated = true;
    const QString base = m_options.scriptsBaseFolder;
    if (!Startup::checkScriptsFolderWritable(base)) {
        ScriptsFolderDialog chooser(this);
        chooser.exec();
        Prompt::message(this,
            QStringLiteral("Um die neuen Einstellungen zu aktivieren, muss das Programm neu gestartet "
                           "werden. Bitte beenden Sie Trevalo und starten es erneut."));
    }
    restoreLayout();

    StartupState &startup = m_options.startup;
    if (startup.abortFlag) {
        Prompt::message(this,
            startup.commandLineErrorCode == 2 ? QStringLiteral("Die angegebene Auftragsdatei ist ungültig.")
                                              : QStringLiteral("Es ist ein Fehler aufgetreten!"));
        // Said once; the scheduled jobs still run (a mistyped job name must not stop them).
        startup.abortFlag = false;
    }
    startScheduler();
    if (startup.startMinimized) {
        startup.startMinimized = false;
        minimizeToTray();
    }
    if (startup.commandLineStart && startup.currentAuftrag) {
        startup.commandLineStart = false;
        startup.closeAfterRun = true;
        startJob(*startup.currentAuftrag, BackupRun::StartedBy::CommandLine);
        startup.closeAfterRun = false;
    }
}

void MainWindow::startScheduler()
{
    if (m_schedulerStarted)
        return;
    m_schedulerStarted = true;
    if (!m_loop->tryLock()) {
        m_statusNote = QStringLiteral(
            "Die geplanten Aufträge startet zur Zeit \"trevalo-cli scheduler\", nicht dieses Fenster.");
        setStatusText(QString());
        return;
    }
    m_loop->start();
    updateHint();
}

void MainWindow::restoreLayout()
{
    auto settings = SettingsStore::programSettings();
    const WindowLayout layout = readWindowLayout(*settings);
    QRect frame(pos(), size());
    if (layout.posX)
        frame.moveLeft(*layout.posX);
    if (layout.posY)
        frame.moveTop(*layout.posY);
    if (layout.width && *layout.width > 0)
        frame.setWidth(*layout.width);
    if (layout.height && *layout.height > 0)
        frame.setHeight(*layout.height);
    // A place on a screen that is no longer there would leave a window nobody can reach.
    bool reachable = false;
    for (const QScreen *screen : QGuiApplication::screens())
        reachable = reachable || screen->availableGeometry().intersects(QRect(frame.topLeft(), QSize(60, 30)));
    if (reachable)
        move(frame.topLeft());
    resize(frame.size());
}

void MainWindow::storeLayout()
{
    if (!m_options.saveLayout)
        return;
    auto settings = SettingsStore::programSettings();
    writeWindowLayout(*settings, pos().x(), pos().y(), width(), height());
}
