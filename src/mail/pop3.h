// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 client: log in to a mailbox before sending (servers that want POP before SMTP).
#pragma once

#include "mail/tcpip.h"

/// One entry of the server's message list.
struct Pop3Message {
    int number = 0;
    qint64 size = 0;
};

/**
 * POP3 log-in, message list and log-out (default port 110). Every reply is checked: "+OK"
 * passes, "-ERR" throws EProtocolError("POP3", 500, whole line), anything else
 * EProtocolError("POP3", 999, whole line). A malformed list line throws EConvertError.
 */
class T_Pop3 : public T_TcpIp
{
public:
    T_Pop3();

    QString userName() const;
    void setUserName(const QString &userName);
    QString password() const;
    void setPassword(const QString &password);

    /**
     * Connects, sends USER and PASS and reads the message list. After a refusal the connection
     * stays open until logout() or destruction.
     */
    void login();
    /// Sends QUIT (when connected), closes the connection and empties the message list.
    void logout();

    QList<Pop3Message> messages() const;

private:
    QByteArray checkedReply();

    QString m_userName;
    QString m_password;
    QList<Pop3Message> m_messages;
};
