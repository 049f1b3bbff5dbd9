// SPDX-License-Identifier: GPL-3.0-or-later
// A private MariaDB server for tests: own data folder, own loopback port, test accounts.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

/**
 * Starts mariadbd on 127.0.0.1 with a fresh data folder in a QTemporaryDir and a free port,
 * and creates the database "testdb" with these accounts (all '<user>'@'%'):
 * test_native/nativepw (mysql_native_password, all rights), test_nopw with an empty password,
 * test_old/oldpw (mysql_old_password) and, when the plugin is installed, test_ed/edpw (ed25519).
 * Every tool runs with --no-defaults, so the system's server and its files are never touched.
 */
class MariaDbServer
{
public:
    MariaDbServer();
    ~MariaDbServer();

    /// True when the server programs are installed.
    static bool available();
    /// True when TREVALO_TEST_REQUIRE names "mariadb": a missing server is then a failure, not a skip.
    static bool required();

    /// Before start(): the server offers TLS with a certificate of its own (needs openssl).
    void setTls(bool on);
    bool start(QString *error);
    /// Clean shutdown, falling back to SIGTERM and SIGKILL.
    void stop();
    /// SIGKILL, for tests of a server dying mid-answer.
    void kill();
    bool running() const;

    QString host() const;
    quint16 port() const;
    bool hasEd25519Account() const;

    /// Runs SQL as root over the server's Unix socket with the mariadb client.
    bool execute(const QString &sql, QString *error = nullptr);

private:
    QString errorLogTail() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_hasEd = false;
    bool m_tls = false;
};
