// SPDX-License-Identifier: GPL-3.0-or-later
#include "schedule/scheduler.h"

#include "jobs/germanformat.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "jobs/nextstart.h"

#include <QDir>
#include <QStandardPaths>

Scheduler::Scheduler(TAuftraege &jobs, BackupRun &run, RunHost &host)
    : m_jobs(jobs)
    , m_run(run)
    , m_host(host)
{
}

BackupRun::Hooks Scheduler::runHooks(BackupRun::Hooks base)
{
    base.handOver = [this](const QString &key) { jobFinished(key); };
    base.enableKillTimer = [this] { killEnabled = true; };
    return base;
}

bool Scheduler::isRunning(const QString &key) const
{
    return runningAuftraege.contains(key, Qt::CaseInsensitive);
}

bool Scheduler::isFinished(const QString &key) const
{
    for (const TZahl &z : finishedAuftraege) {
        if (z.key.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void Scheduler::jobFinished(const QString &key)
{
    for (qsizetype i = 0; i < runningAuftraege.size(); ++i) {
        if (runningAuftraege[i].compare(key, Qt::CaseInsensitive) == 0) {
            runningAuftraege.removeAt(i);
            finishedAuftraege.append({key, 15});
            return;
        }
    }
}

void Scheduler::autoStartTick(const QDateTime &now)
{
    const QDateTime minuteStart(now.date(), QTime(now.time().hour(), now.time().minute()));
    for (qsizetype i = m_jobs.size() - 1; i >= 0; --i) {
        if (i >= m_jobs.size())
            continue; // the list changed during a start
        TAuftrag &job = *m_jobs.at(i);
        if (!job.autostart || isRunning(job.fileStem) || isFinished(job.fileStem))
            continue;
        // A due minute that passed without a tick (the computer slept) must not stop the schedule for good.
        if (job.next_start.isValid() && job.next_start < minuteStart) {
            if (job.runsOnWeekday(job.next_start.date().dayOfWeek())) {
                if (handleMissedRun(job))
                    checkNextEnabled = true;
            } else {
                computeNextStart(job, now);
                save(job);
            }
            continue;
        }
        if (job.next_start.isValid() && job.next_start.date() == now.date() && job.runsOnWeekday(now.date().dayOfWeek()))
            checkStartTime(job, now);
    }
}

void Scheduler::checkStartTime(TAuftrag &job, const QDateTime &now)
{
    if (isRunning(job.fileStem) || isFinished(job.fileStem) || job.startzeit.contains(u' '))
        return;
    int h = 0;
    int m = 0;
    if (!parseStartTime(job.startzeit, &h, &m))
        return;
    if (h != now.time().hour() || m != now.time().minute())
        return;
    if (m_run.jobRunning || !runningAuftraege.isEmpty() || (isHeld && isHeld())) {
        queue(job);
        checkNextEnabled = true;
        return;
    }
    if (isMinimized && isMinimized())
        m_run.startedMinimized = true;
    runningAuftraege.append(job.fileStem);
    start(job);
}

void Scheduler::checkNextTick()
{
    if (waitingAuftraege.isEmpty())
        return;
    if (m_run.jobRunning || runningAuftraege.size() > waitingAuftraege.size() || (isHeld && isHeld()))
        return;
    if (isMinimized && isMinimized())
        m_run.startedMinimized = true;
    TAuftrag *job = waitingAuftraege.takeFirst();
    if (waitingAuftraege.isEmpty())
        checkNextEnabled = false;
    start(*job);
}

void Scheduler::start(TAuftrag &job)
{
    m_host.refreshJobList(job.fileStem);
    if (onStart)
        onStart(job);
    m_run.startAuftrag(job, BackupRun::StartedBy::Clock);
    if (onEnd)
        onEnd(job);
}

void Scheduler::killTick()
{
    if (finishedAuftraege.isEmpty()) {
        killEnabled = false;
        return;
    }
    for (qsizetype i = finishedAuftraege.size() - 1; i >= 0; --i) {
        if (finishedAuftraege[i].count > 0)
            --finishedAuftraege[i].count;
        else
            finishedAuftraege.removeAt(i);
    }
}

void Scheduler::queue(TAuftrag &job)
{
    runningAuftraege.append(job.fileStem);
    waitingAuftraege.append(&job);
}

// The question, or the job's silent choice, for a start that was missed. True when queued.
bool Scheduler::handleMissedRun(TAuftrag &job)
{
    bool queued = false;
    const QString when = GermanFormat::dateStamp(job.next_start);
    if (job.lost_backup_confirm) {
        Question q;
        q.text = QStringLiteral("Der Auftrag ") + job.Name + QStringLiteral(" konnte am ") + when
            + QStringLiteral(" nicht ausgeführt werden. ") + u'\n' + u'\n'
            + QStringLiteral("Wahrscheinlich war der Copmputer ausgeschaltet. Hinweis: Sie können diese Meldung auch in "
                             "den Einstellungen des Sicherungsauftrages ausschalten.")
            + u'\n' + u'\n' + QStringLiteral("Möchten Sie Ihn jetzt starten?");
        q.icon = Icon::Question;
        q.buttons = Answer::Yes | Answer::No;
        q.unattended = Answer::Yes; // a backup made late is better than none
        if (m_host.ask(q) == Answer::Yes) {
            queue(job);
            queued = true;
        } else {
            computeNextStart(job);
            save(job);
            m_host.refreshJobList(job.fileStem);
        }
        return queued;
    }
    if (job.lost_backup_autobackup) {
        queue(job);
        queued = true;
    }
    if (job.lost_backup_nobackup) {
        computeNextStart(job);
        save(job);
        m_host.refreshJobList(job.fileStem);
    }
    return queued;
}

void Scheduler::handleMissedRuns(const QDateTime &now)
{
    bool any = false;
    for (qsizetype i = 0; i < m_jobs.size(); ++i) {
        TAuftrag &job = *m_jobs.at(i);
        if (!job.autostart || !job.next_start.isValid() || !(now > job.next_start))
            continue;
        any = handleMissedRun(job) || any;
    }
    checkNextEnabled = any;
}

QString Scheduler::scheduleHint() const
{
    if (m_run.jobRunning)
        return QStringLiteral("Backupauftrag wird ausgeführt ...");
    const int n = m_jobs.countScheduledJobs();
    if (n == 0)
        return QStringLiteral("Trevalo - Kein geplanter Auftrag");
    if (n == 1)
        return QStringLiteral("Trevalo - 1 geplanter Auftrag");
    return QStringLiteral("Trevalo - %1 geplante Aufträge").arg(n);
}

// A job file that cannot be saved is said, not passed over: its next start would be lost.
void Scheduler::save(TAuftrag &job)
{
    QString error;
    if (!saveJob(job, &error))
        m_host.showMessage(error);
}

SchedulerLock::SchedulerLock(const QString &folder)
    : m_lock((folder.isEmpty() ? [] {
                 const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
                 return dir.isEmpty() ? QDir::tempPath() : dir;
             }()
                               : folder)
             + QStringLiteral("/Backup.Scheduler.lock"))
{
    m_lock.setStaleLockTime(0);
}

bool SchedulerLock::tryLock()
{
    return m_lock.tryLock(0);
}

QString SchedulerLock::busyMessage()
{
    return QStringLiteral("Die geplanten Aufträge werden bereits von einem anderen Trevalo-Programm gestartet. "
                          "Dieses Programm wird beendet.");
}
