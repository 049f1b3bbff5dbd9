// SPDX-License-Identifier: GPL-3.0-or-later
// The log mail of a backup run and the test mail, against real servers on 127.0.0.1.
#include "engine/backuprun.h"
#include "engine/runlog.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "mail/logmail.h"
#include "mail/mailmessage.h"
#include "mail/smtp.h"
#include "mailservers.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "runfixture.h"
#include "scriptedrunhost.h"
#include "testutil.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QSettings>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using TestUtil::readFile;
using TestUtil::writeFile;

namespace
{

const QDateTime kNow(QDate(2026, 12, 10), QTime(21, 30, 5));
const QString kSuccess
    = u"Die eMail wurde erfolgreich verschickt. Bitte prüfen Sie, ob sie beim Empfänger angekommen ist."_s;

// The header lines, whether the message has CR LF (SMTP) or LF (a local mail program) line ends.
QByteArray headerPart(const QByteArray &message)
{
    const qsizetype crlf = message.indexOf("\r\n\r\n");
    return message.left(crlf >= 0 ? crlf + 2 : message.indexOf("\n\n") + 1);
}

QByteArray bodyPart(const QByteArray &message, const QByteArray &lineEnd = "\r\n")
{
    const QByteArray gap = lineEnd + lineEnd;
    return message.mid(message.indexOf(gap) + gap.size());
}

QStringList headerLines(const QByteArray &message, const char *name)
{
    QStringList found;
    const QList<QByteArray> lines = headerPart(message).split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(name))
            found << QString::fromUtf8(line.trimmed());
    }
    return found;
}

QStringList toStrings(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &v : value.toArray())
        list << v.toString();
    return list;
}

} // namespace

class TestLogMail : public QObject, private RunFixture
{
    Q_OBJECT

public:
    TestLogMail()
        : RunFixture(kNow)
    {
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void testRunMailsTheLog();
    void testRefusedRecipientIsLogged();
    void testCondition_data();
    void testCondition();
    void testPopBeforeSmtp_data();
    void testPopBeforeSmtp();
    void testSecureSubmission_data();
    void testSecureSubmission();
    void testFailureLetsTheRunEnd_data();
    void testFailureLetsTheRunEnd();
    void testTestMail_data();
    void testTestMail();
    void testSystemMail_data();
    void testSystemMail();

private:
    QString setFolder(const QString &name = u"Test"_s) const
    {
        return path(u"ziel/B-T01261210-"_s + name);
    }
    QByteArray logBytes() const
    {
        return readFile(path(u"log/protokoll.txt"_s));
    }
    /// A job with one source folder that mails its log to the plain SMTP listener.
    TAuftrag &makeJob(const QString &name = u"Test"_s);
    /// Adds n files to the source whose copies fail (a folder stands in the place of each copy).
    void blockCopies(int n, const QString &jobName = u"Test"_s);
    /// Runs the job with the mail step of logmail.h as the run's hook.
    BackupRun::Outcome run(TAuftrag &job, int *errors = nullptr);
    LogMail::Settings testSettings() const;

    SmtpServer m_smtp;
    Pop3Server m_pop3;
    QString m_smtpError;
    QString m_pop3Error;
    bool m_smtpUp = false;
    bool m_pop3Up = false;
    LogMail::Options m_options;
    bool m_defaultHook = false;
    int m_mailSteps = 0;
    int m_events = 0;
    int m_eventsInMail = 0;
    QByteArray m_savedPath;
    QByteArray m_logBeforeMail;
};


void TestLogMail::initTestCase()
{
    isolateSettings();
    m_pop3Up = m_pop3.start(&m_pop3Error);
    m_smtpUp = m_smtp.start(m_pop3Up ? m_pop3.logPath() : QString(), &m_smtpError);
    m_savedPath = qgetenv("PATH");
}

void TestLogMail::init()
{
    freshFolder();
    m_host.onProcessEvents = [this](ScriptedRunHost &) { ++m_events; };
    m_options = LogMail::Options();
    m_options.connectTimeoutMs = 10000;
    m_options.readTimeoutMs = 10000;
    m_options.systemMailTimeoutMs = 10000;
    m_options.pop3Port = m_pop3.port();
    m_options.extraCaCertificates = m_smtp.certificate();
    m_defaultHook = false;
    m_mailSteps = 0;
    m_events = 0;
    m_eventsInMail = 0;
    m_logBeforeMail.clear();
    if (m_smtpUp)
        m_smtp.clear();
}

void TestLogMail::cleanup()
{
    finish();
    qputenv("PATH", m_savedPath);
}

void TestLogMail::cleanupTestCase()
{
    m_smtp.stop();
    m_pop3.stop();
}

TAuftrag &TestLogMail::makeJob(const QString &name)
{
    writeFile(path(u"quelle/brief.txt"_s), "Sehr geehrte Damen und Herren");
    TAuftrag *job = &RunFixture::makeJob(name);
    job->Proto = true;
    job->email = true;
    job->email_empfaenger = u"Anna Admin <admin@example.org>"_s;
    job->email_server = u"127.0.0.1"_s;
    job->email_port = m_smtp.port(u"plain"_s);
    job->email_sender = u"Trevalo"_s;
    job->email_subject = u"Protokoll"_s;
    if (!saveJob(*job))
        qFatal("job file not saved");
    return *job;
}

void TestLogMail::blockCopies(int n, const QString &jobName)
{
    for (int i = 0; i < n; ++i) {
        const QString file = path(u"quelle/block%1.txt"_s.arg(i));
        writeFile(file, "x");
        writeFile(setFolder(jobName) + u"/root"_s + file + u"/inhalt"_s, "x");
    }
}

BackupRun::Outcome TestLogMail::run(TAuftrag &job, int *errors)
{
    BackupRun state(m_host, m_actions, *m_catalog);
    BackupRun::Hooks h;
    if (m_defaultHook) {
        h.mailLog = LogMail::mailLog;
    } else {
        h.mailLog = [this](RunStep &r, const QString &subject) {
            ++m_mailSteps;
            const int before = m_events;
            m_logBeforeMail = logBytes();
            LogMail::mailLogWith(r, subject, m_options);
            m_eventsInMail += m_events - before;
        };
    }
    state.setHooks(h);
    state.startAuftrag(job, BackupRun::StartedBy::User);
    if (errors)
        *errors = state.errorCount;
    return state.outcome;
}

LogMail::Settings TestLogMail::testSettings() const
{
    LogMail::Settings s;
    s.recipient = u"admin@example.org"_s;
    s.server = u"127.0.0.1"_s;
    s.port = m_smtp.port(u"plain"_s);
    s.sender = u"Backup <backup@example.org>"_s;
    s.subject = u"Protokoll"_s;
    return s;
}

void TestLogMail::testRunMailsTheLog()
{
    REQUIRE_SMTP();
    TAuftrag &job = makeJob(u"Büro"_s);
    m_defaultHook = true; // the hook exactly as the programs set it
    QCOMPARE(run(job), BackupRun::Outcome::Completed);
    QCOMPARE(m_host.messages, QStringList());

    const auto messages = m_smtp.messages();
    QCOMPARE(messages.size(), 1);
    const QByteArray log = logBytes();
    QVERIFY(log.contains("Auftragsname: B\xc3\xbcro\r\n"));
    const qint64 localSeconds = (kNow.toMSecsSinceEpoch() + qint64(kNow.offsetFromUtc()) * 1000 + 500) / 1000;
    const QByteArray expected = "From: Trevalo\r\n"
                                "Message-ID: <"
        + QByteArray::number(localSeconds) + '@' + T_SMTP::localHostName().toUtf8()
        + ">\r\n"
          "Date: "
        + T_MailNews::dateText(kNow).toLatin1()
        + "\r\n"
          "Subject: Protokoll - 0 Fehler\r\n"
          "To: Anna Admin <admin@example.org>\r\n"
          "MIME-Version: 1.0\r\n"
          "Content-Type: text/plain; charset=UTF-8\r\n"
          "Content-Transfer-Encoding: 8bit\r\n"
          "\r\n"
        + log;
    // The body is the whole log as it stands after the run: no line about the mail follows it.
    QCOMPARE(messages[0].data, expected);

    // A job without the newer server keys: EHLO (for the extensions), no TLS, no login.
    const QJsonObject envelope = messages[0].envelope;
    QCOMPARE(envelope[u"helo"_s].toString(), T_SMTP::localHostName());
    QCOMPARE(envelope[u"mail_from"_s].toString(), u"<>"_s); // the sender "Trevalo" holds no address
    QCOMPARE(toStrings(envelope[u"rcpt_tos"_s]), QStringList { u"admin@example.org"_s });
    QCOMPARE(envelope[u"tls"_s].toBool(), false);
    QVERIFY(envelope[u"auth"_s].isNull());
    QVERIFY(m_smtp.transcript().join(u'\n').contains(u"EHLO"_s));
}

void TestLogMail::testRefusedRecipientIsLogged()
{
    REQUIRE_SMTP();
    TAuftrag &job = makeJob();
    job.email_empfaenger = u"reject-me@example.org, admin@example.org"_s;
    QCOMPARE(run(job), BackupRun::Outcome::Completed);
    // The others still get the mail; the refusal is in the log with the server's reply.
    const auto messages = m_smtp.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(toStrings(messages[0].envelope[u"rcpt_tos"_s]), QStringList { u"admin@example.org"_s });
    QCOMPARE(m_host.messages, QStringList());
    QVERIFY(QString::fromUtf8(logBytes())
                .contains(u"Empfänger vom Mailserver abgelehnt: reject-me@example.org: 550 5.1.1 No such user here"_s));
}

void TestLogMail::testCondition_data()
{
    QTest::addColumn<bool>("email");
    QTest::addColumn<bool>("proto");
    QTest::addColumn<bool>("onlyOnErrors");
    QTest::addColumn<bool>("showErrors");
    QTest::addColumn<int>("failingCopies");
    QTest::addColumn<QList<Answer::Button>>("answers");
    QTest::addColumn<QString>("subject"); // empty: no mail

    const QList<Answer::Button> none;
    QTest::newRow("mail off") << false << true << false << false << 0 << none << QString();
    QTest::newRow("log off") << true << false << false << false << 0 << none << QString();
    QTest::newRow("every run, no errors") << true << true << false << false << 0 << none << u"Protokoll - 0 Fehler"_s;
    QTest::newRow("only on errors, no errors") << true << true << true << false << 0 << none << QString();
    QTest::newRow("only on errors, 3 errors")
        << true << true << true << false << 3 << none << u"Protokoll - 3 Fehler"_s;
    QTest::newRow("only on errors, stopped at the first failure")
        << true << true << true << true << 1 << QList<Answer::Button> { Answer::Cancel } << QString();
    QTest::newRow("stopped after 2 ignored failures")
        << true << true << true << true << 3 << QList<Answer::Button> { Answer::Ignore, Answer::Ignore, Answer::Cancel }
        << u"Protokoll - 2 Fehler"_s;
}

void TestLogMail::testCondition()
{
    QFETCH(bool, email);
    QFETCH(bool, proto);
    QFETCH(bool, onlyOnErrors);
    QFETCH(bool, showErrors);
    QFETCH(int, failingCopies);
    QFETCH(QList<Answer::Button>, answers);
    QFETCH(QString, subject);
    REQUIRE_SMTP();

    TAuftrag &job = makeJob();
    job.email = email;
    job.Proto = proto;
    job.email_bei_fehler = onlyOnErrors;
    job.fehler_anzeigen = showErrors;
    blockCopies(failingCopies);
    m_host.answers = answers;
    run(job);

    QCOMPARE(m_host.messages, QStringList());
    const auto messages = m_smtp.messages();
    QCOMPARE(messages.size(), subject.isEmpty() ? 0 : 1);
    if (!subject.isEmpty()) {
        QCOMPARE(headerLines(messages[0].data, "Subject: "), QStringList { u"Subject: "_s + subject });
        QCOMPARE(bodyPart(messages[0].data), logBytes());
    }
}

void TestLogMail::testPopBeforeSmtp_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("sent");
    QTest::newRow("mailbox login") << u"secret"_s << true;
    QTest::newRow("wrong mailbox password") << u"falsch"_s << false;
}

void TestLogMail::testPopBeforeSmtp()
{
    QFETCH(QString, password);
    QFETCH(bool, sent);
    REQUIRE_SMTP();
    REQUIRE_POP3();

    // This listener refuses MAIL FROM unless a POP3 session of "popper" ended with QUIT before.
    TAuftrag &job = makeJob();
    job.email_port = m_smtp.port(u"popfirst"_s);
    job.email_pop3_login = true;
    job.email_pop3_user = u"popper"_s;
    job.email_pop3_pass = password;
    QCOMPARE(run(job), BackupRun::Outcome::Completed);

    QCOMPARE(m_smtp.messages().size(), sent ? 1 : 0);
    QCOMPARE(m_host.messages,
        sent ? QStringList()
             : QStringList { LogMail::failureText() + u"\nPOP3 500 -ERR [AUTH] Authentication failed."_s });
    if (!sent) // a refused mailbox login stops the mail before any SMTP connection
        QCOMPARE(m_smtp.transcript(), QStringList());
}

void TestLogMail::testSecureSubmission_data()
{
    QTest::addColumn<QString>("security");
    QTest::addColumn<QString>("listener");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("sent");
    QTest::newRow("STARTTLS") << u"STARTTLS"_s << u"submission"_s << u"secret"_s << true;
    QTest::newRow("SSL/TLS") << u"SSL/TLS"_s << u"smtps"_s << u"secret"_s << true;
    QTest::newRow("wrong password") << u"STARTTLS"_s << u"submission"_s << u"falsch"_s << false;
    QTest::newRow("no TLS where the server wants it") << u"keine"_s << u"submission"_s << u"secret"_s << false;
}

void TestLogMail::testSecureSubmission()
{
    QFETCH(QString, security);
    QFETCH(QString, listener);
    QFETCH(QString, password);
    QFETCH(bool, sent);
    REQUIRE_SMTP();
    if (!m_smtp.hasTls())
        QSKIP("no openssl to make the test server's certificate");

    TAuftrag &job = makeJob();
    job.email_port = m_smtp.port(listener);
    job.email_security = security;
    job.email_smtp_user = u"tester"_s;
    job.email_smtp_pass = password;
    QCOMPARE(run(job), BackupRun::Outcome::Completed);

    const auto messages = m_smtp.messages();
    QCOMPARE(messages.size(), sent ? 1 : 0);
    QCOMPARE(m_host.messages.size(), sent ? 0 : 1);
    if (!sent) // the reason follows on the next line
        QVERIFY(m_host.messages[0].startsWith(LogMail::failureText() + u"\nSMTP "_s));
    if (sent) {
        QCOMPARE(messages[0].envelope[u"tls"_s].toBool(), true);
        QCOMPARE(messages[0].envelope[u"auth"_s].toString(), u"tester"_s);
        QCOMPARE(bodyPart(messages[0].data), logBytes());
    }
}

void TestLogMail::testFailureLetsTheRunEnd_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("reason");
    QTest::newRow("closed port") << u"closed port"_s << u"Error creating socket"_s;
    QTest::newRow("unknown host") << u"unknown host"_s << u"Couldn't resolve hostname kein host.invalid"_s;
    QTest::newRow("silent server") << u"silent server"_s << u"Timeout waiting for the server's reply"_s;
    QTest::newRow("message refused") << u"message refused"_s << u"SMTP 554 5.6.0 Message refused by content rule"_s;
    QTest::newRow("no sender") << u"no sender"_s << u"Es ist kein Absender angegeben."_s;
    QTest::newRow("no recipient") << u"no recipient"_s << u"Es ist kein Empfänger angegeben."_s;
    QTest::newRow("cancelled while waiting") << u"cancelled"_s << u"Vorgang abgebrochen"_s;
}

void TestLogMail::testFailureLetsTheRunEnd()
{
    QFETCH(QString, situation);
    QFETCH(QString, reason);
    REQUIRE_SMTP();

    // A listening socket that is never served: the connection opens, but no greeting comes.
    QTcpServer silent;
    TAuftrag &job = makeJob(situation == u"message refused" ? u"REJECT-554"_s : u"Test"_s);
    job.start_after_backup = u"/bin/true"_s;
    if (situation == u"closed port") {
        job.email_port = freeLocalPort();
    } else if (situation == u"unknown host") {
        job.email_server = u"kein host.invalid"_s;
    } else if (situation == u"silent server") {
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        job.email_port = silent.serverPort();
        m_options.readTimeoutMs = 300;
    } else if (situation == u"cancelled") {
        // The cancel button (or SIGTERM) while the mail waits: the wait ends at once.
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        job.email_port = silent.serverPort();
        m_options.readTimeoutMs = 60000;
        m_host.onProcessEvents = [this](ScriptedRunHost &host) {
            ++m_events;
            if (m_mailSteps > 0)
                host.pressCancel();
        };
    } else if (situation == u"no sender") {
        job.email_sender.clear();
    } else if (situation == u"no recipient") {
        job.email_empfaenger = u"  "_s;
    }

    QElapsedTimer clock;
    clock.start();
    const BackupRun::Outcome outcome = run(job);
    QCOMPARE(m_mailSteps, 1);
    // Why it failed follows on the next line, on the screen and in the log.
    QCOMPARE(m_host.messages.value(0), u"Die eMail mit dem Protokoll konnte nicht verschickt werden.\n"_s + reason);
    QCOMPARE(m_smtp.messages().size(), 0);
    if (situation == u"cancelled") {
        // Long before the 60 s the server is given; what follows is the cancelled run's.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        return;
    }
    QCOMPARE(m_host.messages.size(), 1);
    QCOMPARE(outcome, BackupRun::Outcome::Completed);
    // The steps after the mail still happen.
    QCOMPARE(m_actions.calls.size(), 1);
    QVERIFY(m_actions.calls[0].startsWith(u"start /bin/true"_s));
    QVERIFY(!m_logBeforeMail.isEmpty());
    QVERIFY(logBytes().startsWith(m_logBeforeMail));
    const QString added = QString::fromUtf8(logBytes().mid(m_logBeforeMail.size()));
    QVERIFY2(added.contains(LogMail::failureText()) && added.contains(reason), qPrintable(added));
    // While the client waits, the window gets its turns.
    if (situation == u"silent server")
        QVERIFY(m_eventsInMail > 0);
}

void TestLogMail::testTestMail_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    QTest::newRow("sent") << u"sent"_s << true << kSuccess;
    QTest::newRow("after mailbox login") << u"mailbox login"_s << true << kSuccess;
    QTest::newRow("closed port") << u"closed port"_s << false << u"Error creating socket"_s;
    QTest::newRow("unknown host") << u"unknown host"_s << false << u"Couldn't resolve hostname kein host.invalid"_s;
    QTest::newRow("message refused") << u"message refused"_s << false << u"5.6.0 Message refused by content rule"_s;
    QTest::newRow("wrong mailbox password")
        << u"wrong mailbox password"_s << false << u"-ERR [AUTH] Authentication failed."_s;
    QTest::newRow("no sender") << u"no sender"_s << false << u"Es ist kein Absender angegeben."_s;
}

void TestLogMail::testTestMail()
{
    QFETCH(QString, situation);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    REQUIRE_SMTP();

    LogMail::Settings settings = testSettings();
    if (situation == u"mailbox login" || situation == u"wrong mailbox password") {
        REQUIRE_POP3();
        settings.port = m_smtp.port(u"popfirst"_s);
        settings.pop3Login = true;
        settings.pop3User = u"popper"_s;
        settings.pop3Password = situation == u"mailbox login" ? u"secret"_s : u"falsch"_s;
    } else if (situation == u"closed port") {
        settings.port = freeLocalPort();
    } else if (situation == u"unknown host") {
        settings.server = u"kein host.invalid"_s;
    } else if (situation == u"message refused") {
        settings.subject = u"REJECT-554"_s;
    } else if (situation == u"no sender") {
        settings.sender.clear();
    }
    const LogMail::TestResult result = LogMail::sendTestMail(settings, m_options);
    QCOMPARE(result.ok, ok);
    QCOMPARE(result.text, text);
    QCOMPARE(result.closeDialog, false);

    const auto messages = m_smtp.messages();
    QCOMPARE(messages.size(), ok ? 1 : 0);
    if (ok) {
        QCOMPARE(headerLines(messages[0].data, "Subject: "), QStringList { u"Subject: Protokoll"_s });
        QCOMPARE(bodyPart(messages[0].data), QByteArray("Hier steht sp\xc3\xa4ter das Protokoll.\r\n"));
        QCOMPARE(messages[0].envelope[u"mail_from"_s].toString(), u"backup@example.org"_s);
    }
}

void TestLogMail::testSystemMail_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QStringList>("runMessages");
    QTest::addColumn<bool>("testOk");
    QTest::addColumn<QString>("testText");
    QTest::addColumn<bool>("closeDialog");
    QTest::newRow("sent") << u"sent"_s << QStringList() << true << kSuccess << false;
    QTest::newRow("refused") << u"refused"_s << QStringList { LogMail::failureText() } << false
                             << u"Die eMail konnte nicht korrekt verschickt werden."_s << true;
    QTest::newRow("not installed") << u"not installed"_s << QStringList { LogMail::failureText() } << false
                                   << u"No mail transfer agent (sendmail) found on this system"_s << false;
}

void TestLogMail::testSystemMail()
{
    QFETCH(QString, variant);
    QFETCH(QStringList, runMessages);
    QFETCH(bool, testOk);
    QFETCH(QString, testText);
    QFETCH(bool, closeDialog);

    // A stand-in mail transfer agent first on the PATH: it keeps its arguments and its input.
    const QString bin = path(u"bin"_s);
    QDir().mkpath(bin);
    if (variant == u"not installed") {
        if (QFileInfo::exists(u"/usr/sbin/sendmail"_s) || QFileInfo::exists(u"/usr/lib/sendmail"_s))
            QSKIP("this machine has a sendmail of its own");
        qputenv("PATH", QFile::encodeName(bin));
    } else {
        const QByteArray script = "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(path(u"args"_s))
            + "'\ncat > '" + QFile::encodeName(path(u"stdin"_s)) + "'\nexit " + (variant == u"sent" ? "0" : "1") + "\n";
        QVERIFY(writeFile(bin + u"/sendmail"_s, script));
        QFile::setPermissions(bin + u"/sendmail"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(bin) + ':' + m_savedPath);
    }

    TAuftrag &job = makeJob();
    job.email_mapi = true;
    job.email_empfaenger = u"admin@example.org"_s;
    job.email_server = u"kein host.invalid"_s; // never asked on this way
    QCOMPARE(run(job), BackupRun::Outcome::Completed);
    QCOMPARE(m_host.messages.size(), runMessages.size());
    if (!runMessages.isEmpty()) // the mail program's complaint follows on the next line
        QVERIFY(m_host.messages[0].startsWith(runMessages[0] + u'\n'));
    if (variant != u"not installed") {
        QCOMPARE(readFile(path(u"args"_s)), QByteArray("-t\n-i\n"));
        const QByteArray message = readFile(path(u"stdin"_s));
        // The transfer agent's own sender takes the place of a From line.
        QCOMPARE(headerLines(message, "From:"), QStringList());
        QCOMPARE(headerLines(message, "To: "), QStringList { u"To: admin@example.org"_s });
        QCOMPARE(headerLines(message, "Subject: "), QStringList { u"Subject: Protokoll - 0 Fehler"_s });
        QCOMPARE(headerLines(message, "Content-Type: "), QStringList { u"Content-Type: text/plain; charset=UTF-8"_s });
        QCOMPARE(bodyPart(message, "\n"), QByteArray(m_logBeforeMail).replace("\r\n", "\n"));
    }

    // The test mail; its subject is longer than the system mail interface takes.
    LogMail::Settings settings = LogMail::Settings::fromJob(job);
    settings.subject = QString(300, u'x');
    const LogMail::TestResult result = LogMail::sendTestMail(settings, m_options);
    QCOMPARE(result.ok, testOk);
    QCOMPARE(result.text, testText);
    QCOMPARE(result.closeDialog, closeDialog);
    if (variant == u"sent") {
        const QByteArray message = readFile(path(u"stdin"_s));
        QCOMPARE(headerLines(message, "Subject: "), QStringList { u"Subject: "_s + QString(255, u'x') });
        QCOMPARE(bodyPart(message, "\n"), QByteArray("Hier steht sp\xc3\xa4ter das Protokoll.\n"));
    }
    QCOMPARE(m_smtp.messages().size(), 0);
}

QTEST_GUILESS_MAIN(TestLogMail)
#include "tst_logmail.moc"
