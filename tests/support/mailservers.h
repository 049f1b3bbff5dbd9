// SPDX-License-Identifier: GPL-3.0-or-later
// Real SMTP (aiosmtpd with our capture handler) and POP3 (dovecot) servers on 127.0.0.1 for tests.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

/**
 * True when TREVALO_TEST_REQUIRE names kind ("smtp", "pop3"): a missing server is then a
 * failure instead of a skipped test.
 */
bool mailServerRequired(const char *kind);

// A missing server skips its tests, unless TREVALO_TEST_REQUIRE asks for it.
#define REQUIRE_SERVER(ready, kind, error)                                                                             \
    do {                                                                                                               \
        if (!(ready)) {                                                                                                \
            if (mailServerRequired(kind))                                                                              \
                QFAIL(qPrintable(error));                                                                              \
            QSKIP(qPrintable(error));                                                                                  \
        }                                                                                                              \
    } while (false)
#define REQUIRE_SMTP() REQUIRE_SERVER(m_smtpUp, "smtp", m_smtpError)
#define REQUIRE_POP3() REQUIRE_SERVER(m_pop3Up, "pop3", m_pop3Error)

/**
 * The SMTP server: one python process with the listeners "plain", "greeting", "popfirst" and,
 * when openssl made a certificate, "submission" (STARTTLS, AUTH after TLS) and "smtps" (implicit
 * TLS). The rules it answers by are described in smtp_capture.py. User "tester", password "secret".
 */
class SmtpServer
{
public:
    SmtpServer();
    ~SmtpServer();

    /// Starts the server; popLog is dovecot's log file for the "popfirst" listener (may be empty).
    bool start(const QString &popLog, QString *error);
    void stop();

    quint16 port(const QString &listener) const;
    bool hasTls() const;
    /// The self-signed certificate of the TLS listeners (subject 127.0.0.1 and localhost).
    QList<QSslCertificate> certificate() const;

    struct Message {
        QByteArray data;       ///< the message as received, after dot-unstuffing
        QJsonObject envelope;  ///< listener, helo, mail_from, rcpt_tos, refused, tls, auth
    };
    QList<Message> messages() const;
    /// One entry per connection and command: "<session> <listener> <what>".
    QStringList transcript() const;
    /// Forgets the messages and the transcript received so far.
    void clear();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QMap<QString, quint16> m_ports;
    bool m_tls = false;
};

/**
 * The POP3 server: dovecot with its own configuration, runtime folders, log and maildir in a
 * temporary folder (nothing of the system's dovecot is used). Users "tester" and "popper" (only for
 * the SMTP server's "popfirst" listener), both with the password "secret".
 * Needs root, as dovecot drops to "nobody" for mail access.
 */
class Pop3Server
{
public:
    Pop3Server();
    ~Pop3Server();

    bool start(QString *error);
    void stop();

    quint16 port() const;
    QString logPath() const;
    QString log() const;
    /// Puts a message into the mailbox of "tester".
    bool seedMessage(const QByteArray &data);

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

/// A port on 127.0.0.1 that was free a moment ago.
quint16 freeLocalPort();
