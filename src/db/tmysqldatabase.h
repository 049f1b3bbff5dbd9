// SPDX-License-Identifier: GPL-3.0-or-later
// The MySQL access components: connection, field, query and table.
#pragma once

#include "mysqlwire.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

/// Texts of the login dialog that a user interface shows for TmySQLDatabase::LoginPrompt.
namespace MySqlLoginTexts
{
inline QString caption()
{
    return QStringLiteral("Datenbank-Login");
}
inline QString databaseLabel()
{
    return QStringLiteral("Datenbank:");
}
inline QString userLabel()
{
    return QStringLiteral("&Benutzername:");
}
inline QString passwordLabel()
{
    return QStringLiteral("&Paßwort:");
}
inline QString okButton()
{
    return QStringLiteral("&OK");
}
inline QString cancelButton()
{
    return QStringLiteral("Abbrechen");
}
} // namespace MySqlLoginTexts

/**
 * One connection to a MySQL or MariaDB server (own protocol code over TCP, optional zlib
 * compression, character set utf8mb4).
 *
 * The connection settings live in params(), lines "name=value" with the names DatabaseName,
 * Host, Port, UID, PWD and TIMEOUT; the property setters write them there. While connected,
 * a setter given a different value refuses with "Operation bei geöffneter Datenbank nicht
 * ausführbar" and changes nothing. open() reads params(): an empty host means "localhost",
 * port 0 means 3306, a missing TIMEOUT means 30 seconds for the TCP connect and the login.
 *
 * Errors: every call that can fail returns false and leaves errorCode() and errorString():
 * the server's code and text, or the client codes of MySqlClientError (2003 cannot connect,
 * 2004 no socket, 2005 unknown host, 2006 gone away, 2007 protocol mismatch, 2013 lost
 * connection), or code -1 with a German text of this layer. A lost connection leaves
 * connected() false. Used by the dump, the connection test and the database restore, all
 * from the user-interface thread.
 */
class TmySQLDatabase
{
public:
    enum ConnectOption {
        coCompress = 0x1,
        coRequireTls = 0x2, ///< fail the connect when the server offers no TLS (TLS is used whenever offered)
    };
    /// Asks for user and password (texts in MySqlLoginTexts); false means "Abbrechen".
    using LoginPromptHandler = std::function<bool(const QString &databaseName, QString *userName, QString *password)>;

    TmySQLDatabase();
    ~TmySQLDatabase();
    TmySQLDatabase(const TmySQLDatabase &) = delete;
    TmySQLDatabase &operator=(const TmySQLDatabase &) = delete;

    QString databaseName() const;
    bool setDatabaseName(const QString &value);
    QString host() const;
    bool setHost(const QString &value);
    int port() const;
    bool setPort(int value);
    QString userName() const;
    bool setUserName(const QString &value);
    QString userPassword() const;
    bool setUserPassword(const QString &value);
    /// Seconds for the TCP connect (and each wait of the login).
    int connectionTimeout() const;
    bool setConnectionTimeout(int seconds);

    bool loginPrompt() const;
    void setLoginPrompt(bool on);
    void setLoginPromptHandler(LoginPromptHandler handler);
    int connectOptions() const;
    void setConnectOptions(int options);
    /// Kept for the callers' settings; the layer itself does not restrict statements.
    bool readOnly() const;
    void setReadOnly(bool on);
    bool handleShared() const;
    void setHandleShared(bool on);
    /// Seconds each packet read or write may take once connected (default 600).
    void setIoTimeout(int seconds);
    /// Asked at least every 100 ms while the connection waits for the server; true stops the
    /// wait (the call fails with MySqlClientError::Interrupted and the connection is closed).
    void setCancelCheck(std::function<bool()> check);

    QStringList params() const;
    bool setParams(const QStringList &lines);
    /// The value of a params() line ("" when missing); names compare without regard to case.
    QString param(const QString &name, bool *found = nullptr) const;

    bool connected() const;
    bool setConnected(bool on);
    bool open();
    void close();

    /// "SHOW TABLES" (with " LIKE '<pattern>'" when a pattern is given); connects first when needed.
    bool tableNames(QStringList *names, const QString &pattern = QString());

    int errorCode() const;
    QString errorString() const;

    QString serverVersion() const;
    /// major*10000 + minor*100 + patch of serverVersion() (4.1.7-log gives 40107).
    int serverVersionNumber() const;
    bool compressionActive() const;
    bool tlsActive() const;

    /// The protocol session the data sets share.
    MySqlWire &wire();
    /// Copies the wire's error into this object; returns false for use in return statements.
    bool takeWireError();

private:
    bool changeParam(const QString &name, const QString &value);
    void setLayerError(const QString &text);

    QStringList m_params;
    bool m_loginPrompt = false;
    LoginPromptHandler m_loginHandler;
    int m_connectOptions = 0;
    bool m_readOnly = false;
    bool m_handleShared = false;
    int m_ioTimeoutSeconds = 600;
    int m_errorCode = 0;
    QString m_errorString;
    MySqlWire m_wire;
};

/// What the layer makes of a column's MySQL type and flags.
enum class FieldKind {
    Float, // DECIMAL, FLOAT, DOUBLE
    SmallInt, // TINYINT, SMALLINT
    Word, // the same, UNSIGNED
    Integer, // INT, MEDIUMINT, YEAR
    LongWord, // the same, UNSIGNED
    LargeInt, // BIGINT
    DateTime, // DATETIME, TIMESTAMP
    Date,
    Time,
    Boolean, // never produced: two-valued ENUM columns stay text
    String,
    Memo, // long text
    Blob, // binary large object
};

/// The kind of a column (type code, UNSIGNED, BINARY, ENUM and SET flags, length per character).
FieldKind fieldKindOf(const MySqlColumn &column);

class TmySQLDataSet;

/**
 * One column of an open query or table, reading the data set's current row. Fields are made
 * anew at each open and live until the data set is closed.
 */
class TmySQLField
{
public:
    QString fieldName() const;
    int index() const;
    FieldKind kind() const;
    const MySqlColumn &column() const;
    /// A free number for the owner (the dump keeps its nullability mark here).
    int tag() const;
    void setTag(int tag);

    bool isNull() const;
    /// The value as the server sent it (its own text form; the bytes of a blob); empty for NULL.
    QByteArray asBytes() const;
    /// The same without a copy; valid until the data set moves to another row.
    QByteArrayView bytesView() const;
    /**
     * The display text: integers in decimal, floating point with up to 15 significant digits
     * and a decimal comma, dates dd.mm.yyyy, date-times dd.mm.yyyy hh:nn:ss (no time at
     * midnight), times hh:nn:ss, text as stored (UTF-8), blob bytes one character each; "" for NULL.
     */
    QString asString() const;
    /// Null QVariant for NULL; else qlonglong/qulonglong, double, QDate, QDateTime, QTime,
    /// QString or QByteArray by kind (zero dates and times outside a day as their text).
    QVariant value() const;
    /// Length of the value in bytes.
    qint64 blobSize() const;

private:
    friend class TmySQLDataSet;
    TmySQLField(const TmySQLDataSet *owner, int index, const MySqlColumn &column);

    const TmySQLDataSet *m_owner;
    int m_index;
    MySqlColumn m_column;
    FieldKind m_kind;
    int m_tag = 0;
};

/**
 * The rows of one result, streamed: after a successful open the first row is current (or
 * eof() is true), next() reads one more row from the connection, so memory does not grow
 * with the result. While a data set is open its connection can run nothing else (error 2014);
 * close() reads and drops the rest. next() returns false on an error (then errorString()),
 * true when it moved to a row or reached the end.
 */
class TmySQLDataSet
{
public:
    explicit TmySQLDataSet(TmySQLDatabase *database = nullptr);
    virtual ~TmySQLDataSet();
    TmySQLDataSet(const TmySQLDataSet &) = delete;
    TmySQLDataSet &operator=(const TmySQLDataSet &) = delete;

    TmySQLDatabase *database() const;
    void setDatabase(TmySQLDatabase *database);

    bool active() const;
    bool eof() const;
    bool next();
    void close();

    int fieldCount() const;
    TmySQLField *field(int index) const;
    /// nullptr (and an error text) when the result has no column of that name.
    TmySQLField *fieldByName(const QString &name);

    int errorCode() const;
    QString errorString() const;

protected:
    /// Runs a statement that yields rows and makes its first row current.
    bool openResult(const QByteArray &sql);
    bool failWith(int code, const QString &text);
    bool ensureConnected();

    TmySQLDatabase *m_database;
    int m_errorCode = 0;
    QString m_errorString;

private:
    friend class TmySQLField;
    bool m_active = false;
    bool m_eof = true;
    MySqlRow m_row;
    QList<TmySQLField *> m_fields;
};

/// An SQL statement, opened (rows expected) or executed (no rows).
class TmySQLQuery : public TmySQLDataSet
{
public:
    using TmySQLDataSet::TmySQLDataSet;

    QStringList sql() const;
    void clearSql();
    void addSql(const QString &line);
    /// The statement as one text (sent unchanged).
    void setSql(const QString &text);
    /// The statement as bytes, for text that is not valid UTF-8 (dump lines with raw blob bytes).
    void setSqlBytes(const QByteArray &bytes);

    bool open();
    /// Runs the statement and drops any rows; rowsAffected() tells what it changed.
    bool execSql();
    quint64 rowsAffected() const;

private:
    QByteArray statement() const;

    QStringList m_sql;
    QByteArray m_sqlBytes;
    bool m_useBytes = false;
    quint64 m_rowsAffected = 0;
};

/**
 * All rows of one table, ordered by its primary key (else its first index; without index in
 * the server's order). open() reads the column definitions ("... limit 0"), the indexes
 * ("SHOW INDEX FROM") and then streams the rows.
 */
class TmySQLTable : public TmySQLDataSet
{
public:
    using TmySQLDataSet::TmySQLDataSet;

    QString tableName() const;
    void setTableName(const QString &name);
    /// Columns to read by name instead of "*" (which leaves out invisible columns); empty: all.
    void setColumnNames(const QStringList &names);
    bool open();
    /// The ORDER BY list of the last open ("`a`,`b` DESC"), empty without index.
    QString orderBy() const;

private:
    QString m_tableName;
    QStringList m_columnNames;
    QString m_orderBy;
};
