// SPDX-License-Identifier: GPL-3.0-or-later
// The system's own mail service: the way a job's mail goes when it asks for MAPI instead of SMTP.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace SystemMail
{

enum class Status {
    Sent,
    NotAvailable, ///< the system has no mail service (no sendmail program)
    Failed, ///< the service was there but did not take the mail (error exit, crash, time-out)
};

struct Result {
    Status status = Status::NotAvailable;
    QString message; ///< what went wrong, in the service's own words where it gave any
};

/**
 * Hands one message to the system's mail service, which sends it with its own sender identity.
 * On Linux that is the mail transfer agent, run as "sendmail -t -i": it takes the recipients
 * from the "To:" line and reads the body to its end, lines of a single "." included. The
 * message has the headers of an SMTP mail without "From:"; a subject longer than 255
 * characters is cut to 255. The program gets at most timeoutMs to finish; idle, when set, is
 * called about every 100 ms of waiting. Called by the log mail and the test mail.
 */
Result send(const QString &recipient,
    const QString &subject,
    const QStringList &bodyLines,
    int timeoutMs,
    const std::function<void()> &idle);

/// The sendmail program send() runs: found on the PATH, else /usr/sbin/sendmail or /usr/lib/sendmail; empty when none.
QString sendmailProgram();

} // namespace SystemMail
