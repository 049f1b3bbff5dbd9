// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of a run: message boxes, the login dialog, the progress window, the main window's cells.
#pragma once

#include "engine/runhost.h"

#include <functional>

class MainWindow;
class ProgressWindow;
class QWidget;

/**
 * What the windows' hosts share: questions become message boxes (Prompt) and credentials the
 * login dialog, over the window dialogParent() names; the progress window is shown and hidden.
 */
class DialogRunHost : public RunHost
{
public:
    explicit DialogRunHost(QWidget &progress);

    Answer::Button ask(const Question &question) override;
    bool askCredentials(const QString &caption, const QString &text, QString *user, QString *password) override;
    void showMessage(const QString &text, const QString &caption = QString()) override;
    void setProgressVisible(bool visible) override;

protected:
    /// The progress window while it is shown, else the window the work was started from.
    virtual QWidget *dialogParent() const = 0;

private:
    QWidget &m_progressWindow;
};

/**
 * The main window's host: dialogs over the progress window while it is shown, else over the
 * main window; the progress calls go to the progress window, the notifications to the main window.
 */
class WidgetRunHost : public DialogRunHost
{
public:
    WidgetRunHost(MainWindow &window, ProgressWindow &progress);

    Answer::Button ask(const Question &question) override;

    void setProgressLine(ProgressLine line, const QString &text) override;
    void setGauge(int gauge, qint64 progress, qint64 maximum) override;
    void setCancel(RunCancel *cancel) override;
    void processEvents() override;

    void setStatusText(const QString &text) override;
    void setJobProgressText(const QString &text) override;
    void setTrayHint(const QString &text) override;
    void setJobListHint(const QString &text) override;
    void refreshJobList(const QString &fileStem) override;
    void viewLog(const QString &logFile) override;
    void printLog(const QString &logFile, const QString &printer) override;
    void requestClose() override;
    void minimizeMainWindow() override;

    /// Told when a question asked while a cancel was pending is answered No (the run is to go on).
    std::function<void()> onCancelWithdrawn;

protected:
    QWidget *dialogParent() const override;

private:
    MainWindow &m_window;
    ProgressWindow &m_progress;
};
