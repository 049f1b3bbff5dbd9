// SPDX-License-Identifier: GPL-3.0-or-later
#include "tmysqldatabase.h"

namespace
{

const QString kDatabaseName = QStringLiteral("DatabaseName");
const QString kHost = QStringLiteral("Host");
const QString kPort = QStringLiteral("Port");
const QString kUser = QStringLiteral("UID");
const QString kPassword = QStringLiteral("PWD");
const QString kTimeout = QStringLiteral("TIMEOUT");

QString nameOf(const QString &line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? line : line.left(eq);
}

} // namespace

TmySQLDatabase::TmySQLDatabase() = default;

TmySQLDatabase::~TmySQLDatabase()
{
    close();
}

QString TmySQLDatabase::param(const QString &name, bool *found) const
{
    for (const QString &line : m_params) {
        if (nameOf(line).compare(name, Qt::CaseInsensitive) == 0) {
            if (found)
                *found = true;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            return eq < 0 ? QString() : line.mid(eq + 1);
        }
    }
    if (found)
        *found = false;
    return {};
}

bool TmySQLDatabase::changeParam(const QString &name, const QString &value)
{
    if (param(name) == value)
        return true;
    if (connected()) {
        setLayerError(QStringLiteral("Operation bei geöffneter Datenbank nicht ausführbar"));
        return false;
    }
    const QString line = name + QLatin1Char('=') + value;
    for (QString &existing : m_params) {
        if (nameOf(existing).compare(name, Qt::CaseInsensitive) == 0) {
            existing = line;
            return true;
        }
    }
    m_params.append(line);
    return true;
}

void TmySQLDatabase::setLayerError(const QString &text)
{
    m_errorCode = -1;
    m_errorString = text;
}

QString TmySQLDatabase::databaseName() const
{
    return param(kDatabaseName);
}

bool TmySQLDatabase::setDatabaseName(const QString &value)
{
    return changeParam(kDatabaseName, value);
}

QString TmySQLDatabase::host() const
{
    return param(kHost);
}

bool TmySQLDatabase::setHost(const QString &value)
{
    return changeParam(kHost, value);
}

int TmySQLDatabase::port() const
{
    return param(kPort).toInt();
}

bool TmySQLDatabase::setPort(int value)
{
    // An unchanged number is unchanged even when the stored line reads differently ("03306").
    if (port() == value && !param(kPort).isEmpty())
        return true;
    return changeParam(kPort, QString::number(value));
}

QString TmySQLDatabase::userName() const
{
    return param(kUser);
}

bool TmySQLDatabase::setUserName(const QString &value)
{
    return changeParam(kUser, value);
}

QString TmySQLDatabase::userPassword() const
{
    return param(kPassword);
}

bool TmySQLDatabase::setUserPassword(const QString &value)
{
    return changeParam(kPassword, value);
}

int TmySQLDatabase::connectionTimeout() const
{
    bool found = false;
    const QString value = param(kTimeout, &found);
    return found ? value.toInt() : 30;
}

bool TmySQLDatabase::setConnectionTimeout(int seconds)
{
    if (connectionTimeout() == seconds && !param(kTimeout).isEmpty())
        return true;
    return changeParam(kTimeout, QString::number(seconds));
}

bool TmySQLDatabase::loginPrompt() const
{
    return m_loginPrompt;
}

void TmySQLDatabase::setLoginPrompt(bool on)
{
    m_loginPrompt = on;
}

void TmySQLDatabase::setLoginPromptHandler(LoginPromptHandler handler)
{
    m_loginHandler = std::move(handler);
}

int TmySQLDatabase::connectOptions() const
{
    return m_connectOptions;
}

void TmySQLDatabase::setConnectOptions(int options)
{
    m_connectOptions = options;
}

bool TmySQLDatabase::readOnly() const
{
    return m_readOnly;
}

void TmySQLDatabase::setReadOnly(bool on)
{
    m_readOnly = on;
}

bool TmySQLDatabase::handleShared() const
{
    return m_handleShared;
}

void TmySQLDatabase::setHandleShared(bool on)
{
    m_handleShared = on;
}

void TmySQLDatabase::setIoTimeout(int seconds)
{
    m_ioTimeoutSeconds = qMax(1, seconds);
    m_wire.setIoTimeout(m_ioTimeoutSeconds * 1000);
}

void TmySQLDatabase::setCancelCheck(std::function<bool()> check)
{
    m_wire.setCancelCheck(std::move(check));
}

QStringList TmySQLDatabase::params() const
{
    return m_params;
}

bool TmySQLDatabase::setParams(const QStringList &lines)
{
    if (lines == m_params)
        return true;
    if (connected()) {
        setLayerError(QStringLiteral("Operation bei geöffneter Datenbank nicht ausführbar"));
        return false;
    }
    m_params = lines;
    return true;
}

bool TmySQLDatabase::connected() const
{
    return m_wire.isOpen();
}

bool TmySQLDatabase::setConnected(bool on)
{
    if (!on) {
        close();
        return true;
    }
    return connected() || open();
}

bool TmySQLDatabase::open()
{
    if (connected())
        return true;
    m_errorCode = 0;
    m_errorString.clear();
    if (m_loginPrompt) {
        QString user;
        QString password;
        if (!m_loginHandler || !m_loginHandler(databaseName(), &user, &password)) {
            setLayerError(QStringLiteral("Verbindung zu Datenbank '%1' nicht möglich").arg(databaseName()));
            return false;
        }
        changeParam(kUser, user);
        changeParam(kPassword, password);
    }

    MySqlWire::Settings settings;
    settings.user = param(kUser).toUtf8();
    settings.password = param(kPassword).toUtf8();
    settings.database = param(kDatabaseName).toUtf8();
    settings.host = param(kHost).trimmed();
    if (settings.host.isEmpty())
        settings.host = QStringLiteral("localhost");
    bool portOk = true;
    const QString portText = param(kPort).trimmed();
    const int portNumber = portText.isEmpty() ? 0 : portText.toInt(&portOk);
    if (!portOk || portNumber < 0 || portNumber > 65535) {
        m_errorCode = MySqlClientError::ConnectionError;
        m_errorString = QStringLiteral("Can't connect to MySQL server on '%1' (22)").arg(settings.host.left(64));
        return false;
    }
    settings.port = quint16(portNumber == 0 ? 3306 : portNumber);
    bool timeoutFound = false;
    const int timeout = param(kTimeout, &timeoutFound).trimmed().toInt();
    settings.connectTimeoutMs = (timeoutFound && timeout > 0 ? timeout : 30) * 1000;
    settings.compress = m_connectOptions & coCompress;
    settings.requireTls = m_connectOptions & coRequireTls;

    m_wire.setIoTimeout(m_ioTimeoutSeconds * 1000);
    if (!m_wire.connectToServer(settings))
        return takeWireError();
    return true;
}

void TmySQLDatabase::close()
{
    m_wire.disconnectFromServer();
}

bool TmySQLDatabase::tableNames(QStringList *names, const QString &pattern)
{
    names->clear();
    if (!open())
        return false;
    QString sql = QStringLiteral("SHOW TABLES");
    if (!pattern.isEmpty()) {
        QString escaped = pattern;
        escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("''"));
        sql += QStringLiteral(" LIKE '") + escaped + QLatin1Char('\'');
    }
    bool hasResult = false;
    if (!m_wire.query(sql.toUtf8(), &hasResult))
        return takeWireError();
    MySqlRow row;
    bool atEnd = false;
    while (hasResult) {
        if (!m_wire.fetchRow(&row, &atEnd))
            return takeWireError();
        if (atEnd)
            break;
        if (row.lengths.value(0, -1) >= 0)
            names->append(QString::fromUtf8(row.data.constData() + row.offsets[0], row.lengths[0]));
    }
    m_errorCode = 0;
    m_errorString.clear();
    return true;
}

int TmySQLDatabase::errorCode() const
{
    return m_errorCode;
}

QString TmySQLDatabase::errorString() const
{
    return m_errorString;
}

QString TmySQLDatabase::serverVersion() const
{
    return m_wire.serverVersion();
}

int TmySQLDatabase::serverVersionNumber() const
{
    return m_wire.serverVersionNumber();
}

bool TmySQLDatabase::tlsActive() const
{
    return m_wire.tlsActive();
}

bool TmySQLDatabase::compressionActive() const
{
    return m_wire.compressionActive();
}

MySqlWire &TmySQLDatabase::wire()
{
    return m_wire;
}

bool TmySQLDatabase::takeWireError()
{
    m_errorCode = m_wire.errorCode();
    m_errorString = m_wire.errorString();
    return false;
}
