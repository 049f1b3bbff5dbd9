// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli.h"

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

namespace {

enum ExitCode { Ok = 0, WithErrors = 1, Refused = 2 };

const char kUsage[] =
    "Aufruf: trevalo-cli [--scripts-folder ORDNER] BEFEHL [ARGUMENTE]\n"
    "\n"
    "Befehle:\n"
    "  list          alle Aufträge mit nächstem Start, letztem Erfolg, letztem Start und Meldung\n"
    "  show NAME     alle Einstellungen eines Auftrages\n"
    "  run NAME      den Auftrag ausführen wie mit \"Starten\"\n"
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
    "2 abgelehnt, abgebrochen oder vorzeitig beendet.\n";

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

int refuse(const QString &message, bool withUsage = false)
{
    err() << message << '\n';
    if (withUsage)
        err() << '\n' << QString::fromUtf8(kUsage);
    err().flush();
    return Refused;
}

// The "Nächster Start" column of the job list.
QString nextStartText(const TAuftrag &job)
{
    if (!job.autostart)
        return QStringLiteral("manuell");
    if (!job.next_start.isValid())
        return QString();
    if (job.next_start.date() == Clock::now().date())
        return QStringLiteral("heute - ") + job.next_start.toString(QStringLiteral("hh:mm"));
    return GermanFormat::dateStamp(job.next_start);
}

int listJobs(const TAuftraege &jobs)
{
    out() << "Name\tNächster Start\tErfolgreich am\tLetzter Start am\tStatus\n";
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const TAuftrag &job = *jobs.at(i);
        out() << job.Name << '\t' << nextStartText(job) << '\t' << job.Zuletzt_Ausgefuehrt << '\t'
              << job.letzter_start << '\t' << job.letzte_meldung << '\n';
    }
    return Ok;
}

int showJob(const TAuftraege &jobs, const QString &name)
{
    const TAuftrag *job = jobs.findJobByName(name);
    if (!job)
        return refuse(QStringLiteral("Der Auftrag \"%1\" wurde nicht gefunden.").arg(name));
    out() << "Auftragsdatei: " << QDir::toNativeSeparators(job->filePath()) << '\n';
    out() << "Nächster Start: " << nextStartText(*job) << '\n';
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

int runJob(TAuftraege &jobs, const QString &name, const QList<Answer::Button> &answers)
{
    TAuftrag *job = jobs.findJobByName(name);
    if (!job)
        return refuse(QStringLiteral("Der Auftrag \"%1\" wurde nicht gefunden.").arg(name));

    ArchiveCatalog catalog;
    if (!catalog.open())
        err() << catalog.errorString() << "\nAlle Dateien gelten als geändert.\n";
    TerminalRunHost host(answers, job->Name);
    TerminalRunHost::installInterruptHandler();
    BackupRun run(jobs, host, SystemActions::system(), catalog);
    run.startAuftrag(false);

    switch (run.outcome) {
    case BackupRun::Outcome::Completed:
        return run.errorCount == 0 ? Ok : WithErrors;
    default:
        return Refused;
    }
}

} // namespace

int runCli(const QStringList &arguments)
{
    QString baseFolder;
    bool baseGiven = false;
    QStringList rest;
    QList<Answer::Button> answers;
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
            answers.append(a);
        } else if (arg == QLatin1String("--scripts-folder")) {
            if (i + 1 >= arguments.size())
                return refuse(QStringLiteral("Nach --scripts-folder fehlt der Ordner."), true);
            baseFolder = arguments[++i];
            baseGiven = true;
        } else if (arg.startsWith(QLatin1String("--scripts-folder="))) {
            baseFolder = arg.mid(17);
            baseGiven = true;
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
    const bool known =
        command == QLatin1String("list") || command == QLatin1String("show") || command == QLatin1String("run");
    if (!known)
        return refuse(QStringLiteral("Unbekannter Befehl \"%1\".").arg(command), true);
    if (command != QLatin1String("list") && rest.size() != 1)
        return refuse(QStringLiteral("Der Befehl \"%1\" erwartet genau einen Auftragsnamen.").arg(command), true);
    if (command == QLatin1String("list") && !rest.isEmpty())
        return refuse(QStringLiteral("Der Befehl \"list\" erwartet keine Argumente."), true);

    if (!baseGiven) {
        // As the window program does at its start: find the folder, and make it when it is missing.
        baseFolder = Startup::resolveScriptsBaseFolder();
        QDir().mkpath(Startup::scriptsFolder(baseFolder));
    }
    const QString scripts = Startup::scriptsFolder(baseFolder);
    const QFileInfo info(scripts);
    if (!info.isDir() || !info.isReadable() || !QDir(scripts).isReadable())
        return refuse(QStringLiteral("Der Auftragsordner \"%1\" kann nicht gelesen werden.")
                          .arg(QDir::toNativeSeparators(scripts)));

    TAuftraege jobs(scripts);
    for (const QString &message : jobs.loadAllJobs())
        err() << message << '\n';
    err().flush();

    int code = Ok;
    if (command == QLatin1String("list"))
        code = listJobs(jobs);
    else if (command == QLatin1String("show"))
        code = showJob(jobs, rest.first());
    else
        code = runJob(jobs, rest.first(), answers);
    out().flush();
    return code;
}
