// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_common.h"
#include "app/runhooks.h"
#include "app/terminalrunhost.h"
#include "engine/backuprun.h"
#include "jobs/germanformat.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/systemactions.h"
#include "schedule/scheduler.h"
#include "schedule/schedulerloop.h"

#include <QCoreApplication>

namespace Cli {

namespace {

void say(const QString &line)
{
    out() << GermanFormat::longTime(Clock::now().time()) << ' ' << line << '\n';
    out().flush();
}

} // namespace

int runScheduler(Context &ctx)
{
    if (!ctx.args.isEmpty())
        return refuse(QStringLiteral("Der Befehl \"scheduler\" erwartet keine Argumente."), true);
    if (!loadJobs(ctx))
        return Refused;

    ArchiveCatalog catalog;
    if (!catalog.open())
        err() << catalog.errorString() << "\nAlle Dateien gelten als geändert.\n";
    TerminalRunHost host(ctx.answers);
    BackupRun run(host, SystemActions::system(), catalog);
    Scheduler scheduler(*ctx.jobs, run, host);
    SchedulerLoop loop(*ctx.jobs, scheduler, run);
    if (!loop.tryLock())
        return refuse(SchedulerLock::busyMessage());
    TerminalRunHost::installInterruptHandler();
    run.setHooks(scheduler.runHooks(standardRunHooks()));
    scheduler.onStart = [](TAuftrag &job) { say(QStringLiteral("Start: ") + job.Name); };
    scheduler.onEnd = [](TAuftrag &job) { say(QStringLiteral("Ende: ") + job.Name + QStringLiteral(": ") + job.letzte_meldung); };
    loop.report = say;
    loop.idle = [] {
        if (TerminalRunHost::quitRequested())
            QCoreApplication::quit();
    };

    say(QStringLiteral("Zeitplaner gestartet (%1). Beenden mit Strg-C.").arg(scheduler.scheduleHint()));
    loop.start();
    QCoreApplication::exec();
    loop.stop();
    say(QStringLiteral("Zeitplaner beendet."));
    return Ok;
}

} // namespace Cli
