// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/tcpip.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QSslConfiguration>
#include <QSslSocket>

#include <algorithm>
#include <climits>

namespace {

// A server that sends bytes without ever ending the line must not fill the memory.
constexpr qint64 s_maxLineLength = 64 * 1024;

} // namespace

EMailError::EMailError(const QString &message)
    : m_message(message)
    , m_what(message.toUtf8())
{
}

QString EMailError::message() const
{
    return m_message;
}

const char *EMailError::what() const noexcept
{
    return m_what.constData();
}

ESocketError::ESocketError(const QString &message, int code)
    : EMailError(message)
    , m_code(code)
{
}

int ESocketError::code() const
{
    return m_code;
}

EProtocolError::EProtocolError(const QString &protocol, int code, const QString &message)
    : EMailError(message)
    , m_protocol(protocol)
    , m_code(code)
{
}

QString EProtocolError::protocol() const
{
    return m_protocol;
}

int EProtocolError::code() const
{
    return m_code;
}

T_TcpIp::T_TcpIp(quint16 defaultPort)
    : m_port(defaultPort)
{
}

T_TcpIp::~T_TcpIp()
{
    close();
}

QString T_TcpIp::hostname() const
{
    return m_hostname;
}

void T_TcpIp::setHostname(const QString &hostname)
{
    m_hostname = hostname;
}

quint16 T_TcpIp::port() const
{
    return m_port;
}

void T_TcpIp::setPort(quint16 port)
{
    m_port = port;
}

T_TcpIp::Security T_TcpIp::security() const
{
    return m_security;
}

void T_TcpIp::setSecurity(Security security)
{
    m_security = security;
}

int T_TcpIp::connectTimeout() const
{
    return m_connectTimeout;
}

void T_TcpIp::setConnectTimeout(int ms)
{
    m_connectTimeout = ms;
}

int T_TcpIp::readTimeout() const
{
    return m_readTimeout;
}

void T_TcpIp::setReadTimeout(int ms)
{
    m_readTimeout = ms;
}

void T_TcpIp::setExtraCaCertificates(const QList<QSslCertificate> &certificates)
{
    m_extraCaCertificates = certificates;
}

void T_TcpIp::setIdleHandler(std::function<void()> handler)
{
    m_idle = std::move(handler);
}

void T_TcpIp::setCancelCheck(std::function<bool()> check)
{
    m_cancel = std::move(check);
}

bool T_TcpIp::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool T_TcpIp::isEncrypted() const
{
    return m_socket && m_socket->isEncrypted();
}

namespace {

// Waits in slices so that the idle handler runs while a server is slow and a cancel is seen
// within a second; false when the deadline passes or the socket fails for another reason than
// the slice's own time-out. A cancel throws.
template<typename Wait>
bool waitSliced(QSslSocket *socket,
    const QDeadlineTimer &deadline,
    const std::function<void()> &idle,
    const std::function<bool()> &cancel,
    Wait wait)
{
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return false;
        const int slice = int(idle || cancel ? std::min<qint64>(left, 100) : std::min<qint64>(left, INT_MAX));
        if (wait(slice))
            return true;
        if (socket->error() != QAbstractSocket::SocketTimeoutError)
            return false;
        if (idle)
            idle();
        if (cancel && cancel())
            throw ESocketError(QStringLiteral("Vorgang abgebrochen"), QAbstractSocket::OperationError);
    }
}

// The trust of other OpenSSL programs: SSL_CERT_FILE names a bundle, SSL_CERT_DIR folders of
// certificates (separated like PATH), both besides the system's store.
QList<QSslCertificate> environmentCaCertificates()
{
    QList<QSslCertificate> certificates;
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    if (!file.isEmpty())
        certificates += QSslCertificate::fromPath(file, QSsl::Pem);
    const QString dirs = qEnvironmentVariable("SSL_CERT_DIR");
    for (const QString &dir : dirs.split(QDir::listSeparator(), Qt::SkipEmptyParts)) {
        for (const QFileInfo &entry : QDir(dir).entryInfoList(QDir::Files | QDir::Readable))
            certificates += QSslCertificate::fromPath(entry.filePath(), QSsl::Pem);
    }
    return certificates;
}

} // namespace

void T_TcpIp::connectToServer()
{
    close();

    QList<QHostAddress> addresses;
    QHostAddress literal;
    if (literal.setAddress(m_hostname)) {
        addresses << literal;
    } else if (!m_hostname.isEmpty()) {
        const QHostInfo info = QHostInfo::fromName(m_hostname);
        if (info.error() == QHostInfo::NoError)
            addresses = info.addresses();
    }
    if (addresses.isEmpty())
        throw ETcpIpError(QStringLiteral("Couldn't resolve hostname ") + m_hostname);
    // IPv4 first, as mail servers are reached that way; the others remain as fallbacks.
    std::stable_sort(addresses.begin(), addresses.end(), [](const QHostAddress &a, const QHostAddress &b) {
        return a.protocol() == QAbstractSocket::IPv4Protocol && b.protocol() != QAbstractSocket::IPv4Protocol;
    });

    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(environmentCaCertificates());
    if (!m_extraCaCertificates.isEmpty())
        config.addCaCertificates(m_extraCaCertificates);

    const QDeadlineTimer deadline(m_connectTimeout);
    int code = QAbstractSocket::UnknownSocketError;
    for (const QHostAddress &address : std::as_const(addresses)) {
        m_socket = std::make_unique<QSslSocket>();
        m_socket->setSslConfiguration(config);
        if (m_security == Security::Tls) {
            m_socket->connectToHostEncrypted(address.toString(), m_port, m_hostname);
            if (waitSliced(m_socket.get(), deadline, m_idle, m_cancel, [this](int ms) {
                    return m_socket->waitForEncrypted(ms);
                }))
                return;
            if (m_socket->error() == QAbstractSocket::SslHandshakeFailedError) {
                const QString reason = m_socket->errorString();
                close();
                throw ESocketError(QStringLiteral("TLS handshake failed: ") + reason,
                                   QAbstractSocket::SslHandshakeFailedError);
            }
        } else {
            m_socket->connectToHost(address, m_port);
            if (waitSliced(m_socket.get(), deadline, m_idle, m_cancel, [this](int ms) {
                    return m_socket->waitForConnected(ms);
                }))
                return;
        }
        code = m_socket->error();
        close();
        if (deadline.hasExpired())
            break;
    }
    throw ESocketError(QStringLiteral("Error creating socket"), code);
}

void T_TcpIp::close()
{
    if (!m_socket)
        return;
    m_socket->abort();
    m_socket.reset();
}

bool T_TcpIp::hasPendingInput() const
{
    return m_socket && m_socket->bytesAvailable() > 0;
}

void T_TcpIp::startTls()
{
    m_socket->setPeerVerifyName(m_hostname);
    m_socket->startClientEncryption();
    const QDeadlineTimer deadline(m_connectTimeout);
    if (!waitSliced(m_socket.get(), deadline, m_idle, m_cancel, [this](int ms) {
            return m_socket->waitForEncrypted(ms);
        })) {
        const QString reason = m_socket->errorString();
        close();
        throw ESocketError(QStringLiteral("TLS handshake failed: ") + reason, QAbstractSocket::SslHandshakeFailedError);
    }
}

void T_TcpIp::sendLine(const QByteArray &text)
{
    QByteArray line = text;
    line.replace('\r', ' ').replace('\n', ' ');
    sendData(line + "\r\n");
}

void T_TcpIp::sendData(const QByteArray &bytes)
{
    if (!isConnected())
        throw ESocketError(QStringLiteral("Connection closed by server"), QAbstractSocket::RemoteHostClosedError);
    m_socket->write(bytes);
    const QDeadlineTimer deadline(m_readTimeout);
    while (m_socket->bytesToWrite() > 0 || m_socket->encryptedBytesToWrite() > 0) {
        if (!waitSliced(m_socket.get(), deadline, m_idle, m_cancel, [this](int ms) {
                return m_socket->waitForBytesWritten(ms);
            })) {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                throw ESocketError(QStringLiteral("Connection closed by server"),
                                   QAbstractSocket::RemoteHostClosedError);
            throw ESocketError(QStringLiteral("Timeout sending to the server"), QAbstractSocket::SocketTimeoutError);
        }
    }
}

QByteArray T_TcpIp::readLine()
{
    return readLine(QDeadlineTimer(m_readTimeout));
}

QByteArray T_TcpIp::readLine(const QDeadlineTimer &deadline)
{
    if (!m_socket)
        throw ESocketError(QStringLiteral("Connection closed by server"), QAbstractSocket::RemoteHostClosedError);
    while (!m_socket->canReadLine()) {
        if (m_socket->bytesAvailable() > s_maxLineLength)
            throw ESocketError(QStringLiteral("Reply line too long"), QAbstractSocket::UnknownSocketError);
        if (m_socket->state() != QAbstractSocket::ConnectedState
            || !waitSliced(m_socket.get(), deadline, m_idle, m_cancel, [this](int ms) {
                   return m_socket->waitForReadyRead(ms);
               })) {
            if (m_socket->canReadLine())
                break;
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                throw ESocketError(QStringLiteral("Connection closed by server"),
                                   QAbstractSocket::RemoteHostClosedError);
            throw ESocketError(QStringLiteral("Timeout waiting for the server's reply"),
                               QAbstractSocket::SocketTimeoutError);
        }
    }
    QByteArray line = m_socket->readLine();
    line.chop(1);
    line.replace("\r", "");
    return line;
}

QString T_TcpIp::localHostName()
{
    const QString name = QHostInfo::localHostName();
    if (name.isEmpty() || QHostInfo::fromName(name).error() != QHostInfo::NoError)
        return QStringLiteral("127.0.0.1");
    return name;
}
