// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailservers.h"
#include "testutil.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#ifndef MAILTEST_SUPPORT_DIR
#error "MAILTEST_SUPPORT_DIR must name tests/support"
#endif

namespace {

// Debian's interpreter: a python3 earlier on the PATH (pyenv) cannot import the apt package.
const QString s_python = QStringLiteral("/usr/bin/python3");

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool chownTo(const QString &path, const char *user, const char *groupName)
{
    const passwd *pw = user ? ::getpwnam(user) : nullptr;
    const struct group *gr = ::getgrnam(groupName);
    if ((user && !pw) || !gr)
        return false;
    return ::chown(QFile::encodeName(path).constData(), pw ? pw->pw_uid : uid_t(-1), gr->gr_gid) == 0;
}

} // namespace

bool mailServerRequired(const char *kind)
{
    return qEnvironmentVariable("TREVALO_TEST_REQUIRE").contains(QLatin1String(kind), Qt::CaseInsensitive);
}

quint16 freeLocalPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// ---- SMTP ----

SmtpServer::SmtpServer()
    : m_dir(QDir::tempPath() + QStringLiteral("/trevalo-smtp-XXXXXX"))
{
}

SmtpServer::~SmtpServer()
{
    stop();
}

bool SmtpServer::start(const QString &popLog, QString *error)
{
    if (!QFileInfo(s_python).isExecutable()) {
        *error = QStringLiteral("%1 not found").arg(s_python);
        return false;
    }
    QProcess probe;
    probe.start(s_python, {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0) {
        *error = QStringLiteral("python3-aiosmtpd is not installed");
        return false;
    }
    const QString out = m_dir.filePath(QStringLiteral("out"));
    QDir().mkpath(out);

    QStringList args{QStringLiteral(MAILTEST_SUPPORT_DIR "/smtp_capture.py"), out};
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (!openssl.isEmpty()) {
        const QString cert = m_dir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        if (TestUtil::makeSelfSignedCertificate(cert, key, nullptr)) {
            args << QStringLiteral("--cert") << cert << QStringLiteral("--key") << key;
            m_tls = true;
        }
    }
    if (!popLog.isEmpty())
        args << QStringLiteral("--pop-log") << popLog;

    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("server.log")));
    m_process.start(s_python, args);
    QByteArray ready;
    QDeadlineTimer deadline(15000);
    while (!ready.contains('\n') && !deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(100);
        ready += m_process.readAllStandardOutput();
    }
    if (!ready.startsWith("READY ")) {
        *error = QStringLiteral("SMTP server did not start: ")
            + QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("server.log"))));
        stopProcess(m_process);
        return false;
    }
    const QJsonObject ports = QJsonDocument::fromJson(ready.mid(6).trimmed()).object();
    for (auto it = ports.begin(); it != ports.end(); ++it)
        m_ports.insert(it.key(), quint16(it.value().toInt()));
    return true;
}

void SmtpServer::stop()
{
    stopProcess(m_process);
}

quint16 SmtpServer::port(const QString &listener) const
{
    return m_ports.value(listener);
}

bool SmtpServer::hasTls() const
{
    return m_tls;
}

QList<QSslCertificate> SmtpServer::certificate() const
{
    return QSslCertificate::fromPath(m_dir.filePath(QStringLiteral("cert.pem")));
}

QList<SmtpServer::Message> SmtpServer::messages() const
{
    QList<Message> result;
    const QDir out(m_dir.filePath(QStringLiteral("out")));
    const QStringList names = out.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        Message message;
        message.data = readFile(out.filePath(name));
        const QString json = out.filePath(name.chopped(4) + QStringLiteral(".json"));
        message.envelope = QJsonDocument::fromJson(readFile(json)).object();
        result << message;
    }
    return result;
}

QStringList SmtpServer::transcript() const
{
    const QByteArray text = readFile(m_dir.filePath(QStringLiteral("out/transcript.log")));
    return QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void SmtpServer::clear()
{
    const QDir out(m_dir.filePath(QStringLiteral("out")));
    const QStringList names = out.entryList(QDir::Files);
    for (const QString &name : names) {
        if (name != QLatin1String("pop-used"))
            QFile::remove(out.filePath(name));
    }
}

// ---- POP3 ----

Pop3Server::Pop3Server() = default;

Pop3Server::~Pop3Server()
{
    stop();
}

bool Pop3Server::start(QString *error)
{
    const QString dovecot = QStandardPaths::findExecutable(QStringLiteral("dovecot"),
                                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (dovecot.isEmpty()) {
        *error = QStringLiteral("dovecot is not installed");
        return false;
    }
    if (::geteuid() != 0) {
        *error = QStringLiteral("the POP3 test server needs root (dovecot switches to nobody for mail)");
        return false;
    }
    // The mail processes run as nobody and the auth process as dovecot: every parent folder must be
    // world-executable, so this stays below /tmp whatever TMPDIR says.
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/trevalo-pop3-XXXXXX"));
    const QString dir = m_dir->path();
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                              | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    for (const char *sub : {"run", "state", "mail", "home"})
        QDir(dir).mkdir(QLatin1String(sub));
    const QString users = dir + QStringLiteral("/users");
    if (!writeFile(users, "tester:{PLAIN}secret::::::\npopper:{PLAIN}secret::::::\n") || !chownTo(dir + QStringLiteral("/mail"), "nobody", "nogroup")
        || !chownTo(dir + QStringLiteral("/home"), "nobody", "nogroup") || !chownTo(users, nullptr, "dovecot")) {
        *error = QStringLiteral("cannot prepare the POP3 folders (users nobody/dovecot missing?)");
        return false;
    }
    QFile::setPermissions(users, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);

    m_port = freeLocalPort();
    const QString config = QStringLiteral(R"(protocols = pop3
listen = 127.0.0.1
base_dir = %1/run
state_dir = %1/state
instance_name = trevalo-mailtest-%2
log_path = %1/dovecot.log
auth_verbose = yes
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 0
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
mail_location = maildir:%1/mail/%u
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u %1/users
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=%1/home/%u
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = %2
  }
  inet_listener pop3s {
    port = 0
  }
}
ssl = no
)")
                               .arg(dir)
                               .arg(m_port);
    const QString configPath = dir + QStringLiteral("/dovecot.conf");
    writeFile(configPath, config.toUtf8());

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(dir + QStringLiteral("/stdout.log"));
    m_process.start(dovecot, {QStringLiteral("-F"), QStringLiteral("-c"), configPath});

    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(1000) && probe.waitForReadyRead(2000) && probe.readLine().startsWith("+OK")) {
            probe.write("QUIT\r\n");
            probe.waitForBytesWritten(1000);
            return true;
        }
        QThread::msleep(50);
    }
    *error = QStringLiteral("dovecot did not start: ") + QString::fromUtf8(readFile(dir + QStringLiteral("/stdout.log")))
        + log();
    stopProcess(m_process);
    return false;
}

void Pop3Server::stop()
{
    stopProcess(m_process);
}

quint16 Pop3Server::port() const
{
    return m_port;
}

QString Pop3Server::logPath() const
{
    return m_dir ? m_dir->path() + QStringLiteral("/dovecot.log") : QString();
}

QString Pop3Server::log() const
{
    return QString::fromUtf8(readFile(logPath()));
}

bool Pop3Server::seedMessage(const QByteArray &data)
{
    // Maildir delivery: a unique name in new/; the folders belong to nobody like dovecot's own.
    const QString box = m_dir->path() + QStringLiteral("/mail/tester");
    for (const char *sub : {"", "/new", "/cur", "/tmp"}) {
        const QString path = box + QLatin1String(sub);
        QDir().mkpath(path);
        chownTo(path, "nobody", "nogroup");
    }
    static int s_count = 0;
    const QString name = box + QStringLiteral("/new/%1.trevalo%2.localhost").arg(QDateTime::currentSecsSinceEpoch()).arg(++s_count);
    return writeFile(name, data);
}
