// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_common.h"
#include "app/runhooks.h"
#include "app/terminalrunhost.h"
#include "engine/backuprun.h"
#include "jobs/germanformat.h"
#include "jobs/jobfile.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/systemactions.h"
#include "schedule/scheduler.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QTimer>

namespace Cli {

namespace {

void say(const QString &line)
{
    out() << GermanFormat::longTime(Clock::now().time()) << ' ' << line << '\n';
    out().flush();
}

// Job files changed by hand or by the window program's editor are taken over while idle.
class JobFileWatch
{
public:
    JobFileWatch(TAuftraege &jobs, Scheduler &scheduler, BackupRun &run)
        : m_jobs(jobs)
        , m_scheduler(scheduler)
        , m_run(run)
    {
        for (const QString &stem : stems())
            m_seen.insert(stem, stampOf(stem));
    }

    void check()
    {
        const QStringList present = stems();
        for (const QString &stem : present) {
            const qint64 stamp = stampOf(stem);
            TAuftrag *job = m_jobs.findJobByStem(stem);
            if (!job) {
                job = m_jobs.addNewJob(stem);
                loadJob(*job);
                say(QStringLiteral("Neuer Auftrag: ") + job->Name);
            } else if (m_seen.value(stem) != stamp && !busy(*job)) {
                loadJob(*job);
                say(QStringLiteral("Auftrag neu geladen: ") + job->Name);
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

private:
    bool busy(const TAuftrag &job) const
    {
        return m_run.currentAuftrag == &job || m_scheduler.runningAuftraege.contains(job.fileStem, Qt::CaseInsensitive);
    }

    QStringList stems() const
    {
        QStringList result;
        for (const QString &name : QDir(m_jobs.scriptsFolder()).entryList({QStringLiteral("*.scr")}, QDir::Files))
            result.append(name.left(name.size() - 4));
        return result;
    }

    qint64 stampOf(const QString &stem) const
    {
        const Platform::FileStat st = Platform::statPath(m_jobs.scriptsFolder() + u'/' + stem + QStringLiteral(".scr"));
        return st.mtimeNs ^ st.size ^ qint64(st.inode);
    }

    TAuftraege &m_jobs;
    Scheduler &m_scheduler;
    BackupRun &m_run;
    QHash<QString, qint64> m_seen;
};

} // namespace

int runScheduler(Context &ctx)
{
    if (!ctx.args.isEmpty())
        return refuse(QStringLiteral("Der Befehl \"scheduler\" erwartet keine Argumente."), true);
    SchedulerLock lock;
    if (!lock.tryLock())
        return refuse(SchedulerLock::busyMessage());
    if (!loadJobs(ctx))
        return Refused;

    ArchiveCatalog catalog;
    if (!catalog.open())
        err() << catalog.errorString() << "\nAlle Dateien gelten als geändert.\n";
    TerminalRunHost host(ctx.answers, QString());
    TerminalRunHost::installInterruptHandler();
    BackupRun run(*ctx.jobs, host, SystemActions::system(), catalog);
    Scheduler scheduler(*ctx.jobs, run, host);
    run.setHooks(scheduler.runHooks(standardRunHooks()));
    scheduler.onStart = [](TAuftrag &job) { say(QStringLiteral("Start: ") + job.Name); };
    scheduler.onEnd = [](TAuftrag &job) { say(QStringLiteral("Ende: ") + job.Name + QStringLiteral(": ") + job.letzte_meldung); };
    JobFileWatch watch(*ctx.jobs, scheduler, run);

    say(QStringLiteral("Zeitplaner gestartet (%1). Beenden mit Strg-C.").arg(scheduler.scheduleHint()));
    scheduler.handleMissedRuns(Clock::now());

    QTimer autoStart;
    QTimer kill;
    QTimer idle;
    QObject::connect(&autoStart, &QTimer::timeout, &autoStart, [&] {
        // The queue first: a job queued in this tick starts a second later, after the run before it.
        if (scheduler.checkNextEnabled)
            scheduler.checkNextTick();
        scheduler.autoStartTick(Clock::now());
    });
    QObject::connect(&kill, &QTimer::timeout, &kill, [&] {
        if (scheduler.killEnabled)
            scheduler.killTick();
    });
    QObject::connect(&idle, &QTimer::timeout, &idle, [&] {
        if (TerminalRunHost::quitRequested()) {
            QCoreApplication::quit();
            return;
        }
        if (!run.jobRunning)
            watch.check();
    });
    autoStart.start(1000);
    kill.start(5000);
    idle.start(200);
    // The first check at once, not a second later.
    QTimer::singleShot(0, &autoStart, [&] { scheduler.autoStartTick(Clock::now()); });
    QCoreApplication::exec();
    say(QStringLiteral("Zeitplaner beendet."));
    return Ok;
}

} // namespace Cli
