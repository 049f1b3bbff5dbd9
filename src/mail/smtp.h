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
 * recipient lines and the message lines, then call send(). The client greets with EHLO (HELO
 * when the server refuses it, unless a user or a security mode needs the extensions), then
 * STARTTLS when asked for, AUTH PLAIN or LOGIN as the server offers. 8-bit message bytes go
 * out only where the server offers 8BITMIME (with BODY=8BITMIME); elsewhere the 7-bit form.
 * Each reply, continuation lines included, must come within the read time-out as a whole.
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
    /// The same message in 7-bit form, sent instead when message() holds 8-bit bytes and the
    /// server does not offer 8BITMIME (empty: message() is sent as it is).
    void setSevenBitMessage(const QList<QByteArray> &lines);
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
    /// The server's reply to each of them ("550 5.1.1 unknown user").
    QStringList refusalReplies() const;

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
    QStringList m_refusalReplies;
    QList<QByteArray> m_sevenBitMessage;
};
