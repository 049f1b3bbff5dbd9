// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/systemmail.h"

#include "mail/mailmessage.h"
#include "platform/clock.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace
{

// The longest subject the system mail interface takes.
constexpr qsizetype s_maxSubject = 255;

QString cutSubject(const QString &subject)
{
    if (subject.size() <= s_maxSubject)
        return subject;
    // Never leave half of a character that needs two UTF-16 units.
    const qsizetype length = subject.at(s_maxSubject - 1).isHighSurrogate() ? s_maxSubject - 1 : s_maxSubject;
    return subject.left(length);
}

// Waits in slices of 100 ms so the caller's window stays alive; false when the deadline passed.
template <typename Wait> bool waitSliced(const QDeadlineTimer &deadline, const std::function<void()> &idle, Wait wait)
{
    while (!deadline.hasExpired()) {
        if (wait(int(std::min<qint64>(deadline.remainingTime(), 100))))
            return true;
        if (idle)
            idle();
    }
    return false;
}

void stop(QProcess &process)
{
    process.kill();
    process.waitForFinished(5000);
}

} // namespace

namespace SystemMail
{

QString sendmailProgram()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("sendmail"));
    if (!onPath.isEmpty())
        return onPath;
    // The traditional places, which are often not on a user's PATH.
    for (const QString &path : { QStringLiteral("/usr/sbin/sendmail"), QStringLiteral("/usr/lib/sendmail") }) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return QString();
}

Result send(const QString &recipient,
    const QString &subject,
    const QStringList &bodyLines,
    int timeoutMs,
    const std::function<void()> &idle)
{
    const QString program = sendmailProgram();
    if (program.isEmpty())
        return { Status::NotAvailable, QStringLiteral("No mail transfer agent (sendmail) found on this system") };

    T_Mail mail;
    mail.setRecipients({ recipient });
    mail.setSubject(cutSubject(subject));
    mail.setBody(bodyLines);
    QList<QByteArray> lines = mail.message(Clock::now());
    // The sender is the mail service's own, like the profile of a MAPI session.
    if (!lines.isEmpty() && lines.first().startsWith("From: "))
        lines.removeFirst();
    QByteArray data;
    for (const QByteArray &line : std::as_const(lines))
        data += line + '\n';

    const QDeadlineTimer deadline(timeoutMs);
    QProcess process;
    process.start(program, { QStringLiteral("-t"), QStringLiteral("-i") });
    if (!process.waitForStarted(int(std::max<qint64>(deadline.remainingTime(), 0))))
        return { Status::NotAvailable, QStringLiteral("Cannot start %1: %2").arg(program, process.errorString()) };
    process.write(data);
    const bool written = waitSliced(deadline, idle, [&process](int ms) {
        if (process.bytesToWrite() > 0 && process.state() == QProcess::Running)
            process.waitForBytesWritten(ms);
        return process.bytesToWrite() == 0 || process.state() != QProcess::Running;
    });
    if (!written) {
        stop(process);
        return { Status::Failed, QStringLiteral("%1 did not finish in time").arg(program) };
    }
    // A program that ended before reading the whole message did not send it, whatever it says.
    const bool unread = process.bytesToWrite() > 0;
    process.closeWriteChannel();
    if (!waitSliced(deadline, idle, [&process](int ms) {
            return process.state() == QProcess::NotRunning || process.waitForFinished(ms);
        })) {
        stop(process);
        return { Status::Failed, QStringLiteral("%1 did not finish in time").arg(program) };
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || unread) {
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        return { Status::Failed,
            said.isEmpty() ? QStringLiteral("%1 failed with exit code %2").arg(program).arg(process.exitCode())
                           : said };
    }
    return { Status::Sent, QString() };
}

} // namespace SystemMail
