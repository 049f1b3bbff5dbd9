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
#include <QProcess>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

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
    "Aufträge bearbeiten (gespeichert wie mit \"Speichern\" im Eigenschaften-Fenster):\n"
    "  new NAME [SCHLÜSSEL=WERT...]\n"
    "                einen neuen Auftrag mit den Vorgaben anlegen\n"
    "  set NAME SCHLÜSSEL=WERT... [KENNWORT-SCHLÜSSEL [--password-file DATEI]]\n"
    "                Einstellungen ändern: jeder Schlüssel der Auftragsdatei (\"show NAME\"\n"
    "                zeigt sie), auch nummerierte wie Filter2 oder Port1; Schalter 1 oder 0,\n"
    "                startzeit HH:MM, email_port 1-65535, email_security keine, STARTTLS\n"
    "                oder SSL/TLS, DBLogin<n> und TLS<n> ja oder nein. Kennwörter\n"
    "                (email_pop3_pass, email_smtp_pass, Pass<n>) ohne Wert angeben: das\n"
    "                Kennwort kommt aus DATEI (erste Zeile) oder von der Standardeingabe\n"
    "  add-source NAME ORDNER [--filter MASKEN] [--no-subdirs]\n"
    "                einen Ordner sichern (MASKEN z. B. \"*.doc;*.xls\", Vorgabe *.*)\n"
    "  remove-source NAME ORDNER\n"
    "                einen Ordner nicht mehr sichern\n"
    "  add-database NAME --label BEZEICHNUNG --host H --database D [--port P]\n"
    "                [--user U] [--password-file DATEI] [--login] [--tls]\n"
    "                eine MySQL-Datenbank sichern (--login: Benutzer und Kennwort bei jeder\n"
    "                Verbindung abfragen; --tls: nur verschlüsselt verbinden; DATEI - liest\n"
    "                das Kennwort von der Standardeingabe)\n"
    "  remove-database NAME BEZEICHNUNG\n"
    "                eine Datenbank nicht mehr sichern\n"
    "  delete NAME   den Auftrag löschen (fragt nach; --answer yes für Skripte)\n"
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
    "Die Befehle zum Bearbeiten geben bei einem falschen Schlüssel oder Wert 2 zurück und\n"
    "ändern dann nichts.\n"
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

bool refuseUnknownOptions(const QStringList &args, const QString &command)
{
    for (const QString &a : args) {
        if (a.startsWith(QLatin1String("--"))) {
            refuse(QStringLiteral("Unbekannte Option \"%1\" für \"%2\".").arg(a, command), true);
            return true;
        }
    }
    return false;
}


int listJobs(Context &ctx)
{
    if (!ctx.args.isEmpty())
        return refuse(QStringLiteral("Der Befehl \"list\" erwartet keine Argumente."), true);
    // A named base folder without job files yet is where the first job goes, not an error.
    const QString scripts = Startup::scriptsFolder(ctx.baseFolder);
    const bool noFolderYet = ctx.baseGiven && !QFileInfo::exists(scripts);
    if (!noFolderYet && !loadJobs(ctx))
        return Refused;
    if (noFolderYet || ctx.jobs->size() == 0) {
        const QString folder = noFolderYet ? scripts : ctx.jobs->scriptsFolder();
        const QString option
            = ctx.baseGiven ? QStringLiteral("--scripts-folder \"%1\" ").arg(ctx.baseFolder) : QString();
        out() << QStringLiteral("Es gibt noch keine Aufträge. Auftragsdateien (*.scr) werden im Ordner \"%1\" "
                                "gesucht.\nDen ersten Auftrag legen Sie so an: trevalo-cli %2new NAME\n")
                     .arg(QDir::toNativeSeparators(folder), option);
        return Ok;
    }
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

bool loadJobs(Context &ctx, bool create)
{
    QString base = ctx.baseFolder;
    if (!ctx.baseGiven) {
        // As the window program does at its start: find the folder, and make it when it is missing.
        base = Startup::resolveScriptsBaseFolder();
        QDir().mkpath(Startup::scriptsFolder(base));
    } else if (create) {
        // Making a job is asked for: its folder is made with it (the message names it).
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

bool readPassword(const QString &path, const QString &what, QString *password)
{
    QByteArray line;
    if (path == QLatin1String("-")) {
        const bool terminal = ::isatty(STDIN_FILENO);
        if (terminal) {
            err() << QStringLiteral("Kennwort für %1: ").arg(what);
            err().flush();
            // Without echo, so the password does not stay on the screen.
            QProcess::execute(QStringLiteral("stty"), {QStringLiteral("-echo")});
        }
        QFile in;
        if (in.open(stdin, QIODevice::ReadOnly))
            line = in.readLine();
        if (terminal) {
            QProcess::execute(QStringLiteral("stty"), {QStringLiteral("echo")});
            err() << '\n';
        }
        // Nothing at all (not even an empty line) is a forgotten input, not an empty password.
        if (line.isEmpty()) {
            refuse(QStringLiteral("Von der Standardeingabe kam kein Kennwort für %1.").arg(what));
            return false;
        }
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            refuse(QStringLiteral("Die Kennwortdatei \"%1\" kann nicht gelesen werden.")
                       .arg(QDir::toNativeSeparators(path)));
            return false;
        }
        line = file.readLine();
    }
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    *password = QString::fromUtf8(line);
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
        {"new", newJob},
        {"set", setJob},
        {"add-source", addSource},
        {"remove-source", removeSource},
        {"add-database", addDatabase},
        {"remove-database", removeDatabase},
        {"delete", deleteJob},
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
