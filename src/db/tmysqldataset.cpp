// SPDX-License-Identifier: GPL-3.0-or-later
#include "tmysqldatabase.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace
{

enum TypeCode : quint8 {
    TypeDecimal = 0,
    TypeTiny = 1,
    TypeShort = 2,
    TypeLong = 3,
    TypeFloat = 4,
    TypeDouble = 5,
    TypeNull = 6,
    TypeTimestamp = 7,
    TypeLongLong = 8,
    TypeInt24 = 9,
    TypeDate = 10,
    TypeTime = 11,
    TypeDateTime = 12,
    TypeYear = 13,
    TypeNewDate = 14,
    TypeVarchar = 15,
    TypeBit = 16,
    TypeJson = 245,
    TypeNewDecimal = 246,
    TypeEnum = 247,
    TypeSet = 248,
    TypeTinyBlob = 249,
    TypeMediumBlob = 250,
    TypeLongBlob = 251,
    TypeBlob = 252,
    TypeVarString = 253,
    TypeString = 254,
    TypeGeometry = 255,
};

enum ColumnFlag : quint16 {
    FlagUnsigned = 32,
    FlagBinary = 128,
    FlagEnum = 256,
    FlagSet = 2048,
};

// Bytes per character of a collation id, so that a VARCHAR(255) counts as 255 characters
// whatever the connection's character set makes of its length.
int bytesPerCharacter(quint16 id)
{
    if (id == 45 || id == 46 || (id >= 224 && id <= 247) || (id >= 255 && id <= 323) || id >= 2048)
        return 4;
    if (id == 33 || id == 83 || id == 76 || (id >= 192 && id <= 223) || id == 12 || id == 97)
        return 3;
    if (id == 54 || id == 55 || id == 56 || id == 62 || (id >= 101 && id <= 124) || id == 60 || id == 61
        || (id >= 160 && id <= 183))
        return 4;
    if (id == 35 || id == 90 || (id >= 128 && id <= 159) || id == 1 || id == 28 || id == 24 || id == 19 || id == 13
        || id == 95 || id == 84 || id == 87 || id == 86 || id == 85 || id == 88)
        return 2;
    return 1;
}

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('`'), QLatin1String("``"));
    return QLatin1Char('`') + quoted + QLatin1Char('`');
}

// "1.5e+20" -> "1,5E20": the general format with a decimal comma.
QString germanFloat(double value)
{
    QString text = QString::number(value, 'g', 15);
    text.replace(QLatin1Char('.'), QLatin1Char(','));
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e >= 0) {
        QString exponent = text.mid(e + 1);
        const bool negative = exponent.startsWith(QLatin1Char('-'));
        if (exponent.startsWith(QLatin1Char('+')) || negative)
            exponent.remove(0, 1);
        while (exponent.size() > 1 && exponent.startsWith(QLatin1Char('0')))
            exponent.remove(0, 1);
        text = text.left(e) + QLatin1Char('E') + (negative ? QStringLiteral("-") : QString()) + exponent;
    }
    return text;
}

QString germanDate(const QString &iso)
{
    // yyyy-mm-dd
    if (iso.size() < 10)
        return iso;
    return iso.mid(8, 2) + QLatin1Char('.') + iso.mid(5, 2) + QLatin1Char('.') + iso.left(4);
}

QString withoutFraction(const QString &time)
{
    const qsizetype dot = time.indexOf(QLatin1Char('.'));
    return dot < 0 ? time : time.left(dot);
}

} // namespace

FieldKind fieldKindOf(const MySqlColumn &column)
{
    const bool isUnsigned = column.flags & FlagUnsigned;
    switch (column.type) {
    case TypeDecimal:
    case TypeNewDecimal:
    case TypeFloat:
    case TypeDouble:
        return FieldKind::Float;
    case TypeTiny:
    case TypeShort:
        return isUnsigned ? FieldKind::Word : FieldKind::SmallInt;
    case TypeLong:
    case TypeInt24:
    case TypeYear:
        return isUnsigned ? FieldKind::LongWord : FieldKind::Integer;
    case TypeLongLong:
        return FieldKind::LargeInt;
    case TypeTimestamp:
    case TypeDateTime:
        return FieldKind::DateTime;
    case TypeDate:
    case TypeNewDate:
        return FieldKind::Date;
    case TypeTime:
        return FieldKind::Time;
    case TypeEnum:
    case TypeSet:
    case TypeNull:
        return FieldKind::String;
    case TypeTinyBlob:
    case TypeMediumBlob:
    case TypeLongBlob:
    case TypeBlob:
        return (column.flags & FlagBinary) ? FieldKind::Blob : FieldKind::Memo;
    case TypeJson:
        return FieldKind::Memo;
    case TypeBit:
    case TypeGeometry:
        return FieldKind::Blob;
    case TypeVarchar:
    case TypeVarString:
    case TypeString:
        if (column.flags & (FlagEnum | FlagSet))
            return FieldKind::String;
        return column.length / quint32(bytesPerCharacter(column.charset)) >= 256 ? FieldKind::Memo : FieldKind::String;
    default:
        return FieldKind::String;
    }
}

// ---- TmySQLField

TmySQLField::TmySQLField(const TmySQLDataSet *owner, int index, const MySqlColumn &column)
    : m_owner(owner)
    , m_index(index)
    , m_column(column)
    , m_kind(fieldKindOf(column))
{
}

QString TmySQLField::fieldName() const
{
    return QString::fromUtf8(m_column.name);
}

int TmySQLField::index() const
{
    return m_index;
}

FieldKind TmySQLField::kind() const
{
    return m_kind;
}

const MySqlColumn &TmySQLField::column() const
{
    return m_column;
}

int TmySQLField::tag() const
{
    return m_tag;
}

void TmySQLField::setTag(int tag)
{
    m_tag = tag;
}

bool TmySQLField::isNull() const
{
    const MySqlRow &row = m_owner->m_row;
    return m_owner->m_eof || !m_owner->m_active || row.lengths.value(m_index, -1) < 0;
}

QByteArray TmySQLField::asBytes() const
{
    if (isNull())
        return {};
    const MySqlRow &row = m_owner->m_row;
    return row.data.mid(row.offsets[m_index], row.lengths[m_index]);
}

QByteArrayView TmySQLField::bytesView() const
{
    if (isNull())
        return {};
    const MySqlRow &row = m_owner->m_row;
    return QByteArrayView(row.data.constData() + row.offsets[m_index], row.lengths[m_index]);
}

qint64 TmySQLField::blobSize() const
{
    return isNull() ? 0 : m_owner->m_row.lengths[m_index];
}

QString TmySQLField::asString() const
{
    if (isNull())
        return {};
    const QByteArray bytes = asBytes();
    switch (m_kind) {
    case FieldKind::Float:
        return germanFloat(bytes.toDouble());
    case FieldKind::Date:
        return germanDate(QString::fromLatin1(bytes));
    case FieldKind::DateTime: {
        const QString text = QString::fromLatin1(bytes);
        const QString date = germanDate(text);
        const QString time = withoutFraction(text.mid(11));
        if (time.isEmpty() || time == QLatin1String("00:00:00"))
            return date;
        return date + QLatin1Char(' ') + time;
    }
    case FieldKind::Time:
        return withoutFraction(QString::fromLatin1(bytes));
    case FieldKind::Boolean:
        return bytes.isEmpty() || QByteArray("fFnN").contains(bytes[0]) ? QStringLiteral("Falsch")
                                                                        : QStringLiteral("Wahr");
    case FieldKind::Blob:
        return QString::fromLatin1(bytes);
    default:
        return QString::fromUtf8(bytes);
    }
}

QVariant TmySQLField::value() const
{
    if (isNull())
        return {};
    const QByteArray bytes = asBytes();
    const QString text = QString::fromLatin1(bytes);
    switch (m_kind) {
    case FieldKind::Float:
        return bytes.toDouble();
    case FieldKind::SmallInt:
    case FieldKind::Integer:
        return bytes.toLongLong();
    case FieldKind::Word:
    case FieldKind::LongWord:
        return bytes.toULongLong();
    case FieldKind::LargeInt:
        if (m_column.flags & FlagUnsigned)
            return bytes.toULongLong();
        return bytes.toLongLong();
    case FieldKind::Date: {
        const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
        return date.isValid() ? QVariant(date) : QVariant(text);
    }
    case FieldKind::DateTime: {
        const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
        const QTime time = QTime::fromString(text.mid(11), Qt::ISODateWithMs);
        return date.isValid() && time.isValid() ? QVariant(QDateTime(date, time)) : QVariant(text);
    }
    case FieldKind::Time: {
        const QTime time = QTime::fromString(text, Qt::ISODateWithMs);
        return time.isValid() ? QVariant(time) : QVariant(text);
    }
    case FieldKind::Boolean:
        return asString() == QLatin1String("Wahr");
    case FieldKind::Blob:
        return bytes;
    default:
        return QString::fromUtf8(bytes);
    }
}

// ---- TmySQLDataSet

TmySQLDataSet::TmySQLDataSet(TmySQLDatabase *database)
    : m_database(database)
{
}

TmySQLDataSet::~TmySQLDataSet()
{
    close();
}

TmySQLDatabase *TmySQLDataSet::database() const
{
    return m_database;
}

void TmySQLDataSet::setDatabase(TmySQLDatabase *database)
{
    close();
    m_database = database;
}

bool TmySQLDataSet::active() const
{
    return m_active;
}

bool TmySQLDataSet::eof() const
{
    return m_eof;
}

int TmySQLDataSet::fieldCount() const
{
    return int(m_fields.size());
}

TmySQLField *TmySQLDataSet::field(int index) const
{
    return m_fields.value(index, nullptr);
}

TmySQLField *TmySQLDataSet::fieldByName(const QString &name)
{
    for (TmySQLField *f : std::as_const(m_fields)) {
        if (f->fieldName().compare(name, Qt::CaseInsensitive) == 0)
            return f;
    }
    failWith(-1, QStringLiteral("Feld '%1' nicht gefunden").arg(name));
    return nullptr;
}

int TmySQLDataSet::errorCode() const
{
    return m_errorCode;
}

QString TmySQLDataSet::errorString() const
{
    return m_errorString;
}

bool TmySQLDataSet::failWith(int code, const QString &text)
{
    m_errorCode = code;
    m_errorString = text;
    return false;
}

bool TmySQLDataSet::ensureConnected()
{
    if (!m_database)
        return failWith(-1, QStringLiteral("Keine Datenbank zugeordnet"));
    if (!m_database->open())
        return failWith(m_database->errorCode(), m_database->errorString());
    return true;
}

bool TmySQLDataSet::next()
{
    if (!m_active || m_eof)
        return true;
    MySqlWire &wire = m_database->wire();
    bool atEnd = false;
    if (!wire.fetchRow(&m_row, &atEnd)) {
        m_eof = true;
        m_database->takeWireError();
        return failWith(wire.errorCode(), wire.errorString());
    }
    m_eof = atEnd;
    return true;
}

void TmySQLDataSet::close()
{
    if (m_active && m_database) {
        MySqlWire &wire = m_database->wire();
        // Rows nobody read must still come off the connection before its next command.
        if (wire.resultPending() && !wire.discardResult())
            m_database->takeWireError();
    }
    m_active = false;
    m_eof = true;
    m_row = MySqlRow();
    qDeleteAll(m_fields);
    m_fields.clear();
}

bool TmySQLDataSet::openResult(const QByteArray &sql)
{
    close();
    m_errorCode = 0;
    m_errorString.clear();
    if (!ensureConnected())
        return false;
    MySqlWire &wire = m_database->wire();
    bool hasResult = false;
    if (!wire.query(sql, &hasResult)) {
        m_database->takeWireError();
        return failWith(wire.errorCode(), wire.errorString());
    }
    m_active = true;
    m_eof = true;
    if (!hasResult)
        return true;
    const QList<MySqlColumn> &columns = wire.columns();
    for (int i = 0; i < columns.size(); ++i)
        m_fields.append(new TmySQLField(this, i, columns[i]));
    m_eof = false;
    if (!next()) {
        close();
        return false;
    }
    return true;
}

// ---- TmySQLQuery

QStringList TmySQLQuery::sql() const
{
    return m_sql;
}

void TmySQLQuery::clearSql()
{
    m_sql.clear();
    m_useBytes = false;
}

void TmySQLQuery::addSql(const QString &line)
{
    m_sql.append(line);
    m_useBytes = false;
}

void TmySQLQuery::setSql(const QString &text)
{
    m_sql = QStringList { text };
    m_useBytes = false;
}

void TmySQLQuery::setSqlBytes(const QByteArray &bytes)
{
    m_sql.clear();
    m_sqlBytes = bytes;
    m_useBytes = true;
}

QByteArray TmySQLQuery::statement() const
{
    return m_useBytes ? m_sqlBytes : m_sql.join(QLatin1Char('\n')).toUtf8();
}

bool TmySQLQuery::open()
{
    return openResult(statement());
}

bool TmySQLQuery::execSql()
{
    m_rowsAffected = 0;
    if (!openResult(statement()))
        return false;
    MySqlWire &wire = m_database->wire();
    m_rowsAffected = wire.affectedRows();
    if (wire.resultPending() && !wire.discardResult()) {
        m_database->takeWireError();
        failWith(wire.errorCode(), wire.errorString());
        close();
        return false;
    }
    close();
    return true;
}

quint64 TmySQLQuery::rowsAffected() const
{
    return m_rowsAffected;
}

// ---- TmySQLTable

QString TmySQLTable::tableName() const
{
    return m_tableName;
}

void TmySQLTable::setTableName(const QString &name)
{
    close();
    m_tableName = name;
}

void TmySQLTable::setColumnNames(const QStringList &names)
{
    m_columnNames = names;
}

QString TmySQLTable::orderBy() const
{
    return m_orderBy;
}

bool TmySQLTable::open()
{
    close();
    m_orderBy.clear();
    if (!ensureConnected())
        return false;
    // Backquoted names came with server 3.23.7.
    const bool quoted = m_database->serverVersionNumber() >= 32307;
    const QString name = quoted ? quoteIdentifier(m_tableName) : m_tableName;
    QStringList columns;
    for (const QString &column : std::as_const(m_columnNames))
        columns.append(quoteIdentifier(column));
    const QString select = QStringLiteral("Select ")
        + (columns.isEmpty() ? QStringLiteral("*") : columns.join(QLatin1Char(','))) + QStringLiteral(" from ") + name;

    // The column definitions alone: a table that does not exist fails here.
    if (!openResult((select + QStringLiteral(" limit 0")).toUtf8()))
        return false;
    close();

    // The primary key, else the first index, gives the order; without one the server's order.
    QList<QPair<QString, QList<QPair<QString, bool>>>> indexes;
    if (openResult((QStringLiteral("SHOW INDEX FROM ") + quoteIdentifier(m_tableName)).toUtf8())) {
        while (!eof()) {
            const QString keyName = field(2) ? field(2)->asString() : QString();
            const QString column = field(4) ? field(4)->asString() : QString();
            const bool ascending = field(5) && field(5)->asString() == QLatin1String("A");
            if (indexes.isEmpty() || indexes.last().first != keyName)
                indexes.append({ keyName, {} });
            indexes.last().second.append({ column, ascending });
            if (!next())
                break;
        }
        close();
    }
    if (!m_database->connected())
        return failWith(m_database->errorCode(), m_database->errorString());
    m_errorCode = 0;
    m_errorString.clear();
    const QList<QPair<QString, bool>> *key = nullptr;
    for (const auto &index : std::as_const(indexes)) {
        if (index.first == QLatin1String("PRIMARY")) {
            key = &index.second;
            break;
        }
    }
    if (!key && !indexes.isEmpty())
        key = &indexes.first().second;
    QStringList order;
    if (key) {
        for (const auto &column : *key)
            order.append((quoted ? quoteIdentifier(column.first) : column.first)
                + (column.second ? QString() : QStringLiteral(" DESC")));
    }
    m_orderBy = order.join(QLatin1Char(','));
    QString sql = select;
    if (!m_orderBy.isEmpty())
        sql += QStringLiteral(" ORDER BY ") + m_orderBy;
    return openResult(sql.toUtf8());
}
