// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/germanformat.h"

#include <QRegularExpression>

#include <cmath>

namespace GermanFormat {

namespace {
const char16_t *const kMonths[12] = {
    u"Jan", u"Feb", u"M\u00e4r", u"Apr", u"Mai", u"Jun", u"Jul", u"Aug", u"Sep", u"Okt", u"Nov", u"Dez",
};

QString twoDigits(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

QString groupThousands(const QString &digits)
{
    QString out;
    const qsizetype n = digits.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += u'.';
        out += digits[i];
    }
    return out;
}
} // namespace

QString dateStamp(const QDateTime &dt)
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    return QStringLiteral("%1. %2. %3 - %4:%5")
        .arg(d.day())
        .arg(QString::fromUtf16(kMonths[d.month() - 1]))
        .arg(d.year(), 4, 10, QLatin1Char('0'))
        .arg(twoDigits(t.hour()), twoDigits(t.minute()));
}

QString shortDate(const QDate &date)
{
    return QStringLiteral("%1.%2.%3").arg(twoDigits(date.day()), twoDigits(date.month())).arg(date.year(), 4, 10, QLatin1Char('0'));
}

QString longTime(const QTime &time)
{
    return QStringLiteral("%1:%2:%3").arg(twoDigits(time.hour()), twoDigits(time.minute()), twoDigits(time.second()));
}

QString dateTimeValue(const QDateTime &dt)
{
    const QTime t = dt.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0 && t.msec() == 0)
        return shortDate(dt.date());
    return shortDate(dt.date()) + u' ' + longTime(t);
}

QDateTime parseDateTimeValue(const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})(?:\\s+(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?)?\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return QDateTime();
    const QDate date(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    QTime time(0, 0, 0);
    if (m.hasCaptured(4))
        time = QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.hasCaptured(6) ? m.captured(6).toInt() : 0);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
}

QString integer(qint64 value)
{
    const QString digits = QString::number(value < 0 ? -value : value);
    return (value < 0 ? QStringLiteral("-") : QString()) + groupThousands(digits);
}

QString decimal(double value, int decimals)
{
    const QString fixed = QString::number(std::fabs(value), 'f', decimals);
    const qsizetype dot = fixed.indexOf(u'.');
    QString out = groupThousands(dot < 0 ? fixed : fixed.left(dot));
    if (dot >= 0)
        out += u',' + fixed.mid(dot + 1);
    const bool negative = value < 0 && fixed.contains(QRegularExpression(QStringLiteral("[1-9]")));
    return negative ? u'-' + out : out;
}

} // namespace GermanFormat
