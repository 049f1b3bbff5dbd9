// SPDX-License-Identifier: GPL-3.0-or-later
// The one way the backup engine reaches the user.
#pragma once

#include <QFlags>
#include <QString>

#include <atomic>

namespace Answer {
enum Button {
    None = 0,
    Ok = 0x1,
    Cancel = 0x2,
    Yes = 0x4,
    No = 0x8,
    Retry = 0x10,
    Ignore = 0x20,
    All = 0x40,
};
Q_DECLARE_FLAGS(Buttons, Button)
} // namespace Answer
Q_DECLARE_OPERATORS_FOR_FLAGS(Answer::Buttons)

enum class Icon { None, Information, Warning, Error, Question };

/// A question the engine asks: text, icon, the buttons offered and the answer of an unattended run.
struct Question {
    QString text;
    Icon icon = Icon::None;
    Answer::Buttons buttons = Answer::Ok;
    /// What a run without anybody to ask takes: never the answer that loses data.
    Answer::Button unattended = Answer::Ok;
    QString caption;
    /// Its Yes confirms a cancel the user asked for: a program told to end without anybody to ask takes Yes.
    bool confirmsCancel = false;
};

/// The lines of the progress window ("Kopieren").
enum class ProgressLine {
    SourceCaption = 1, ///< "Quelldatei:" (Label1)
    Source = 2,        ///< file being read (Label2)
    TargetCaption = 3, ///< "Zieldatei:" (Label3)
    Target = 4,        ///< file being written (Label4)
    FolderCaption = 5, ///< "Verzeichnis" (Label5)
    Folder = 6,        ///< directory or database being saved (Label6)
    FileCount = 7,     ///< "Datei 3 von 12" (Label7)
    FolderCount = 8,   ///< "Verzeichnis 1 von 2" (Label8)
};

/**
 * The cancel state of one piece of work (a backup run, a restore): the one place that says
 * whether it is to end. The front end requests a cancel (the progress window's button,
 * Ctrl-C, a stop signal); the work asks "really?" at its next step and then withdraws the
 * request or ends. A failure or a No at an error stops the work without any request.
 */
class RunCancel
{
public:
    /// The user asked to cancel. Safe to call from a signal handler.
    void request() noexcept
    {
        m_requested.store(true, std::memory_order_relaxed);
    }
    /// The user took the request back (No to the confirmation).
    void withdraw() noexcept
    {
        m_requested.store(false, std::memory_order_relaxed);
    }
    bool requested() const noexcept
    {
        return m_requested.load(std::memory_order_relaxed);
    }
    /// The work ends after its current step.
    void stop() noexcept
    {
        m_stopped = true;
    }
    bool stopped() const noexcept
    {
        return m_stopped;
    }
    /// A new start: nothing requested, nothing stopped.
    void reset() noexcept
    {
        withdraw();
        m_stopped = false;
    }

private:
    std::atomic<bool> m_requested{false};
    bool m_stopped = false;
};

/// The questions of a run: every front end must answer them (a run without anybody to ask takes Question::unattended).
class RunQuestions
{
public:
    virtual ~RunQuestions() = default;

    /// Asks and returns the button pressed (a closed dialog answers Cancel, or No without Cancel).
    virtual Answer::Button ask(const Question &question) = 0;
    /**
     * Asks for a user name and password (fields preset with *user and *password).
     * False when the user cancels or nobody can be asked.
     */
    virtual bool askCredentials(const QString &caption, const QString &text, QString *user, QString *password) = 0;
    /// A plain message with an OK button.
    virtual void showMessage(const QString &text, const QString &caption = QString()) = 0;
};

/**
 * The progress of a run: the progress window's lines, gauges and cancel button, and the
 * keep-alive. The run executes on the caller's thread and calls processEvents() often
 * enough that a window repaints and its cancel button works.
 */
class RunProgress
{
public:
    virtual ~RunProgress() = default;

    virtual void setProgressVisible(bool visible) = 0;
    virtual void setProgressLine(ProgressLine line, const QString &text) = 0;
    /// gauge 1: files of the current folder; gauge 2: the whole run.
    virtual void setGauge(int gauge, qint64 progress, qint64 maximum) = 0;
    /**
     * The cancel state of the work under way, set when it starts and cleared (nullptr) when it
     * ends: the front end's cancel request goes there.
     */
    virtual void setCancel(RunCancel *cancel) = 0;
    virtual void processEvents() = 0;
};

/// Hands a fresh cancel state to the front end for the lifetime of one piece of work.
class CancelScope
{
public:
    CancelScope(RunProgress &progress, RunCancel &cancel)
        : m_progress(progress)
    {
        cancel.reset();
        m_progress.setCancel(&cancel);
    }
    ~CancelScope()
    {
        m_progress.setCancel(nullptr);
    }
    CancelScope(const CancelScope &) = delete;
    CancelScope &operator=(const CancelScope &) = delete;

private:
    RunProgress &m_progress;
};

/**
 * What a run tells the main window and the tray. Each does nothing by default: a front end
 * without a window implements only what it shows.
 */
class RunNotifications
{
public:
    virtual ~RunNotifications() = default;

    /// First panel of the status bar.
    virtual void setStatusText(const QString &)
    {
    }
    /// Progress cell ("Erfolgreich am") of the running job's row.
    virtual void setJobProgressText(const QString &)
    {
    }
    virtual void setTrayHint(const QString &)
    {
    }
    virtual void setJobListHint(const QString &)
    {
    }
    /// The job list shows the job files again, the row of fileStem selected.
    virtual void refreshJobList(const QString &)
    {
    }
    /// Opens the log in the text viewer; does not wait.
    virtual void viewLog(const QString &)
    {
    }
    /// Prints the log on the named printer (empty: the default one).
    virtual void printLog(const QString &, const QString &)
    {
    }
    /// The end of a command-line start asks the main window to close.
    virtual void requestClose()
    {
    }
    virtual void minimizeMainWindow()
    {
    }
};

/**
 * The whole user side of a run, as the main window (widgets), trevalo-cli (terminal) and
 * tests (scripted answers, every call recorded) give it.
 */
class RunHost : public RunQuestions, public RunProgress, public RunNotifications
{
};
