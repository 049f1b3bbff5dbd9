// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/widgetrunhost.h"

#include "ui/dialogs.h"
#include "ui/logprinter.h"
#include "ui/mainwindow.h"
#include "ui/progresswindow.h"
#include "ui/prompt.h"

#include <QApplication>

DialogRunHost::DialogRunHost(QWidget &progress)
    : m_progressWindow(progress)
{
}

Answer::Button DialogRunHost::ask(const Question &question)
{
    return Prompt::ask(dialogParent(), question);
}

bool DialogRunHost::askCredentials(const QString &caption, const QString &text, QString *user, QString *password)
{
    return LoginDialog::ask(dialogParent(), caption, text, user, password);
}

void DialogRunHost::showMessage(const QString &text, const QString &caption)
{
    Prompt::message(dialogParent(), text, caption);
}

void DialogRunHost::setProgressVisible(bool visible)
{
    if (visible) {
        m_progressWindow.show();
        m_progressWindow.raise();
    } else {
        m_progressWindow.hide();
    }
}

WidgetRunHost::WidgetRunHost(MainWindow &window, ProgressWindow &progress)
    : DialogRunHost(progress)
    , m_window(window)
    , m_progress(progress)
{
}

QWidget *WidgetRunHost::dialogParent() const
{
    if (m_progress.isVisible())
        return &m_progress;
    return m_window.isVisible() ? static_cast<QWidget *>(&m_window) : nullptr;
}

Answer::Button WidgetRunHost::ask(const Question &question)
{
    // Asked while a cancel is pending, a No is the answer to "really cancel?": the run goes on.
    const bool cancelPending = m_progress.cancelRequested();
    const Answer::Button answer = DialogRunHost::ask(question);
    if (cancelPending && answer == Answer::No && onCancelWithdrawn)
        onCancelWithdrawn();
    return answer;
}

void WidgetRunHost::setProgressLine(ProgressLine line, const QString &text)
{
    m_progress.setLine(line, text);
}

void WidgetRunHost::setGauge(int gauge, qint64 progress, qint64 maximum)
{
    m_progress.setGauge(gauge, progress, maximum);
}

void WidgetRunHost::setCancel(RunCancel *cancel)
{
    m_progress.setCancel(cancel);
}

void WidgetRunHost::processEvents()
{
    QApplication::processEvents(QEventLoop::AllEvents, 50);
}

void WidgetRunHost::setStatusText(const QString &text)
{
    m_window.setStatusText(text);
}

void WidgetRunHost::setJobProgressText(const QString &text)
{
    m_window.setRunningJobCell(text);
}

void WidgetRunHost::setTrayHint(const QString &text)
{
    m_window.setTrayHint(text);
}

void WidgetRunHost::setJobListHint(const QString &text)
{
    m_window.setJobListHint(text);
}

void WidgetRunHost::refreshJobList(const QString &fileStem)
{
    m_window.fillListView(fileStem);
}

void WidgetRunHost::viewLog(const QString &logFile)
{
    m_window.viewLogFile(logFile);
}

void WidgetRunHost::printLog(const QString &logFile, const QString &printer)
{
    QString error;
    if (!LogPrinter::print(logFile, printer, &error))
        showMessage(error);
}

void WidgetRunHost::requestClose()
{
    m_window.requestCloseAfterRun();
}

void WidgetRunHost::minimizeMainWindow()
{
    m_window.minimizeToTray();
}
