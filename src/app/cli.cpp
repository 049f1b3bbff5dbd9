// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli.h"
#include "app/cli_common.h"

#include "app/joblisttext.h"
#include "app/runhooks.h"
#include "app/startup.h"
#include "app/terminalrunhost.h"
#include "engine/backuprun.h"
#include "platform/archivecatalog.h"
#include "platform/systemactions.h"
#include "jobs/germanformat.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/clock.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace Cli {

namespace {

const char kUsage[] =
    "Aufruf: trevalo-cli [--scripts-folder ORDNER] BEFEHL [ARGUMENTE]\n"
    "\n"
    "Befehle:\n"
    "  list          alle Aufträge mit nächstem Start, letztem Erfolg, letztem Start und Meldung\n"
    "  show NAME     alle Einstellungen eines Auftrages\n"
    "  run NAME      den Auftrag ausführen wie mit \"Starten\"\n"
    "  sets ORDNER [--job NAME]\n"
    "                die Sicherungen in ORDNER\n"
    "  restore ORDNER --set SICHERUNG [--to ZIEL [--databases]] [PFAD...]\n"
    "                eine Sicherung (oder die genannten Orte daraus) wiederherstellen;\n"
    "                gesicherte Datenbanken mit den Zugangsdaten des Auftrages oder mit\n"
    "                --db-host H [--db-port P] --db-user U --db-password-file DATEI [--db-name D],\n"
    "                jede erst nach der Warnung (Antwort ok, am Terminal oder mit --answer ok);\n"
    "                mit --to nur, wenn --databases oder --db-host/--db-name angegeben ist\n"
    "  restore-db ARCHIV --host H [--port P] --user U --password-file DATEI --database D\n"
    "                eine gesicherte Datenbank wiederherstellen\n"
    "  scheduler     geplante Aufträge ohne Fenster starten (bis SIGTERM oder Strg-C)\n"
    "\n"
    "Optionen:\n"
    "  --scripts-folder ORDNER  ORDNER als Basisordner der Aufträge verwenden (Aufträge in ORDNER/Scripts)\n"
    "  --answer ANTWORT         Antwort auf die nächste Frage: ok, cancel, yes, no, retry, ignore, all\n"
    "                           (mehrfach möglich, in der Reihenfolge der Fragen)\n"
    "\n"
    "Fragen ohne angegebene Antwort werden am Terminal gestellt; ohne Terminal gilt die\n"
    "vorgegebene Antwort, die nie Daten verwirft: weitermachen (Ja, OK), bei Kopierfehlern\n"
    "Ignorieren (der Fehler wird gezählt und protokolliert), bei Strg-C: Abbruch bestätigen.\n"
    "\n"
    "Rückgabewert von run: 0 fehlerfrei beendet, 1 beendet mit gezählten Fehlern,\n"
    "2 abgelehnt, abgebrochen oder vorzeitig beendet.\n"
    "Rückgabewert von restore: 0 alles wiederhergestellt, 1 Dateien oder Datenbanken nicht\n"
    "wiederhergestellt oder übersprungen, 2 abgelehnt oder abgebrochen, 3 die Dateien sind\n"
    "wiederhergestellt, aber gesicherte Datenbanken blieben unverändert (Warnung ohne Antwort,\n"
    "oder --to ohne --databases).\n";

} // namespace

QTextStream &out()
{
    static QTextStream s(stdout);
    return s;
}

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

int refuse(const QString &message, bool withUsage)
{
    err() << message << '\n';
    if (withUsage)
        err() << '\n' << QString::fromUtf8(kUsage);
    err().flush();
    return Refused;
}


int listJobs(Context &ctx)
{
    if (!ctx.args.isEmpty())
        return refuse(QStringLiteral("Der Befehl \"list\" erwartet keine Argumente."), true);
    if (!loadJobs(ctx))
        return Refused;
    const TAuftraege &jobs = *ctx.jobs;
    out() << "Name\tNächster Start\tErfolgreich am\tLetzter Start am\tStatus\n";
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const TAuftrag &job = *jobs.at(i);
        out() << job.Name << '\t' << JobListText::nextStart(job) << '\t' << job.Zuletzt_Ausgefuehrt << '\t'
              << job.letzter_start << '\t' << job.letzte_meldung << '\n';
    }
    return Ok;
}

int showJob(Context &ctx)
{
    if (ctx.args.size() != 1)
        return refuse(QStringLiteral("Der Befehl \"show\" erwartet genau einen Auftragsnamen."), true);
    if (!loadJobs(ctx))
        return Refused;
    const QString name = ctx.args.first();
    const TAuftrag *job = ctx.jobs->findJobByName(name);
    if (!job)
        return refuse(QStringLiteral("Der Auftrag \"%1\" wurde nicht gefunden.").arg(name));
    out() << "Auftragsdatei: " << QDir::toNativeSeparators(job->filePath()) << '\n';
    out() << "Nächster Start: " << JobListText::nextStart(*job) << '\n';
    QString section;
    for (const JobFileEntry &e : jobFileEntries(*job, true)) {
        if (e.section != section) {
            section = e.section;
            out() << "\n[" << section << "]\n";
        }
        out() << e.key << '=' << e.value << '\n';
    }
    return Ok;
}

int runJob(Context &ctx)
{
    if (ctx.args.size() != 1)
        return refuse(QStringLiteral("Der Befehl \"run\" erwartet genau einen Auftragsnamen."), true);
    if (!loadJobs(ctx))
        return Refused;
    TAuftraege &jobs = *ctx.jobs;
    const QString name = ctx.args.first();
    TAuftrag *job = jobs.findJobByName(name);
    if (!job)
        return refuse(QStringLiteral("Der Auftrag \"%1\" wurde nicht gefunden.").arg(name));

    ArchiveCatalog catalog;
    if (!catalog.open())
        err() << catalog.errorString() << "\nAlle Dateien gelten als geändert.\n";
    TerminalRunHost host(ctx.answers);
    TerminalRunHost::installInterruptHandler();
    BackupRun run(host, SystemActions::system(), catalog);
    run.setHooks(standardRunHooks());
    run.startAuftrag(*job, BackupRun::StartedBy::User);

    switch (run.outcome) {
    case BackupRun::Outcome::Completed:
        return run.errorCount == 0 ? Ok : WithErrors;
    default:
        return Refused;
    }
}

QString Context::takeOption(const QString &name, bool *present)
{
    if (present)
        *present = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == name && i + 1 < args.size()) {
            const QString value = args[i + 1];
            args.remove(i, 2);
            if (present)
                *present = true;
            return value;
        }
        if (args[i].startsWith(name + u'=')) {
            const QString value = args[i].mid(name.size() + 1);
            args.remove(i);
            if (present)
                *present = true;
            return value;
        }
    }
    return QString();
}

QStringList Context::takeOptions(const QString &name)
{
    QStringList values;
    bool present = true;
    for (;;) {
        const QString v = takeOption(name, &present);
        if (!present)
            return values;
        values.append(v);
    }
}

bool loadJobs(Context &ctx)
{
    QString base = ctx.baseFolder;
    if (!ctx.baseGiven) {
        // As the window program does at its start: find the folder, and make it when it is missing.
        base = Startup::resolveScriptsBaseFolder();
        QDir().mkpath(Startup::scriptsFolder(base));
    }
    const QString scripts = Startup::scriptsFolder(base);
    const QFileInfo info(scripts);
    if (!info.isDir() || !info.isReadable() || !QDir(scripts).isReadable()) {
        refuse(QStringLiteral("Der Auftragsordner \"%1\" kann nicht gelesen werden.").arg(QDir::toNativeSeparators(scripts)));
        return false;
    }
    ctx.jobs = std::make_unique<TAuftraege>(scripts);
    for (const QString &message : ctx.jobs->loadAllJobs())
        err() << message << '\n';
    err().flush();
    return true;
}

} // namespace Cli

int runCli(const QStringList &arguments)
{
    using namespace Cli;
    Context ctx;
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (arg == QLatin1String("--answer") || arg.startsWith(QLatin1String("--answer="))) {
            QString word;
            if (arg.contains(u'='))
                word = arg.mid(9);
            else if (i + 1 < arguments.size())
                word = arguments[++i];
            const Answer::Button a = TerminalRunHost::parseAnswer(word);
            if (a == Answer::None)
                return refuse(QStringLiteral("Unbekannte Antwort \"%1\".").arg(word), true);
            ctx.answers.append(a);
        } else if (arg == QLatin1String("--scripts-folder")) {
            if (i + 1 >= arguments.size())
                return refuse(QStringLiteral("Nach --scripts-folder fehlt der Ordner."), true);
            ctx.baseFolder = arguments[++i];
            ctx.baseGiven = true;
        } else if (arg.startsWith(QLatin1String("--scripts-folder="))) {
            ctx.baseFolder = arg.mid(17);
            ctx.baseGiven = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            out() << QString::fromUtf8(kUsage);
            return Ok;
        } else if (arg == QLatin1String("--version")) {
            out() << "Trevalo " << Startup::programVersion() << '\n';
            return Ok;
        } else {
            rest.append(arg);
        }
    }
    if (rest.isEmpty())
        return refuse(QStringLiteral("Es wurde kein Befehl angegeben."), true);

    const QString command = rest.takeFirst();
    ctx.args = rest;
    struct Command {
        const char *name;
        int (*handler)(Context &);
    };
    static const Command commands[] = {
        {"list", listJobs},
        {"show", showJob},
        {"run", runJob},
        {"sets", listSets},
        {"restore", restoreSet},
        {"restore-db", restoreDatabase},
        {"scheduler", runScheduler},
    };
    for (const Command &c : commands) {
        if (command == QLatin1String(c.name)) {
            const int code = c.handler(ctx);
            out().flush();
            err().flush();
            return code;
        }
    }
    return refuse(QStringLiteral("Unbekannter Befehl \"%1\".").arg(command), true);
}
