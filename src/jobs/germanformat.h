// SPDX-License-Identifier: GPL-3.0-or-later
// Dates, times and numbers in the German form the program shows and stores, whatever the locale.
#pragma once

#include <QDateTime>
#include <QString>

namespace GermanFormat {

/// "d. mmm. yyyy - hh:nn" with the month names Jan Feb Mär Apr Mai Jun Jul Aug Sep Okt Nov Dez.
QString dateStamp(const QDateTime &dt);

/// Short date "dd.MM.yyyy".
QString shortDate(const QDate &date);

/// Long time "hh:mm:ss".
QString longTime(const QTime &time);

/// Short date, a blank and the long time; the time is left out when it is exactly midnight.
QString dateTimeValue(const QDateTime &dt);

/**
 * Parses "d.m.yyyy" optionally followed by "h:n" or "h:n:s" (one or two digit fields).
 * Returns an invalid QDateTime for anything else.
 */
QDateTime parseDateTimeValue(const QString &text);

/// An integer with "." between thousands: 1234567 -> "1.234.567".
QString integer(qint64 value);

/// A number with "." between thousands and decimals after ",": (1234.5, 2) -> "1.234,50".
QString decimal(double value, int decimals);

} // namespace GermanFormat
