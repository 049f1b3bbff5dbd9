// SPDX-License-Identifier: GPL-3.0-or-later
// The line-oriented TCP client under the SMTP and POP3 clients, and the errors of all three.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QSslCertificate>
#include <QString>

#include <exception>
#include <functional>
#include <memory>

class QSslSocket;

/**
 * Base of every error of the mail clients. message() is the text shown to the user by the
 * test mail (the library's own English text or the server's reply text).
 */
class EMailError : public std::exception
{
public:
    explicit EMailError(const QString &message);
    QString message() const;
    const char *what() const noexcept override;

private:
    QString m_message;
    QByteArray m_what;
};

/// The host name could not be resolved: "Couldn't resolve hostname " + host.
class ETcpIpError : public EMailError
{
public:
    using EMailError::EMailError;
};

/**
 * The connection failed or broke: "Error creating socket" when the connect fails (also after
 * the connect time-out), and texts for a reply time-out, a connection closed by the server,
 * and a failed TLS handshake. code() is the QAbstractSocket::SocketError behind it.
 */
class ESocketError : public EMailError
{
public:
    ESocketError(const QString &message, int code);
    int code() const;

private:
    int m_code;
};

/**
 * A server refused a command. protocol() is "SMTP" or "POP3"; the message is the SMTP reply
 * text, or the whole POP3 reply line (code 500 for "-ERR", 999 for any other refusal).
 */
class EProtocolError : public EMailError
{
public:
    EProtocolError(const QString &protocol, int code, const QString &message);
    QString protocol() const;
    int code() const;

private:
    QString m_protocol;
    int m_code;
};

/// A reply that cannot be read: an SMTP code that is not three digits, a malformed POP3 list line.
class EConvertError : public EMailError
{
public:
    using EMailError::EMailError;
};

/**
 * One TCP connection to Hostname on a port, sending and reading lines (CR LF). Every wait has a
 * time limit; the TLS modes serve today's mail servers. Blocking: the caller's thread waits, and
 * an idle handler, when set, is called about every 100 ms of waiting (to repaint a window).
 */
class T_TcpIp
{
public:
    enum class Security {
        None,     ///< plain TCP
        StartTls, ///< plain connect, then upgraded by the protocol (SMTP STARTTLS)
        Tls,      ///< TLS from the first byte
    };

    explicit T_TcpIp(quint16 defaultPort);
    virtual ~T_TcpIp();
    T_TcpIp(const T_TcpIp &) = delete;
    T_TcpIp &operator=(const T_TcpIp &) = delete;

    QString hostname() const;
    void setHostname(const QString &hostname);
    quint16 port() const;
    void setPort(quint16 port);
    Security security() const;
    void setSecurity(Security security);
    /// Milliseconds for connecting (and a TLS handshake); default 60 s.
    int connectTimeout() const;
    void setConnectTimeout(int ms);
    /// Milliseconds to wait for each line from the server; default 60 s.
    int readTimeout() const;
    void setReadTimeout(int ms);
    /// Certificates trusted in addition to the system's store (a test's own server).
    void setExtraCaCertificates(const QList<QSslCertificate> &certificates);
    void setIdleHandler(std::function<void()> handler);
    /// Asked about every 100 ms while waiting; true ends the wait with ESocketError "Vorgang abgebrochen".
    void setCancelCheck(std::function<bool()> check);

    bool isConnected() const;

    /**
     * Connects (closing a previous connection first). Throws ETcpIpError for an unknown host and
     * ESocketError when no connection (or no TLS session) comes about in time.
     */
    void connectToServer();
    /// Closes the connection; nothing is sent.
    void close();

    /// Sends text + CR LF. CR and LF inside text become blanks, so no text can add a command.
    void sendLine(const QByteArray &text);
    /**
     * The next line without its CR LF (all CR bytes dropped). Throws ESocketError when no line
     * arrives in the read time-out or the server closes the connection before the line ends.
     */
    QByteArray readLine();
    /// The same within a deadline that the caller sets for a whole reply of several lines.
    QByteArray readLine(const QDeadlineTimer &deadline);

    /// The name this computer gives itself ("127.0.0.1" when it has none or it cannot be looked up).
    static QString localHostName();

protected:
    /// Turns the open plain connection into a TLS session (after the server agreed to it).
    void startTls();
    bool isEncrypted() const;
    /// True when the server has sent bytes that were not read yet.
    bool hasPendingInput() const;
    /// Sends bytes as they are (a block of message lines).
    void sendData(const QByteArray &bytes);

private:
    QString m_hostname;
    quint16 m_port;
    Security m_security = Security::None;
    int m_connectTimeout = 60000;
    int m_readTimeout = 60000;
    QList<QSslCertificate> m_extraCaCertificates;
    std::function<void()> m_idle;
    std::function<bool()> m_cancel;
    std::unique_ptr<QSslSocket> m_socket;
};
