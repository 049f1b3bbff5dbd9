// SPDX-License-Identifier: GPL-3.0-or-later
// Making and changing jobs without a window. Every change goes through storeJob, as the job
// editor's does, so that both give the same job file.
#include "app/cli_common.h"

#include "app/terminalrunhost.h"
#include "jobs/jobfile.h"
#include "jobs/jobstore.h"
#include "jobs/tauftraege.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace Cli {

namespace {

const QString kPasswordHint = QStringLiteral("Kennwörter werden nicht auf der Befehlszeile angenommen (dort sähe sie "
                                             "jeder in der Prozessliste). Geben Sie \"%1\" ohne Wert an und das "
                                             "Kennwort mit --password-file DATEI oder über die Standardeingabe.");

TAuftrag *findJob(Context &ctx, const QString &name)
{
    TAuftrag *job = ctx.jobs->findJobByName(name);
    if (!job)
        refuse(QStringLiteral("Der Auftrag \"%1\" wurde nicht gefunden.").arg(name));
    return job;
}

// Folders are stored as the run will look for them: a relative one from the current folder.
QString absoluteFolder(const QString &dir)
{
    return QDir::isAbsolutePath(dir) ? dir : QDir::current().absoluteFilePath(dir);
}

// Without the trailing separator, so that "/daten/" and "/daten" name the same source.
QString withoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && (path.endsWith(u'/') || path.endsWith(u'\\')))
        path.chop(1);
    return path;
}

/**
 * Stores draft (sources and databases in file order, as the job holds them) into job the
 * way the editor does: its rows are the ones the editor would show for draft.
 */
int store(Context &ctx, TAuftrag &job, const TAuftrag &draft, const QString &done)
{
    TAuftrag edited = draft;
    edited.sources = sourceRows(draft);
    edited.databases = databaseRows(draft);
    QString message;
    if (!storeJob(*ctx.jobs, job, edited, &message))
        return refuse(message);
    if (job.Name != draft.Name)
        err() << QStringLiteral("Der Name \"%1\" ist schon vergeben; der Auftrag heißt jetzt \"%2\".")
                     .arg(draft.Name, job.Name)
              << '\n';
    out() << done.arg(job.Name) << " (" << QDir::toNativeSeparators(job.filePath()) << ")\n";
    return Ok;
}

/**
 * Sets KEY=VALUE items into draft. A password key comes without a value: its password is
 * read from --password-file or standard input. False after a refusal, draft then half set.
 */
bool applySettings(TAuftrag &draft, const QStringList &items, bool passwordFileGiven, const QString &passwordFile)
{
    QString passwordKey;
    for (const QString &item : items) {
        const qsizetype eq = item.indexOf(u'=');
        const QString key = eq < 0 ? item : item.left(eq);
        QString message;
        if (isJobFilePasswordKey(key)) {
            if (eq >= 0) {
                refuse(kPasswordHint.arg(key));
                return false;
            }
            if (!passwordKey.isEmpty()) {
                refuse(QStringLiteral("Es kann nur ein Kennwort je Aufruf gesetzt werden."));
                return false;
            }
            // Checked now (the entry exists, the key is known), set once the password is read.
            if (!setJobFileValue(draft, key, QString(), &message)) {
                refuse(message);
                return false;
            }
            passwordKey = key;
            continue;
        }
        if (eq < 0) {
            refuse(QStringLiteral("Für \"%1\" fehlt der Wert: SCHLÜSSEL=WERT.").arg(key));
            return false;
        }
        if (!setJobFileValue(draft, key, item.mid(eq + 1), &message)) {
            refuse(message);
            return false;
        }
    }
    if (passwordFileGiven && passwordKey.isEmpty()) {
        refuse(QStringLiteral("--password-file gehört zu einem Kennwort-Schlüssel ohne Wert (z. B. email_smtp_pass)."));
        return false;
    }
    if (passwordKey.isEmpty())
        return true;
    QString password;
    if (!readPassword(passwordFileGiven ? passwordFile : QStringLiteral("-"), passwordKey, &password))
        return false;
    QString message;
    if (!setJobFileValue(draft, passwordKey, password, &message)) {
        refuse(message);
        return false;
    }
    return true;
}

bool takeSetArguments(Context &ctx,
    const QString &command,
    QString *name,
    QStringList *items,
    bool *passwordFileGiven,
    QString *passwordFile)
{
    *passwordFile = ctx.takeOption(QStringLiteral("--password-file"), passwordFileGiven);
    if (refuseUnknownOptions(ctx.args, command))
        return false;
    if (ctx.args.isEmpty())
        return false;
    *name = ctx.args.first();
    *items = ctx.args.mid(1);
    return true;
}

} // namespace

int newJob(Context &ctx)
{
    QString name;
    QStringList items;
    bool passwordFileGiven = false;
    QString passwordFile;
    if (!takeSetArguments(ctx, QStringLiteral("new"), &name, &items, &passwordFileGiven, &passwordFile))
        return refuse(QStringLiteral("Der Befehl \"new\" erwartet einen Auftragsnamen, dahinter nach Wunsch "
                                     "Einstellungen SCHLÜSSEL=WERT."),
            true);
    if (!loadJobs(ctx, true))
        return Refused;
    // As the window program's "Neu" makes one: the first free number, the defaults of a job without a file.
    const QString stem = ctx.jobs->nextFreeStem();
    TAuftrag *job = ctx.jobs->addNewJob(stem);
    TAuftrag draft = *job;
    draft.Name = name;
    int code = Refused;
    if (applySettings(draft, items, passwordFileGiven, passwordFile))
        code = store(ctx, *job, draft, QStringLiteral("Auftrag \"%1\" angelegt"));
    if (code != Ok)
        ctx.jobs->removeJobByStem(stem);
    return code;
}

int setJob(Context &ctx)
{
    QString name;
    QStringList items;
    bool passwordFileGiven = false;
    QString passwordFile;
    if (!takeSetArguments(ctx, QStringLiteral("set"), &name, &items, &passwordFileGiven, &passwordFile)
        || items.isEmpty())
        return refuse(QStringLiteral("Der Befehl \"set\" erwartet einen Auftragsnamen und mindestens eine Einstellung "
                                     "SCHLÜSSEL=WERT."),
            true);
    if (!loadJobs(ctx))
        return Refused;
    TAuftrag *job = findJob(ctx, name);
    if (!job)
        return Refused;
    TAuftrag draft = *job;
    if (!applySettings(draft, items, passwordFileGiven, passwordFile))
        return Refused;
    return store(ctx, *job, draft, QStringLiteral("Auftrag \"%1\" gespeichert"));
}

int addSource(Context &ctx)
{
    bool filterGiven = false;
    const QString filter = ctx.takeOption(QStringLiteral("--filter"), &filterGiven);
    const bool noSubfolders = ctx.args.removeAll(QStringLiteral("--no-subdirs")) > 0;
    if (refuseUnknownOptions(ctx.args, QStringLiteral("add-source")))
        return Refused;
    if (ctx.args.size() != 2)
        return refuse(QStringLiteral("Der Befehl \"add-source\" erwartet einen Auftragsnamen und einen Ordner."), true);
    if (!loadJobs(ctx))
        return Refused;
    TAuftrag *job = findJob(ctx, ctx.args[0]);
    if (!job)
        return Refused;

    const QString folder = absoluteFolder(ctx.args[1]);
    // The new row goes below the rows of the same folder, as in the editor's sorted list:
    // rows are made from the last entry to the first.
    TAuftrag draft = *job;
    draft.sources.prepend({ QStringLiteral("?"), QString(), true });
    QString message;
    if (!setJobFileValue(draft, QStringLiteral("Verz1"), folder, &message)
        || !setJobFileValue(draft, QStringLiteral("Filter1"), filterGiven ? filter : QStringLiteral("*.*"), &message)
        || !setJobFileValue(
            draft, QStringLiteral("SubDir1"), noSubfolders ? QStringLiteral("0") : QStringLiteral("1"), &message))
        return refuse(message);
    // A folder of a medium that is not there now is still a source; the run reports it then.
    if (!QFileInfo(folder).isDir())
        err()
            << QStringLiteral("Hinweis: Den Ordner \"%1\" gibt es zurzeit nicht.").arg(QDir::toNativeSeparators(folder))
            << '\n';
    return store(ctx, *job, draft, QStringLiteral("Auftrag \"%1\" gespeichert"));
}

int removeSource(Context &ctx)
{
    if (refuseUnknownOptions(ctx.args, QStringLiteral("remove-source")))
        return Refused;
    if (ctx.args.size() != 2)
        return refuse(
            QStringLiteral("Der Befehl \"remove-source\" erwartet einen Auftragsnamen und einen Ordner."), true);
    if (!loadJobs(ctx))
        return Refused;
    TAuftrag *job = findJob(ctx, ctx.args[0]);
    if (!job)
        return Refused;
    const QString folder = withoutTrailingSeparator(absoluteFolder(ctx.args[1]));
    TAuftrag draft = *job;
    const qsizetype removed
        = draft.sources.removeIf([&](const TQuelle &q) { return withoutTrailingSeparator(q.Verz) == folder; });
    if (removed == 0)
        return refuse(QStringLiteral("Der Ordner \"%1\" gehört nicht zu den Quellen des Auftrages \"%2\".")
                          .arg(QDir::toNativeSeparators(folder), job->Name));
    return store(ctx, *job, draft, QStringLiteral("Auftrag \"%1\" gespeichert"));
}

int addDatabase(Context &ctx)
{
    struct Option {
        const char *option;
        const char *key; // numbered key of the new entry
        bool required;
        QString value = QString();
        bool given = false;
    };
    Option options[] = {
        { "--label", "DB1", true },
        { "--host", "Host1", true },
        { "--database", "DBNAME1", true },
        { "--port", "Port1", false },
        { "--user", "User1", false },
    };
    for (Option &o : options)
        o.value = ctx.takeOption(QString::fromLatin1(o.option), &o.given);
    bool passwordFileGiven = false;
    const QString passwordFile = ctx.takeOption(QStringLiteral("--password-file"), &passwordFileGiven);
    const bool login = ctx.args.removeAll(QStringLiteral("--login")) > 0;
    const bool tls = ctx.args.removeAll(QStringLiteral("--tls")) > 0;
    if (refuseUnknownOptions(ctx.args, QStringLiteral("add-database")))
        return Refused;
    const bool complete
        = std::all_of(std::begin(options), std::end(options), [](const Option &o) { return o.given || !o.required; });
    if (ctx.args.size() != 1 || !complete)
        return refuse(QStringLiteral("Der Befehl \"add-database\" erwartet einen Auftragsnamen und --label, --host "
                                     "und --database."),
            true);
    if (!loadJobs(ctx))
        return Refused;
    TAuftrag *job = findJob(ctx, ctx.args[0]);
    if (!job)
        return Refused;

    // The editor adds the new row at the bottom; rows are stored from the last, so it becomes the first entry.
    TAuftrag draft = *job;
    draft.databases.prepend(TODBC_DB());
    QString message;
    for (const Option &o : options) {
        if (o.given && !setJobFileValue(draft, QString::fromLatin1(o.key), o.value, &message))
            return refuse(message);
    }
    if (!setJobFileValue(
            draft, QStringLiteral("DBLogin1"), login ? QStringLiteral("ja") : QStringLiteral("nein"), &message)
        || !setJobFileValue(
            draft, QStringLiteral("TLS1"), tls ? QStringLiteral("ja") : QStringLiteral("nein"), &message))
        return refuse(message);
    if (passwordFileGiven) {
        QString password;
        if (!readPassword(passwordFile, QStringLiteral("Pass1"), &password))
            return Refused;
        if (!setJobFileValue(draft, QStringLiteral("Pass1"), password, &message))
            return refuse(message);
    }
    return store(ctx, *job, draft, QStringLiteral("Auftrag \"%1\" gespeichert"));
}

int removeDatabase(Context &ctx)
{
    if (refuseUnknownOptions(ctx.args, QStringLiteral("remove-database")))
        return Refused;
    if (ctx.args.size() != 2)
        return refuse(
            QStringLiteral("Der Befehl \"remove-database\" erwartet einen Auftragsnamen und die Bezeichnung der "
                           "Datenbank."),
            true);
    if (!loadJobs(ctx))
        return Refused;
    TAuftrag *job = findJob(ctx, ctx.args[0]);
    if (!job)
        return Refused;
    const QString label = ctx.args[1];
    TAuftrag draft = *job;
    if (draft.databases.removeIf([&](const TODBC_DB &db) { return db.DB_Name == label; }) == 0)
        return refuse(QStringLiteral("Der Auftrag \"%1\" hat keine Datenbank \"%2\".").arg(job->Name, label));
    return store(ctx, *job, draft, QStringLiteral("Auftrag \"%1\" gespeichert"));
}

int deleteJob(Context &ctx)
{
    if (refuseUnknownOptions(ctx.args, QStringLiteral("delete")))
        return Refused;
    if (ctx.args.size() != 1)
        return refuse(QStringLiteral("Der Befehl \"delete\" erwartet genau einen Auftragsnamen."), true);
    if (!loadJobs(ctx))
        return Refused;
    const TAuftrag *job = findJob(ctx, ctx.args.first());
    if (!job)
        return Refused;
    const QString name = job->Name;

    Question question;
    question.text = QStringLiteral("Wollen Sie den Auftrag \"%1\" wirklich löschen?").arg(name);
    question.icon = Icon::Question;
    question.buttons = Answer::Yes | Answer::No;
    question.unattended = Answer::No; // nobody to ask: the job stays
    TerminalRunHost host(ctx.answers);
    if (host.ask(question) != Answer::Yes)
        return refuse(QStringLiteral("Der Auftrag \"%1\" wurde nicht gelöscht.").arg(name));
    QString message;
    if (!ctx.jobs->deleteJob(name, &message))
        return refuse(message);
    out() << QStringLiteral("Auftrag \"%1\" gelöscht.").arg(name) << '\n';
    return Ok;
}

} // namespace Cli
