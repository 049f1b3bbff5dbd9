// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/terminalrunhost.h"

#include "platform/filesystem.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t s_interrupted = 0; // not yet handed to the work under way
volatile std::sig_atomic_t s_quit = 0;

void onInterrupt(int)
{
    s_interrupted = 1;
    s_quit = 1;
}

struct ButtonName {
    Answer::Button button;
    const char *word;
    const char *label;
};
const ButtonName kButtons[] = {
    {Answer::Ok, "ok", "OK"},
    {Answer::Yes, "yes", "Ja"},
    {Answer::No, "no", "Nein"},
    {Answer::Retry, "retry", "Wiederholen"},
    {Answer::Ignore, "ignore", "Ignorieren"},
    {Answer::All, "all", "Alle"},
    {Answer::Cancel, "cancel", "Abbrechen"},
};

QString label(Answer::Button b)
{
    for (const ButtonName &n : kButtons) {
        if (n.button == b)
            return QString::fromUtf8(n.label);
    }
    return QString();
}

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

// Dialog texts break lines with CR alone; a terminal needs LF.
QString forTerminal(const QString &text)
{
    QString t = Platform::displayPath(text);
    t.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    return t;
}

} // namespace

TerminalRunHost::TerminalRunHost(const QList<Answer::Button> &answers)
    : m_answers(answers)
    , m_stderrIsTerminal(::isatty(STDERR_FILENO))
    , m_stdinIsTerminal(::isatty(STDIN_FILENO))
{
    m_lastDraw.start();
}

Answer::Button TerminalRunHost::parseAnswer(const QString &word)
{
    for (const ButtonName &n : kButtons) {
        if (word.compare(QLatin1String(n.word), Qt::CaseInsensitive) == 0)
            return n.button;
    }
    return Answer::None;
}

void TerminalRunHost::installInterruptHandler()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

Answer::Button TerminalRunHost::ask(const Question &question)
{
    clearProgressLine();
    QStringList offered;
    for (const ButtonName &n : kButtons) {
        if (question.buttons.testFlag(n.button))
            offered << QStringLiteral("%1 (%2)").arg(QString::fromUtf8(n.label), QString::fromUtf8(n.word));
    }
    err() << "\n" << forTerminal(question.text) << "\n[" << offered.join(QStringLiteral(" / ")) << "]\n";

    Answer::Button answer = Answer::None;
    if (!m_answers.isEmpty()) {
        const Answer::Button given = m_answers.takeFirst();
        if (question.buttons.testFlag(given))
            answer = given;
        else
            err() << "Die angegebene Antwort \"" << label(given) << "\" passt nicht zu dieser Frage.\n";
    }
    while (answer == Answer::None && m_stdinIsTerminal) {
        err() << "Antwort: ";
        err().flush();
        char line[256];
        if (!std::fgets(line, sizeof line, stdin))
            break;
        const Answer::Button typed = parseAnswer(QString::fromLocal8Bit(line).trimmed());
        if (question.buttons.testFlag(typed) && typed != Answer::None)
            answer = typed;
    }
    // SIGTERM or Ctrl-C without a terminal: the program is to end, whatever the question's own default.
    m_lastUnattended = answer == Answer::None;
    if (answer == Answer::None)
        answer = question.confirmsCancel && quitRequested() ? Answer::Yes : question.unattended;
    err() << "-> " << label(answer) << "\n";
    err().flush();
    return answer;
}

bool TerminalRunHost::askCredentials(const QString &caption, const QString &text, QString *user, QString *password)
{
    clearProgressLine();
    err() << "\n" << caption << ": " << forTerminal(text) << "\n";
    if (!m_stdinIsTerminal) {
        err() << "-> keine Eingabe möglich (kein Terminal)\n";
        err().flush();
        return false;
    }
    char line[1024];
    err() << "Benutzer [" << *user << "]: ";
    err().flush();
    if (!std::fgets(line, sizeof line, stdin))
        return false;
    const QString typedUser = QString::fromLocal8Bit(line).trimmed();
    if (!typedUser.isEmpty())
        *user = typedUser;
    err() << "Passwort: ";
    err().flush();
    // Without echo, so the password does not stay on the screen.
    QProcess::execute(QStringLiteral("stty"), {QStringLiteral("-echo")});
    const bool got = std::fgets(line, sizeof line, stdin) != nullptr;
    QProcess::execute(QStringLiteral("stty"), {QStringLiteral("echo")});
    err() << "\n";
    err().flush();
    if (!got)
        return false;
    QString typed = QString::fromLocal8Bit(line);
    while (typed.endsWith(u'\n') || typed.endsWith(u'\r'))
        typed.chop(1);
    *password = typed;
    return true;
}

void TerminalRunHost::showMessage(const QString &text, const QString &caption)
{
    clearProgressLine();
    if (!caption.isEmpty())
        err() << caption << ": ";
    err() << forTerminal(text) << "\n";
    err().flush();
}

void TerminalRunHost::setProgressVisible(bool visible)
{
    if (!visible)
        clearProgressLine();
}

void TerminalRunHost::setProgressLine(ProgressLine line, const QString &text)
{
    if (line == ProgressLine::Folder)
        m_folder = text;
    else if (line == ProgressLine::FileCount)
        m_fileCount = text;
    drawProgress();
}

void TerminalRunHost::setGauge(int gauge, qint64 progress, qint64 maximum)
{
    if (gauge == 2)
        m_percent = maximum > 0 ? int(progress * 100 / maximum) : 0;
}

bool TerminalRunHost::quitRequested()
{
    return s_quit != 0;
}

void TerminalRunHost::setCancel(RunCancel *cancel)
{
    m_cancel = cancel;
    passInterrupt(); // a Ctrl-C between two pieces of work cancels the next one
}

// The handler only marks the signal; the request reaches the work here, outside the handler.
void TerminalRunHost::passInterrupt()
{
    if (m_cancel && s_interrupted) {
        s_interrupted = 0;
        m_cancel->request();
    }
}

void TerminalRunHost::viewLog(const QString &logFile)
{
    showMessage(QStringLiteral("Protokoll: ") + logFile, QString());
}

void TerminalRunHost::printLog(const QString &logFile, const QString &printer)
{
    const QString lp = QStandardPaths::findExecutable(QStringLiteral("lp"));
    if (lp.isEmpty()) {
        showMessage(QStringLiteral("Das Protokoll konnte nicht gedruckt werden: kein Druckbefehl (lp) gefunden."), QString());
        return;
    }
    QStringList args;
    if (!printer.isEmpty())
        args << QStringLiteral("-d") << printer;
    args << logFile;
    if (QProcess::execute(lp, args) != 0)
        showMessage(QStringLiteral("Das Protokoll konnte nicht gedruckt werden."), QString());
}

void TerminalRunHost::processEvents()
{
    passInterrupt();
    QCoreApplication::processEvents();
}

void TerminalRunHost::drawProgress()
{
    if (!m_stderrIsTerminal || m_lastDraw.elapsed() < 100)
        return;
    m_lastDraw.restart();
    QString text = QStringLiteral("%1 % %2 %3").arg(QStringLiteral("%1").arg(m_percent, 3), m_fileCount, Platform::displayPath(m_folder));
    if (text.size() > 100)
        text = text.left(97) + QStringLiteral("...");
    err() << "\r\x1b[K" << text;
    err().flush();
    m_progressShown = true;
}

void TerminalRunHost::clearProgressLine()
{
    if (!m_progressShown)
        return;
    err() << "\r\x1b[K";
    err().flush();
    m_progressShown = false;
}
