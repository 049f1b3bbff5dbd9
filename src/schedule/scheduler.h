// SPDX-License-Identifier: GPL-3.0-or-later
// Starting jobs by the clock: due jobs, the queue, missed runs.
#pragma once

#include "engine/backuprun.h"

#include <QDateTime>
#include <QList>
#include <QLockFile>
#include <QStringList>

#include <functional>

class RunHost;
class TAuftraege;
class TAuftrag;

/// A finished job's key with the ticks it is still held off for.
struct TZahl {
    QString key;
    quint8 count = 15;
};

/**
 * The scheduler of the tray program and of `trevalo-cli scheduler`. Its tick handlers are
 * plain methods that take the current time, so a window's timers (1 s, 1 s, 5 s) or a test
 * with a fixed clock drive them. Jobs start only through BackupRun::startAuftrag.
 */
class Scheduler
{
public:
    Scheduler(TAuftraege &jobs, BackupRun &run, RunHost &host);

    /// The hooks the run needs so that a finished job reaches the hold-off list.
    BackupRun::Hooks runHooks(BackupRun::Hooks base = {});

    /// AutoStart (every second): checks every scheduled job against the clock.
    void autoStartTick(const QDateTime &now);
    /// checkNextAuftraege (every second while enabled): starts the next waiting job.
    void checkNextTick();
    /// killAuftraege (every 5 seconds while enabled): counts the hold-off list down.
    void killTick();

    /// Jobs whose start was missed while the program was not running (once at program start).
    void handleMissedRuns(const QDateTime &now);

    /// The tip text of the tray icon.
    QString scheduleHint() const;

    /// finishJob's hand-over: a started job's key moves to the hold-off list.
    void jobFinished(const QString &key);

    QStringList runningAuftraege; ///< compared without regard to case
    QList<TAuftrag *> waitingAuftraege;
    QList<TZahl> finishedAuftraege;
    bool checkNextEnabled = false;
    bool killEnabled = true;

    /// Whether the main window is minimized (a job then starts "minimized").
    std::function<bool()> isMinimized;
    /// Something else holds the program (the restore window is open): due jobs wait in the queue until it ends.
    std::function<bool()> isHeld;
    /// Told when the scheduler starts a job and when that start has ended.
    std::function<void(TAuftrag &)> onStart;
    std::function<void(TAuftrag &)> onEnd;

private:
    void checkStartTime(TAuftrag &job, const QDateTime &now);
    void start(TAuftrag &job);
    bool isRunning(const QString &key) const;
    bool isFinished(const QString &key) const;
    bool handleMissedRun(TAuftrag &job);
    void queue(TAuftrag &job);
    void save(TAuftrag &job);

    TAuftraege &m_jobs;
    BackupRun &m_run;
    RunHost &m_host;
};

/**
 * Only one program schedules at a time: the tray program or `trevalo-cli scheduler`.
 * Whoever holds this lock schedules; the other one says so and ends.
 */
class SchedulerLock
{
public:
    explicit SchedulerLock(const QString &folder = QString());
    bool tryLock();
    static QString busyMessage();

private:
    QLockFile m_lock;
};
