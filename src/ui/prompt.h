// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes for the engine's questions and the windows' own messages, with scripted answers in tests.
#pragma once

#include "engine/runhost.h"

#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QString>

#include <functional>

class QWidget;

/**
 * Every message box of the program goes through here: a Question becomes a QMessageBox with
 * its text, icon and buttons (German standard texts come from Qt's own translation; Answer::All
 * is the button "&Alle"). Tests install a Script: no box is shown then, each question is
 * recorded and answered from the script, or with its unattended answer when the script has
 * run out.
 */
class Prompt
{
public:
    struct Script {
        QList<Answer::Button> answers;
        QList<Question> asked;
        /// Credentials handed to the login dialog in order; none left means cancelled.
        QList<QPair<QString, QString>> credentials;
        QStringList credentialPrompts;
        /// Called with each question before it is answered (a test acts while the run waits).
        std::function<void(const Question &)> onAsk;

        QStringList texts() const;
    };

    /// Shows the question modally and returns the button pressed (closing the box answers its escape button).
    static Answer::Button ask(QWidget *parent, const Question &question);
    /// A plain message with an OK button.
    static void message(QWidget *parent, const QString &text, const QString &caption = QString());
    /// A confirmation with Yes and No; true on Yes.
    static bool confirm(QWidget *parent, const QString &text);

    /// The box ask() shows, not yet shown (screenshots, tests of the box itself).
    static QMessageBox *create(QWidget *parent, const Question &question);
    static Answer::Button answerOf(int standardButton);

    /// Installs a script (not owned); nullptr shows real boxes again.
    static void setScript(Script *script);
    static Script *script();
};
