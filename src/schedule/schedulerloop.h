// SPDX-License-Identifier: GPL-3.0-or-later
// The running scheduler: its timers, the queue, the watch on the job files and the lock.
#pragma once

#include "schedule/scheduler.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>

class BackupRun;
class TAuftraege;

/**
 * Drives a Scheduler by the clock (Clock::now(), which tests replace): every second the
 * queue and then the due jobs, every 5 seconds the hold-off list, every 200 ms the job files
 * (changed, new and deleted ones are taken over while no run is under way). Both programs
 * that schedule use it: `trevalo-cli scheduler` and the tray program. Only one of them
 * schedules at a time; the loop holds the SchedulerLock while it runs.
 */
class SchedulerLoop : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SchedulerLoop)

public:
    SchedulerLoop(TAuftraege &jobs, Scheduler &scheduler, BackupRun &run, const QString &lockFolder = QString());

    /// Takes the lock; false when another program schedules (SchedulerLock::busyMessage() says so).
    [[nodiscard]] bool tryLock();

    /// Handles missed runs, checks the due jobs at once and starts the timers.
    void start();
    void stop();

    /// Takes over job files changed on disk; called every 200 ms while idle.
    void checkJobFiles();

    /// One line per job file taken over ("Neuer Auftrag: ...").
    std::function<void(const QString &line)> report;
    /// Called every 200 ms before the job files are looked at (a front end's own checks).
    std::function<void()> idle;
    /// True for a job open in an editor: its file is neither taken over nor its absence acted on
    /// until the editor has closed (a new job has no file until it is stored).
    std::function<bool(const TAuftrag &job)> editing;

private:
    bool busy(const TAuftrag &job) const;
    QStringList stems() const;
    qint64 stampOf(const QString &stem) const;
    void say(const QString &line);

    TAuftraege &m_jobs;
    Scheduler &m_scheduler;
    BackupRun &m_run;
    SchedulerLock m_lock;
    QHash<QString, qint64> m_seen;
    QTimer m_autoStart;
    QTimer m_kill;
    QTimer m_idle;
};
