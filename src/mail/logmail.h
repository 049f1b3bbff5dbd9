// SPDX-License-Identifier: GPL-3.0-or-later
// The log mail after a run and the test mail of the mail options.
#pragma once

#include "mail/tcpip.h"

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <functional>

class RunStep;
class TAuftrag;

namespace LogMail
{

/// A job's mail settings, or the mail options dialog's values before they are stored.
struct Settings {
    bool mapi = false; ///< email_mapi: through the system's mail service instead of SMTP
    QString recipient; ///< email_empfaenger: one line, for SMTP possibly several addresses
    QString server; ///< email_server: SMTP host, also the POP3 host
    quint16 port = 25; ///< email_port
    T_TcpIp::Security security = T_TcpIp::Security::None; ///< email_security
    QString smtpUser; ///< email_smtp_user: empty means no AUTH
    QString smtpPassword; ///< email_smtp_pass
    QString sender; ///< email_sender: the "From:" text and the envelope sender
    QString subject; ///< email_subject
    bool pop3Login = false; ///< email_pop3_login
    QString pop3User;
    QString pop3Password;

    /// The settings of job; a port outside 1..65535 means 25, an unknown security text none.
    static Settings fromJob(const TAuftrag &job);
    /// "keine", "STARTTLS", "SSL/TLS" (the job file's words) as the client's mode.
    static T_TcpIp::Security securityFromText(const QString &text);
};

/// What the program leaves at its defaults: time limits, the POP3 port, trusted certificates.
struct Options {
    quint16 pop3Port = 110;
    int connectTimeoutMs = 60000;
    int readTimeoutMs = 60000;
    /// How long the system's mail program may take for one mail.
    int systemMailTimeoutMs = 60000;
    /// Certificates trusted in addition to the system's store.
    QList<QSslCertificate> extraCaCertificates;
    /// Called about every 100 ms while a server or the mail program is awaited.
    std::function<void()> idle;
    /// Asked about every 100 ms while a server is awaited; true ends the mail.
    std::function<bool()> cancel;
};

/// "Die eMail mit dem Protokoll konnte nicht verschickt werden."
QString failureText();

/**
 * The mail step of a run (BackupRun::Hooks::mailLog): mails the running job's log file with the
 * given subject when the job wants it (email and Proto on, and errors counted unless
 * email_bei_fehler is off). SMTP after an optional POP3 log-in, or the system's mail service.
 * A failure shows failureText() through the run's host with the reason (the server's reply,
 * the TLS or connection error) on the next line, and writes both lines to the log; nothing is
 * thrown. Each recipient the server refused gets a log line (the others still get the mail).
 * The host's processEvents() runs while servers are awaited, and a cancel requested during the
 * mail (window button, SIGTERM, Ctrl-C) ends it within a second.
 */
void mailLog(RunStep &run, const QString &subject);
/// The same with other limits (a test's own POP3 port and certificate).
void mailLogWith(RunStep &run, const QString &subject, const Options &options);

/**
 * Sends bodyLines through SMTP as settings say, after a POP3 log-in and log-out when
 * settings.pop3Login is on. Throws the errors of tcpip.h (EMailError and its kinds), also
 * for an empty sender or recipient, which the SMTP client would silently skip. Returns the
 * refused recipients, each as "<address>: <the server's reply>".
 */
QStringList sendSmtp(const Settings &settings, const QStringList &bodyLines, const Options &options);

/// Why a mail failed, in one line: the server's reply with its code, or the error's own text.
QString failureReason(const std::exception &error);

/// What the mail options dialog shows after "Testen".
struct TestResult {
    bool ok = false; ///< an information box (true) or an error box (false)
    QString text; ///< the success text or the error's own message
    bool closeDialog = false; ///< the system's mail service refused the mail: the dialog closes
};

/**
 * The test mail of the mail options dialog: the body "Hier steht später das Protokoll." with
 * the settings' subject (no error count), through SMTP or the system's mail service.
 */
TestResult sendTestMail(const Settings &settings, const Options &options = {});

} // namespace LogMail
