// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/schedulerloop.h"

#include "engine/backuprun.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/clock.h"
#include "platform/filesystem.h"

#include <QDir>

SchedulerLoop::SchedulerLoop(TAuftraege &jobs, Scheduler &scheduler, BackupRun &run, const QString &lockFolder)
    : m_jobs(jobs)
    , m_scheduler(scheduler)
    , m_run(run)
    , m_lock(lockFolder)
{
    connect(&m_autoStart, &QTimer::timeout, this, [this] {
        // The queue first: a job queued in this tick starts a second later, after the run before it.
        if (m_scheduler.checkNextEnabled)
            m_scheduler.checkNextTick();
        m_scheduler.autoStartTick(Clock::now());
    });
    connect(&m_kill, &QTimer::timeout, this, [this] {
        if (m_scheduler.killEnabled)
            m_scheduler.killTick();
    });
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (idle)
            idle();
        if (!m_run.jobRunning)
            checkJobFiles();
    });
}

bool SchedulerLoop::tryLock()
{
    return m_lock.tryLock();
}

void SchedulerLoop::start()
{
    m_seen.clear();
    for (const QString &stem : stems())
        m_seen.insert(stem, stampOf(stem));
    m_scheduler.handleMissedRuns(Clock::now());
    m_autoStart.start(1000);
    m_kill.start(5000);
    m_idle.start(200);
    // The first check at once, not a second later.
    QTimer::singleShot(0, this, [this] { m_scheduler.autoStartTick(Clock::now()); });
}

void SchedulerLoop::stop()
{
    m_autoStart.stop();
    m_kill.stop();
    m_idle.stop();
}

void SchedulerLoop::checkJobFiles()
{
    const QStringList present = stems();
    for (const QString &stem : present) {
        const qint64 stamp = stampOf(stem);
        TAuftrag *job = m_jobs.findJobByStem(stem);
        QString error;
        if (!job) {
            job = m_jobs.addNewJob(stem);
            say(QStringLiteral("Neuer Auftrag: ") + job->Name);
        } else if (m_seen.value(stem) != stamp && !busy(*job)) {
            if (loadJob(*job, &error))
                say(QStringLiteral("Auftrag neu geladen: ") + job->Name);
            else
                say(error);
        } else if (m_seen.value(stem) != stamp) {
            continue; // taken over when its run has ended
        }
        m_seen.insert(stem, stamp);
    }
    for (qsizetype i = m_jobs.size() - 1; i >= 0; --i) {
        TAuftrag *job = m_jobs.at(i);
        if (!present.contains(job->fileStem) && !busy(*job)) {
            say(QStringLiteral("Auftrag entfernt: ") + job->Name);
            m_seen.remove(job->fileStem);
            m_jobs.removeJobByStem(job->fileStem);
        }
    }
}

bool SchedulerLoop::busy(const TAuftrag &job) const
{
    return m_run.currentAuftrag == &job || m_scheduler.runningAuftraege.contains(job.fileStem, Qt::CaseInsensitive)
        || (editing && editing(job));
}

QStringList SchedulerLoop::stems() const
{
    QStringList result;
    for (const QString &name : QDir(m_jobs.scriptsFolder()).entryList({QStringLiteral("*.scr")}, QDir::Files))
        result.append(name.left(name.size() - 4));
    return result;
}

qint64 SchedulerLoop::stampOf(const QString &stem) const
{
    const Platform::FileStat st = Platform::statPath(m_jobs.scriptsFolder() + u'/' + stem + QStringLiteral(".scr"));
    return st.mtimeNs ^ st.size ^ qint64(st.inode);
}

void SchedulerLoop::say(const QString &line)
{
    if (report)
        report(line);
}
