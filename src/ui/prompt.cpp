// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/prompt.h"

#include <QAbstractButton>
#include <QCoreApplication>

namespace
{

Prompt::Script *s_script = nullptr;

struct ButtonMap {
    Answer::Button answer;
    QMessageBox::StandardButton button;
};

// In the order the boxes offer them.
constexpr ButtonMap kButtons[] = {
    { Answer::Yes, QMessageBox::Yes },
    { Answer::No, QMessageBox::No },
    { Answer::Ok, QMessageBox::Ok },
    { Answer::Retry, QMessageBox::Retry },
    { Answer::Ignore, QMessageBox::Ignore },
    { Answer::All, QMessageBox::YesToAll },
    { Answer::Cancel, QMessageBox::Cancel },
};

QString defaultCaption(Icon icon)
{
    switch (icon) {
    case Icon::Information:
        return QStringLiteral("Information");
    case Icon::Warning:
        return QStringLiteral("Warnung");
    case Icon::Error:
        return QStringLiteral("Fehler");
    case Icon::Question:
        return QStringLiteral("Bestätigen");
    case Icon::None:
        break;
    }
    return QStringLiteral("Trevalo");
}

QMessageBox::Icon boxIcon(Icon icon)
{
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Warning:
        return QMessageBox::Warning;
    case Icon::Error:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// The engine's texts break lines with "\r" or "\r\n", as the old dialogs did.
QString displayText(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(u'\r', u'\n');
    return t;
}

} // namespace

QStringList Prompt::Script::texts() const
{
    QStringList t;
    for (const Question &q : asked)
        t.append(q.text);
    return t;
}

QMessageBox *Prompt::create(QWidget *parent, const Question &question)
{
    auto *box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("promptBox"));
    box->setWindowTitle(question.caption.isEmpty() ? defaultCaption(question.icon) : question.caption);
    box->setIcon(boxIcon(question.icon));
    box->setText(displayText(question.text));
    box->setTextFormat(Qt::PlainText);
    QMessageBox::StandardButtons buttons;
    for (const ButtonMap &m : kButtons) {
        if (question.buttons.testFlag(m.answer))
            buttons |= m.button;
    }
    if (!buttons)
        buttons = QMessageBox::Ok;
    box->setStandardButtons(buttons);
    if (QAbstractButton *all = box->button(QMessageBox::YesToAll))
        all->setText(QStringLiteral("&Alle"));
    // The first button of a box is its default one; closing it answers Cancel, else No, else OK.
    for (const ButtonMap &m : kButtons) {
        if (buttons.testFlag(m.button)) {
            box->setDefaultButton(m.button);
            break;
        }
    }
    if (buttons.testFlag(QMessageBox::Cancel))
        box->setEscapeButton(QMessageBox::Cancel);
    else if (buttons.testFlag(QMessageBox::No))
        box->setEscapeButton(QMessageBox::No);
    else if (buttons.testFlag(QMessageBox::Ok))
        box->setEscapeButton(QMessageBox::Ok);
    return box;
}

Answer::Button Prompt::answerOf(int standardButton)
{
    for (const ButtonMap &m : kButtons) {
        if (m.button == standardButton)
            return m.answer;
    }
    return Answer::Cancel;
}

Answer::Button Prompt::ask(QWidget *parent, const Question &question)
{
    if (s_script) {
        s_script->asked.append(question);
        if (s_script->onAsk)
            s_script->onAsk(question);
        // A plain message has nothing to choose and takes no answer of the script.
        if (question.buttons == Answer::Ok || s_script->answers.isEmpty())
            return question.unattended;
        return s_script->answers.takeFirst();
    }
    QMessageBox *box = create(parent, question);
    box->exec();
    QAbstractButton *clicked = box->clickedButton();
    const Answer::Button answer
        = clicked ? answerOf(box->standardButton(clicked)) : answerOf(box->standardButton(box->escapeButton()));
    delete box;
    return answer;
}

void Prompt::message(QWidget *parent, const QString &text, const QString &caption)
{
    Question q;
    q.text = text;
    q.caption = caption;
    q.buttons = Answer::Ok;
    q.unattended = Answer::Ok;
    ask(parent, q);
}

bool Prompt::confirm(QWidget *parent, const QString &text)
{
    Question q;
    q.text = text;
    q.icon = Icon::Question;
    q.buttons = Answer::Yes | Answer::No;
    q.unattended = Answer::No;
    return ask(parent, q) == Answer::Yes;
}

void Prompt::setScript(Script *script)
{
    s_script = script;
}

Prompt::Script *Prompt::script()
{
    return s_script;
}
