// SPDX-License-Identifier: GPL-3.0-or-later
// The SMTP and POP3 clients against real servers on 127.0.0.1 (see tests/support/mailservers.h).
#include "mail/mailmessage.h"
#include "mail/pop3.h"
#include "mail/smtp.h"
#include "mailservers.h"
#include "platform/clock.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QJsonArray>
#include <QTcpSocket>

#include <atomic>
#include <future>
#include <thread>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QTimeZone>

using namespace Qt::Literals::StringLiterals;

namespace {

/// What a client call ended with, so that tables can name the expected outcome.
struct Outcome {
    QString kind = QStringLiteral("ok");
    int code = 0;
    QString message;
};

template<typename F>
Outcome attempt(F f)
{
    Outcome outcome;
    try {
        f();
    } catch (const EProtocolError &e) {
        outcome = {QStringLiteral("EProtocolError"), e.code(), e.message()};
    } catch (const ESocketError &e) {
        outcome = {QStringLiteral("ESocketError"), e.code(), e.message()};
    } catch (const ETcpIpError &e) {
        outcome = {QStringLiteral("ETcpIpError"), 0, e.message()};
    } catch (const EConvertError &e) {
        outcome = {QStringLiteral("EConvertError"), 0, e.message()};
    }
    return outcome;
}

QStringList toStrings(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &v : value.toArray())
        list << v.toString();
    return list;
}

QByteArray body(const QByteArray &message)
{
    return message.mid(message.indexOf("\r\n\r\n") + 4);
}

QByteArray decodeQuotedPrintable(const QByteArray &text)
{
    QByteArray result;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '=') {
            result += text.at(i);
        } else if (text.mid(i + 1, 2) == "\r\n") {
            i += 2; // soft line break
        } else {
            result += char(QByteArray::fromHex(text.mid(i + 1, 2)).at(0));
            i += 2;
        }
    }
    return result;
}

} // namespace

class TestMailClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void testAddress_data();
    void testAddress();
    void testDateText_data();
    void testDateText();
    void testLongSubjectIsFolded();
    void testCharset_data();
    void testCharset();

    void testReceivedMessage();
    void testEnvelope_data();
    void testEnvelope();
    void testOverlongLine();
    void testRefusals_data();
    void testRefusals();
    void testNothingToSend();
    void testTls_data();
    void testTls();

    void testPop3Login();
    void testPop3WrongPassword();
    void testPopBeforeSmtp();

    void testConnectionFailures_data();
    void testConnectionFailures();
    void testMisbehavingServer_data();
    void testMisbehavingServer();
    void testAddressHeadersAndSevenBitBody();

private:
    bool smtpReady();
    bool popReady();
    /// A client for the listener, with short time limits and the test certificate trusted.
    void prepare(T_SMTP &smtp, const QString &listener);
    Outcome sendMail(T_SMTP &smtp, const QString &from, const QStringList &to, const QStringList &bodyLines,
                     const QString &subject = QStringLiteral("Protokoll"));

    Pop3Server m_pop3;
    SmtpServer m_smtp;
    QString m_pop3Error;
    QString m_smtpError;
    bool m_pop3Up = false;
    bool m_smtpUp = false;
};


void TestMailClient::initTestCase()
{
    m_pop3Up = m_pop3.start(&m_pop3Error);
    m_smtpUp = m_smtp.start(m_pop3Up ? m_pop3.logPath() : QString(), &m_smtpError);
}

void TestMailClient::init()
{
    if (m_smtpUp)
        m_smtp.clear();
}

void TestMailClient::cleanupTestCase()
{
    Clock::setInstance(nullptr);
    m_smtp.stop();
    m_pop3.stop();
}

void TestMailClient::prepare(T_SMTP &smtp, const QString &listener)
{
    smtp.setHostname(QStringLiteral("127.0.0.1"));
    smtp.setPort(m_smtp.port(listener));
    smtp.setConnectTimeout(10000);
    smtp.setReadTimeout(10000);
    smtp.setExtraCaCertificates(m_smtp.certificate());
}

Outcome TestMailClient::sendMail(T_SMTP &smtp, const QString &from, const QStringList &to,
                                 const QStringList &bodyLines, const QString &subject)
{
    T_Mail mail;
    mail.setSmtp(&smtp);
    mail.setFrom(from);
    mail.setRecipients(to);
    mail.setSubject(subject);
    mail.setBody(bodyLines);
    return attempt([&mail] { mail.send(); });
}

void TestMailClient::testAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("address");

    QTest::newRow("bare") << QStringLiteral("a@example.org") << 1 << QStringLiteral("a@example.org");
    QTest::newRow("display name") << QStringLiteral("Hans Muster <hans@example.org>") << 1
                                  << QStringLiteral("hans@example.org");
    QTest::newRow("quoted") << QStringLiteral("\"(<a@example.org>)\"") << 1 << QStringLiteral("a@example.org");
    QTest::newRow("comma, first") << QStringLiteral("a@x.org, b@y.org") << 1 << QStringLiteral("a@x.org");
    QTest::newRow("comma, second") << QStringLiteral("a@x.org, b@y.org") << 2 << QStringLiteral("b@y.org");
    QTest::newRow("semicolon") << QStringLiteral("a@x.org;<b@y.org>") << 2 << QStringLiteral("b@y.org");
    QTest::newRow("no third") << QStringLiteral("a@x.org, b@y.org") << 3 << QString();
    QTest::newRow("no at sign") << QStringLiteral("Trevalo") << 1 << QString();
}

void TestMailClient::testAddress()
{
    QFETCH(QString, text);
    QFETCH(int, n);
    QFETCH(QString, address);
    const QString result = mailAddress(text, n);
    QCOMPARE(result, address);
    QCOMPARE(result.isNull(), address.isNull());
}

void TestMailClient::testDateText_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("text");

    const QTimeZone berlin("Europe/Berlin");
    QTest::newRow("winter, one hour ahead") << QDateTime(QDate(2024, 2, 5), QTime(9, 3, 7), berlin)
                                            << QStringLiteral("Mon, 5 Feb 2024 09:03:07 +0100");
    QTest::newRow("summer time") << QDateTime(QDate(2024, 7, 28), QTime(23, 59, 59), berlin)
                                 << QStringLiteral("Sun, 28 Jul 2024 23:59:59 +0200");
    QTest::newRow("UTC") << QDateTime(QDate(2023, 12, 31), QTime(0, 0), QTimeZone::utc())
                         << QStringLiteral("Sun, 31 Dec 2023 00:00:00 GMT");
    QTest::newRow("behind UTC") << QDateTime(QDate(2024, 1, 10), QTime(8, 0), QTimeZone("America/New_York"))
                                << QStringLiteral("Wed, 10 Jan 2024 08:00:00 -0500");
    // A zone without summer time keeps its offset (it must not read as GMT).
    QTest::newRow("no summer time") << QDateTime(QDate(2024, 3, 1), QTime(12, 30), QTimeZone("Asia/Kolkata"))
                                    << QStringLiteral("Fri, 1 Mar 2024 12:30:00 +0530");
}

void TestMailClient::testDateText()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, text);
    QCOMPARE(T_MailNews::dateText(time), text);
}

void TestMailClient::testLongSubjectIsFolded()
{
    const QString subject = QStringLiteral("Sicherung für Größenänderungen: ").repeated(4) + QStringLiteral("😀 Ende");
    const QList<QByteArray> lines = T_MailNews::subjectLines(subject);
    QVERIFY(lines.size() > 1);
    QByteArray decoded;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray word = i == 0 ? lines.at(i).mid(9) : lines.at(i);
        QVERIFY2(i == 0 || word.startsWith(' '), lines.at(i).constData());
        word = word.trimmed();
        QVERIFY(word.size() <= 75);
        QVERIFY(word.startsWith("=?UTF-8?B?") && word.endsWith("?="));
        const QByteArray part = QByteArray::fromBase64(word.mid(10, word.size() - 12));
        // Every word holds whole characters.
        QCOMPARE(QString::fromUtf8(part).toUtf8(), part);
        decoded += part;
    }
    QCOMPARE(QString::fromUtf8(decoded), subject);
}

void TestMailClient::testCharset_data()
{
    QTest::addColumn<QByteArray>("charset");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("declared");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("UTF-8") << "UTF-8"_ba << u"Größe 5 €"_s << "UTF-8"_ba << "Gr\xc3\xb6\xc3\x9f" "e 5 \xe2\x82\xac"_ba;
    QTest::newRow("windows-1252") << "windows-1252"_ba << u"Größe 5 €"_s << "windows-1252"_ba
                                  << "Gr\xf6\xdf" "e 5 \x80"_ba;
    // A character without a Windows-1252 code sends the whole message as UTF-8, declared so.
    QTest::newRow("windows-1252, does not fit") << "windows-1252"_ba << u"Größe Ω"_s << "UTF-8"_ba
                                                << "Gr\xc3\xb6\xc3\x9f" "e \xce\xa9"_ba;
}

void TestMailClient::testCharset()
{
    QFETCH(QByteArray, charset);
    QFETCH(QString, line);
    QFETCH(QByteArray, declared);
    QFETCH(QByteArray, bytes);

    T_Mail mail;
    mail.setFrom(QStringLiteral("backup@example.org"));
    mail.setRecipients({QStringLiteral("a@example.org")});
    mail.setCharset(charset);
    mail.setBody({line});
    const QList<QByteArray> lines = mail.message(QDateTime::currentDateTime());
    QVERIFY(lines.contains("Content-Type: text/plain; charset=" + declared));
    QCOMPARE(lines.last(), bytes);
}

void TestMailClient::testReceivedMessage()
{
    REQUIRE_SMTP();
    const FixedClock clock(QDateTime(QDate(2024, 2, 5), QTime(9, 3, 7), QTimeZone("Europe/Berlin")));
    Clock::setInstance(&clock);
    T_SMTP smtp;
    prepare(smtp, QStringLiteral("plain"));
    const Outcome outcome = sendMail(smtp,
                                     QStringLiteral("Trevalo Backup <backup@example.org>"),
                                     {QStringLiteral("admin@example.org, chef@example.org")},
                                     {QStringLiteral("Sicherung \"Täglich\" beendet."),
                                      QString(),
                                      QStringLiteral("."),
                                      QStringLiteral("..zwei Punkte"),
                                      QStringLiteral("Ende.")},
                                     QStringLiteral("Protokoll - 3 Fehler (Prüfung)"));
    Clock::setInstance(nullptr);
    QCOMPARE(outcome.message, QString());

    const QByteArray expected = "From: Trevalo Backup <backup@example.org>\r\n"
                                "Message-ID: <1707123787@"
        + T_TcpIp::localHostName().toUtf8()
        + ">\r\n"
          "Date: Mon, 5 Feb 2024 09:03:07 +0100\r\n"
          "Subject: =?UTF-8?B?UHJvdG9rb2xsIC0gMyBGZWhsZXIgKFByw7xmdW5nKQ==?=\r\n"
          "To: admin@example.org, chef@example.org\r\n"
          "MIME-Version: 1.0\r\n"
          "Content-Type: text/plain; charset=UTF-8\r\n"
          "Content-Transfer-Encoding: 8bit\r\n"
          "\r\n"
          "Sicherung \"T\xc3\xa4glich\" beendet.\r\n"
          "\r\n"
          ".\r\n"
          "..zwei Punkte\r\n"
          "Ende.\r\n";
    const QList<SmtpServer::Message> received = m_smtp.messages();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().data, expected);
    QCOMPARE(received.first().envelope.value(QStringLiteral("helo")).toString(), T_TcpIp::localHostName());
    QCOMPARE(smtp.replyCode(), 221);
    QVERIFY(!smtp.isConnected());
    QVERIFY(m_smtp.transcript().last().endsWith(QLatin1String(" QUIT")));
}

void TestMailClient::testEnvelope_data()
{
    QTest::addColumn<QString>("listener");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QStringList>("to");
    QTest::addColumn<QStringList>("bodyLines");
    QTest::addColumn<QString>("mailFrom");
    QTest::addColumn<QStringList>("rcptTos");
    QTest::addColumn<QStringList>("refused");

    const QStringList text{QStringLiteral("Zeile 1"), QStringLiteral("Zeile 2")};
    QTest::newRow("two addresses in one line")
        << u"plain"_s << u"backup@example.org"_s << QStringList{u"a@example.org, Bea <b@example.org>"_s} << text
        << u"backup@example.org"_s << QStringList{u"a@example.org"_s, u"b@example.org"_s} << QStringList();
    QTest::newRow("two recipient lines") << u"plain"_s << u"backup@example.org"_s
                                         << QStringList{u"a@example.org"_s, u"b@example.org;c@example.org"_s} << text
                                         << u"backup@example.org"_s
                                         << QStringList{u"a@example.org"_s, u"b@example.org"_s, u"c@example.org"_s}
                                         << QStringList();
    QTest::newRow("sender without at sign") << u"plain"_s << u"Trevalo"_s << QStringList{u"a@example.org"_s} << text << u"<>"_s
                                            << QStringList{u"a@example.org"_s} << QStringList();
    QTest::newRow("dot lines") << u"plain"_s << u"backup@example.org"_s << QStringList{u"a@example.org"_s}
                               << QStringList{u"."_s, u".versteckt"_s, u".."_s, u""_s, u"ende ."_s} << u"backup@example.org"_s
                               << QStringList{u"a@example.org"_s} << QStringList();
    QTest::newRow("one recipient refused")
        << u"plain"_s << u"backup@example.org"_s << QStringList{u"reject@example.org; ok@example.org"_s} << text
        << u"backup@example.org"_s << QStringList{u"ok@example.org"_s} << QStringList{u"reject@example.org"_s};
    QTest::newRow("multi-line greeting") << u"greeting"_s << u"backup@example.org"_s << QStringList{u"a@example.org"_s} << text
                                         << u"backup@example.org"_s << QStringList{u"a@example.org"_s} << QStringList();
}

void TestMailClient::testEnvelope()
{
    REQUIRE_SMTP();
    QFETCH(QString, listener);
    QFETCH(QString, from);
    QFETCH(QStringList, to);
    QFETCH(QStringList, bodyLines);
    QFETCH(QString, mailFrom);
    QFETCH(QStringList, rcptTos);
    QFETCH(QStringList, refused);

    T_SMTP smtp;
    prepare(smtp, listener);
    QCOMPARE(sendMail(smtp, from, to, bodyLines).message, QString());

    const QList<SmtpServer::Message> received = m_smtp.messages();
    QCOMPARE(received.size(), 1);
    const QJsonObject envelope = received.first().envelope;
    QCOMPARE(envelope.value(QStringLiteral("mail_from")).toString(), mailFrom);
    QCOMPARE(toStrings(envelope.value(QStringLiteral("rcpt_tos"))), rcptTos);
    QCOMPARE(toStrings(envelope.value(QStringLiteral("refused"))), refused);
    QCOMPARE(smtp.refusedRecipients(), refused);
    QCOMPARE(body(received.first().data), (bodyLines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());

    // The header names the recipient lines as given, one "To:" line each, and the sender as given.
    const QByteArray data = received.first().data;
    const QByteArray head = data.left(data.indexOf("\r\n\r\n") + 2);
    QCOMPARE(head.count("\r\nTo: "), to.size());
    for (const QString &line : std::as_const(to))
        QVERIFY(head.contains("\r\nTo: " + line.toUtf8() + "\r\n"));
    QVERIFY(head.startsWith("From: " + from.toUtf8() + "\r\n"));
}

void TestMailClient::testOverlongLine()
{
    REQUIRE_SMTP();
    // Servers refuse lines over 998 bytes; a log line with a long path must still arrive intact.
    const QString longLine = QStringLiteral("Kopiere /daten/Ärger mit = Zeichen/").repeated(60) + QStringLiteral(" ");
    const QStringList lines{QStringLiteral("kurz"), longLine, QStringLiteral(".")};
    T_SMTP smtp;
    prepare(smtp, QStringLiteral("plain"));
    QCOMPARE(sendMail(smtp, QStringLiteral("backup@example.org"), {QStringLiteral("a@example.org")}, lines).message,
             QString());
    const QList<SmtpServer::Message> received = m_smtp.messages();
    QCOMPARE(received.size(), 1);
    QVERIFY(received.first().data.contains("\r\nContent-Transfer-Encoding: quoted-printable\r\n"));
    const QByteArray encoded = body(received.first().data);
    for (const QByteArray &line : encoded.split('\n'))
        QVERIFY(line.size() <= 77);
    QCOMPARE(QString::fromUtf8(decodeQuotedPrintable(encoded)), lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void TestMailClient::testRefusals_data()
{
    QTest::addColumn<QStringList>("to");
    QTest::addColumn<QString>("bodyLine");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("554 after the data") << QStringList{u"a@example.org"_s} << u"REJECT-554"_s << 554
                                        << u"5.6.0 Message refused by content rule"_s;
    QTest::newRow("every recipient refused") << QStringList{u"reject1@example.org, reject2@example.org"_s} << u"Hallo"_s
                                             << 503 << u"Error: need RCPT command"_s;
}

void TestMailClient::testRefusals()
{
    REQUIRE_SMTP();
    QFETCH(QStringList, to);
    QFETCH(QString, bodyLine);
    QFETCH(int, code);
    QFETCH(QString, text);

    T_SMTP smtp;
    prepare(smtp, QStringLiteral("plain"));
    const Outcome outcome = sendMail(smtp, QStringLiteral("backup@example.org"), to, {bodyLine});
    QCOMPARE(outcome.kind, QStringLiteral("EProtocolError"));
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.message, text);
    QVERIFY(m_smtp.messages().isEmpty());
    // The session still ends politely, and the client keeps no message for a later mail.
    QVERIFY(m_smtp.transcript().last().endsWith(QLatin1String(" QUIT")));
    QVERIFY(smtp.message().isEmpty());
    QVERIFY(smtp.sender().isEmpty());
}

void TestMailClient::testNothingToSend()
{
    REQUIRE_SMTP();
    T_SMTP smtp;
    prepare(smtp, QStringLiteral("plain"));
    QCOMPARE(sendMail(smtp, QString(), {QStringLiteral("a@example.org")}, {QStringLiteral("x")}).kind,
             QStringLiteral("ok"));
    QCOMPARE(sendMail(smtp, QStringLiteral("backup@example.org"), {}, {QStringLiteral("x")}).kind,
             QStringLiteral("ok"));
    QVERIFY(m_smtp.transcript().isEmpty());
}

void TestMailClient::testTls_data()
{
    QTest::addColumn<QString>("listener");
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("trust"); // extra: the test's own; none; or one of the variables
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("code");

    const int none = int(T_TcpIp::Security::None);
    const int startTls = int(T_TcpIp::Security::StartTls);
    const int tls = int(T_TcpIp::Security::Tls);
    QTest::newRow("STARTTLS with AUTH") << u"submission"_s << startTls << u"tester"_s << u"secret"_s << u"extra"_s << u"ok"_s << 0;
    QTest::newRow("implicit TLS with AUTH") << u"smtps"_s << tls << u"tester"_s << u"secret"_s << u"extra"_s << u"ok"_s << 0;
    QTest::newRow("implicit TLS without user") << u"smtps"_s << tls << u""_s << u""_s << u"extra"_s << u"ok"_s << 0;
    QTest::newRow("wrong password") << u"submission"_s << startTls << u"tester"_s << u"falsch"_s << u"extra"_s << u"EProtocolError"_s
                                    << 535;
    QTest::newRow("untrusted certificate, STARTTLS")
        << u"submission"_s << startTls << u"tester"_s << u"secret"_s << u"none"_s << u"ESocketError"_s
        << int(QAbstractSocket::SslHandshakeFailedError);
    QTest::newRow("untrusted certificate, implicit TLS")
        << u"smtps"_s << tls << u"tester"_s << u"secret"_s << u"none"_s << u"ESocketError"_s
        << int(QAbstractSocket::SslHandshakeFailedError);
    QTest::newRow("STARTTLS not offered") << u"plain"_s << startTls << u"tester"_s << u"secret"_s << u"extra"_s << u"EProtocolError"_s
                                          << 0;
    // The server offers AUTH only inside TLS: the client must not go on without it.
    QTest::newRow("AUTH without TLS not offered")
        << u"submission"_s << none << u"tester"_s << u"secret"_s << u"extra"_s << u"EProtocolError"_s << 0;
    // Trust as other OpenSSL programs take it from the environment, besides the system's store.
    QTest::newRow("trusted through SSL_CERT_FILE")
        << u"submission"_s << startTls << u"tester"_s << u"secret"_s << u"SSL_CERT_FILE"_s << u"ok"_s << 0;
    QTest::newRow("trusted through SSL_CERT_DIR")
        << u"smtps"_s << tls << u""_s << u""_s << u"SSL_CERT_DIR"_s << u"ok"_s << 0;
}

void TestMailClient::testTls()
{
    REQUIRE_SMTP();
    if (!m_smtp.hasTls())
        REQUIRE_SERVER(false, "smtp", QStringLiteral("openssl could not make a test certificate"));
    QFETCH(QString, listener);
    QFETCH(int, security);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, trust);
    QFETCH(QString, outcome);
    QFETCH(int, code);

    T_SMTP smtp;
    prepare(smtp, listener);
    smtp.setSecurity(T_TcpIp::Security(security));
    smtp.setUser(user);
    smtp.setPassword(password);
    QTemporaryDir certDir;
    if (trust != QLatin1String("extra"))
        smtp.setExtraCaCertificates({});
    if (trust.startsWith(QLatin1String("SSL_CERT_"))) {
        QFile file(certDir.filePath(QStringLiteral("test-ca.pem")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (const QSslCertificate &certificate : m_smtp.certificate())
            file.write(certificate.toPem());
        file.close();
        qputenv(trust.toLatin1().constData(),
            QFile::encodeName(trust == QLatin1String("SSL_CERT_FILE") ? file.fileName() : certDir.path()));
    }
    const auto unset = qScopeGuard([&trust] {
        if (trust.startsWith(QLatin1String("SSL_CERT_")))
            qunsetenv(trust.toLatin1().constData());
    });
    const Outcome result =
        sendMail(smtp, QStringLiteral("backup@example.org"), {QStringLiteral("a@example.org")}, {QStringLiteral("x")});
    QCOMPARE(result.kind, outcome);
    QCOMPARE(result.code, code);

    const QList<SmtpServer::Message> received = m_smtp.messages();
    if (outcome != QLatin1String("ok")) {
        QVERIFY(received.isEmpty());
        for (const QString &entry : m_smtp.transcript())
            QVERIFY2(!entry.contains(QLatin1String(" MAIL ")), qPrintable(entry));
        return;
    }
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().envelope.value(QStringLiteral("tls")).toBool(), true);
    QCOMPARE(received.first().envelope.value(QStringLiteral("auth")).toString(), user);
    QCOMPARE(body(received.first().data), QByteArray("x\r\n"));
}

void TestMailClient::testPop3Login()
{
    REQUIRE_POP3();
    QVERIFY(m_pop3.seedMessage("Subject: eins\r\n\r\nHallo\r\n"));
    T_Pop3 pop;
    pop.setHostname(QStringLiteral("127.0.0.1"));
    pop.setPort(m_pop3.port());
    pop.setUserName(QStringLiteral("tester"));
    pop.setPassword(QStringLiteral("secret"));
    QCOMPARE(attempt([&pop] { pop.login(); }).message, QString());
    QVERIFY(pop.isConnected());
    const QList<Pop3Message> list = pop.messages();
    QVERIFY(!list.isEmpty());
    QCOMPARE(list.first().number, 1);
    QVERIFY(list.first().size > 0);
    QCOMPARE(attempt([&pop] { pop.logout(); }).message, QString());
    QVERIFY(!pop.isConnected());
    QVERIFY(pop.messages().isEmpty());
}

void TestMailClient::testPop3WrongPassword()
{
    REQUIRE_POP3();
    T_Pop3 pop;
    pop.setHostname(QStringLiteral("127.0.0.1"));
    pop.setPort(m_pop3.port());
    pop.setUserName(QStringLiteral("tester"));
    pop.setPassword(QStringLiteral("falsch"));
    const Outcome outcome = attempt([&pop] { pop.login(); });
    QCOMPARE(outcome.kind, QStringLiteral("EProtocolError"));
    QCOMPARE(outcome.code, 500);
    QCOMPARE(outcome.message, QStringLiteral("-ERR [AUTH] Authentication failed."));
    // The connection stays open after the refusal; logging out still says QUIT.
    QVERIFY(pop.isConnected());
    QCOMPARE(attempt([&pop] { pop.logout(); }).message, QString());
    QVERIFY(!pop.isConnected());
}

void TestMailClient::testPopBeforeSmtp()
{
    REQUIRE_POP3();
    REQUIRE_SMTP();
    T_SMTP smtp;
    prepare(smtp, QStringLiteral("popfirst"));
    const QString from = QStringLiteral("backup@example.org");
    const QStringList to{QStringLiteral("a@example.org")};

    // Without a POP3 session first the server refuses the sender.
    const Outcome refused = sendMail(smtp, from, to, {QStringLiteral("x")});
    QCOMPARE(refused.kind, QStringLiteral("EProtocolError"));
    QCOMPARE(refused.code, 530);

    T_Pop3 pop;
    pop.setHostname(QStringLiteral("127.0.0.1"));
    pop.setPort(m_pop3.port());
    pop.setUserName(QStringLiteral("popper"));
    pop.setPassword(QStringLiteral("secret"));
    QCOMPARE(attempt([&pop] {
                 pop.login();
                 pop.logout();
             }).message,
             QString());
    QCOMPARE(sendMail(smtp, from, to, {QStringLiteral("x")}).message, QString());
    QCOMPARE(m_smtp.messages().size(), 1);
    // The POP3 session logged in and ended with QUIT (dovecot logs "Logged out" only for QUIT),
    // which the server had seen when the SMTP client gave its sender.
    const QString log = m_pop3.log();
    QVERIFY(log.contains(QLatin1String("Login: user=<popper>")));
    QVERIFY(log.contains(QRegularExpression(QStringLiteral("pop3\\(popper\\).*Disconnected: Logged out"))));
}

void TestMailClient::testConnectionFailures_data()
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");

    // A name the resolver refuses before asking any name server, so the test stays on this machine.
    QTest::newRow("unknown host") << u"smtp"_s << u"unknown host"_s << u"ETcpIpError"_s
                                  << u"Couldn't resolve hostname kein host.invalid"_s;
    QTest::newRow("closed port") << u"smtp"_s << u"closed port"_s << u"ESocketError"_s << u"Error creating socket"_s;
    QTest::newRow("silent server") << u"smtp"_s << u"silent server"_s << u"ESocketError"_s
                                   << u"Timeout waiting for the server's reply"_s;
    QTest::newRow("closed in mid-reply") << u"smtp"_s << u"hangup"_s << u"ESocketError"_s << u"Connection closed by server"_s;
    QTest::newRow("POP3, closed port") << u"pop3"_s << u"closed port"_s << u"ESocketError"_s << u"Error creating socket"_s;
    QTest::newRow("POP3, silent server") << u"pop3"_s << u"silent server"_s << u"ESocketError"_s
                                         << u"Timeout waiting for the server's reply"_s;
}

void TestMailClient::testConnectionFailures()
{
    QFETCH(QString, client);
    QFETCH(QString, situation);
    QFETCH(QString, kind);
    QFETCH(QString, message);

    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;
    // A listening socket that is never accepted: the connection opens, but no byte ever comes.
    QTcpServer silent;
    if (situation == QLatin1String("unknown host")) {
        host = QStringLiteral("kein host.invalid");
    } else if (situation == QLatin1String("closed port")) {
        port = freeLocalPort();
    } else if (situation == QLatin1String("silent server")) {
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        port = silent.serverPort();
    } else {
        REQUIRE_SMTP();
        port = m_smtp.port(QStringLiteral("plain"));
    }

    Outcome outcome;
    if (client == QLatin1String("smtp")) {
        T_SMTP smtp;
        smtp.setHostname(host);
        smtp.setPort(port);
        smtp.setConnectTimeout(5000);
        smtp.setReadTimeout(300);
        T_Mail mail;
        mail.setSmtp(&smtp);
        mail.setFrom(QStringLiteral("backup@example.org"));
        mail.setRecipients({QStringLiteral("hangup@example.org")});
        mail.setBody({QStringLiteral("x")});
        int idleCalls = 0;
        smtp.setIdleHandler([&idleCalls] { ++idleCalls; });
        outcome = attempt([&mail] { mail.send(); });
        QVERIFY(!smtp.isConnected());
        // While waiting, the caller gets its turns (to keep a window painted).
        if (situation == QLatin1String("silent server"))
            QVERIFY(idleCalls > 0);
    } else {
        T_Pop3 pop;
        pop.setHostname(host);
        pop.setPort(port);
        pop.setConnectTimeout(5000);
        pop.setReadTimeout(300);
        outcome = attempt([&pop] { pop.login(); });
    }
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(outcome.message, message);
}

namespace
{

/// One connection served by a script on a thread of its own (misbehaviour no real server shows).
class ScriptedSmtpServer
{
public:
    using Script = std::function<void(QTcpSocket &, const std::atomic<bool> &stop)>;
    explicit ScriptedSmtpServer(Script script)
    {
        std::promise<quint16> portPromise;
        auto portFuture = portPromise.get_future();
        m_thread = std::thread([this, script, promise = std::move(portPromise)]() mutable {
            QTcpServer server;
            server.listen(QHostAddress::LocalHost, 0);
            promise.set_value(server.serverPort());
            if (!server.waitForNewConnection(10000))
                return;
            QTcpSocket *socket = server.nextPendingConnection();
            script(*socket, m_stop);
            socket->waitForDisconnected(2000);
        });
        m_port = portFuture.get();
    }
    ~ScriptedSmtpServer()
    {
        m_stop = true;
        m_thread.join();
    }
    quint16 port() const
    {
        return m_port;
    }

private:
    std::thread m_thread;
    quint16 m_port = 0;
    std::atomic<bool> m_stop { false };
};

bool sendTo(QTcpSocket &socket, const QByteArray &bytes)
{
    socket.write(bytes);
    socket.waitForBytesWritten(1000);
    return socket.state() == QAbstractSocket::ConnectedState;
}

} // namespace

void TestMailClient::testMisbehavingServer_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("message");
    QTest::newRow("multi-line reply trickled") << u"trickle"_s << u"Timeout waiting for the server's reply"_s;
    QTest::newRow("endless multi-line reply") << u"endless"_s << u"Reply from the mail server too long"_s;
    QTest::newRow("cancel while a reply trickles") << u"cancel"_s << u"Vorgang abgebrochen"_s;
    QTest::newRow("POP3 message list trickled") << u"pop3"_s << u"Timeout waiting for the server's reply"_s;
}

// A reply has one time limit and one size limit as a whole, and a cancel ends the wait at once.
void TestMailClient::testMisbehavingServer()
{
    QFETCH(QString, situation);
    QFETCH(QString, message);
    ScriptedSmtpServer server([&situation](QTcpSocket &socket, const std::atomic<bool> &stop) {
        if (situation == QLatin1String("pop3")) {
            // USER, PASS and LIST are welcome; the list then never ends, one entry at a time.
            sendTo(socket, "+OK ready\r\n");
            for (int answered = 0; answered < 3 && !stop;) {
                if (!socket.canReadLine() && !socket.waitForReadyRead(200))
                    continue;
                socket.readLine();
                sendTo(socket, "+OK\r\n");
                ++answered;
            }
            for (int n = 1; !stop && sendTo(socket, QByteArray::number(n) + " 100\r\n"); ++n)
                socket.waitForReadyRead(200);
            return;
        }
        const QByteArray line = "220-greeting line " + QByteArray(60, 'x') + "\r\n";
        while (!stop && sendTo(socket, line)) {
            if (situation != QLatin1String("endless"))
                socket.waitForReadyRead(200);
        }
    });
    QElapsedTimer clock;
    clock.start();
    if (situation == QLatin1String("pop3")) {
        T_Pop3 pop;
        pop.setHostname(QStringLiteral("127.0.0.1"));
        pop.setPort(server.port());
        pop.setReadTimeout(1000);
        const Outcome outcome = attempt([&pop] { pop.login(); });
        QCOMPARE(outcome.kind, u"ESocketError"_s);
        QCOMPARE(outcome.message, message);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        return;
    }
    T_SMTP smtp;
    smtp.setHostname(QStringLiteral("127.0.0.1"));
    smtp.setPort(server.port());
    smtp.setReadTimeout(situation == QLatin1String("cancel") ? 60000 : 1000);
    smtp.setCancelCheck([&] { return situation == QLatin1String("cancel") && clock.elapsed() > 300; });
    T_Mail mail;
    mail.setSmtp(&smtp);
    mail.setFrom(QStringLiteral("backup@example.org"));
    mail.setRecipients({ QStringLiteral("admin@example.org") });
    mail.setBody({ QStringLiteral("x") });
    const Outcome outcome = attempt([&mail] { mail.send(); });
    QCOMPARE(outcome.kind, u"ESocketError"_s);
    QCOMPARE(outcome.message, message);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!smtp.isConnected());
}

// Names that are not ASCII as RFC 2047 words; an 8-bit body only where the server offers 8BITMIME.
void TestMailClient::testAddressHeadersAndSevenBitBody()
{
    QByteArray received;
    QByteArray mailFrom;
    ScriptedSmtpServer server([&](QTcpSocket &socket, const std::atomic<bool> &stop) {
        sendTo(socket, "220 old.example ESMTP\r\n");
        bool inData = false;
        while (!stop && socket.state() == QAbstractSocket::ConnectedState) {
            if (!socket.canReadLine() && !socket.waitForReadyRead(200))
                continue;
            while (socket.canReadLine()) {
                const QByteArray line = socket.readLine();
                if (inData) {
                    if (line == ".\r\n") {
                        inData = false;
                        sendTo(socket, "250 queued\r\n");
                    } else {
                        received += line;
                    }
                } else if (line.startsWith("EHLO")) {
                    sendTo(socket, "250-old.example\r\n250 SIZE 100000\r\n"); // no 8BITMIME
                } else if (line.startsWith("DATA")) {
                    inData = true;
                    sendTo(socket, "354 go on\r\n");
                } else if (line.startsWith("QUIT")) {
                    sendTo(socket, "221 bye\r\n");
                    return;
                } else {
                    if (line.startsWith("MAIL"))
                        mailFrom = line;
                    sendTo(socket, "250 ok\r\n");
                }
            }
        }
    });
    T_SMTP smtp;
    smtp.setHostname(QStringLiteral("127.0.0.1"));
    smtp.setPort(server.port());
    smtp.setReadTimeout(5000);
    T_Mail mail;
    mail.setSmtp(&smtp);
    mail.setFrom(QStringLiteral("Jörg Müller <backup@example.org>"));
    mail.setRecipients({ QStringLiteral("\"Özil, Mesut\" <m@example.org>; plain@example.org") });
    mail.setBody({ QStringLiteral("Größe: 5 €"), QStringLiteral("ascii") });
    const Outcome outcome = attempt([&mail] { mail.send(); });
    QCOMPARE(outcome.kind, u"ok"_s);
    QCOMPARE(mailFrom, QByteArray("MAIL FROM: <backup@example.org>\r\n"));
    for (const char c : received)
        QVERIFY2(!(c & 0x80), "8-bit byte sent to a server without 8BITMIME");
    QVERIFY(received.contains("\r\nFrom: =?UTF-8?B?" + QByteArray("Jörg Müller").toBase64() + "?= <backup@example.org>\r\n")
        || received.startsWith("From: =?UTF-8?B?" + QByteArray("Jörg Müller").toBase64() + "?= <backup@example.org>\r\n"));
    QVERIFY(received.contains("\r\nTo: =?UTF-8?B?" + QByteArray("Özil, Mesut").toBase64()
        + "?= <m@example.org>; plain@example.org\r\n"));
    QVERIFY(received.contains("Content-Transfer-Encoding: quoted-printable\r\n"));
    QCOMPARE(decodeQuotedPrintable(body(received)), QByteArray("Größe: 5 €\r\nascii\r\n"));
}

QTEST_GUILESS_MAIN(TestMailClient)
#include "tst_mailclient.moc"
