// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/mailmessage.h"

#include "mail/smtp.h"
#include "platform/clock.h"
#include "platform/textcodec.h"

#include <QRegularExpression>

namespace {

// A header value is one line: a line break inside it would start a header of its own.
QString oneLine(const QString &text)
{
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

bool isPlainAscii(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

// SMTP servers refuse lines of more than 998 bytes; such a body goes out quoted-printable.
constexpr qsizetype s_maxLineBytes = 998;

// One body line as quoted-printable lines of at most 76 characters ("=" ends all but the last).
QList<QByteArray> quotedPrintable(const QByteArray &line)
{
    static const char hex[] = "0123456789ABCDEF";
    QList<QByteArray> lines;
    QByteArray current;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const uchar c = uchar(line.at(i));
        const bool last = i == line.size() - 1;
        QByteArray piece;
        if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
            piece = QByteArray(1, char(c));
        else
            piece = QByteArray("=") + hex[c >> 4] + hex[c & 15];
        if (current.size() + piece.size() > 75) {
            lines << current + '=';
            current.clear();
        }
        current += piece;
    }
    lines << current;
    return lines;
}

// The UTF-8 of text cut into pieces of at most 45 bytes of whole characters: each becomes one
// encoded word (RFC 2047) of 60 base64 characters plus 12 for its frame, at most 75 in all.
QList<QByteArray> wordChunks(const QString &text)
{
    QList<QByteArray> words;
    QByteArray chunk;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray bytes = text.mid(i, length).toUtf8();
        if (chunk.size() + bytes.size() > 45) {
            words << chunk;
            chunk.clear();
        }
        chunk += bytes;
        i += length;
    }
    words << chunk;
    return words;
}

// Encoded words (RFC 2047) for a phrase such as a display name: whole characters, at most
// 45 bytes of UTF-8 per word, so that no word grows past 75 characters.
QByteArray encodedWords(const QString &text)
{
    const QList<QByteArray> words = wordChunks(text);
    QByteArray out;
    for (const QByteArray &word : std::as_const(words))
        out += (out.isEmpty() ? "" : " ") + ("=?UTF-8?B?" + word.toBase64() + "?=");
    return out;
}

/*
 * An address header's value with every display name that is not plain ASCII as encoded
 * words; the addresses, separators and ASCII names stay as written. Mailboxes are split at
 * "," and ";" outside quotes and angle brackets.
 */
QByteArray addressHeaderValue(const QString &value)
{
    QByteArray out;
    QString mailbox;
    bool quoted = false;
    bool angle = false;
    const auto flush = [&out](const QString &box) {
        if (isPlainAscii(box) || box.isEmpty()) {
            out += box.toLatin1();
            return;
        }
        const qsizetype open = box.lastIndexOf(QLatin1Char('<'));
        const QString name = open >= 0 ? box.left(open) : box;
        qsizetype lead = 0;
        while (lead < name.size() && name.at(lead).isSpace())
            ++lead;
        qsizetype end = name.size();
        while (end > lead && name.at(end - 1).isSpace())
            --end;
        QString phrase = name.mid(lead, end - lead);
        if (phrase.size() >= 2 && phrase.startsWith(QLatin1Char('"')) && phrase.endsWith(QLatin1Char('"')))
            phrase = phrase.mid(1, phrase.size() - 2);
        // A bare address has no name to encode; its bytes go as they are.
        if (phrase.isEmpty() || (open < 0 && phrase.contains(QLatin1Char('@')))) {
            out += box.toUtf8();
            return;
        }
        out += name.left(lead).toUtf8() + encodedWords(phrase) + name.mid(end).toUtf8()
            + (open >= 0 ? box.mid(open).toUtf8() : QByteArray());
    };
    for (const QChar c : value) {
        if (c == QLatin1Char('"') && !angle)
            quoted = !quoted;
        else if (c == QLatin1Char('<') && !quoted)
            angle = true;
        else if (c == QLatin1Char('>') && !quoted)
            angle = false;
        if (!quoted && !angle && (c == QLatin1Char(',') || c == QLatin1Char(';'))) {
            flush(mailbox);
            out += char(c.unicode());
            mailbox.clear();
        } else {
            mailbox += c;
        }
    }
    flush(mailbox);
    return out;
}

bool hasEightBit(const QByteArray &line)
{
    for (const char c : line) {
        if (c & 0x80)
            return true;
    }
    return false;
}

bool isUtf8(const QByteArray &charset)
{
    return charset.compare("UTF-8", Qt::CaseInsensitive) == 0 || charset.compare("UTF8", Qt::CaseInsensitive) == 0;
}

} // namespace

QString T_MailNews::from() const
{
    return m_from;
}

void T_MailNews::setFrom(const QString &from)
{
    m_from = from;
}

QString T_MailNews::sender() const
{
    return m_sender;
}

void T_MailNews::setSender(const QString &sender)
{
    m_sender = sender;
}

QString T_MailNews::subject() const
{
    return m_subject;
}

void T_MailNews::setSubject(const QString &subject)
{
    m_subject = subject;
}

QString T_MailNews::references() const
{
    return m_references;
}

void T_MailNews::setReferences(const QString &references)
{
    m_references = references;
}

QString T_MailNews::replyTo() const
{
    return m_replyTo;
}

void T_MailNews::setReplyTo(const QString &replyTo)
{
    m_replyTo = replyTo;
}

QStringList T_MailNews::header() const
{
    return m_header;
}

void T_MailNews::setHeader(const QStringList &lines)
{
    m_header = lines;
}

QStringList T_MailNews::body() const
{
    return m_body;
}

void T_MailNews::setBody(const QStringList &lines)
{
    m_body = lines;
}

QByteArray T_MailNews::charset() const
{
    return m_charset;
}

void T_MailNews::setCharset(const QByteArray &charset)
{
    m_charset = charset;
}

QString T_MailNews::dateText(const QDateTime &local)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[] = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = local.date();
    // The zone is the real offset of that moment, so a zone without summer time is still right.
    const int offset = local.offsetFromUtc() / 60;
    const QString zone = offset == 0 ? QStringLiteral("GMT")
                                     : QStringLiteral("%1%2%3")
                                           .arg(offset > 0 ? QLatin1Char('+') : QLatin1Char('-'))
                                           .arg(qAbs(offset) / 60, 2, 10, QLatin1Char('0'))
                                           .arg(qAbs(offset) % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1, %2 %3 %4 %5 %6")
        .arg(QLatin1String(days[date.dayOfWeek() - 1]))
        .arg(date.day())
        .arg(QLatin1String(months[date.month() - 1]))
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(local.time().toString(QStringLiteral("hh:mm:ss")))
        .arg(zone);
}

QList<QByteArray> T_MailNews::subjectLines(const QString &subject)
{
    const QString text = oneLine(subject);
    if (isPlainAscii(text))
        return {"Subject: " + text.toLatin1()};
    // RFC 2047: encoded words of at most 75 characters, each holding whole characters, folded
    // onto continuation lines. 45 bytes make 60 base64 characters plus 12 for the frame.
    const QList<QByteArray> words = wordChunks(text);
    QList<QByteArray> lines;
    for (const QByteArray &word : std::as_const(words)) {
        const QByteArray encoded = "=?UTF-8?B?" + word.toBase64() + "?=";
        lines << (lines.isEmpty() ? "Subject: " + encoded : ' ' + encoded);
    }
    return lines;
}

QByteArray T_MailNews::effectiveCharset(const QStringList &texts) const
{
    if (isUtf8(m_charset))
        return "UTF-8";
    for (const QString &text : texts) {
        if (!TextCodec::fitsCp1252(text))
            return "UTF-8";
    }
    return "windows-1252";
}

QByteArray T_MailNews::encode(const QString &text, const QByteArray &charset)
{
    return isUtf8(charset) ? text.toUtf8() : TextCodec::toCp1252(text);
}

QStringList T_Mail::recipients() const
{
    return m_recipients;
}

void T_Mail::setRecipients(const QStringList &lines)
{
    m_recipients = lines;
}

QStringList T_Mail::cc() const
{
    return m_cc;
}

void T_Mail::setCc(const QStringList &lines)
{
    m_cc = lines;
}

QStringList T_Mail::bcc() const
{
    return m_bcc;
}

void T_Mail::setBcc(const QStringList &lines)
{
    m_bcc = lines;
}

bool T_Mail::discloseReceipts() const
{
    return m_discloseReceipts;
}

void T_Mail::setDiscloseReceipts(bool on)
{
    m_discloseReceipts = on;
}

T_SMTP *T_Mail::smtp() const
{
    return m_smtp;
}

void T_Mail::setSmtp(T_SMTP *smtp)
{
    m_smtp = smtp;
}

QList<QByteArray> T_Mail::message(const QDateTime &now, bool sevenBit) const
{
    // A bare CR or LF inside a body line would end the line on the wire; they become line breaks.
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList bodyLines;
    for (const QString &line : body())
        bodyLines += line.split(lineBreak);

    QStringList texts = bodyLines;
    texts << from() << sender() << references() << replyTo() << m_recipients << m_cc << header();
    const QByteArray charset = effectiveCharset(texts);
    const auto headerLine = [](const char *name, const QString &value) {
        return QByteArray(name) + addressHeaderValue(oneLine(value));
    };

    QList<QByteArray> lines;
    lines << headerLine("From: ", from());
    const qint64 localSeconds = (now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000 + 500) / 1000;
    lines << "Message-ID: <" + QByteArray::number(localSeconds) + '@' + T_SMTP::localHostName().toUtf8() + '>';
    lines << "Date: " + dateText(now).toLatin1();
    lines += subjectLines(subject());
    if (m_discloseReceipts) {
        lines << "To: disclosed recipients list";
    } else {
        for (const QString &line : m_recipients)
            lines << headerLine("To: ", line);
    }
    for (const QString &line : m_cc)
        lines << headerLine("CC: ", line);
    if (!sender().isEmpty())
        lines << headerLine("Sender: ", sender());
    if (!references().isEmpty())
        lines << headerLine("References: ", references());
    if (!replyTo().isEmpty())
        lines << headerLine("Reply-To: ", replyTo());
    QList<QByteArray> encodedBody;
    bool tooLong = false;
    for (const QString &line : std::as_const(bodyLines)) {
        encodedBody << encode(line, charset);
        tooLong = tooLong || encodedBody.last().size() > s_maxLineBytes || (sevenBit && hasEightBit(encodedBody.last()));
    }
    lines << "MIME-Version: 1.0";
    lines << "Content-Type: text/plain; charset=" + charset;
    lines << (tooLong ? "Content-Transfer-Encoding: quoted-printable" : "Content-Transfer-Encoding: 8bit");
    for (const QString &line : header())
        lines << encode(oneLine(line), charset);
    lines << QByteArray();
    for (const QByteArray &line : std::as_const(encodedBody)) {
        if (tooLong)
            lines += quotedPrintable(line);
        else
            lines << line;
    }
    return lines;
}

void T_Mail::send()
{
    if (!m_smtp || m_recipients.isEmpty() || from().isEmpty())
        return;
    const bool ownSender = m_smtp->sender().isEmpty();
    if (ownSender)
        m_smtp->setSender(sender().isEmpty() ? from() : sender());
    m_smtp->setRecipients(m_recipients + m_cc + m_bcc);
    const QDateTime now = Clock::now();
    m_smtp->setMessage(message(now));
    m_smtp->setSevenBitMessage(message(now, true));
    // The client keeps no message or borrowed sender after this mail, whatever its outcome.
    struct Reset {
        T_SMTP *smtp;
        bool sender;
        ~Reset()
        {
            smtp->setMessage({});
            smtp->setSevenBitMessage({});
            if (sender)
                smtp->setSender(QString());
        }
    } reset{m_smtp, ownSender};
    m_smtp->send();
}
