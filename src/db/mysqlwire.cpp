// SPDX-License-Identifier: GPL-3.0-or-later
#include "mysqlwire.h"

#include "mysqlauth.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>
#include <QSslSocket>
#include <QStringDecoder>

#include <zlib.h>

namespace
{

enum Capability : quint32 {
    LongPassword = 1,
    LongFlag = 4,
    ConnectWithDb = 8,
    Compress = 32,
    Protocol41 = 512,
    Ssl = 2048,
    Transactions = 8192,
    SecureConnection = 32768,
    PluginAuth = 1u << 19,
    PluginAuthLenencData = 1u << 21,
};

enum Command : char {
    ComQuit = 0x01,
    ComInitDb = 0x02,
    ComQuery = 0x03,
    ComPing = 0x0e,
};

constexpr quint16 kStatusMoreResults = 0x0008;
constexpr int kMaxPacket = 0xFFFFFF;
// Larger send buffers (of a statement with large values) are given back after use.
constexpr qsizetype kKeptSendBuffer = 4 << 20;
constexpr int kClientProtocol = 10;
constexpr qint64 kWaitSliceMs = 100;

const QByteArray kNativePlugin = QByteArrayLiteral("mysql_native_password");
const QByteArray kOldPlugin = QByteArrayLiteral("mysql_old_password");
const QByteArray kSha2Plugin = QByteArrayLiteral("caching_sha2_password");
const QByteArray kEd25519Plugin = QByteArrayLiteral("client_ed25519");

void putInt(QByteArray &out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

quint64 getInt(const QByteArray &data, qsizetype pos, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= quint64(quint8(data[pos + i])) << (8 * i);
    return value;
}

void putLengthEncoded(QByteArray &out, quint64 value)
{
    if (value < 251) {
        putInt(out, value, 1);
    } else if (value < 0x10000) {
        out.append(char(0xfc));
        putInt(out, value, 2);
    } else if (value < 0x1000000) {
        out.append(char(0xfd));
        putInt(out, value, 3);
    } else {
        out.append(char(0xfe));
        putInt(out, value, 8);
    }
}

// Server texts are UTF-8 on our sessions, but servers before 4.1 send their own single-byte set.
QString decodeServerText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

/// Reads packet fields with bounds checks; any overrun marks the reader bad.
struct PacketReader {
    const QByteArray &data;
    qsizetype pos = 0;
    bool bad = false;

    bool has(qsizetype n) const
    {
        return !bad && pos + n <= data.size();
    }
    quint64 integer(int bytes)
    {
        if (!has(bytes)) {
            bad = true;
            return 0;
        }
        const quint64 value = getInt(data, pos, bytes);
        pos += bytes;
        return value;
    }
    QByteArray bytes(qsizetype n)
    {
        if (n < 0 || !has(n)) {
            bad = true;
            return {};
        }
        const QByteArray value = data.mid(pos, n);
        pos += n;
        return value;
    }
    QByteArray nulString()
    {
        if (bad)
            return {};
        const qsizetype end = data.indexOf('\0', pos);
        const QByteArray value = data.mid(pos, (end < 0 ? data.size() : end) - pos);
        pos = end < 0 ? data.size() : end + 1;
        return value;
    }
    quint64 lengthEncoded()
    {
        quint64 value = 0;
        bool isNull = false;
        if (bad || !MySqlWire::readLengthEncoded(data, &pos, &value, &isNull) || isNull)
            bad = true;
        return value;
    }
    QByteArray lengthEncodedString()
    {
        const quint64 n = lengthEncoded();
        if (bad || n > quint64(data.size()))
            return bad = true, QByteArray();
        return bytes(qsizetype(n));
    }
    QByteArray rest()
    {
        if (bad)
            return {};
        const QByteArray value = data.mid(pos);
        pos = data.size();
        return value;
    }
};

} // namespace

QString MySqlClientError::text(int code)
{
    switch (code) {
    case ServerGone:
        return QStringLiteral("MySQL server has gone away");
    case ServerLost:
        return QStringLiteral("Lost connection to MySQL server during query");
    case CommandsOutOfSync:
        return QStringLiteral("Commands out of sync; you can't run this command now");
    case MalformedPacket:
        return QStringLiteral("Malformed packet");
    case PacketTooLarge:
        return QStringLiteral("Got packet bigger than 'max_allowed_packet' bytes");
    case Interrupted:
        return QStringLiteral("Vorgang abgebrochen");
    default:
        return QStringLiteral("Unknown MySQL error %1").arg(code);
    }
}

struct MySqlWire::Private {
    std::unique_ptr<QSslSocket> socket;
    QByteArray in; // the packet stream (decompressed when compression is on)
    qsizetype inPos = 0;
    QByteArray raw; // compressed frames as read from the socket
    qsizetype rawPos = 0;
    QByteArray sendBuffer; // the packets of the command being sent
    bool compressed = false;
    quint8 seq = 0;
    quint8 compressedSeq = 0;
    bool lastWaitTimedOut = false;
    int ioTimeoutMs = 600000;
    // Until the login is done every wait shares the connect's deadline; after it each packet
    // and each write gets the I/O limit as a whole, however slowly its bytes come.
    bool fixedDeadline = false;
    QDeadlineTimer deadline;
    qint64 maxPacketSize = MySqlWire::kDefaultMaxPacketSize;
    std::function<bool()> cancelCheck;
    bool checkCancel = true; // off while saying goodbye
    bool cancelled = false; // the cancel check ended the last wait

    // Answer: a statement went out with sendQuery and its answer is not read yet.
    enum class State { Closed, Idle, Answer, Rows };
    State state = State::Closed;
    QList<MySqlColumn> columns;
    bool moreResults = false;

    int errorCode = 0;
    QString errorString;
    QString sqlState;

    QString serverVersion;
    int serverVersionNumber = 0;
    quint32 serverCaps = 0;
    quint32 clientCaps = 0;
    quint32 threadId = 0;
    QString plugin;
    quint64 affectedRows = 0;
    quint64 insertId = 0;
    quint16 status = 0;

    void setError(int code, const QString &text, const QString &state = {})
    {
        errorCode = code;
        errorString = text;
        sqlState = state;
    }
    void setClientError(int code)
    {
        setError(code, MySqlClientError::text(code));
    }
    // A transport failure leaves the protocol state unknown: the session is over.
    bool fatal(int code)
    {
        setClientError(cancelled ? MySqlClientError::Interrupted : code);
        closeSocket();
        return false;
    }
    void startWait()
    {
        if (!fixedDeadline)
            deadline = QDeadlineTimer(ioTimeoutMs);
    }
    // Waits in short slices so that a cancel is seen within a second whatever the server does.
    // The cancel check is asked only when a slice passed without progress: a server that
    // answers is not cut off in the middle of a statement.
    bool waitSlice(bool forWrite)
    {
        if (deadline.hasExpired()) {
            lastWaitTimedOut = true;
            return false;
        }
        const int slice = int(qBound<qint64>(1, deadline.remainingTime(), kWaitSliceMs));
        const bool progress = forWrite ? socket->waitForBytesWritten(slice) : socket->waitForReadyRead(slice);
        if (!progress && checkCancel && cancelCheck && cancelCheck()) {
            cancelled = true;
            return false;
        }
        return true;
    }
    void closeSocket()
    {
        if (socket) {
            socket->abort();
            socket.reset();
        }
        state = State::Closed;
        columns.clear();
        in.clear();
        raw.clear();
        inPos = rawPos = 0;
        compressed = false;
    }

    bool readFromSocket(QByteArray &buffer)
    {
        if (!socket)
            return false;
        lastWaitTimedOut = false;
        while (socket->bytesAvailable() == 0) {
            if (socket->state() != QAbstractSocket::ConnectedState)
                return false;
            if (!waitSlice(false))
                return false;
        }
        // Straight into the buffer, which keeps its room: a temporary of each read's size would
        // be a large allocation (and its pages new) for every read of a long result.
        const qint64 available = socket->bytesAvailable();
        const qsizetype old = buffer.size();
        if (buffer.capacity() < old + available)
            buffer.reserve(std::max<qsizetype>(old + available, buffer.capacity() * 2));
        buffer.resize(old + available);
        const qint64 got = socket->read(buffer.data() + old, available);
        buffer.resize(old + std::max<qint64>(got, 0));
        return got > 0;
    }
    static void compact(QByteArray &buffer, qsizetype &pos)
    {
        if (pos > 65536 && pos * 2 > buffer.size()) {
            buffer.remove(0, pos);
            pos = 0;
        }
    }
    bool readFrame()
    {
        compact(raw, rawPos);
        while (raw.size() - rawPos < 7)
            if (!readFromSocket(raw))
                return false;
        const qsizetype compressedLength = qsizetype(getInt(raw, rawPos, 3));
        compressedSeq = quint8(quint8(raw[rawPos + 3]) + 1);
        const qsizetype plainLength = qsizetype(getInt(raw, rawPos + 4, 3));
        rawPos += 7;
        while (raw.size() - rawPos < compressedLength)
            if (!readFromSocket(raw))
                return false;
        if (plainLength == 0) {
            in.append(raw.constData() + rawPos, compressedLength);
        } else {
            const qsizetype old = in.size();
            in.resize(old + plainLength);
            uLongf length = uLongf(plainLength);
            const int rc = uncompress(reinterpret_cast<Bytef *>(in.data() + old),
                &length,
                reinterpret_cast<const Bytef *>(raw.constData() + rawPos),
                uLong(compressedLength));
            if (rc != Z_OK || length != uLongf(plainLength)) {
                in.resize(old);
                return false;
            }
        }
        rawPos += compressedLength;
        return true;
    }
    bool ensure(qsizetype n)
    {
        while (in.size() - inPos < n) {
            if (!(compressed ? readFrame() : readFromSocket(in)))
                return false;
        }
        return true;
    }
    // One logical packet; payloads of 16 MiB and more arrive as a chain of full-size parts.
    bool readPacket(QByteArray *payload, int lostCode = MySqlClientError::ServerLost)
    {
        payload->resize(0);
        startWait();
        for (;;) {
            compact(in, inPos);
            if (!ensure(4))
                return fatal(lostCode);
            const qsizetype length = qsizetype(getInt(in, inPos, 3));
            seq = quint8(quint8(in[inPos + 3]) + 1);
            inPos += 4;
            // A chain of parts that never ends would take all memory: no row of a real
            // server is larger than its own packet limit (1 GiB at most).
            if (payload->size() + length > maxPacketSize)
                return fatal(MySqlClientError::PacketTooLarge);
            if (!ensure(length))
                return fatal(lostCode);
            payload->append(in.constData() + inPos, length);
            inPos += length;
            if (length < kMaxPacket)
                return true;
        }
    }
    bool writeToSocket(const QByteArray &bytes)
    {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return fatal(MySqlClientError::ServerGone);
        if (socket->write(bytes) != bytes.size())
            return fatal(MySqlClientError::ServerGone);
        startWait();
        while (socket->bytesToWrite() > 0 || socket->encryptedBytesToWrite() > 0) {
            if (socket->state() != QAbstractSocket::ConnectedState || !waitSlice(true))
                return fatal(MySqlClientError::ServerGone);
        }
        return true;
    }
    bool sendBytes(const QByteArray &bytes)
    {
        if (!compressed)
            return writeToSocket(bytes);
        // Frames carry at most 16 MiB - 1 of plain bytes; 1 MiB keeps the extra memory small.
        constexpr qsizetype kChunk = 1 << 20;
        QByteArray frames;
        for (qsizetype pos = 0; pos < bytes.size(); pos += kChunk) {
            const qsizetype n = qMin(kChunk, bytes.size() - pos);
            QByteArray body;
            qsizetype plainLength = 0;
            if (n >= 50) {
                uLongf bound = compressBound(uLong(n));
                body.resize(qsizetype(bound));
                if (compress2(reinterpret_cast<Bytef *>(body.data()),
                        &bound,
                        reinterpret_cast<const Bytef *>(bytes.constData() + pos),
                        uLong(n),
                        Z_DEFAULT_COMPRESSION)
                        == Z_OK
                    && qsizetype(bound) < n) {
                    body.resize(qsizetype(bound));
                    plainLength = n;
                }
            }
            if (plainLength == 0)
                body = bytes.mid(pos, n);
            putInt(frames, quint64(body.size()), 3);
            frames.append(char(compressedSeq++));
            putInt(frames, quint64(plainLength), 3);
            frames.append(body);
            if (frames.size() >= kChunk) {
                if (!writeToSocket(frames))
                    return false;
                frames.clear();
            }
        }
        return frames.isEmpty() || writeToSocket(frames);
    }
    bool writePacket(const QByteArray &payload)
    {
        return writeCommand(-1, payload);
    }
    // The payload (led by the command byte when there is one) in parts of at most 16 MiB - 1,
    // built in a buffer kept for the next command: a restore's statements of a megabyte each
    // are copied once, into memory already in use, instead of into new memory two times over.
    bool writeCommand(int command, const QByteArray &body)
    {
        const qsizetype total = body.size() + (command >= 0 ? 1 : 0);
        sendBuffer.resize(0);
        sendBuffer.reserve(total + 4 + 4 * (total / kMaxPacket));
        qsizetype pos = 0;
        qsizetype bodyPos = 0;
        // A payload that is an exact multiple of the part size ends with an empty part.
        for (;;) {
            const qsizetype n = qMin<qsizetype>(kMaxPacket, total - pos);
            putInt(sendBuffer, quint64(n), 3);
            sendBuffer.append(char(seq++));
            qsizetype fromBody = n;
            if (pos == 0 && command >= 0) {
                sendBuffer.append(char(command));
                --fromBody;
            }
            sendBuffer.append(body.constData() + bodyPos, fromBody);
            bodyPos += fromBody;
            pos += n;
            if (n < kMaxPacket)
                break;
        }
        const bool sent = sendBytes(sendBuffer);
        if (sendBuffer.capacity() > kKeptSendBuffer)
            sendBuffer = QByteArray();
        return sent;
    }
    bool startCommand()
    {
        if (state == State::Closed)
            return setClientError(MySqlClientError::ServerGone), false;
        if (state == State::Rows || state == State::Answer)
            return setClientError(MySqlClientError::CommandsOutOfSync), false;
        cancelled = false;
        errorCode = 0;
        errorString.clear();
        sqlState.clear();
        seq = 0;
        compressedSeq = 0;
        return true;
    }
    bool parseOk(const QByteArray &p)
    {
        PacketReader r { p, 1 };
        affectedRows = r.lengthEncoded();
        insertId = r.lengthEncoded();
        if (clientCaps & (Protocol41 | Transactions))
            status = quint16(r.integer(2));
        if (r.bad)
            return fatal(MySqlClientError::MalformedPacket);
        moreResults = status & kStatusMoreResults;
        return true;
    }
    // ERR packets end the command but not the session.
    bool parseErr(const QByteArray &p)
    {
        PacketReader r { p, 1 };
        const int code = int(r.integer(2));
        QString state;
        if (r.has(6) && p[r.pos] == '#') {
            state = QString::fromLatin1(p.mid(r.pos + 1, 5));
            r.pos += 6;
        }
        if (r.bad)
            return fatal(MySqlClientError::MalformedPacket);
        setError(code, decodeServerText(r.rest()), state);
        return false;
    }
    static bool isEof(const QByteArray &p)
    {
        return !p.isEmpty() && quint8(p[0]) == 0xfe && p.size() < 9;
    }
    void parseEof(const QByteArray &p)
    {
        status = p.size() >= 5 ? quint16(getInt(p, 3, 2)) : 0;
        moreResults = status & kStatusMoreResults;
    }
    bool parseColumn(const QByteArray &p, MySqlColumn *column)
    {
        PacketReader r { p };
        if (clientCaps & Protocol41) {
            r.lengthEncodedString(); // catalog
            r.lengthEncodedString(); // schema
            column->table = r.lengthEncodedString();
            r.lengthEncodedString(); // original table
            column->name = r.lengthEncodedString();
            r.lengthEncodedString(); // original name
            r.lengthEncoded(); // length of the fixed fields
            column->charset = quint16(r.integer(2));
            column->length = quint32(r.integer(4));
            column->type = quint8(r.integer(1));
            column->flags = quint16(r.integer(2));
            column->decimals = quint8(r.integer(1));
        } else {
            // Servers before 4.1 wrap each number in a length-encoded string.
            column->table = r.lengthEncodedString();
            column->name = r.lengthEncodedString();
            const QByteArray length = r.lengthEncodedString();
            const QByteArray type = r.lengthEncodedString();
            const QByteArray flags = r.lengthEncodedString();
            if (r.bad || length.isEmpty() || type.isEmpty() || flags.size() < 2)
                return fatal(MySqlClientError::MalformedPacket);
            column->length = quint32(getInt(length, 0, int(qMin<qsizetype>(length.size(), 4))));
            column->type = quint8(type[0]);
            const int flagBytes = flags.size() >= 3 ? 2 : 1;
            column->flags = quint16(getInt(flags, 0, flagBytes));
            column->decimals = quint8(flags[flagBytes]);
        }
        if (r.bad)
            return fatal(MySqlClientError::MalformedPacket);
        return true;
    }
    // Reads what follows a command: OK, ERR, or the head of a result set.
    bool readResultHead(bool *hasResult)
    {
        *hasResult = false;
        QByteArray p;
        if (!readPacket(&p))
            return false;
        if (p.isEmpty())
            return fatal(MySqlClientError::MalformedPacket);
        const quint8 head = quint8(p[0]);
        if (head == 0x00)
            return parseOk(p);
        if (head == 0xff)
            return parseErr(p);
        if (head == 0xfb) {
            // LOAD DATA LOCAL: the server asks for a client file. Never hand one out; an
            // empty packet ends the transfer and the server answers with OK or ERR.
            if (!writePacket(QByteArray()))
                return false;
            return readResultHead(hasResult);
        }
        PacketReader r { p };
        const quint64 count = r.lengthEncoded();
        if (r.bad || count == 0 || count > 4096)
            return fatal(MySqlClientError::MalformedPacket);
        QList<MySqlColumn> columnList;
        columnList.reserve(qsizetype(count));
        for (quint64 i = 0; i < count; ++i) {
            if (!readPacket(&p))
                return false;
            MySqlColumn column;
            if (!parseColumn(p, &column))
                return false;
            columnList.append(column);
        }
        if (!readPacket(&p))
            return false;
        if (!isEof(p))
            return fatal(MySqlClientError::MalformedPacket);
        columns = columnList;
        state = State::Rows;
        *hasResult = true;
        return true;
    }

    bool login(const Settings &s, const QByteArray &greeting);

    // Encrypts the connection within the login's deadline. The server's certificate is not
    // checked: the encryption keeps the data from passive listeners on the way.
    bool startTls()
    {
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->startClientEncryption();
        while (!socket->isEncrypted()) {
            if (socket->state() != QAbstractSocket::ConnectedState || !waitForTls())
                break;
        }
        if (socket->isEncrypted())
            return true;
        if (cancelled)
            return fatal(MySqlClientError::Interrupted);
        const QString reason = deadline.hasExpired() ? QStringLiteral("Zeitüberschreitung") : socket->errorString();
        closeSocket();
        setError(MySqlClientError::SslConnectionError,
            QStringLiteral("Die verschlüsselte Verbindung (TLS) zum Datenbankserver kam nicht zustande: ") + reason);
        return false;
    }
    bool waitForTls()
    {
        if (deadline.hasExpired())
            return false;
        const int slice = int(qBound<qint64>(1, deadline.remainingTime(), kWaitSliceMs));
        if (!socket->waitForEncrypted(slice) && !socket->isEncrypted() && cancelCheck && cancelCheck()) {
            cancelled = true;
            return false;
        }
        return true;
    }
    bool loginLoop(const Settings &s, QByteArray seed, QByteArray pluginName);
};

static int versionNumber(const QString &version)
{
    static const QRegularExpression re(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const auto m = re.match(version);
    if (!m.hasMatch())
        return 0;
    return m.captured(1).toInt() * 10000 + m.captured(2).toInt() * 100 + m.captured(3).toInt();
}

bool MySqlWire::Private::login(const Settings &s, const QByteArray &greeting)
{
    PacketReader r { greeting };
    const int protocol = int(r.integer(1));
    if (protocol == 0xff)
        return parseErr(greeting), closeSocket(), false;
    if (protocol != 10 && protocol != 9) {
        setError(MySqlClientError::VersionError,
            QStringLiteral("Protocol mismatch. Server Version = %1 Client Version = %2")
                .arg(protocol)
                .arg(kClientProtocol));
        closeSocket();
        return false;
    }
    QString version = QString::fromLatin1(r.nulString());
    // MariaDB puts "5.5.5-" before its real version for old replication clients.
    if (version.startsWith(QLatin1String("5.5.5-")) && version.size() > 6 && version.at(6).isDigit())
        version = version.mid(6);
    serverVersion = version;
    serverVersionNumber = versionNumber(version);
    threadId = quint32(r.integer(4));
    QByteArray seed;
    QByteArray pluginName;
    if (protocol == 9) {
        seed = r.nulString();
    } else {
        seed = r.bytes(8);
        r.integer(1);
        if (r.has(2))
            serverCaps = quint32(r.integer(2));
        if (r.has(16)) {
            r.integer(1); // server character set
            status = quint16(r.integer(2));
            serverCaps |= quint32(r.integer(2)) << 16;
            const int authLength = int(r.integer(1));
            r.bytes(10);
            if (serverCaps & SecureConnection) {
                const qsizetype part2 = qMax(13, authLength - 8);
                QByteArray more = r.has(part2) ? r.bytes(part2) : r.rest();
                const qsizetype nul = more.indexOf('\0');
                seed += nul >= 0 ? more.left(nul) : more;
            }
            if (serverCaps & PluginAuth)
                pluginName = r.nulString();
        }
    }
    if (r.bad)
        return fatal(MySqlClientError::MalformedPacket);

    const bool v41 = serverCaps & Protocol41;
    if (s.requireTls && !(v41 && (serverCaps & Ssl))) {
        setError(MySqlClientError::SslConnectionError,
            QStringLiteral("Der Datenbankserver bietet keine verschlüsselte Verbindung (TLS) an."));
        closeSocket();
        return false;
    }
    const QByteArray db = s.database;
    QByteArray packet;
    if (v41) {
        clientCaps = LongPassword | LongFlag | Protocol41 | Transactions
            | (serverCaps & (SecureConnection | PluginAuth | PluginAuthLenencData));
        if ((s.tls || s.requireTls) && (serverCaps & Ssl))
            clientCaps |= Ssl;
        if (!db.isEmpty() && (serverCaps & ConnectWithDb))
            clientCaps |= ConnectWithDb;
        if (s.compress && (serverCaps & Compress))
            clientCaps |= Compress;
        if (!(clientCaps & PluginAuth)
            || (pluginName != kNativePlugin && pluginName != kOldPlugin && pluginName != kSha2Plugin))
            pluginName = (clientCaps & SecureConnection) ? kNativePlugin : kOldPlugin;
        const QByteArray auth = pluginName == kSha2Plugin ? MySqlAuth::cachingSha2Scramble(s.password, seed)
            : pluginName == kOldPlugin                    ? MySqlAuth::oldScramble(s.password, seed)
                                                          : MySqlAuth::nativeScramble(s.password, seed);
        putInt(packet, clientCaps, 4);
        putInt(packet, 0x1000000, 4);
        // utf8mb4_general_ci; servers before 5.5.3 know only the three-byte utf8.
        packet.append(char(serverVersionNumber >= 50503 ? 45 : 33));
        packet.append(QByteArray(23, '\0'));
        packet.append(s.user).append('\0');
        if (clientCaps & PluginAuthLenencData) {
            putLengthEncoded(packet, quint64(auth.size()));
            packet.append(auth);
        } else if (clientCaps & SecureConnection) {
            packet.append(char(auth.size())).append(auth);
        } else {
            packet.append(auth).append('\0');
        }
        if (clientCaps & ConnectWithDb)
            packet.append(db).append('\0');
        if (clientCaps & PluginAuth)
            packet.append(pluginName).append('\0');
        if (clientCaps & Ssl) {
            // The start of the login answer asks for TLS; the whole answer follows encrypted.
            if (!writePacket(packet.left(32)) || !startTls())
                return false;
        }
    } else {
        // Servers before 4.1 (3.23, 4.0) read the short response with two-byte flags.
        clientCaps = LongPassword | LongFlag | Transactions | (serverCaps & SecureConnection);
        if (!db.isEmpty() && (serverCaps & ConnectWithDb))
            clientCaps |= ConnectWithDb;
        if (s.compress && (serverCaps & Compress))
            clientCaps |= Compress;
        putInt(packet, clientCaps, 2);
        putInt(packet, 0xFFFFFF, 3);
        packet.append(s.user).append('\0');
        if (clientCaps & SecureConnection) {
            pluginName = kNativePlugin;
            const QByteArray auth = MySqlAuth::nativeScramble(s.password, seed);
            packet.append(char(auth.size())).append(auth);
        } else {
            pluginName = kOldPlugin;
            packet.append(MySqlAuth::oldScramble(s.password, seed)).append('\0');
        }
        if (clientCaps & ConnectWithDb)
            packet.append(db).append('\0');
    }
    if (!writePacket(packet))
        return false;
    return loginLoop(s, seed, pluginName);
}

bool MySqlWire::Private::loginLoop(const Settings &s, QByteArray seed, QByteArray pluginName)
{
    const QByteArray greetingSeed = seed;
    bool awaitingKey = false;
    // Each round is one server request; a server that keeps asking is not one we can satisfy.
    for (int round = 0; round < 8; ++round) {
        QByteArray p;
        if (!readPacket(&p))
            return false;
        if (p.isEmpty())
            return fatal(MySqlClientError::MalformedPacket);
        const quint8 head = quint8(p[0]);
        if (head == 0x00) {
            if (!parseOk(p))
                return false;
            plugin = QString::fromLatin1(pluginName);
            return true;
        }
        if (head == 0xff) {
            parseErr(p);
            closeSocket();
            return false;
        }
        QByteArray answer;
        if (head == 0xfe && p.size() == 1) {
            // "Use the short scramble": the pre-4.1 answer to the greeting's seed.
            pluginName = kOldPlugin;
            answer = MySqlAuth::oldScramble(s.password, greetingSeed) + '\0';
        } else if (head == 0xfe) {
            PacketReader r { p, 1 };
            pluginName = r.nulString();
            seed = r.rest();
            if ((pluginName == kNativePlugin || pluginName == kOldPlugin) && seed.endsWith('\0'))
                seed.chop(1);
            if (pluginName == kNativePlugin)
                answer = MySqlAuth::nativeScramble(s.password, seed);
            else if (pluginName == kOldPlugin)
                answer = MySqlAuth::oldScramble(s.password, seed) + '\0';
            else if (pluginName == kSha2Plugin)
                answer = MySqlAuth::cachingSha2Scramble(s.password, seed);
            else if (pluginName == kEd25519Plugin && MySqlAuth::hasEd25519())
                answer = MySqlAuth::ed25519Signature(s.password, seed);
            // Any other plugin gets an empty answer, and the server refuses it with its own text.
        } else if (head == 0x01 && pluginName == kSha2Plugin) {
            if (awaitingKey) {
                QString why;
                answer = MySqlAuth::rsaEncryptPassword(s.password, seed, p.mid(1), &why);
                if (answer.isEmpty()) {
                    setError(MySqlClientError::AuthPluginError,
                        QStringLiteral("Authentication plugin 'caching_sha2_password' reported error: %1").arg(why));
                    closeSocket();
                    return false;
                }
                awaitingKey = false;
            } else if (p.size() == 2 && p[1] == 3) {
                continue; // fast authentication worked; the OK follows
            } else if (p.size() == 2 && p[1] == 4) {
                answer = QByteArray(1, '\x02'); // ask for the server's public key
                awaitingKey = true;
            } else {
                return fatal(MySqlClientError::MalformedPacket);
            }
        } else {
            return fatal(MySqlClientError::MalformedPacket);
        }
        if (!writePacket(answer))
            return false;
    }
    setError(MySqlClientError::AuthPluginError,
        QStringLiteral("Authentication plugin '%1' reported error: too many requests")
            .arg(QString::fromLatin1(pluginName)));
    closeSocket();
    return false;
}

MySqlWire::MySqlWire()
    : d(std::make_unique<Private>())
{
}

MySqlWire::~MySqlWire()
{
    disconnectFromServer();
}

bool MySqlWire::connectToServer(const Settings &s)
{
    disconnectFromServer();
    d->errorCode = 0;
    d->errorString.clear();
    d->sqlState.clear();
    d->serverCaps = d->clientCaps = 0;
    d->serverVersion.clear();
    d->serverVersionNumber = 0;
    d->plugin.clear();
    d->seq = 0;
    const QString shownHost = s.host.left(64);

    QList<QHostAddress> addresses;
    QHostAddress literal;
    if (literal.setAddress(s.host)) {
        addresses.append(literal);
    } else {
        const QHostInfo info = QHostInfo::fromName(s.host);
        addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
            d->setError(MySqlClientError::UnknownHost,
                QStringLiteral("Unknown MySQL Server Host '%1' (%2)").arg(shownHost).arg(int(info.error())));
            return false;
        }
    }

    // One deadline for everything up to the logged-in session: TCP connect, greeting, login.
    d->deadline = QDeadlineTimer(s.connectTimeoutMs);
    d->fixedDeadline = true;
    d->cancelled = false;
    int lastErrno = 0;
    for (const QHostAddress &address : std::as_const(addresses)) {
        auto socket = std::make_unique<QSslSocket>();
        socket->setReadBufferSize(1 << 20);
        socket->connectToHost(address, s.port);
        bool connected = false;
        while (!connected && socket->state() != QAbstractSocket::UnconnectedState && !d->deadline.hasExpired()) {
            if (d->cancelCheck && d->cancelCheck()) {
                d->cancelled = true;
                break;
            }
            connected = socket->waitForConnected(int(qBound<qint64>(1, d->deadline.remainingTime(), kWaitSliceMs)));
        }
        if (connected) {
            d->socket = std::move(socket);
            break;
        }
        if (d->cancelled) {
            d->fixedDeadline = false;
            d->setClientError(MySqlClientError::Interrupted);
            return false;
        }
        switch (socket->error()) {
        case QAbstractSocket::ConnectionRefusedError:
            lastErrno = 111;
            break;
        case QAbstractSocket::SocketTimeoutError:
            lastErrno = 110;
            break;
        case QAbstractSocket::NetworkError:
            lastErrno = 101;
            break;
        case QAbstractSocket::SocketResourceError:
        case QAbstractSocket::UnsupportedSocketOperationError:
            d->fixedDeadline = false;
            d->setError(MySqlClientError::SocketCreateError,
                QStringLiteral("Can't create TCP/IP socket (%1)").arg(int(socket->error())));
            return false;
        default:
            lastErrno = 110;
            break;
        }
        socket->abort();
        if (d->deadline.hasExpired())
            break;
    }
    const auto cannotConnect = [&](int code) {
        d->closeSocket();
        d->fixedDeadline = false;
        if (d->cancelled)
            d->setClientError(MySqlClientError::Interrupted);
        else
            d->setError(MySqlClientError::ConnectionError,
                QStringLiteral("Can't connect to MySQL server on '%1' (%2)").arg(shownHost).arg(code));
        return false;
    };
    if (!d->socket)
        return cannotConnect(lastErrno ? lastErrno : 110);
    d->socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    d->state = Private::State::Idle;

    // A listener that never greets (or greets byte by byte) is a failed connect in the same time.
    QByteArray greeting;
    if (!d->readPacket(&greeting))
        return cannotConnect(d->lastWaitTimedOut ? 110 : 104);
    const bool loggedIn = d->login(s, greeting);
    d->fixedDeadline = false;
    if (!loggedIn)
        return false;
    d->compressed = d->clientCaps & Compress;
    if (!s.database.isEmpty() && !(d->clientCaps & ConnectWithDb)) {
        if (!selectDatabase(s.database)) {
            d->closeSocket();
            return false;
        }
    }
    return true;
}

void MySqlWire::disconnectFromServer()
{
    if (d->state == Private::State::Idle && d->socket) {
        d->seq = 0;
        d->compressedSeq = 0;
        // A goodbye is a courtesy: short, and not held up by a cancel that already ended the work.
        d->deadline = QDeadlineTimer(qMin(d->ioTimeoutMs, 2000));
        d->fixedDeadline = true;
        d->checkCancel = false;
        d->writePacket(QByteArray(1, ComQuit));
        d->checkCancel = true;
        d->fixedDeadline = false;
    }
    d->closeSocket();
}

bool MySqlWire::isOpen() const
{
    return d->state != Private::State::Closed;
}

void MySqlWire::setIoTimeout(int milliseconds)
{
    d->ioTimeoutMs = qMax(1, milliseconds);
}

void MySqlWire::setMaxPacketSize(qint64 bytes)
{
    d->maxPacketSize = qMax<qint64>(kMaxPacket, bytes);
}

void MySqlWire::setCancelCheck(std::function<bool()> check)
{
    d->cancelCheck = std::move(check);
}

bool MySqlWire::query(const QByteArray &sql, bool *hasResult)
{
    return sendQuery(sql) && readAnswer(hasResult);
}

bool MySqlWire::sendQuery(const QByteArray &sql)
{
    if (!d->startCommand())
        return false;
    d->affectedRows = d->insertId = 0;
    if (!d->writeCommand(ComQuery, sql))
        return false;
    d->state = Private::State::Answer;
    return true;
}

bool MySqlWire::readAnswer(bool *hasResult)
{
    bool dummy = false;
    if (!hasResult)
        hasResult = &dummy;
    *hasResult = false;
    if (d->state != Private::State::Answer)
        return d->setClientError(MySqlClientError::CommandsOutOfSync), false;
    d->state = Private::State::Idle;
    if (!d->readResultHead(hasResult))
        return false;
    // We ask for one result per statement; should a server still send more, keep the stream in step.
    if (!*hasResult)
        return skipFurtherResults();
    return true;
}

bool MySqlWire::skipFurtherResults()
{
    bool more = false;
    while (d->moreResults) {
        if (!d->readResultHead(&more))
            return false;
        if (more && !discardResult())
            return false;
    }
    return true;
}

bool MySqlWire::resultPending() const
{
    return d->state == Private::State::Rows;
}

const QList<MySqlColumn> &MySqlWire::columns() const
{
    return d->columns;
}

bool MySqlWire::readLengthEncoded(const QByteArray &data, qsizetype *pos, quint64 *value, bool *isNull)
{
    *isNull = false;
    if (*pos >= data.size())
        return false;
    const quint8 first = quint8(data[*pos]);
    int bytes = 0;
    if (first < 251) {
        *value = first;
        *pos += 1;
        return true;
    }
    if (first == 251) {
        *isNull = true;
        *value = 0;
        *pos += 1;
        return true;
    }
    if (first == 0xfc)
        bytes = 2;
    else if (first == 0xfd)
        bytes = 3;
    else if (first == 0xfe)
        bytes = 8;
    else
        return false;
    if (*pos + 1 + bytes > data.size())
        return false;
    *value = getInt(data, *pos + 1, bytes);
    *pos += 1 + bytes;
    return true;
}

bool MySqlWire::fetchRow(MySqlRow *row, bool *atEnd)
{
    *atEnd = true;
    if (d->state != Private::State::Rows)
        return true;
    if (!d->readPacket(&row->data))
        return false;
    const QByteArray &p = row->data;
    if (Private::isEof(p)) {
        d->parseEof(p);
        d->state = Private::State::Idle;
        d->columns.clear();
        return skipFurtherResults();
    }
    if (!p.isEmpty() && quint8(p[0]) == 0xff) {
        // The server ended the result with an error (killed query, lock wait, ...).
        d->state = Private::State::Idle;
        d->columns.clear();
        d->parseErr(p);
        return false;
    }
    const qsizetype count = d->columns.size();
    row->offsets.resize(count);
    row->lengths.resize(count);
    qsizetype pos = 0;
    for (qsizetype i = 0; i < count; ++i) {
        quint64 length = 0;
        bool isNull = false;
        if (!readLengthEncoded(p, &pos, &length, &isNull) || length > quint64(p.size() - pos))
            return d->fatal(MySqlClientError::MalformedPacket);
        row->offsets[i] = qint32(pos);
        row->lengths[i] = isNull ? -1 : qint32(length);
        pos += qsizetype(length);
    }
    *atEnd = false;
    return true;
}

bool MySqlWire::discardResult()
{
    MySqlRow row;
    bool atEnd = false;
    while (d->state == Private::State::Rows) {
        if (!fetchRow(&row, &atEnd))
            return false;
    }
    return true;
}

bool MySqlWire::selectDatabase(const QByteArray &name)
{
    if (!d->startCommand())
        return false;
    if (!d->writePacket(QByteArray(1, ComInitDb) + name))
        return false;
    bool hasResult = false;
    if (!d->readResultHead(&hasResult))
        return false;
    return !hasResult || discardResult();
}

bool MySqlWire::ping()
{
    if (!d->startCommand())
        return false;
    if (!d->writePacket(QByteArray(1, ComPing)))
        return false;
    bool hasResult = false;
    return d->readResultHead(&hasResult) && !hasResult;
}

quint64 MySqlWire::affectedRows() const
{
    return d->affectedRows;
}

quint64 MySqlWire::insertId() const
{
    return d->insertId;
}

quint16 MySqlWire::serverStatus() const
{
    return d->status;
}

int MySqlWire::errorCode() const
{
    return d->errorCode;
}

QString MySqlWire::errorString() const
{
    return d->errorString;
}

QString MySqlWire::sqlState() const
{
    return d->sqlState;
}

QString MySqlWire::serverVersion() const
{
    return d->serverVersion;
}

int MySqlWire::serverVersionNumber() const
{
    return d->serverVersionNumber;
}

quint32 MySqlWire::serverCapabilities() const
{
    return d->serverCaps;
}

quint32 MySqlWire::clientCapabilities() const
{
    return d->clientCaps;
}

bool MySqlWire::tlsActive() const
{
    return d->socket && d->socket->isEncrypted();
}

bool MySqlWire::compressionActive() const
{
    return d->compressed;
}

quint32 MySqlWire::threadId() const
{
    return d->threadId;
}

QString MySqlWire::authPlugin() const
{
    return d->plugin;
}
