// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/logmail.h"

#include "engine/runhost.h"
#include "engine/runstep.h"
#include "engine/runlog.h"
#include "jobs/tauftrag.h"
#include "mail/mailmessage.h"
#include "mail/pop3.h"
#include "mail/smtp.h"
#include "mail/systemmail.h"
#include "platform/textcodec.h"

#include <QFile>
#include <QRegularExpression>

namespace
{

void configure(T_TcpIp &client, const QString &host, quint16 port, const LogMail::Options &options)
{
    client.setHostname(host);
    client.setPort(port);
    client.setConnectTimeout(options.connectTimeoutMs);
    client.setReadTimeout(options.readTimeoutMs);
    client.setExtraCaCertificates(options.extraCaCertificates);
    client.setIdleHandler(options.idle);
    client.setCancelCheck(options.cancel);
}

// The lines of a text file as a line list holds them: a final line break opens no empty line.
QStringList textLines(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(lineBreak);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool readLogLines(const QString &path, QStringList *lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    // Written here as UTF-8; a log carried over from Windows is Windows-1252.
    *lines = textLines(TextCodec::decodeFileText(bytes));
    return true;
}

} // namespace

namespace LogMail
{

T_TcpIp::Security Settings::securityFromText(const QString &text)
{
    const QString word = text.trimmed();
    if (word.compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0)
        return T_TcpIp::Security::StartTls;
    if (word.compare(QLatin1String("SSL/TLS"), Qt::CaseInsensitive) == 0)
        return T_TcpIp::Security::Tls;
    return T_TcpIp::Security::None;
}

Settings Settings::fromJob(const TAuftrag &job)
{
    Settings s;
    s.mapi = job.email_mapi;
    s.recipient = job.email_empfaenger;
    s.server = job.email_server;
    s.port = job.email_port > 0 && job.email_port <= 65535 ? quint16(job.email_port) : quint16(25);
    s.security = securityFromText(job.email_security);
    s.smtpUser = job.email_smtp_user;
    s.smtpPassword = job.email_smtp_pass;
    s.sender = job.email_sender;
    s.subject = job.email_subject;
    s.pop3Login = job.email_pop3_login;
    s.pop3User = job.email_pop3_user;
    s.pop3Password = job.email_pop3_pass;
    return s;
}

QString failureText()
{
    return QStringLiteral("Die eMail mit dem Protokoll konnte nicht verschickt werden.");
}

QString failureReason(const std::exception &error)
{
    if (const auto *protocol = dynamic_cast<const EProtocolError *>(&error)) {
        if (protocol->code() > 0)
            return QStringLiteral("%1 %2 %3").arg(protocol->protocol()).arg(protocol->code()).arg(protocol->message());
        return protocol->protocol() + u' ' + protocol->message();
    }
    if (const auto *mail = dynamic_cast<const EMailError *>(&error))
        return mail->message();
    return QString::fromLocal8Bit(error.what());
}

QStringList sendSmtp(const Settings &settings, const QStringList &bodyLines, const Options &options)
{
    // Without them the client sends nothing and raises nothing, which would pass for success.
    if (settings.sender.trimmed().isEmpty())
        throw EMailError(QStringLiteral("Es ist kein Absender angegeben."));
    if (settings.recipient.trimmed().isEmpty())
        throw EMailError(QStringLiteral("Es ist kein Empfänger angegeben."));

    if (settings.pop3Login) {
        T_Pop3 pop;
        configure(pop, settings.server, options.pop3Port, options);
        pop.setUserName(settings.pop3User);
        pop.setPassword(settings.pop3Password);
        pop.login();
        pop.logout();
    }

    T_SMTP smtp;
    configure(smtp, settings.server, settings.port, options);
    smtp.setSecurity(settings.security);
    smtp.setUser(settings.smtpUser);
    smtp.setPassword(settings.smtpPassword);
    T_Mail mail;
    mail.setSmtp(&smtp);
    mail.setFrom(settings.sender);
    mail.setRecipients({ settings.recipient });
    mail.setSubject(settings.subject);
    mail.setBody(bodyLines);
    mail.send();
    QStringList refused;
    const QStringList replies = smtp.refusalReplies();
    for (qsizetype i = 0; i < smtp.refusedRecipients().size(); ++i)
        refused << smtp.refusedRecipients().at(i) + QStringLiteral(": ") + replies.value(i);
    return refused;
}

void mailLog(RunStep &run, const QString &subject)
{
    mailLogWith(run, subject, Options());
}

void mailLogWith(RunStep &run, const QString &subject, const Options &options)
{
    const TAuftrag *job = &run.job();
    if (!job->email || !job->Proto || (job->email_bei_fehler && run.errorsSoFar() <= 0))
        return;

    Settings settings = Settings::fromJob(*job);
    settings.subject = subject;
    Options waiting = options;
    waiting.idle = [&run] { run.host().processEvents(); };
    // A cancel that ended the run already does not keep its log from being mailed; a new one
    // ends the mail.
    const bool cancelledBefore = run.cancel().requested();
    waiting.cancel = [&run, cancelledBefore] { return !cancelledBefore && run.cancel().requested(); };

    bool sent = false;
    QString reason;
    QStringList refused;
    QStringList lines;
    if (!readLogLines(RunLog::logFilePath(*job), &lines)) {
        reason = QStringLiteral("Die Protokolldatei kann nicht gelesen werden.");
    } else if (settings.mapi) {
        const SystemMail::Result result
            = SystemMail::send(settings.recipient, subject, lines, waiting.systemMailTimeoutMs, waiting.idle);
        sent = result.status == SystemMail::Status::Sent;
        reason = result.message;
    } else {
        try {
            refused = sendSmtp(settings, lines, waiting);
            sent = true;
        } catch (const std::exception &e) {
            // Every kind of failure gets the one message below with its reason; the run goes on.
            reason = failureReason(e);
        }
    }
    for (const QString &recipient : std::as_const(refused))
        run.writeLog(QStringLiteral("Empfänger vom Mailserver abgelehnt: ") + recipient);
    if (!sent) {
        run.writeLog(failureText());
        if (!reason.isEmpty())
            run.writeLog(reason);
        run.host().showMessage(reason.isEmpty() ? failureText() : failureText() + u'\n' + reason);
    }
}

TestResult sendTestMail(const Settings &settings, const Options &options)
{
    const QStringList body { QStringLiteral("Hier steht später das Protokoll.") };
    const QString success = QStringLiteral(
        "Die eMail wurde erfolgreich verschickt. Bitte prüfen Sie, ob sie beim Empfänger angekommen ist.");
    if (settings.mapi) {
        const SystemMail::Result result
            = SystemMail::send(settings.recipient, settings.subject, body, options.systemMailTimeoutMs, options.idle);
        if (result.status == SystemMail::Status::Sent)
            return { true, success, false };
        if (result.status == SystemMail::Status::NotAvailable)
            return { false, result.message, false };
        return { false, QStringLiteral("Die eMail konnte nicht korrekt verschickt werden."), true };
    }
    try {
        sendSmtp(settings, body, options);
        return { true, success, false };
    } catch (const EMailError &e) {
        return { false, e.message(), false };
    } catch (const std::exception &e) {
        return { false, QString::fromLocal8Bit(e.what()), false };
    }
}

} // namespace LogMail
