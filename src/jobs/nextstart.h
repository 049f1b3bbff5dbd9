// SPDX-License-Identifier: GPL-3.0-or-later
// When a scheduled job is next due.
#pragma once

#include <QDateTime>
#include <QString>

class TAuftrag;

/**
 * Sets next_start of a scheduled job: the first ticked weekday from today on (today only
 * when the start time still lies ahead) at the start time, with the seconds of now.
 * An unreadable start time becomes "00:00"; a start time with a one-digit hour (" 9:30",
 * "9:30") is written with two digits. Does nothing for a job without autostart.
 * Returns false, leaving next_start alone, when the start time is out of range ("25:00").
 */
bool computeNextStart(TAuftrag &job);

/// The same computation for a given moment; for the scheduler and tests.
bool computeNextStart(TAuftrag &job, const QDateTime &now);

/// Hour and minute of a start time "hh:nn" (characters 1-2 and 4-5, leading blanks skipped).
bool parseStartTime(const QString &startzeit, int *hour, int *minute);
