// SPDX-License-Identifier: GPL-3.0-or-later
// A RunHost for tests: answers from a script, records every call.
#pragma once

#include "engine/runhost.h"
#include "platform/systemactions.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>

class ScriptedRunHost : public RunHost
{
public:
    /// Answers given in order; when they run out, the question's unattended answer.
    QList<Answer::Button> answers;
    /// Every question asked, in order.
    QList<Question> questions;
    /// Every plain message, in order.
    QStringList messages;
    /// Lines set on the progress window, as "n:text".
    QStringList progressLines;
    QStringList viewedLogs;
    QStringList printedLogs;
    bool progressVisible = false;
    bool everShowedProgress = false;
    int closeRequests = 0;
    RunCancel *work = nullptr; ///< the cancel state of the work under way
    bool cancelLeftPending = false; ///< the last work ended with its cancel request still open
    /// The cancel button: requests a cancel of the work under way.
    void pressCancel()
    {
        if (work)
            work->request();
    }
    /// Called on every processEvents(), e.g. to press the cancel button after the first file.
    std::function<void(ScriptedRunHost &)> onProcessEvents;
    /// Called before a question is answered (may change the world, e.g. free the target).
    std::function<void(const Question &)> onAsk;

    Answer::Button ask(const Question &q) override
    {
        questions.append(q);
        if (onAsk)
            onAsk(q);
        return answers.isEmpty() ? q.unattended : answers.takeFirst();
    }
    /// Credentials handed out in order; none left means the user cancelled.
    QList<QPair<QString, QString>> credentials;
    QStringList credentialPrompts;
    QList<QPair<QString, QString>> credentialPresets; ///< what the fields held when asked
    bool askCredentials(const QString &caption, const QString &text, QString *user, QString *password) override
    {
        credentialPrompts.append(caption + u'|' + text);
        credentialPresets.append({ *user, *password });
        if (credentials.isEmpty())
            return false;
        const auto c = credentials.takeFirst();
        *user = c.first;
        *password = c.second;
        return true;
    }
    void showMessage(const QString &text, const QString &) override
    {
        messages.append(text);
    }
    void setProgressVisible(bool visible) override
    {
        progressVisible = visible;
        everShowedProgress = everShowedProgress || visible;
    }
    void setProgressLine(ProgressLine line, const QString &text) override
    {
        progressLines.append(QString::number(int(line)) + u':' + text);
    }
    void setGauge(int, qint64, qint64) override
    {
    }
    void setCancel(RunCancel *cancel) override
    {
        if (!cancel && work)
            cancelLeftPending = work->requested();
        work = cancel;
    }
    void setStatusText(const QString &) override
    {
    }
    void setJobProgressText(const QString &) override
    {
    }
    void setTrayHint(const QString &) override
    {
    }
    void setJobListHint(const QString &) override
    {
    }
    void refreshJobList(const QString &) override
    {
    }
    void viewLog(const QString &logFile) override
    {
        viewedLogs.append(logFile);
    }
    void printLog(const QString &logFile, const QString &) override
    {
        printedLogs.append(logFile);
    }
    void requestClose() override
    {
        ++closeRequests;
    }
    void processEvents() override
    {
        if (onProcessEvents)
            onProcessEvents(*this);
    }

    QStringList questionTexts() const
    {
        QStringList t;
        for (const Question &q : questions)
            t.append(q.text);
        return t;
    }
};

/// Records what a run would do to the machine; a test must never eject or shut down.
class RecordingActions : public SystemActions
{
public:
    QStringList calls;
    bool ejectSucceeds = true;

    bool startProgram(const QString &program, const QString &parameters, bool wait) override
    {
        calls.append(QStringLiteral("start %1 [%2] %3").arg(program, parameters, wait ? QStringLiteral("wait") : QString()));
        return true;
    }
    bool ejectMedium(const QString &path, QString *error) override
    {
        calls.append(QStringLiteral("eject ") + path);
        if (!ejectSucceeds && error)
            *error = QStringLiteral("Could not eject disk!");
        return ejectSucceeds;
    }
    bool shutdown() override
    {
        calls.append(QStringLiteral("shutdown"));
        return true;
    }
};
