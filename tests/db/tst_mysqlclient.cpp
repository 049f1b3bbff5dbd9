// SPDX-License-Identifier: GPL-3.0-or-later
// The MySQL client layer against a private MariaDB server and against replayed MySQL 8 / 4.0 exchanges.
#include "mariadbserver.h"

#include "db/databasebackup.h"
#include "db/databaserestore.h"
#include "db/mysqlauth.h"
#include "db/tmysqldatabase.h"
#include "engine/ziparchive.h"
#include "scriptedrunhost.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <functional>
#include <future>
#include <thread>

namespace
{

// ---- A scripted server for exchanges no local server can produce (MySQL 8, 4.0).

class FakeConnection
{
public:
    explicit FakeConnection(QTcpSocket *socket)
        : m_socket(socket)
    {
    }
    void send(quint8 seq, const QByteArray &payload)
    {
        QByteArray packet;
        const auto n = quint32(payload.size());
        packet.append(char(n & 0xff)).append(char((n >> 8) & 0xff)).append(char((n >> 16) & 0xff));
        packet.append(char(seq)).append(payload);
        m_socket->write(packet);
        m_socket->waitForBytesWritten(5000);
    }
    /// Writes bytes as they are; false once the client has gone.
    bool sendRaw(const QByteArray &bytes)
    {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return false;
        m_socket->write(bytes);
        m_socket->waitForBytesWritten(1000);
        return m_socket->state() == QAbstractSocket::ConnectedState;
    }
    /// Sleeps, noticing a client that closes meanwhile; false once it has gone.
    bool pause(int ms)
    {
        m_socket->waitForReadyRead(ms);
        m_buffer.append(m_socket->readAll());
        return m_socket->state() == QAbstractSocket::ConnectedState;
    }
    /// The next packet's payload; *seq gets its sequence id. Empty on time-out.
    QByteArray read(quint8 *seq = nullptr)
    {
        while (m_buffer.size() < 4 || m_buffer.size() < 4 + packetLength()) {
            if (!m_socket->waitForReadyRead(5000)) {
                problems.append(QStringLiteral("client sent nothing"));
                return {};
            }
            m_buffer.append(m_socket->readAll());
        }
        const int n = packetLength();
        if (seq)
            *seq = quint8(m_buffer[3]);
        const QByteArray payload = m_buffer.mid(4, n);
        m_buffer.remove(0, 4 + n);
        return payload;
    }
    void expect(bool condition, const QString &what)
    {
        if (!condition)
            problems.append(what);
    }
    QStringList problems;

private:
    int packetLength() const
    {
        return quint8(m_buffer[0]) | (quint8(m_buffer[1]) << 8) | (quint8(m_buffer[2]) << 16);
    }
    QTcpSocket *m_socket;
    QByteArray m_buffer;
};

class FakeServer
{
public:
    using Script = std::function<void(FakeConnection &)>;

    explicit FakeServer(Script script)
    {
        std::promise<quint16> portPromise;
        auto portFuture = portPromise.get_future();
        m_thread = std::thread([this, script, promise = std::move(portPromise)]() mutable {
            QTcpServer server;
            server.listen(QHostAddress::LocalHost, 0);
            promise.set_value(server.serverPort());
            if (!server.waitForNewConnection(10000)) {
                m_problems.append(QStringLiteral("no client connected"));
                return;
            }
            QTcpSocket *socket = server.nextPendingConnection();
            FakeConnection connection(socket);
            script(connection);
            socket->waitForDisconnected(5000);
            m_problems += connection.problems;
        });
        m_port = portFuture.get();
    }
    ~FakeServer()
    {
        finish();
    }
    QStringList finish()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_problems;
    }
    quint16 port() const
    {
        return m_port;
    }

private:
    std::thread m_thread;
    quint16 m_port = 0;
    QStringList m_problems;
};

QByteArray le(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
    return out;
}

QByteArray lenenc(const QByteArray &text)
{
    return char(text.size()) + text;
}

const QByteArray kNonce = QByteArrayLiteral("0123456789abcdefghij");

// A MySQL 8 greeting (capability bit 0 set, no "5.5.5-", collation 255) naming caching_sha2_password.
QByteArray mysql8Greeting()
{
    const quint32 caps = 0x1 | 0x4 | 0x8 | 0x200 | 0x2000 | 0x8000 | (1u << 19) | (1u << 21);
    return QByteArray(1, '\x0a') + "8.0.36" + '\0' + le(42, 4) + kNonce.left(8) + '\0' + le(caps & 0xffff, 2)
        + char(255) + le(2, 2) + le(caps >> 16, 2) + char(21) + QByteArray(10, '\0') + kNonce.mid(8) + '\0'
        + "caching_sha2_password" + '\0';
}

struct HandshakeResponse41 {
    quint32 caps = 0;
    quint8 charset = 0;
    QByteArray user, auth, database, plugin;
};

HandshakeResponse41 parseResponse41(const QByteArray &p)
{
    HandshakeResponse41 r;
    r.caps = quint8(p[0]) | quint8(p[1]) << 8 | quint8(p[2]) << 16 | quint32(quint8(p[3])) << 24;
    r.charset = quint8(p[8]);
    qsizetype pos = 32;
    const qsizetype userEnd = p.indexOf('\0', pos);
    r.user = p.mid(pos, userEnd - pos);
    pos = userEnd + 1;
    const int authLength = quint8(p[pos++]);
    r.auth = p.mid(pos, authLength);
    pos += authLength;
    if (r.caps & 0x8) {
        const qsizetype end = p.indexOf('\0', pos);
        r.database = p.mid(pos, end - pos);
        pos = end + 1;
    }
    r.plugin = p.mid(pos, p.indexOf('\0', pos) - pos);
    return r;
}

// Written from the published formula, not from the client's code.
QByteArray expectedSha2Scramble(const QByteArray &password, const QByteArray &nonce)
{
    const auto sha = [](const QByteArray &b) { return QCryptographicHash::hash(b, QCryptographicHash::Sha256); };
    const QByteArray p1 = sha(password);
    const QByteArray p3 = sha(sha(p1) + nonce);
    QByteArray out(32, '\0');
    for (int i = 0; i < 32; ++i)
        out[i] = char(p1[i] ^ p3[i]);
    return out;
}

QByteArray okPacket41()
{
    return QByteArray::fromHex("00000002000000");
}

// One BIGINT column "1" with one row, in the 4.1 format.
void sendSelectOne41(FakeConnection &c)
{
    c.send(1, QByteArray(1, '\x01'));
    c.send(2,
        lenenc("def") + lenenc("") + lenenc("") + lenenc("") + lenenc("1") + lenenc("") + char(0x0c) + le(63, 2)
            + le(1, 4) + char(8) + le(0x81, 2) + char(0) + le(0, 2));
    c.send(3, QByteArray::fromHex("fe00000200"));
    c.send(4, lenenc("1"));
    c.send(5, QByteArray::fromHex("fe00000200"));
}

struct RsaKey {
    EVP_PKEY *key = EVP_RSA_gen(2048);
    ~RsaKey()
    {
        EVP_PKEY_free(key);
    }
    QByteArray publicPem() const
    {
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PUBKEY(bio, key);
        char *data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        QByteArray pem(data, n);
        BIO_free(bio);
        return pem;
    }
    QByteArray decrypt(const QByteArray &cipher) const
    {
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_decrypt_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING);
        size_t n = 0;
        const auto *in = reinterpret_cast<const unsigned char *>(cipher.constData());
        QByteArray out;
        if (EVP_PKEY_decrypt(ctx, nullptr, &n, in, size_t(cipher.size())) > 0) {
            out.resize(qsizetype(n));
            if (EVP_PKEY_decrypt(ctx, reinterpret_cast<unsigned char *>(out.data()), &n, in, size_t(cipher.size())) > 0)
                out.resize(qsizetype(n));
            else
                out.clear();
        }
        EVP_PKEY_CTX_free(ctx);
        return out;
    }
};

} // namespace

class TestMySqlClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    // Replayed exchanges.
    void cachingSha2FastPath();
    void cachingSha2FullPath();
    void preProtocol41Server();
    void silentServerTimesOut();
    void restoreSessionFollowsServerVersion();
    void misbehavingServerEndsInTime_data();
    void misbehavingServerEndsInTime();

    // The real server.
    void connectsWithEachAccount_data();
    void connectsWithEachAccount();
    void connectFailures_data();
    void connectFailures();
    void loginPrompt();
    void settersRefusedWhileConnected();
    void listsTables();
    void readsTablesInKeyOrder();
    void columnKindsAndTexts();
    void payloadsOver16MiB_data();
    void payloadsOver16MiB();
    void queryErrorsKeepTheSession();
    void tls_data();
    void tls();
    void serverKilledMidResult(); // last: it kills the server

private:
    bool connectAs(TmySQLDatabase &db, const QString &user, const QString &password, bool compress = false);
    bool sql(TmySQLDatabase &db, const QString &statement);

    MariaDbServer m_server;
    MariaDbServer m_tlsServer; // started by the TLS test
    bool m_serverUp = false;
    QString m_serverProblem;
};

#define REQUIRE_SERVER()                                                                                               \
    do {                                                                                                               \
        if (!m_serverUp) {                                                                                             \
            if (MariaDbServer::required())                                                                             \
                QFAIL(qPrintable(m_serverProblem));                                                                    \
            QSKIP(qPrintable(m_serverProblem));                                                                        \
        }                                                                                                              \
    } while (false)

void TestMySqlClient::initTestCase()
{
    if (!MariaDbServer::available()) {
        m_serverProblem = QStringLiteral("MariaDB server programs are not installed");
        return;
    }
    m_serverUp = m_server.start(&m_serverProblem);
}

void TestMySqlClient::cleanupTestCase()
{
    m_tlsServer.stop();
    m_server.stop();
}

bool TestMySqlClient::connectAs(TmySQLDatabase &db, const QString &user, const QString &password, bool compress)
{
    db.setHost(m_server.host());
    db.setPort(m_server.port());
    db.setDatabaseName(QStringLiteral("testdb"));
    db.setUserName(user);
    db.setUserPassword(password);
    db.setConnectionTimeout(10);
    db.setConnectOptions(compress ? TmySQLDatabase::coCompress : 0);
    return db.open();
}

bool TestMySqlClient::sql(TmySQLDatabase &db, const QString &statement)
{
    TmySQLQuery query(&db);
    query.setSql(statement);
    if (!query.execSql()) {
        qWarning() << statement.left(200) << query.errorString();
        return false;
    }
    return true;
}

// ---- replayed exchanges

void TestMySqlClient::cachingSha2FastPath()
{
    FakeServer server([](FakeConnection &c) {
        c.send(0, mysql8Greeting());
        quint8 seq = 0;
        const HandshakeResponse41 r = parseResponse41(c.read(&seq));
        c.expect(seq == 1, QStringLiteral("response seq"));
        c.expect((r.caps & 0x200) && (r.caps & 0x8000) && (r.caps & (1u << 19)), QStringLiteral("4.1 caps"));
        c.expect(r.charset == 45, QStringLiteral("utf8mb4 charset"));
        c.expect(r.user == "u8" && r.database == "shop", QStringLiteral("user or database"));
        c.expect(r.plugin == "caching_sha2_password", QStringLiteral("plugin name"));
        c.expect(r.auth == expectedSha2Scramble("secret", kNonce), QStringLiteral("fast scramble"));
        c.send(2, QByteArray::fromHex("0103"));
        c.send(3, okPacket41());
        const QByteArray query = c.read(&seq);
        c.expect(seq == 0 && query == QByteArray("\x03SELECT 1"), QStringLiteral("query"));
        sendSelectOne41(c);
        c.expect(c.read() == QByteArray(1, '\x01'), QStringLiteral("COM_QUIT"));
    });
    TmySQLDatabase db;
    db.setParams({ QStringLiteral("Host=127.0.0.1"),
        QStringLiteral("Port=%1").arg(server.port()),
        QStringLiteral("UID=u8"),
        QStringLiteral("PWD=secret"),
        QStringLiteral("DatabaseName=shop"),
        QStringLiteral("TIMEOUT=5") });
    QVERIFY2(db.open(), qPrintable(db.errorString()));
    QCOMPARE(db.serverVersionNumber(), 80036);
    TmySQLQuery query(&db);
    query.setSql(QStringLiteral("SELECT 1"));
    QVERIFY2(query.open(), qPrintable(query.errorString()));
    QCOMPARE(query.field(0)->kind(), FieldKind::LargeInt);
    QCOMPARE(query.field(0)->asString(), QStringLiteral("1"));
    QVERIFY(query.next());
    QVERIFY(query.eof());
    query.close();
    db.close();
    QCOMPARE(server.finish(), QStringList());
}

void TestMySqlClient::cachingSha2FullPath()
{
    RsaKey rsa;
    QVERIFY(rsa.key);
    FakeServer server([&rsa](FakeConnection &c) {
        c.send(0, mysql8Greeting());
        quint8 seq = 0;
        c.read(&seq);
        c.send(2, QByteArray::fromHex("0104")); // not in the cache: full authentication
        c.expect(c.read(&seq) == QByteArray(1, '\x02') && seq == 3, QStringLiteral("public key request"));
        c.send(4, '\x01' + rsa.publicPem());
        const QByteArray plain = rsa.decrypt(c.read(&seq));
        QByteArray password = plain;
        for (qsizetype i = 0; i < password.size(); ++i)
            password[i] = char(password[i] ^ kNonce[i % kNonce.size()]);
        c.expect(seq == 5, QStringLiteral("encrypted password seq"));
        c.expect(password == QByteArray("pässwort", 9) + '\0', QStringLiteral("decrypted password"));
        c.send(6, okPacket41());
        c.read(); // COM_QUIT
    });
    TmySQLDatabase db;
    db.setHost(QStringLiteral("127.0.0.1"));
    db.setPort(server.port());
    db.setUserName(QStringLiteral("u8"));
    db.setUserPassword(QStringLiteral("pässwort"));
    QVERIFY2(db.open(), qPrintable(db.errorString()));
    db.close();
    QCOMPARE(server.finish(), QStringList());
}

void TestMySqlClient::preProtocol41Server()
{
    const QByteArray seed = QByteArrayLiteral("ab#d%fgh");
    FakeServer server([&seed](FakeConnection &c) {
        // 4.0: no PROTOCOL_41, no SECURE_CONNECTION, 8-byte seed followed by 13 zero bytes.
        const quint16 caps = 0x1 | 0x4 | 0x8 | 0x2000;
        c.send(0,
            QByteArray(1, '\x0a') + "4.0.18-log" + '\0' + le(7, 4) + seed + '\0' + le(caps, 2) + char(8) + le(2, 2)
                + QByteArray(13, '\0'));
        quint8 seq = 0;
        const QByteArray p = c.read(&seq);
        const quint16 flags = quint8(p[0]) | quint8(p[1]) << 8;
        c.expect(!(flags & 0x200) && !(flags & 0x8000) && (flags & 0x8), QStringLiteral("pre-4.1 flags"));
        c.expect(p.mid(5) == QByteArray("old\0", 4) + MySqlAuth::oldScramble("oldpw", seed) + '\0' + "legacy" + '\0',
            QStringLiteral("user, old scramble and database"));
        c.send(2, QByteArray::fromHex("0000000200"));
        c.expect(c.read() == QByteArray("\x03SELECT 1 AS one"), QStringLiteral("first query"));
        // Column definitions of this age wrap every number in a length-encoded string.
        c.send(1, QByteArray(1, '\x01'));
        c.send(2, QByteArray::fromHex("0003") + "one" + QByteArray::fromHex("03010000010303810000"));
        c.send(3, QByteArray(1, '\xfe'));
        c.send(4, lenenc("1"));
        c.send(5, QByteArray(1, '\xfe'));
        c.read();
        c.send(1, QByteArray::fromHex("ff7a04") + "Table 'legacy.x' doesn't exist");
        c.read(); // COM_QUIT
    });
    TmySQLDatabase db;
    db.setParams({ QStringLiteral("Host=127.0.0.1"),
        QStringLiteral("Port=%1").arg(server.port()),
        QStringLiteral("UID=old"),
        QStringLiteral("PWD=oldpw"),
        QStringLiteral("DatabaseName=legacy") });
    QVERIFY2(db.open(), qPrintable(db.errorString()));
    QCOMPARE(db.serverVersionNumber(), 40018);
    TmySQLQuery query(&db);
    query.setSql(QStringLiteral("SELECT 1 AS one"));
    QVERIFY2(query.open(), qPrintable(query.errorString()));
    QCOMPARE(query.fieldCount(), 1);
    QCOMPARE(query.field(0)->fieldName(), QStringLiteral("one"));
    QCOMPARE(query.field(0)->kind(), FieldKind::Integer);
    QCOMPARE(query.field(0)->value(), QVariant(qlonglong(1)));
    QVERIFY(query.next() && query.eof());
    query.setSql(QStringLiteral("SELECT * FROM x"));
    QVERIFY(!query.open());
    QCOMPARE(query.errorCode(), 1146);
    QCOMPARE(query.errorString(), QStringLiteral("Table 'legacy.x' doesn't exist"));
    QVERIFY(db.connected());
    db.close();
    QCOMPARE(server.finish(), QStringList());
}

void TestMySqlClient::silentServerTimesOut()
{
    // Accepts the TCP connection (the kernel does) but never greets.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    TmySQLDatabase db;
    db.setParams({ QStringLiteral("Host=127.0.0.1"),
        QStringLiteral("Port=%1").arg(silent.serverPort()),
        QStringLiteral("TIMEOUT=1") });
    QVERIFY(!db.open());
    QCOMPARE(db.errorCode(), 2003);
    QCOMPARE(db.errorString(), QStringLiteral("Can't connect to MySQL server on '127.0.0.1' (110)"));
    QVERIFY(!db.connected());
}

// A 5.1 server knows no utf8mb4: the restore's session takes utf8, and a dump without the UTC
// mark keeps the server's own time zone.
void TestMySqlClient::restoreSessionFollowsServerVersion()
{
    QList<QByteArray> statements;
    FakeServer server([&statements](FakeConnection &c) {
        const quint32 caps = 0x1 | 0x4 | 0x8 | 0x200 | 0x2000 | 0x8000 | (1u << 19);
        c.send(0,
            QByteArray(1, '\x0a') + "5.1.73-log" + '\0' + le(9, 4) + kNonce.left(8) + '\0' + le(caps & 0xffff, 2)
                + char(33) + le(2, 2) + le(caps >> 16, 2) + char(21) + QByteArray(10, '\0') + kNonce.mid(8) + '\0'
                + "mysql_native_password" + '\0');
        c.read();
        c.send(2, okPacket41());
        for (;;) {
            const QByteArray command = c.read();
            if (command.isEmpty() || command == QByteArray(1, '\x01'))
                break;
            statements << command.mid(1);
            c.send(1, okPacket41());
        }
    });
    QTemporaryDir dir;
    const QString dumpPath = dir.filePath(DatabaseDump::kDumpFileName);
    QFile dump(dumpPath);
    QVERIFY(dump.open(QIODevice::WriteOnly));
    dump.write("# Datensicherung der Datenbank: Alt\r\n# Erstellt mit Trevalo \r\n# am: 01.02.2010"
               "\r\n\r\n\r\nDROP TABLE IF EXISTS t;\r\n\r\nCREATE TABLE t (ts timestamp);"
               "\r\nINSERT INTO t VALUES (\"2010-02-01 12:00:00\");");
    dump.close();
    QString error;
    const QString archive = dir.filePath(QStringLiteral("Archive.zip"));
    QVERIFY2(zipFiles(archive, { dumpPath }, ZipProgress(), &error), qPrintable(error));
    QFile::remove(dumpPath);

    ScriptedRunHost host;
    const DatabaseRestore::Report report = DatabaseRestore::restoreDatabase(host,
        archive,
        QStringLiteral("Alt"),
        { QStringLiteral("127.0.0.1"),
            QString::number(server.port()),
            QStringLiteral("u"),
            QStringLiteral("p"),
            QStringLiteral("alt") });
    QCOMPARE(report.result, DatabaseRestore::Result::Completed);
    QCOMPARE(server.finish(), QStringList());
    QVERIFY(statements.contains("SET NAMES utf8"));
    for (const QByteArray &statement : std::as_const(statements)) {
        QVERIFY2(!statement.contains("utf8mb4"), statement.constData());
        QVERIFY2(!statement.toLower().contains("time_zone"), statement.constData());
    }
    QVERIFY(statements.contains("INSERT INTO t VALUES (\"2010-02-01 12:00:00\")"));
}

// A MySQL 8 login that succeeds at once; the case's own misbehaviour follows.
void fakeLogin(FakeConnection &c)
{
    c.send(0, mysql8Greeting());
    c.read();
    c.send(2, QByteArray::fromHex("0103"));
    c.send(3, okPacket41());
}

enum class Misbehaviour { TrickledGreeting, SilentAfterLogin, TrickledRow, EndlessPacket, CancelWhileSilent };

void TestMySqlClient::misbehavingServerEndsInTime_data()
{
    QTest::addColumn<Misbehaviour>("misbehaviour");
    QTest::addColumn<int>("errorCode");
    QTest::newRow("greeting one byte at a time") << Misbehaviour::TrickledGreeting << 2003;
    QTest::newRow("silent after login") << Misbehaviour::SilentAfterLogin << 2013;
    QTest::newRow("row one byte at a time") << Misbehaviour::TrickledRow << 2013;
    QTest::newRow("endless chain of packet parts") << Misbehaviour::EndlessPacket << 2020;
    QTest::newRow("cancel while the server is silent") << Misbehaviour::CancelWhileSilent << 2100;
}

// Every case ends with a clean error long before the server would let go: limits hold for a
// whole packet, not per byte, and a cancel ends a wait within a second.
void TestMySqlClient::misbehavingServerEndsInTime()
{
    QFETCH(Misbehaviour, misbehaviour);
    QFETCH(int, errorCode);
    const auto trickle = [](FakeConnection &c, const QByteArray &bytes) {
        for (const char b : bytes) {
            if (!c.sendRaw(QByteArray(1, b)) || !c.pause(200))
                return;
        }
    };
    FakeServer server([&](FakeConnection &c) {
        if (misbehaviour == Misbehaviour::TrickledGreeting) {
            const QByteArray greeting = mysql8Greeting();
            trickle(c, le(quint64(greeting.size()), 3) + '\0' + greeting);
            return;
        }
        fakeLogin(c);
        c.read(); // the query
        switch (misbehaviour) {
        case Misbehaviour::TrickledRow:
            c.send(1, QByteArray(1, '\x01'));
            c.send(2,
                lenenc("def") + lenenc("") + lenenc("") + lenenc("") + lenenc("v") + lenenc("") + '\x0c' + le(45, 2)
                    + le(400, 4) + char(253) + le(0, 2) + '\0' + le(0, 2));
            c.send(3, QByteArray::fromHex("fe00000200"));
            trickle(c, le(200, 3) + '\x04' + char(199) + QByteArray(199, 'x'));
            break;
        case Misbehaviour::EndlessPacket: {
            const QByteArray part = QByteArray::fromHex("ffffff") + QByteArray(1, '\0') + QByteArray(0xffffff, 'y');
            for (int i = 0; i < 64 && c.sendRaw(part); ++i) { }
            break;
        }
        default:
            c.pause(5000);
            break;
        }
    });
    TmySQLDatabase db;
    db.setParams({ QStringLiteral("Host=127.0.0.1"),
        QStringLiteral("Port=%1").arg(server.port()),
        QStringLiteral("UID=u8"),
        QStringLiteral("PWD=secret"),
        QStringLiteral("TIMEOUT=1") });
    db.setIoTimeout(misbehaviour == Misbehaviour::CancelWhileSilent ? 60 : 1);
    db.wire().setMaxPacketSize(64 << 20);
    QElapsedTimer clock;
    clock.start();
    db.setCancelCheck([&] { return misbehaviour == Misbehaviour::CancelWhileSilent && clock.elapsed() > 300; });
    bool ok = db.open();
    if (ok) {
        TmySQLQuery query(&db);
        query.setSql(QStringLiteral("SELECT v FROM t"));
        ok = query.open() && query.next();
        QCOMPARE(query.errorCode(), errorCode);
    } else {
        QCOMPARE(db.errorCode(), errorCode);
    }
    QVERIFY(!ok);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!db.connected());
}

// ---- the real server

void TestMySqlClient::tls_data()
{
    QTest::addColumn<bool>("offered");
    QTest::addColumn<int>("options");
    QTest::addColumn<bool>("connects");
    QTest::newRow("offered: used") << true << 0 << true;
    QTest::newRow("offered, required, compressed")
        << true << int(TmySQLDatabase::coRequireTls | TmySQLDatabase::coCompress) << true;
    QTest::newRow("required, not offered") << false << int(TmySQLDatabase::coRequireTls) << false;
    QTest::newRow("not offered: plain") << false << 0 << true;
}

void TestMySqlClient::tls()
{
    QFETCH(bool, offered);
    QFETCH(int, options);
    QFETCH(bool, connects);
    REQUIRE_SERVER();
    if (offered && !m_tlsServer.running()) {
        QString error;
        m_tlsServer.setTls(true);
        QVERIFY2(m_tlsServer.start(&error), qPrintable(error));
    }
    MariaDbServer &server = offered ? m_tlsServer : m_server;
    TmySQLDatabase db;
    db.setParams({ QStringLiteral("Host=127.0.0.1"),
        QStringLiteral("Port=%1").arg(server.port()),
        QStringLiteral("UID=test_native"),
        QStringLiteral("PWD=nativepw"),
        QStringLiteral("DatabaseName=testdb"),
        QStringLiteral("TIMEOUT=10") });
    db.setConnectOptions(options);
    QCOMPARE(db.open(), connects);
    if (!connects) {
        QCOMPARE(db.errorCode(), 2026);
        QCOMPARE(
            db.errorString(), QStringLiteral("Der Datenbankserver bietet keine verschlüsselte Verbindung (TLS) an."));
        return;
    }
    QCOMPARE(db.tlsActive(), offered);
    QCOMPARE(db.compressionActive(), bool(options & TmySQLDatabase::coCompress));
    // The server agrees: the session is encrypted, and a sizeable result comes through.
    TmySQLQuery query(&db);
    query.setSql(QStringLiteral("SELECT VARIABLE_VALUE, REPEAT('x', 300000) FROM information_schema.SESSION_STATUS "
                                "WHERE VARIABLE_NAME = 'SSL_VERSION'"));
    QVERIFY2(query.open(), qPrintable(query.errorString()));
    QCOMPARE(query.field(0)->asBytes().startsWith("TLS"), offered);
    QCOMPARE(query.field(1)->asBytes().size(), 300000);
}

void TestMySqlClient::connectsWithEachAccount_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("compress");

    QTest::newRow("native") << "127.0.0.1"
                            << "test_native"
                            << "nativepw" << false;
    QTest::newRow("empty password") << "127.0.0.1"
                                    << "test_nopw"
                                    << "" << false;
    QTest::newRow("old password") << "127.0.0.1"
                                  << "test_old"
                                  << "oldpw" << false;
    QTest::newRow("native, compressed") << "127.0.0.1"
                                        << "test_native"
                                        << "nativepw" << true;
    QTest::newRow("old password, compressed") << "127.0.0.1"
                                              << "test_old"
                                              << "oldpw" << true;
    QTest::newRow("empty host is localhost") << ""
                                             << "test_native"
                                             << "nativepw" << false;
    QTest::newRow("ed25519") << "127.0.0.1"
                             << "test_ed"
                             << "edpw" << false;
    QTest::newRow("ed25519, compressed") << "127.0.0.1"
                                         << "test_ed"
                                         << "edpw" << true;
}

void TestMySqlClient::connectsWithEachAccount()
{
    REQUIRE_SERVER();
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, compress);
    if (user == QLatin1String("test_ed") && !m_server.hasEd25519Account()) {
        if (MariaDbServer::required())
            QFAIL("the test server has no ed25519 account");
        QSKIP("no ed25519 plugin");
    }
    TmySQLDatabase db;
    QVERIFY2(connectAs(db, user, password, compress), qPrintable(db.errorString()));
    if (host.isEmpty()) {
        db.close();
        QVERIFY(db.setHost(host));
        QVERIFY2(db.open(), qPrintable(db.errorString()));
    }
    QCOMPARE(db.compressionActive(), compress);
    QVERIFY(db.serverVersionNumber() >= 100000);
    QVERIFY(!db.serverVersion().startsWith(QLatin1String("5.5.5-")));

    TmySQLQuery query(&db);
    query.setSql(QStringLiteral("SELECT CURRENT_USER(), DATABASE(), @@character_set_client, "
                                "(SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                                "WHERE VARIABLE_NAME = 'COMPRESSION')"));
    QVERIFY2(query.open(), qPrintable(query.errorString()));
    QCOMPARE(query.field(0)->asString(), user + QStringLiteral("@%"));
    QCOMPARE(query.field(1)->asString(), QStringLiteral("testdb"));
    QCOMPARE(query.field(2)->asString(), QStringLiteral("utf8mb4"));
    QCOMPARE(query.field(3)->asString(), compress ? QStringLiteral("ON") : QStringLiteral("OFF"));
    query.close();
    db.close();
    QVERIFY(!db.connected());
}

void TestMySqlClient::connectFailures_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port"); // -1: the test server's, -2: a closed one
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("wrong password") << "127.0.0.1" << -1 << "test_native"
                                    << "wrong" << 1045
                                    << "Access denied for user 'test_native'@'127.0.0.1' (using password: YES)";
    QTest::newRow("wrong old password") << "127.0.0.1" << -1 << "test_old"
                                        << "wrong" << 1045
                                        << "Access denied for user 'test_old'@'127.0.0.1' (using password: YES)";
    QTest::newRow("wrong ed25519 password")
        << "127.0.0.1" << -1 << "test_ed"
        << "edpx" << 1045 << "Access denied for user 'test_ed'@'127.0.0.1' (using password: YES)";
    QTest::newRow("unknown host") << "no-such-host.invalid" << -1 << "test_native"
                                  << "nativepw" << 2005 << "Unknown MySQL Server Host 'no-such-host.invalid' (1)";
    QTest::newRow("closed port") << "127.0.0.1" << -2 << "test_native"
                                 << "nativepw" << 2003 << "Can't connect to MySQL server on '127.0.0.1' (111)";
}

void TestMySqlClient::connectFailures()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, code);
    QFETCH(QString, text);
    if (port == -1)
        REQUIRE_SERVER();
    if (user == QLatin1String("test_ed") && !m_server.hasEd25519Account())
        QSKIP("no ed25519 plugin");
    if (port == -2) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    } else {
        port = m_server.port();
    }
    TmySQLDatabase db;
    QVERIFY(db.setParams({ QStringLiteral("Host=") + host,
        QStringLiteral("Port=%1").arg(port),
        QStringLiteral("UID=") + user,
        QStringLiteral("PWD=") + password,
        QStringLiteral("TIMEOUT=10") }));
    QVERIFY(!db.open());
    QCOMPARE(db.errorCode(), code);
    QCOMPARE(db.errorString(), text);
    QVERIFY(!db.connected());
}

void TestMySqlClient::loginPrompt()
{
    REQUIRE_SERVER();
    TmySQLDatabase db;
    db.setLoginPrompt(true);
    QString askedFor;
    db.setLoginPromptHandler([&](const QString &database, QString *user, QString *password) {
        askedFor = database;
        *user = QStringLiteral("test_native");
        *password = QStringLiteral("nativepw");
        return true;
    });
    // The stored user and password are not used.
    QVERIFY2(connectAs(db, QStringLiteral("nobody"), QStringLiteral("nothing")), qPrintable(db.errorString()));
    QCOMPARE(askedFor, QStringLiteral("testdb"));
    QVERIFY(db.params().contains(QStringLiteral("UID=test_native")));
    db.close();

    db.setLoginPromptHandler([](const QString &, QString *, QString *) { return false; });
    QVERIFY(!db.open());
    QCOMPARE(db.errorString(), QStringLiteral("Verbindung zu Datenbank 'testdb' nicht möglich"));
    QVERIFY(!db.connected());
}

void TestMySqlClient::settersRefusedWhileConnected()
{
    REQUIRE_SERVER();
    TmySQLDatabase db;
    QVERIFY2(connectAs(db, QStringLiteral("test_native"), QStringLiteral("nativepw")), qPrintable(db.errorString()));
    const QStringList before = db.params();
    const QString refused = QStringLiteral("Operation bei geöffneter Datenbank nicht ausführbar");

    QVERIFY(!db.setHost(QStringLiteral("elsewhere")));
    QCOMPARE(db.errorString(), refused);
    QVERIFY(!db.setPort(1));
    QVERIFY(!db.setDatabaseName(QStringLiteral("mysql")));
    QVERIFY(!db.setUserName(QStringLiteral("root")));
    QVERIFY(!db.setUserPassword(QString()));
    QVERIFY(!db.setConnectionTimeout(1));
    QCOMPARE(db.params(), before);
    QVERIFY(db.connected());
    // The same values again change nothing and are accepted.
    QVERIFY(db.setHost(m_server.host()));
    QVERIFY(db.setPort(m_server.port()));
    QVERIFY(db.setUserName(QStringLiteral("test_native")));
    QVERIFY(sql(db, QStringLiteral("DO 1")));

    db.close();
    QVERIFY(db.setHost(QStringLiteral("elsewhere")));
    QVERIFY(db.params().contains(QStringLiteral("Host=elsewhere")));
    QVERIFY(db.setConnectionTimeout(7));
    QVERIFY(db.params().contains(QStringLiteral("TIMEOUT=7")));
}

void TestMySqlClient::listsTables()
{
    REQUIRE_SERVER();
    TmySQLDatabase db;
    QVERIFY2(connectAs(db, QStringLiteral("test_native"), QStringLiteral("nativepw")), qPrintable(db.errorString()));
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE list_b (x INT)")));
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE list_a (x INT)")));
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE `list'quote` (x INT)")));
    db.close();

    // Listing connects by itself.
    QStringList names;
    QVERIFY2(db.tableNames(&names), qPrintable(db.errorString()));
    QVERIFY(db.connected());
    QVERIFY(names.contains(QStringLiteral("list_a")) && names.contains(QStringLiteral("list_b")));
    QVERIFY2(db.tableNames(&names, QStringLiteral("list_%")), qPrintable(db.errorString()));
    QCOMPARE(names, (QStringList { QStringLiteral("list'quote"), QStringLiteral("list_a"), QStringLiteral("list_b") }));
    QVERIFY2(db.tableNames(&names, QStringLiteral("list'%")), qPrintable(db.errorString()));
    QCOMPARE(names, QStringList { QStringLiteral("list'quote") });
}

void TestMySqlClient::readsTablesInKeyOrder()
{
    REQUIRE_SERVER();
    TmySQLDatabase db;
    QVERIFY2(connectAs(db, QStringLiteral("test_native"), QStringLiteral("nativepw")), qPrintable(db.errorString()));
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE pk2 (a INT, b VARCHAR(10), c INT, PRIMARY KEY (a, b))")));
    QVERIFY(sql(db, QStringLiteral("INSERT INTO pk2 VALUES (2,'a',1),(1,'b',2),(1,'a',3),(2,'0',4)")));
    // Reserved word and "-" in names; an index whose column is sorted descending.
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE `order` (`group` INT, `my-col` INT, KEY k (`my-col` DESC))")));
    QVERIFY(sql(db, QStringLiteral("INSERT INTO `order` VALUES (1,10),(2,30),(3,20)")));
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE `my-table` (v INT)")));
    QVERIFY(sql(db, QStringLiteral("INSERT INTO `my-table` VALUES (3),(1),(2)")));

    const auto readColumn = [&](const QString &table, int column, QString *orderBy) {
        TmySQLTable t(&db);
        t.setTableName(table);
        QStringList values;
        if (!t.open())
            return QStringList { t.errorString() };
        *orderBy = t.orderBy();
        while (!t.eof()) {
            values.append(t.field(column)->asString());
            if (!t.next())
                return QStringList { t.errorString() };
        }
        return values;
    };
    QString orderBy;
    QCOMPARE(readColumn(QStringLiteral("pk2"), 2, &orderBy),
        (QStringList { QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("1") }));
    QCOMPARE(orderBy, QStringLiteral("`a`,`b`"));
    QCOMPARE(readColumn(QStringLiteral("order"), 0, &orderBy),
        (QStringList { QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("1") }));
    QCOMPARE(orderBy, QStringLiteral("`my-col` DESC"));
    QCOMPARE(readColumn(QStringLiteral("my-table"), 0, &orderBy),
        (QStringList { QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("2") }));
    QCOMPARE(orderBy, QString());

    TmySQLTable missing(&db);
    missing.setTableName(QStringLiteral("no_such_table"));
    QVERIFY(!missing.open());
    QCOMPARE(missing.errorCode(), 1146);
    QVERIFY(db.connected());
}

void TestMySqlClient::columnKindsAndTexts()
{
    REQUIRE_SERVER();
    struct Case {
        const char *type;
        const char *literal;
        FieldKind kind;
        const char *text; // asString()
        const char *bytes; // asBytes(), nullptr: same as text
    };
    const Case cases[] = {
        { "TINYINT", "-5", FieldKind::SmallInt, "-5", nullptr },
        { "TINYINT UNSIGNED", "200", FieldKind::Word, "200", nullptr },
        { "SMALLINT", "-32768", FieldKind::SmallInt, "-32768", nullptr },
        { "MEDIUMINT", "8388607", FieldKind::Integer, "8388607", nullptr },
        { "INT", "-2147483648", FieldKind::Integer, "-2147483648", nullptr },
        { "INT UNSIGNED", "4294967295", FieldKind::LongWord, "4294967295", nullptr },
        { "YEAR", "2024", FieldKind::LongWord, "2024", nullptr }, // sent with the UNSIGNED flag
        { "BIGINT", "-9223372036854775808", FieldKind::LargeInt, "-9223372036854775808", nullptr },
        { "BIGINT UNSIGNED", "18446744073709551615", FieldKind::LargeInt, "18446744073709551615", nullptr },
        { "DECIMAL(30,10)",
            "12345678901234567890.0123456789",
            FieldKind::Float,
            "1,23456789012346E19",
            "12345678901234567890.0123456789" },
        { "DOUBLE", "-1.5e300", FieldKind::Float, "-1,5E300", "-1.5e300" },
        { "FLOAT", "0.5", FieldKind::Float, "0,5", "0.5" },
        { "DATE", "'2024-02-29'", FieldKind::Date, "29.02.2024", "2024-02-29" },
        { "DATETIME", "'2024-02-29 13:14:15'", FieldKind::DateTime, "29.02.2024 13:14:15", "2024-02-29 13:14:15" },
        { "DATETIME", "'2024-03-01 00:00:00'", FieldKind::DateTime, "01.03.2024", "2024-03-01 00:00:00" },
        { "DATETIME(6)",
            "'2024-03-01 10:00:00.123456'",
            FieldKind::DateTime,
            "01.03.2024 10:00:00",
            "2024-03-01 10:00:00.123456" },
        { "TIMESTAMP NULL",
            "'2001-02-03 04:05:06'",
            FieldKind::DateTime,
            "03.02.2001 04:05:06",
            "2001-02-03 04:05:06" },
        { "TIME", "'-838:59:59'", FieldKind::Time, "-838:59:59", nullptr },
        { "ENUM('Y','N')", "'Y'", FieldKind::String, "Y", nullptr },
        { "ENUM('yes','no')", "'no'", FieldKind::String, "no", nullptr },
        { "SET('a','b')", "'a,b'", FieldKind::String, "a,b", nullptr },
        { "CHAR(10)", "'ä'", FieldKind::String, "ä", nullptr },
        { "VARCHAR(255)", "'😀'", FieldKind::String, "😀", nullptr },
        { "VARCHAR(256)", "'x'", FieldKind::Memo, "x", nullptr },
        { "TEXT", "'line\\r\\nnext'", FieldKind::Memo, "line\r\nnext", nullptr },
        { "BLOB", "0x00FF41", FieldKind::Blob, "\x00\xff\x41", nullptr },
        { "VARBINARY(10)", "0x4142", FieldKind::String, "AB", nullptr },
    };
    TmySQLDatabase db;
    QVERIFY2(connectAs(db, QStringLiteral("test_native"), QStringLiteral("nativepw")), qPrintable(db.errorString()));
    QStringList columns, values;
    int i = 0;
    for (const Case &c : cases) {
        columns.append(QStringLiteral("c%1 %2").arg(i++).arg(QString::fromUtf8(c.type)));
        values.append(QString::fromUtf8(c.literal));
    }
    QVERIFY(sql(db,
        QStringLiteral("CREATE TABLE kinds (id INT PRIMARY KEY, ") + columns.join(QStringLiteral(", "))
            + QLatin1Char(')')));
    QVERIFY(sql(
        db, QStringLiteral("INSERT INTO kinds VALUES (1, ") + values.join(QStringLiteral(", ")) + QLatin1Char(')')));
    QVERIFY(sql(db, QStringLiteral("INSERT INTO kinds (id) VALUES (2)")));

    TmySQLTable table(&db);
    table.setTableName(QStringLiteral("kinds"));
    QVERIFY2(table.open(), qPrintable(table.errorString()));
    QCOMPARE(table.fieldCount(), int(std::size(cases)) + 1);
    i = 0;
    for (const Case &c : cases) {
        const TmySQLField *f = table.field(++i);
        const QByteArray text = c.type == QByteArray("BLOB") ? QByteArray("\x00\xff\x41", 3) : QByteArray(c.text);
        QVERIFY2(f->kind() == c.kind, c.type);
        QCOMPARE(f->asBytes(), c.bytes ? QByteArray(c.bytes) : text);
        if (f->kind() == FieldKind::Blob)
            QCOMPARE(f->asString(), QString::fromLatin1(text));
        else
            QCOMPARE(f->asString(), QString::fromUtf8(text));
    }
    QCOMPARE(table.field(0)->value(), QVariant(qlonglong(1)));
    QCOMPARE(table.fieldByName(QStringLiteral("c8"))->value(), QVariant(qulonglong(18446744073709551615ull)));
    QCOMPARE(table.fieldByName(QStringLiteral("c12"))->value(), QVariant(QDate(2024, 2, 29)));
    QCOMPARE(table.fieldByName(QStringLiteral("c25"))->blobSize(), 3);
    QVERIFY(!table.fieldByName(QStringLiteral("nope")));

    QVERIFY(table.next());
    QVERIFY(!table.eof());
    for (int column = 1; column < table.fieldCount(); ++column) {
        QVERIFY(table.field(column)->isNull());
        QCOMPARE(table.field(column)->asString(), QString());
        QVERIFY(table.field(column)->value().isNull());
    }
    QVERIFY(table.next());
    QVERIFY(table.eof());
}

void TestMySqlClient::payloadsOver16MiB_data()
{
    QTest::addColumn<bool>("compress");
    QTest::newRow("plain") << false;
    QTest::newRow("compressed") << true;
}

void TestMySqlClient::payloadsOver16MiB()
{
    REQUIRE_SERVER();
    QFETCH(bool, compress);
    TmySQLDatabase db;
    QVERIFY2(connectAs(db, QStringLiteral("test_native"), QStringLiteral("nativepw"), compress),
        qPrintable(db.errorString()));
    // 17 MiB of letters that do not repeat in a short cycle, so compression cannot hide the size.
    QByteArray data(17 * 1024 * 1024 + 3, 'a');
    quint32 state = 12345;
    for (char &ch : data) {
        state = state * 1103515245u + 12345u;
        ch = char('a' + (state >> 16) % 26);
    }
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE IF NOT EXISTS big (id INT PRIMARY KEY, data LONGBLOB)")));
    QVERIFY(sql(db, QStringLiteral("DELETE FROM big")));
    TmySQLQuery insert(&db);
    insert.setSqlBytes("INSERT INTO big VALUES (1, '" + data + "')");
    QVERIFY2(insert.execSql(), qPrintable(insert.errorString()));
    QCOMPARE(insert.rowsAffected(), quint64(1));

    TmySQLQuery query(&db);
    query.setSql(QStringLiteral("SELECT MD5(data), data, LENGTH(data) FROM big"));
    QVERIFY2(query.open(), qPrintable(query.errorString()));
    QCOMPARE(query.field(0)->asBytes(), QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
    QCOMPARE(query.field(1)->blobSize(), data.size());
    QVERIFY(query.field(1)->asBytes() == data);
    QCOMPARE(query.field(2)->asString(), QString::number(data.size()));
    QVERIFY(query.next() && query.eof());
}

void TestMySqlClient::queryErrorsKeepTheSession()
{
    REQUIRE_SERVER();
    TmySQLDatabase db;
    QVERIFY2(connectAs(db, QStringLiteral("test_nopw"), QString()), qPrintable(db.errorString()));
    TmySQLQuery query(&db);
    query.setSql(QStringLiteral("SELEKT 1"));
    QVERIFY(!query.execSql());
    QCOMPARE(query.errorCode(), 1064);
    QVERIFY(query.errorString().startsWith(QLatin1String("You have an error in your SQL syntax")));
    // Rows left unread are drained at close, so the next statement runs.
    query.setSql(QStringLiteral("SELECT seq FROM seq_1_to_1000"));
    QVERIFY2(query.open(), qPrintable(query.errorString()));
    TmySQLQuery second(&db);
    second.setSql(QStringLiteral("SELECT 2"));
    QVERIFY(!second.open());
    QCOMPARE(second.errorCode(), 2014);
    query.close();
    QVERIFY2(second.open(), qPrintable(second.errorString()));
    QCOMPARE(second.field(0)->asString(), QStringLiteral("2"));
    second.close();

    // A statement sent ahead: nothing else goes out before its answer is read, and its error comes with it.
    MySqlWire &wire = db.wire();
    QVERIFY(wire.sendQuery("SELEKT 3"));
    second.setSql(QStringLiteral("SELECT 4"));
    QVERIFY(!second.open());
    QCOMPARE(second.errorCode(), 2014);
    QVERIFY(!wire.readAnswer());
    QCOMPARE(wire.errorCode(), 1064);
    QVERIFY2(second.open(), qPrintable(second.errorString()));
    QCOMPARE(second.field(0)->asString(), QStringLiteral("4"));
    second.close();

    // A server must never get a client file: LOAD DATA LOCAL is refused and nothing is loaded.
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE local_file (line TEXT)")));
    query.setSql(QStringLiteral("LOAD DATA LOCAL INFILE '/etc/hostname' INTO TABLE local_file"));
    QVERIFY(!query.execSql());
    query.setSql(QStringLiteral("SELECT COUNT(*) FROM local_file"));
    QVERIFY2(query.open(), qPrintable(query.errorString()));
    QCOMPARE(query.field(0)->asString(), QStringLiteral("0"));
}

void TestMySqlClient::serverKilledMidResult()
{
    REQUIRE_SERVER();
    TmySQLDatabase db;
    QVERIFY2(connectAs(db, QStringLiteral("test_native"), QStringLiteral("nativepw")), qPrintable(db.errorString()));
    // About 50 MB of rows: far more than the socket buffers hold when the server dies.
    QVERIFY(sql(db, QStringLiteral("CREATE TABLE many (id INT PRIMARY KEY, pad VARCHAR(300))")));
    QVERIFY(sql(db, QStringLiteral("INSERT INTO many SELECT seq, REPEAT('x', 250) FROM seq_1_to_200000")));

    TmySQLTable table(&db);
    table.setTableName(QStringLiteral("many"));
    QVERIFY2(table.open(), qPrintable(table.errorString()));
    int rows = 0;
    bool failed = false;
    while (!table.eof()) {
        if (++rows == 10)
            m_server.kill();
        if (!table.next()) {
            failed = true;
            break;
        }
    }
    QVERIFY2(failed, qPrintable(QStringLiteral("read %1 rows without an error").arg(rows)));
    QVERIFY(rows < 200000);
    QCOMPARE(table.errorCode(), 2013);
    QCOMPARE(table.errorString(), QStringLiteral("Lost connection to MySQL server during query"));
    QVERIFY(!db.connected());
    table.close();

    // The session is over; a data set would connect anew, and the server is gone.
    QVERIFY(!db.wire().query("SELECT 1", nullptr));
    QCOMPARE(db.wire().errorCode(), 2006);
    QCOMPARE(db.wire().errorString(), QStringLiteral("MySQL server has gone away"));
    TmySQLQuery query(&db);
    query.setSql(QStringLiteral("SELECT 1"));
    QVERIFY(!query.open());
    QCOMPARE(query.errorCode(), 2003);
}

QTEST_GUILESS_MAIN(TestMySqlClient)
#include "tst_mysqlclient.moc"
