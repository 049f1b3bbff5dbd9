// SPDX-License-Identifier: GPL-3.0-or-later
// The main window "Auftragsübersicht": job list, commands, status bar, tray and the scheduler.
#pragma once

#include "app/commandline.h"
#include "engine/backuprun.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>

class ArchiveCatalog;
class JobEditor;
class ProgressWindow;
class QAction;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class Scheduler;
class SchedulerLoop;
class SystemActions;
class TAuftraege;
class TAuftrag;
class WidgetRunHost;

/**
 * The program's one permanent window. It owns the run, the scheduler loop and the progress
 * window; every run happens inside its event loop, so every command that could start a
 * second run or free a job in use checks runInProgress() first. Closing it hides it into
 * the tray (or, without a tray, minimizes it to the task bar); the program ends by
 * "Beenden" of the tray menu or a close request while the window is in the tray, and says
 * so through programEnd().
 */
class MainWindow : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    struct Options {
        QString scriptsBaseFolder; ///< where Doku/ lives; the scripts folder is the job list's
        StartupState startup; ///< what the command line asked for
        SystemActions *actions = nullptr; ///< nullptr: the system's own
        QString schedulerLockFolder; ///< empty: the runtime folder
        std::optional<bool> trayAvailable; ///< unset: ask the desktop
        bool saveLayout = true; ///< store position and size when the window goes
    };

    MainWindow(TAuftraege &jobs, const Options &options, QWidget *parent = nullptr);
    ~MainWindow() override;

    /// Rebuilds the job list (last job first) and selects the row of the job with this file stem.
    void fillListView(const QString &fileStem = QString());
    /// Runs a job as the "Starten" button does (how: by the user or from the command line).
    void startJob(TAuftrag &job, BackupRun::StartedBy how = BackupRun::StartedBy::User);
    /// A run (or the start of one) is under way.
    bool runInProgress() const;

    void setStatusText(const QString &text);
    void setRunningJobCell(const QString &text);
    void setTrayHint(const QString &text);
    void setJobListHint(const QString &text);
    void viewLogFile(const QString &logFile);
    void requestCloseAfterRun();

    /// Creates a job "Neuer Auftrag" (kept in memory until it is stored) and opens the editor on it.
    JobEditor *newJob();
    /// Opens the editor on a job, or brings the one already open on it to the front.
    JobEditor *openJobEditor(TAuftrag &job);
    /// The open editor of the job with this file stem, or nullptr.
    JobEditor *jobEditorOf(const QString &fileStem) const;

    /// Closes open job editors without storing, then hides into the tray (or minimizes to the task bar).
    void minimizeToTray();
    /// Shows the window again from the tray or the task bar, in front.
    void showFromTray();
    bool isInTray() const
    {
        return m_inTray;
    }
    /// Asked each time: a tray host may appear after the program has started.
    bool trayAvailable() const;

    /// The job choice of the restore dialog: "  -- manuell --  " and every job name; *selected: the selected job's
    /// entry.
    QStringList restoreChoices(int *selected) const;
    /// Opens the restore dialog with its choices; until set, the restore commands are disabled. While it is
    /// open, scheduled jobs wait in the queue; during a run it is not opened.
    void setRestoreOpener(std::function<void(const QStringList &choices, int selected)> opener);

    BackupRun &run()
    {
        return *m_run;
    }
    Scheduler &scheduler()
    {
        return *m_scheduler;
    }
    ProgressWindow &progressWindow()
    {
        return *m_progress;
    }
    WidgetRunHost &host()
    {
        return *m_host;
    }
    QSystemTrayIcon &trayIcon()
    {
        return *m_tray;
    }
    QMenu &contextMenu()
    {
        return *m_contextMenu;
    }

    /// The steps of the first activation (also run by the first show, where no activation comes).
    void firstActivation();

signals:
    /// The program is to end now.
    void programEnd();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildActions();
    void buildWindow();
    void buildTray();
    QToolButton *makeButton(const QString &name, const QString &text, const QString &icon);
    void currentRowChanged();
    void checkButtons();
    void showContextMenu(const QPoint &pos);
    void setSelectionActionsEnabled(bool enabled);
    void updateHint();
    QTreeWidgetItem *selectedRow() const;
    TAuftrag *selectedJob() const;
    QTreeWidgetItem *rowOf(const QString &fileStem) const;

    void startSelected();
    void doubleClicked();
    void viewSelectedLog();
    void openSelectedJob();
    JobEditor *showEditor(TAuftrag &job, bool created);
    void deleteSelected();
    void openRestore();
    void openHelp();
    void openUpdatePage();
    void showInfo();
    void quitCommand();
    void endProgram();
    void beginRun(TAuftrag &job);
    void afterRun();
    void closeJobEditors();
    void startScheduler();
    void restoreLayout();
    void storeLayout();

    TAuftraege &m_jobs;
    Options m_options;
    std::unique_ptr<ArchiveCatalog> m_catalog;
    SystemActions *m_actions = nullptr;
    ProgressWindow *m_progress = nullptr;
    std::unique_ptr<WidgetRunHost> m_host;
    std::unique_ptr<BackupRun> m_run;
    std::unique_ptr<Scheduler> m_scheduler;
    std::unique_ptr<SchedulerLoop> m_loop;

    QTreeWidget *m_list = nullptr;
    QToolButton *m_startButton = nullptr;
    QToolButton *m_restoreButton = nullptr;
    QToolButton *m_propertiesButton = nullptr;
    QToolButton *m_quitButton = nullptr;
    QLabel *m_statusPanel = nullptr;
    QLabel *m_datePanel = nullptr;
    QLabel *m_clockPanel = nullptr;
    QMenu *m_contextMenu = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    QTimer *m_checkButtons = nullptr;
    QTimer *m_clock = nullptr;

    QAction *m_newAction = nullptr;
    QAction *m_deleteAction = nullptr;
    QAction *m_propertiesAction = nullptr;
    QAction *m_viewLogAction = nullptr;
    QAction *m_restoreAction = nullptr;
    QAction *m_startAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_ctxStart = nullptr;
    QAction *m_ctxLog = nullptr;
    QAction *m_ctxRestore = nullptr;
    QAction *m_ctxNew = nullptr;
    QAction *m_ctxDelete = nullptr;
    QAction *m_ctxProperties = nullptr;

    std::function<void(const QStringList &, int)> m_restoreOpener;
    bool m_restoreOpen = false; ///< the restore window is open: scheduled jobs wait
    bool m_inTray = false;
    bool m_noTraySaid = false;
    bool m_activated = false;
    bool m_schedulerStarted = false;
    int m_runDepth = 0;
    int m_listWidth = 0;
    bool m_closeRequested = false; ///< a command-line start asked to close when its run has ended
    bool m_quitAfterRun = false; ///< the program is to end when the run has been cancelled
    bool m_ending = false;
    QString m_trayHint;
    QString m_statusNote; ///< shown in the status panel whenever no run writes there
    QString m_runningCellText; ///< the running job's progress cell, kept over a refill of the list
};
