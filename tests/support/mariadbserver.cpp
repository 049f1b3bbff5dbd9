// SPDX-License-Identifier: GPL-3.0-or-later
#include "mariadbserver.h"
#include "testutil.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace
{

const QStringList kSearchPath = { QStringLiteral("/usr/sbin"),
    QStringLiteral("/usr/bin"),
    QStringLiteral("/usr/local/sbin"),
    QStringLiteral("/usr/local/bin") };

QString findTool(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, kSearchPath);
    return path;
}

bool runTool(const QString &program, const QStringList &arguments, int timeoutMs, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForStarted() && process.waitForFinished(timeoutMs);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    if (!finished) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

MariaDbServer::MariaDbServer() = default;

MariaDbServer::~MariaDbServer()
{
    stop();
}

bool MariaDbServer::available()
{
    return !findTool(QStringLiteral("mariadbd")).isEmpty() && !findTool(QStringLiteral("mariadb-install-db")).isEmpty()
        && !findTool(QStringLiteral("mariadb")).isEmpty();
}

bool MariaDbServer::required()
{
    return qEnvironmentVariable("TREVALO_TEST_REQUIRE").contains(QLatin1String("mariadb"));
}

QString MariaDbServer::host() const
{
    return QStringLiteral("127.0.0.1");
}

quint16 MariaDbServer::port() const
{
    return m_port;
}

bool MariaDbServer::hasEd25519Account() const
{
    return m_hasEd;
}

bool MariaDbServer::running() const
{
    return m_process.state() != QProcess::NotRunning;
}

QString MariaDbServer::errorLogTail() const
{
    QFile log(m_dir->filePath(QStringLiteral("error.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = log.readAll();
    return QString::fromLocal8Bit(text.right(2000));
}

void MariaDbServer::setTls(bool on)
{
    m_tls = on;
}

bool MariaDbServer::start(QString *error)
{
    stop();
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/trevalo-mariadb-XXXXXX"));
    if (!m_dir->isValid()) {
        *error = QStringLiteral("cannot create a temporary folder");
        return false;
    }
    const QString base = m_dir->path();
    QDir(base).mkpath(QStringLiteral("data"));
    QDir(base).mkpath(QStringLiteral("tmp"));
// mariadbd refuses to run as root unless told to.
#ifdef Q_OS_UNIX
    const QStringList asUser = geteuid() == 0 ? QStringList { QStringLiteral("--user=root") } : QStringList {};
#else
    const QStringList asUser;
#endif

    QString output;
    if (!runTool(findTool(QStringLiteral("mariadb-install-db")),
            QStringList { QStringLiteral("--no-defaults"),
                QStringLiteral("--datadir=") + base + QStringLiteral("/data"),
                QStringLiteral("--auth-root-authentication-method=normal"),
                QStringLiteral("--skip-test-db"),
                QStringLiteral("--skip-name-resolve") }
                + asUser,
            180000,
            &output)) {
        *error = QStringLiteral("mariadb-install-db failed: ") + output.right(2000);
        return false;
    }

    {
        // A port that was free a moment ago; the server reports a bind failure otherwise.
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            *error = QStringLiteral("no free port");
            return false;
        }
        m_port = probe.serverPort();
    }

    QStringList tlsArguments;
    if (m_tls) {
        const QString cert = base + QStringLiteral("/cert.pem");
        const QString key = base + QStringLiteral("/key.pem");
        if (!TestUtil::makeSelfSignedCertificate(cert, key, &output)) {
            *error = QStringLiteral("openssl could not make a certificate: ") + output.right(2000);
            return false;
        }
        tlsArguments << QStringLiteral("--ssl-cert=") + cert << QStringLiteral("--ssl-key=") + key;
    }

    m_process.setProgram(findTool(QStringLiteral("mariadbd")));
    m_process.setArguments(QStringList { QStringLiteral("--no-defaults") } + asUser
        + QStringList { QStringLiteral("--datadir=") + base + QStringLiteral("/data"),
            QStringLiteral("--tmpdir=") + base + QStringLiteral("/tmp"),
            QStringLiteral("--bind-address=127.0.0.1"),
            QStringLiteral("--port=%1").arg(m_port),
            QStringLiteral("--socket=") + base + QStringLiteral("/mysqld.sock"),
            QStringLiteral("--pid-file=") + base + QStringLiteral("/mysqld.pid"),
            QStringLiteral("--log-error=") + base + QStringLiteral("/error.log"),
            QStringLiteral("--skip-name-resolve"),
            QStringLiteral("--skip-log-bin"),
            QStringLiteral("--secure-auth=0"),
            QStringLiteral("--character-set-server=utf8mb4"),
            QStringLiteral("--collation-server=utf8mb4_general_ci"),
            QStringLiteral("--max-allowed-packet=64M"),
            QStringLiteral("--innodb-flush-log-at-trx-commit=2") }
        + tlsArguments);
    m_process.setStandardOutputFile(base + QStringLiteral("/mariadbd.stdout"));
    m_process.setStandardErrorFile(base + QStringLiteral("/mariadbd.stdout"), QIODevice::Append);
    m_process.start();
    if (!m_process.waitForStarted()) {
        *error = QStringLiteral("mariadbd did not start: ") + m_process.errorString();
        return false;
    }

    const QString admin = findTool(QStringLiteral("mariadb-admin"));
    const QStringList ping = { QStringLiteral("--no-defaults"),
        QStringLiteral("--protocol=socket"),
        QStringLiteral("-S"),
        base + QStringLiteral("/mysqld.sock"),
        QStringLiteral("-uroot"),
        QStringLiteral("ping") };
    QDeadlineTimer deadline(60000);
    bool ready = false;
    while (!deadline.hasExpired()) {
        if (m_process.state() == QProcess::NotRunning)
            break;
        if (QFile::exists(base + QStringLiteral("/mysqld.sock")) && runTool(admin, ping, 10000, nullptr)) {
            ready = true;
            break;
        }
        QThread::msleep(100);
    }
    if (!ready) {
        *error = QStringLiteral("mariadbd is not ready: ") + errorLogTail();
        stop();
        return false;
    }

    const QString accounts
        = QStringLiteral("CREATE DATABASE testdb CHARACTER SET utf8mb4;"
                         "CREATE USER 'test_native'@'%' IDENTIFIED BY 'nativepw';"
                         "GRANT ALL ON *.* TO 'test_native'@'%' WITH GRANT OPTION;"
                         "CREATE USER 'test_nopw'@'%';"
                         "GRANT ALL ON testdb.* TO 'test_nopw'@'%';"
                         "CREATE USER 'test_old'@'%' IDENTIFIED VIA mysql_old_password USING '09301740536db389';"
                         "GRANT ALL ON testdb.* TO 'test_old'@'%';");
    if (!execute(accounts, error)) {
        stop();
        return false;
    }
    m_hasEd = execute(QStringLiteral("INSTALL SONAME 'auth_ed25519';"
                                     "CREATE USER 'test_ed'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('edpw');"
                                     "GRANT ALL ON testdb.* TO 'test_ed'@'%';"));
    return true;
}

bool MariaDbServer::execute(const QString &sql, QString *error)
{
    QString output;
    const bool ok = runTool(findTool(QStringLiteral("mariadb")),
        { QStringLiteral("--no-defaults"),
            QStringLiteral("--protocol=socket"),
            QStringLiteral("-S"),
            m_dir->filePath(QStringLiteral("mysqld.sock")),
            QStringLiteral("-uroot"),
            QStringLiteral("-e"),
            sql },
        300000,
        &output);
    if (!ok && error)
        *error = QStringLiteral("mariadb: ") + output;
    return ok;
}

void MariaDbServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    runTool(findTool(QStringLiteral("mariadb-admin")),
        { QStringLiteral("--no-defaults"),
            QStringLiteral("--protocol=socket"),
            QStringLiteral("-S"),
            m_dir->filePath(QStringLiteral("mysqld.sock")),
            QStringLiteral("-uroot"),
            QStringLiteral("shutdown") },
        30000,
        nullptr);
    if (!m_process.waitForFinished(30000)) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
}

void MariaDbServer::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished();
}
