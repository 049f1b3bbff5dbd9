// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/nextstart.h"

#include "jobs/tauftrag.h"
#include "platform/clock.h"

#include <QRegularExpression>

namespace {

bool parseField(const QString &field, int *value)
{
    qsizetype i = 0;
    while (i < field.size() && field[i] == u' ') // leading blanks are skipped
        ++i;
    const QString digits = field.mid(i);
    if (digits.isEmpty())
        return false;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
    }
    *value = digits.toInt();
    return true;
}

// " 9:30" and "9:30" are meant as 09:30; written with two digits they start like any other time.
void normaliseStartTime(TAuftrag &job)
{
    static const QRegularExpression oneDigitHour(QStringLiteral("^ ?(\\d):(\\d\\d)$"));
    const QRegularExpressionMatch m = oneDigitHour.match(job.startzeit);
    if (m.hasMatch())
        job.startzeit = u'0' + m.captured(1) + u':' + m.captured(2);
}

} // namespace

bool parseStartTime(const QString &startzeit, int *hour, int *minute)
{
    return parseField(startzeit.mid(0, 2), hour) && parseField(startzeit.mid(3, 2), minute);
}

bool computeNextStart(TAuftrag &job)
{
    return computeNextStart(job, Clock::now());
}

bool computeNextStart(TAuftrag &job, const QDateTime &now)
{
    if (!job.autostart)
        return true;
    normaliseStartTime(job);
    int h = 0;
    int m = 0;
    if (!parseStartTime(job.startzeit, &h, &m)) {
        h = 0;
        m = 0;
        job.startzeit = QStringLiteral("00:00");
    }
    const QTime startTime(h, m, now.time().second(), now.time().msec());
    if (!startTime.isValid())
        return false;

    const bool ahead = h > now.time().hour() || (h == now.time().hour() && m > now.time().minute());
    // Sunday first, as the schedule has always counted its days.
    const bool week[7] = {job.son, job.mon, job.die, job.mit, job.don, job.fre, job.sam};
    const int today = now.date().dayOfWeek() % 7;
    int index = ahead ? today : today + 1;
    int days = ahead ? 0 : 1;
    while (index < 14 && !week[index % 7]) {
        ++index;
        ++days;
    }
    job.next_start = QDateTime(now.date().addDays(days), startTime);
    return true;
}
