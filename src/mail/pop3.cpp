// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/pop3.h"

#include <QAbstractSocket>

T_Pop3::T_Pop3()
    : T_TcpIp(110)
{
}

QString T_Pop3::userName() const
{
    return m_userName;
}

void T_Pop3::setUserName(const QString &userName)
{
    m_userName = userName;
}

QString T_Pop3::password() const
{
    return m_password;
}

void T_Pop3::setPassword(const QString &password)
{
    m_password = password;
}

namespace
{
constexpr qsizetype s_maxListEntries = 1000000;
} // namespace

QList<Pop3Message> T_Pop3::messages() const
{
    return m_messages;
}

QByteArray T_Pop3::checkedReply()
{
    const QByteArray line = readLine();
    if (line.startsWith("+OK"))
        return line;
    const int code = line.startsWith("-ERR") ? 500 : 999;
    throw EProtocolError(QStringLiteral("POP3"), code, QString::fromUtf8(line));
}

void T_Pop3::login()
{
    m_messages.clear();
    connectToServer();
    checkedReply();
    sendLine("USER " + m_userName.toUtf8());
    checkedReply();
    sendLine("PASS " + m_password.toUtf8());
    checkedReply();
    sendLine("LIST");
    checkedReply();
    // The whole list within the reply time, and no more entries than a mailbox could hold.
    const QDeadlineTimer deadline(readTimeout());
    for (;;) {
        const QByteArray line = readLine(deadline);
        if (line == ".")
            break;
        if (m_messages.size() >= s_maxListEntries)
            throw ESocketError(QStringLiteral("Reply from the mail server too long"), QAbstractSocket::UnknownSocketError);
        const QList<QByteArray> fields = line.split(' ');
        bool numberOk = false;
        bool sizeOk = false;
        Pop3Message entry;
        if (fields.size() == 2) {
            entry.number = fields.at(0).toInt(&numberOk);
            entry.size = fields.at(1).toLongLong(&sizeOk);
        }
        if (!numberOk || !sizeOk)
            throw EConvertError(QStringLiteral("Invalid message list line from the mail server: ")
                                + QString::fromUtf8(line));
        m_messages << entry;
    }
}

void T_Pop3::logout()
{
    m_messages.clear();
    if (!isConnected()) {
        close();
        return;
    }
    try {
        sendLine("QUIT");
        checkedReply();
    } catch (...) {
        close();
        throw;
    }
    close();
}
