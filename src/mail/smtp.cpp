// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/smtp.h"

#include <QAbstractSocket>

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char(',') || c == QLatin1Char(';');
}

// A protocol failure noticed by the client itself, not by a server reply.
constexpr int s_clientRefusal = 0;

// Real multi-line replies (EHLO) have a few dozen short lines; a server that sends more is
// not one to talk to.
constexpr int s_maxReplyLines = 1000;
constexpr qsizetype s_maxReplyBytes = 256 * 1024;

} // namespace

QString mailAddress(const QString &text, int n)
{
    qsizetype at = -1;
    for (int i = 0; i < n; ++i) {
        at = text.indexOf(QLatin1Char('@'), at + 1);
        if (at < 0)
            return QString();
    }
    qsizetype start = at;
    while (start > 0 && !isSeparator(text.at(start - 1)))
        --start;
    qsizetype end = start;
    while (end < text.size() && !isSeparator(text.at(end)))
        ++end;
    QString address = text.mid(start, end - start);
    while (!address.isEmpty()
           && (address.front() == QLatin1Char('"') || address.front() == QLatin1Char('(')
               || address.front() == QLatin1Char('<')))
        address.remove(0, 1);
    while (!address.isEmpty()
           && (address.back() == QLatin1Char('"') || address.back() == QLatin1Char(')')
               || address.back() == QLatin1Char('>')))
        address.chop(1);
    return address;
}

T_SMTP::T_SMTP()
    : T_TcpIp(25)
{
}

QStringList T_SMTP::recipients() const
{
    return m_recipients;
}

void T_SMTP::setRecipients(const QStringList &lines)
{
    m_recipients = lines;
}

QList<QByteArray> T_SMTP::message() const
{
    return m_message;
}

void T_SMTP::setMessage(const QList<QByteArray> &lines)
{
    m_message = lines;
}

QString T_SMTP::sender() const
{
    return m_sender;
}

void T_SMTP::setSender(const QString &sender)
{
    m_sender = sender;
}

QString T_SMTP::user() const
{
    return m_user;
}

void T_SMTP::setUser(const QString &user)
{
    m_user = user;
}

QString T_SMTP::password() const
{
    return m_password;
}

void T_SMTP::setPassword(const QString &password)
{
    m_password = password;
}

int T_SMTP::replyCode() const
{
    return m_replyCode;
}

QString T_SMTP::replyText() const
{
    return m_replyText;
}

QStringList T_SMTP::refusedRecipients() const
{
    return m_refused;
}

QStringList T_SMTP::refusalReplies() const
{
    return m_refusalReplies;
}

void T_SMTP::setSevenBitMessage(const QList<QByteArray> &lines)
{
    m_sevenBitMessage = lines;
}

void T_SMTP::readReply()
{
    // One time limit for the whole reply: continuation lines cannot stretch it line by line.
    const QDeadlineTimer deadline(readTimeout());
    QByteArray line = readLine(deadline);
    const QByteArray code = line.left(3);
    bool ok = code.size() == 3;
    for (char c : code)
        ok = ok && c >= '0' && c <= '9';
    if (!ok)
        throw EConvertError(QStringLiteral("Invalid reply from the mail server: ") + QString::fromUtf8(line));
    m_replyCode = code.toInt();
    m_replyText = QString::fromUtf8(line.mid(4));
    m_replyLines = {line.mid(4)};
    // Continuation lines carry a hyphen right after the code; code and text stay the first line's.
    qsizetype bytes = line.size();
    while (line.indexOf('-') == 3) {
        line = readLine(deadline);
        bytes += line.size();
        if (m_replyLines.size() >= s_maxReplyLines || bytes > s_maxReplyBytes)
            throw ESocketError(QStringLiteral("Reply from the mail server too long"), QAbstractSocket::UnknownSocketError);
        m_replyLines << line.mid(4);
    }
}

void T_SMTP::command(const QByteArray &line)
{
    sendLine(line);
    readReply();
}

void T_SMTP::check(bool ok)
{
    if (!ok)
        throw EProtocolError(QStringLiteral("SMTP"), m_replyCode, m_replyText);
}

void T_SMTP::hello()
{
    command("HELO " + localHostName().toUtf8());
    check(m_replyCode < 300);
}

void T_SMTP::extendedHello()
{
    command("EHLO " + localHostName().toUtf8());
    check(m_replyCode < 300);
    // The first line is the server's name; the others name the extensions it offers.
    m_extensions = m_replyLines.mid(1);
}

bool T_SMTP::hasExtension(const QByteArray &keyword) const
{
    for (const QByteArray &line : m_extensions) {
        const QByteArray word = line.left(keyword.size()).toUpper();
        if (word == keyword && (line.size() == keyword.size() || line.at(keyword.size()) == ' '
                                || line.at(keyword.size()) == '='))
            return true;
    }
    return false;
}

void T_SMTP::authenticate()
{
    QList<QByteArray> mechanisms;
    for (const QByteArray &line : std::as_const(m_extensions)) {
        const QByteArray upper = line.toUpper();
        if (upper.startsWith("AUTH ") || upper.startsWith("AUTH="))
            mechanisms += upper.mid(5).simplified().split(' ');
    }
    const QByteArray user = m_user.toUtf8();
    const QByteArray password = m_password.toUtf8();
    if (mechanisms.contains("PLAIN")) {
        command("AUTH PLAIN " + (QByteArray(1, '\0') + user + QByteArray(1, '\0') + password).toBase64());
        check(m_replyCode < 300);
    } else if (mechanisms.contains("LOGIN")) {
        command("AUTH LOGIN");
        check(m_replyCode == 334);
        command(user.toBase64());
        check(m_replyCode == 334);
        command(password.toBase64());
        check(m_replyCode < 300);
    } else {
        throw EProtocolError(QStringLiteral("SMTP"),
                             s_clientRefusal,
                             QStringLiteral("The mail server offers no log-in method this program knows (PLAIN, LOGIN)"));
    }
}

void T_SMTP::quit()
{
    // The message is delivered or refused already; a server that drops the line here changes nothing.
    try {
        command("QUIT");
    } catch (const EMailError &) {
    }
    close();
}

void T_SMTP::send()
{
    if (m_recipients.isEmpty() || m_message.isEmpty() || m_sender.isEmpty())
        return;
    m_refused.clear();
    m_refusalReplies.clear();
    m_extensions.clear();
    connectToServer();
    try {
        readReply(); // the greeting; servers that refuse service refuse HELO as well

        // EHLO tells which extensions (8BITMIME) the server has; an old server refuses it.
        command("EHLO " + localHostName().toUtf8());
        if (m_replyCode >= 500 && m_user.isEmpty() && security() == Security::None) {
            hello();
        } else {
            check(m_replyCode < 300);
            m_extensions = m_replyLines.mid(1);
            if (security() == Security::StartTls) {
                if (!hasExtension("STARTTLS"))
                    throw EProtocolError(QStringLiteral("SMTP"),
                                         s_clientRefusal,
                                         QStringLiteral("The mail server does not offer STARTTLS"));
                command("STARTTLS");
                check(m_replyCode == 220);
                // Bytes sent before the handshake could not be trusted as part of the TLS session.
                if (hasPendingInput())
                    throw EProtocolError(QStringLiteral("SMTP"),
                                         s_clientRefusal,
                                         QStringLiteral("The mail server sent data before the TLS handshake"));
                startTls();
                extendedHello();
            }
            if (!m_user.isEmpty())
                authenticate();
        }

        bool eightBit = false;
        for (const QByteArray &line : std::as_const(m_message)) {
            for (const char c : line)
                eightBit = eightBit || (c & 0x80);
        }
        const bool useSevenBit = eightBit && !hasExtension("8BITMIME") && !m_sevenBitMessage.isEmpty();
        command("MAIL FROM: <" + mailAddress(m_sender, 1).toUtf8() + '>'
            + (eightBit && hasExtension("8BITMIME") ? " BODY=8BITMIME" : ""));
        check(m_replyCode < 300);

        for (const QString &line : std::as_const(m_recipients)) {
            for (int n = 1;; ++n) {
                const QString address = mailAddress(line, n);
                if (address.isNull())
                    break;
                command("RCPT TO: <" + address.toUtf8() + '>');
                if (m_replyCode >= 300) {
                    m_refused << address;
                    m_refusalReplies << QString::number(m_replyCode) + u' ' + m_replyText;
                }
            }
        }

        command("DATA");
        // Anything but 354 means the server will not take the message, whatever the code class says.
        check(m_replyCode == 354);
        QByteArray data;
        for (const QByteArray &line : std::as_const(useSevenBit ? m_sevenBitMessage : m_message)) {
            // Dot-stuffing: the server removes one leading dot from every line.
            if (line.startsWith('.'))
                data += '.';
            data += line;
            data += "\r\n";
        }
        data += ".\r\n";
        sendData(data);
        readReply();
        check(m_replyCode < 300);
    } catch (const EProtocolError &) {
        quit();
        throw;
    } catch (...) {
        close();
        throw;
    }
    quit();
}
