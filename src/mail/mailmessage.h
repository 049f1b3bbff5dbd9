// SPDX-License-Identifier: GPL-3.0-or-later
// The mail message: its header lines and body, and sending it through the SMTP client.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class T_SMTP;

/**
 * Header fields and body of a plain-text message. The body is sent as 8-bit text in the
 * character set given by charset() ("UTF-8" by default, or "windows-1252", which falls back
 * to UTF-8 when a character does not fit); a body with a line longer than SMTP allows (998
 * bytes) is sent quoted-printable instead. A subject with non-ASCII characters goes out as
 * RFC 2047 encoded words.
 */
class T_MailNews
{
public:
    virtual ~T_MailNews() = default;

    QString from() const;
    void setFrom(const QString &from);
    QString sender() const;
    void setSender(const QString &sender);
    QString subject() const;
    void setSubject(const QString &subject);
    QString references() const;
    void setReferences(const QString &references);
    QString replyTo() const;
    void setReplyTo(const QString &replyTo);
    /// Extra header lines, sent as they are after the others.
    QStringList header() const;
    void setHeader(const QStringList &lines);
    /// Body lines; a line holding line breaks is sent as several lines.
    QStringList body() const;
    void setBody(const QStringList &lines);
    QByteArray charset() const;
    void setCharset(const QByteArray &charset);

    /// "Mon, 5 Feb 2024 09:03:07 +0100": English names, the zone as +hhmm / -hhmm, "GMT" for UTC.
    static QString dateText(const QDateTime &local);
    /// The "Subject: " line, folded into several lines when it needs more than one encoded word.
    static QList<QByteArray> subjectLines(const QString &subject);

protected:
    /// The charset the message goes out in: charset(), unless the text does not fit it.
    QByteArray effectiveCharset(const QStringList &texts) const;
    static QByteArray encode(const QString &text, const QByteArray &charset);

private:
    QString m_from;
    QString m_sender;
    QString m_subject;
    QString m_references;
    QString m_replyTo;
    QStringList m_header;
    QStringList m_body;
    QByteArray m_charset = "UTF-8";
};

/**
 * A message with its recipients, sent through an SMTP client (not owned).
 *
 * Typical use: T_SMTP smtp; smtp.setHostname(host); T_Mail mail; mail.setSmtp(&smtp);
 * mail.setFrom(sender); mail.setRecipients({line}); mail.setSubject(subject);
 * mail.setBody(lines); mail.send(); errors arrive as the exceptions of tcpip.h.
 */
class T_Mail : public T_MailNews
{
public:
    QStringList recipients() const;
    void setRecipients(const QStringList &lines);
    QStringList cc() const;
    void setCc(const QStringList &lines);
    /// Blind copies: envelope recipients without a header line.
    QStringList bcc() const;
    void setBcc(const QStringList &lines);
    bool discloseReceipts() const;
    void setDiscloseReceipts(bool on);
    T_SMTP *smtp() const;
    void setSmtp(T_SMTP *smtp);

    /**
     * The message lines without line ends, as they go to the server (before dot-stuffing):
     * From, Message-ID, Date, Subject, To, CC, Sender, References, Reply-To, the MIME lines,
     * the extra header lines, an empty line and the body. now is the local time of the Date line.
     * Display names that are not ASCII go out as RFC 2047 words, the addresses as they are. The
     * body is 8-bit unless a line is too long for SMTP or sevenBit asks for a body of ASCII
     * bytes only; then it is quoted-printable.
     */
    QList<QByteArray> message(const QDateTime &now, bool sevenBit = false) const;

    /**
     * Sends the message at the time of the program's clock. Does nothing without an SMTP
     * client, a recipient line or a From text. The envelope sender is the SMTP client's own,
     * else Sender, else From.
     */
    void send();

private:
    QStringList m_recipients;
    QStringList m_cc;
    QStringList m_bcc;
    bool m_discloseReceipts = false;
    T_SMTP *m_smtp = nullptr;
};
