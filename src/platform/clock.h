// SPDX-License-Identifier: GPL-3.0-or-later
// The time source of the program; tests put a fixed clock in its place.
#pragma once

#include <QDateTime>

/**
 * Source of the current local date and time. Everything that compares with the wall clock
 * (next starts, missed runs, date stamps) asks Clock::now(), so that tests can set the time.
 */
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime currentDateTime() const = 0;

    /// The current local time of the installed clock.
    static QDateTime now();
    /// Installs a clock (not owned); nullptr returns to the system clock.
    static void setInstance(const Clock *clock);
};

/// A clock that stands still until it is set or advanced; for tests.
class FixedClock : public Clock
{
public:
    explicit FixedClock(const QDateTime &time)
        : m_time(time)
    {
    }
    QDateTime currentDateTime() const override
    {
        return m_time;
    }
    void set(const QDateTime &time)
    {
        m_time = time;
    }
    void advanceSeconds(qint64 seconds)
    {
        m_time = m_time.addSecs(seconds);
    }

private:
    QDateTime m_time;
};
