// SPDX-License-Identifier: GPL-3.0-or-later
// One TCP connection speaking the MySQL client/server protocol: packets, login, text results.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QSslSocket;

/// Client-side error codes and their texts (the server's own errors keep their codes and texts).
namespace MySqlClientError
{
enum Code {
    Unknown = 2000,
    ConnectionError = 2003, // "Can't connect to MySQL server on '%-.64s' (%d)"
    SocketCreateError = 2004,
    UnknownHost = 2005,
    ServerGone = 2006,
    VersionError = 2007,
    ServerLost = 2013,
    CommandsOutOfSync = 2014,
    PacketTooLarge = 2020,
    SslConnectionError = 2026,
    MalformedPacket = 2027,
    AuthPluginError = 2061,
    Interrupted = 2100, // the cancel check asked to stop a wait ("Vorgang abgebrochen")
};
/// The fixed text of a client-side code; "Unknown MySQL error %d" for codes without one.
QString text(int code);
} // namespace MySqlClientError

/// One column of a result as the server describes it.
struct MySqlColumn {
    QByteArray name; // UTF-8 on connections with utf8mb4, as sent
    QByteArray table;
    quint32 length = 0; // display length in bytes of the column's character set
    quint8 type = 0; // MySQL type code
    quint16 flags = 0; // NOT_NULL 1, PRI_KEY 2, BLOB 16, UNSIGNED 32, BINARY 128, ENUM 256, SET 2048
    quint8 decimals = 0;
    quint16 charset = 0; // collation id; 0 from servers before 4.1
};

/// One row of a text result: the packet as read, and where each value lies in it.
struct MySqlRow {
    QByteArray data;
    QList<qint32> offsets;
    QList<qint32> lengths; // -1 for NULL
};

/**
 * The wire layer under TmySQLDatabase. Blocking, single-threaded; every wait on the socket
 * is bounded as a whole: the TCP connect, the greeting and the login together by the connect
 * time-out, after it each packet (however slowly its bytes come) and each write by the I/O
 * time-out. A logical packet larger than maxPacketSize fails with 2020 instead of growing
 * memory. Waits run in slices of 100 ms and ask the cancel check between them; when it says
 * stop, the call fails with 2100 and the session is closed. The connection is encrypted
 * (TLS, the server's certificate unchecked) whenever the server offers it; with requireTls a
 * server without TLS fails the connect with 2026. Logins: mysql_native_password,
 * mysql_old_password, caching_sha2_password and MariaDB's client_ed25519.
 * A failed call returns false and leaves errorCode()/errorString(); a failure of the transport
 * (time-out, closed socket, garbage) also closes the connection, so that isOpen() tells the
 * caller the session is gone. Results are streamed: query() reads the column definitions,
 * fetchRow() one row at a time, and no new command may be sent before the rows are read to
 * their end (or skipped with discardResult()).
 */
class MySqlWire
{
public:
    struct Settings {
        QString host; // name or IPv4/IPv6 address
        quint16 port = 3306;
        QByteArray user;
        QByteArray password;
        QByteArray database; // empty: none
        int connectTimeoutMs = 30000;
        bool compress = false; // only used when the server offers it
        bool tls = true; // encrypted whenever the server offers it
        bool requireTls = false; // a server without TLS fails the connect (2026)
    };

    MySqlWire();
    ~MySqlWire();
    MySqlWire(const MySqlWire &) = delete;
    MySqlWire &operator=(const MySqlWire &) = delete;

    /// Resolves, connects and logs in. Errors 2003/2004/2005/2007/2013, the server's ERR, plugin errors.
    bool connectToServer(const Settings &settings);
    /// Sends COM_QUIT when the session is healthy and closes the socket; never fails.
    void disconnectFromServer();
    bool isOpen() const;

    /// Time limit of each packet read or write after the login (default 10 minutes).
    void setIoTimeout(int milliseconds);
    /// Largest logical packet (one row) accepted; 1 GiB by default, the most a server sends.
    void setMaxPacketSize(qint64 bytes);
    static constexpr qint64 kDefaultMaxPacketSize = qint64(1) << 30;
    /// Called between wait slices (at least every 100 ms while waiting); true ends the wait.
    void setCancelCheck(std::function<bool()> check);

    /**
     * Sends one statement. *hasResult tells whether a result set follows; then columns()
     * describes it and fetchRow() reads it. Without result set, affectedRows() and
     * insertId() are set. Error 2014 while an earlier result is still being read.
     */
    bool query(const QByteArray &sql, bool *hasResult);
    /**
     * query() in two halves, so that the caller can work while the server runs the statement:
     * sendQuery() writes it, readAnswer() waits for its answer. No other command may be sent
     * in between (error 2014).
     */
    bool sendQuery(const QByteArray &sql);
    bool readAnswer(bool *hasResult = nullptr);
    bool resultPending() const;
    const QList<MySqlColumn> &columns() const;
    /// The next row into *row; *atEnd true (and row untouched) after the last one.
    bool fetchRow(MySqlRow *row, bool *atEnd);
    /// Reads and drops the rest of the current result (and of any result following it).
    bool discardResult();
    /// COM_INIT_DB.
    bool selectDatabase(const QByteArray &name);
    /// COM_PING: true when the server answers.
    bool ping();

    quint64 affectedRows() const;
    quint64 insertId() const;
    quint16 serverStatus() const;

    int errorCode() const;
    QString errorString() const;
    QString sqlState() const;

    QString serverVersion() const; // as in the greeting, MariaDB's "5.5.5-" removed
    int serverVersionNumber() const; // major*10000 + minor*100 + patch
    quint32 serverCapabilities() const;
    quint32 clientCapabilities() const; // the flags agreed at login
    bool compressionActive() const;
    bool tlsActive() const;
    quint32 threadId() const;
    QString authPlugin() const; // the plugin that logged in

    /// Lengths of the wire format, exposed for the row parser of the data sets.
    static bool readLengthEncoded(const QByteArray &data, qsizetype *pos, quint64 *value, bool *isNull);

private:
    /// Reads and drops any further results a server sends after the one asked for.
    bool skipFurtherResults();
    struct Private;
    std::unique_ptr<Private> d;
};
