// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's user on a terminal: questions on standard error, answers from the command line.
#pragma once

#include "engine/runhost.h"

#include <QElapsedTimer>
#include <QList>

/**
 * Prints every question and message to standard error. A question takes the next answer
 * given with --answer when it is one of the buttons offered; else, on a terminal, it asks
 * for one; else it takes the question's unattended answer, which never loses data.
 * Ctrl-C requests a cancel, as the progress window's button does.
 */
class TerminalRunHost : public RunHost
{
public:
    explicit TerminalRunHost(const QList<Answer::Button> &answers);

    /// Parses "ok", "cancel", "yes", "no", "retry", "ignore", "all"; None for anything else.
    static Answer::Button parseAnswer(const QString &word);
    /// Routes SIGINT and SIGTERM to a cancel request.
    static void installInterruptHandler();
    /// SIGINT or SIGTERM came since the handler was installed (never cleared: the program is to end).
    static bool quitRequested();

    Answer::Button ask(const Question &question) override;
    /// The last question took its unattended answer: no --answer was left and nobody could be asked.
    bool lastAnswerUnattended() const
    {
        return m_lastUnattended;
    }
    bool askCredentials(const QString &caption, const QString &text, QString *user, QString *password) override;
    void showMessage(const QString &text, const QString &caption) override;
    void setProgressVisible(bool visible) override;
    void setProgressLine(ProgressLine line, const QString &text) override;
    void setGauge(int gauge, qint64 progress, qint64 maximum) override;
    void setCancel(RunCancel *cancel) override;
    void viewLog(const QString &logFile) override;
    void printLog(const QString &logFile, const QString &printer) override;
    void processEvents() override;

private:
    void clearProgressLine();
    void passInterrupt();
    void drawProgress();

    QList<Answer::Button> m_answers;
    RunCancel *m_cancel = nullptr;
    bool m_stderrIsTerminal;
    bool m_stdinIsTerminal;
    bool m_progressShown = false;
    bool m_lastUnattended = false;
    QString m_folder;
    QString m_fileCount;
    int m_percent = 0;
    QElapsedTimer m_lastDraw;
};
