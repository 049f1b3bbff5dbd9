// SPDX-License-Identifier: GPL-3.0-or-later
// The SMTP client: the dialogue that hands one message to a mail server.
#pragma once

#include "mail/tcpip.h"

#include <QStringList>

/**
 * The n-th address (from 1) of a text such as "Hans Muster <hans@example.org>" or
 * "a@example.org, b@example.org": the word around the n-th at sign, bounded by blanks, "," or
 * ";", with leading '"', '(' , '<' and trailing '"', ')', '>' removed. A null string when the
 * text has fewer than n at signs.
 */
QString mailAddress(const QString &text, int n);

/**
 * Sends one message over SMTP (default port 25). Set the host, the envelope sender, the
 * recipient lines and the message lines, then call send(). Without a user and without
 * security the dialogue is the classic one (HELO); with a user or a security mode it is
 * extended (EHLO, STARTTLS when asked for, AUTH PLAIN or LOGIN as the server offers).
 *
 * Refused recipients do not stop the mail (see refusedRecipients()); a refused HELO/EHLO,
 * MAIL FROM, DATA or message throws EProtocolError with the server's reply text, and so does
 * a server that lacks the asked-for STARTTLS or a usable AUTH method (code 0 then). The
 * session always ends with QUIT when the server is still listening.
 */
class T_SMTP : public T_TcpIp
{
public:
    T_SMTP();

    /// Recipient lines; each may hold several addresses separated by "," or ";".
    QStringList recipients() const;
    void setRecipients(const QStringList &lines);
    /// The message lines (headers, empty line, body) as bytes, without line ends.
    QList<QByteArray> message() const;
    void setMessage(const QList<QByteArray> &lines);
    /// Envelope sender text; its first address goes into MAIL FROM ("<>" when it has none).
    QString sender() const;
    void setSender(const QString &sender);
    /// Log-in for AUTH; empty means no authentication.
    QString user() const;
    void setUser(const QString &user);
    QString password() const;
    void setPassword(const QString &password);

    /**
     * The dialogue for one message. Does nothing when there is no recipient line, no message
     * line or no envelope sender. Throws ETcpIpError, ESocketError, EProtocolError, EConvertError.
     */
    void send();

    /// Code and text of the last reply (the first line of a multi-line reply).
    int replyCode() const;
    QString replyText() const;
    /// Addresses the server refused at RCPT TO during the last send().
    QStringList refusedRecipients() const;

private:
    void readReply();
    void command(const QByteArray &line);
    void check(bool ok);
    void hello();
    void extendedHello();
    bool hasExtension(const QByteArray &keyword) const;
    void authenticate();
    void quit();

    QStringList m_recipients;
    QList<QByteArray> m_message;
    QString m_sender;
    QString m_user;
    QString m_password;
    int m_replyCode = 0;
    QString m_replyText;
    QList<QByteArray> m_replyLines;
    QList<QByteArray> m_extensions;
    QStringList m_refused;
};
