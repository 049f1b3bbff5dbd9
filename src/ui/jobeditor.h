// SPDX-License-Identifier: GPL-3.0-or-later
// "Eigenschaften von NAME": the window in which a job is created and changed.
#pragma once

#include <QDialog>

#include <functional>

class DatabasesPage;
class FilesPage;
class GeneralPage;
class LogPage;
class MailOptionsDialog;
class MiscPage;
class QTabWidget;
class SchedulePage;
class SystemActions;
class TargetPage;
class TAuftraege;
class TAuftrag;

/**
 * The job editor: every setting of one job on seven pages, shown without blocking; several
 * can be open at once. It holds the job by its file stem and looks it up when it needs it.
 * "S&peichern" builds an edited copy from the controls and hands it to the core's storeJob();
 * "&Abbrechen" (also Esc, the window's close button and the main window going to the tray)
 * writes nothing and, for a new job, removes it from the job list, so a new job never stays
 * in memory without a file. The editor deletes itself when it closes.
 */
class JobEditor : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JobEditor)

public:
    enum class Mode {
        New, ///< the job was created for this editor and exists only in memory
        Edit
    };
    enum Page { GeneralTab, FilesTab, DatabasesTab, TargetTab, ScheduleTab, LogTab, MiscTab };

    /// What the editor needs of the program around it.
    struct Environment {
        SystemActions *actions = nullptr; ///< starts the test programs; nullptr: the system's own
        std::function<void(const QString &logFile)> viewLog; ///< shows an existing log; empty: the desktop's viewer
        std::function<bool(const TAuftrag &job)> jobRunning; ///< a running job is not stored
        std::function<void(const TAuftrag &job)> stored; ///< after a store (the job list shows it)
    };

    JobEditor(TAuftraege &jobs, TAuftrag &job, Mode mode, const Environment &environment, QWidget *parent = nullptr);

    QString fileStem() const
    {
        return m_stem;
    }
    Mode mode() const
    {
        return m_mode;
    }

    /// A copy of the job with every control written into it: sources and databases in display order.
    TAuftrag editedJob() const;
    /// "S&peichern": false, with the message shown, when the editor stays open.
    bool store();
    /// "&Abbrechen".
    void cancel();
    void reject() override;

    QTabWidget *tabs() const
    {
        return m_tabs;
    }
    /// This editor's own mail options.
    MailOptionsDialog *mailOptions() const
    {
        return m_mail;
    }

protected:
    void showEvent(QShowEvent *event) override;

private:
    TAuftrag *job() const;
    void fill(const TAuftrag &job);
    void applyPageVisibility();
    void listKey(Qt::Key key);
    void editTempFolder();
    void choosePrinter();
    void editLog();
    void openMailOptions();

    TAuftraege &m_jobs;
    QString m_stem;
    Mode m_mode;
    Environment m_env;
    bool m_finished = false;
    QTabWidget *m_tabs;
    GeneralPage *m_general;
    FilesPage *m_files;
    DatabasesPage *m_databases;
    TargetPage *m_target;
    SchedulePage *m_schedule;
    LogPage *m_log;
    MiscPage *m_misc;
    MailOptionsDialog *m_mail;
};

/// The smallest number n from 0 that neither names a job file nor a job of the list (a new
/// job not yet stored holds its number already).
QString unusedJobStem(const TAuftraege &jobs);
