// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli.h"

#include "app/startup.h"
#include "jobs/germanformat.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/clock.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitCode { Ok = 0, Refused = 2 };

const char kUsage[] =
    "Aufruf: trevalo-cli [--scripts-folder ORDNER] BEFEHL [ARGUMENTE]\n"
    "\n"
    "Befehle:\n"
    "  list          alle Aufträge mit nächstem Start, letztem Erfolg, letztem Start und Meldung\n"
    "  show NAME     alle Einstellungen eines Auftrages\n"
    "\n"
    "  --scripts-folder ORDNER  ORDNER als Basisordner der Aufträge verwenden (Aufträge in ORDNER/Scripts)\n";

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

} // namespace

int runCli(const QStringList &arguments)
{
    QString baseFolder;
    bool baseGiven = false;
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (arg == QLatin1String("--scripts-folder")) {
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
    const bool known = command == QLatin1String("list") || command == QLatin1String("show");
    if (!known)
        return refuse(QStringLiteral("Unbekannter Befehl \"%1\".").arg(command), true);
    if (command == QLatin1String("show") && rest.size() != 1)
        return refuse(QStringLiteral("Der Befehl \"show\" erwartet genau einen Auftragsnamen."), true);
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

    const int code = command == QLatin1String("list") ? listJobs(jobs) : showJob(jobs, rest.first());
    out().flush();
    return code;
}
