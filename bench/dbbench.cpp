// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a job that saves one database, with the database step wired into the run as the
// program does it: "dbbench WORKDIR HOST PORT USER PASSWORD DATABASE". The set goes to
// WORKDIR/ziel, the job file to WORKDIR/Scripts, work files to WORKDIR/tmp.
#include "app/terminalrunhost.h"
#include "db/databasebackup.h"
#include "engine/backuprun.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/archivecatalog.h"
#include "platform/systemactions.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 7) {
        std::fprintf(stderr, "usage: dbbench WORKDIR HOST PORT USER PASSWORD DATABASE\n");
        return 2;
    }
    const QString work = QDir(args[1]).absolutePath();
    QDir().mkpath(work + QStringLiteral("/Scripts"));
    QDir().mkpath(work + QStringLiteral("/tmp"));

    TAuftraege jobs(work + QStringLiteral("/Scripts"));
    TAuftrag *job = jobs.addNewJob(jobs.nextFreeStem());
    job->Name = QStringLiteral("dbbench");
    job->Ziel = work + QStringLiteral("/ziel");
    job->proto_pfad = work + QStringLiteral("/log");
    job->temp_pfad = work + QStringLiteral("/tmp");
    job->Start_Meldung = false;
    job->backup_ok_anzeigen = false;
    job->fehler_anzeigen = false;
    TODBC_DB db;
    db.DB_Name = args[6];
    db.DB_Login = QStringLiteral("nein");
    db.DB_Host = args[2];
    db.DB_Port = args[3];
    db.DB_User = args[4];
    db.DB_Pass = args[5];
    db.DB_DBName = args[6];
    job->databases = { db };
    QString error;
    if (!saveJob(*job, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }

    ArchiveCatalog catalog;
    catalog.open(work + QStringLiteral("/catalog.sqlite"));
    TerminalRunHost host({}, job->Name);
    BackupRun run(jobs, host, SystemActions::system(), catalog);
    BackupRun::Hooks hooks;
    hooks.backUpDatabases = backUpDatabases;
    run.setHooks(hooks);
    run.startAuftrag(false);
    const bool ok = run.outcome == BackupRun::Outcome::Completed && run.errorCount == 0 && run.dbFilesCopied == 1;
    return ok ? 0 : 1;
}
