// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_common.h"

#include "app/terminalrunhost.h"
#include "db/databaserestore.h"
#include "platform/filesystem.h"
#include "restore/restoremodel.h"
#include "restore/databasestep.h"
#include "restore/restorewalk.h"
#include "restore/setfinder.h"

#include <QFile>
#include <QMap>

namespace Cli
{

namespace
{

    bool isSeparator(QChar c)
    {
        return c == u'/' || c == u'\\';
    }

    struct Place {
        int files = 0;
        QStringList damage; ///< the parts of the set there that cannot be read
    };

    // The shown place of every folder of a set that holds files or damaged parts.
    QMap<QString, Place> placesOf(const RestoreModel &model, int set)
    {
        QMap<QString, Place> places;
        const QString prefix = model.node(set).relativeFolder;
        for (const RestoreRecord &r : model.records()) {
            if (!r.relativeFolder.startsWith(prefix) || !(r.isFile() || !r.damage.isEmpty()))
                continue;
            Place &place
                = places[Platform::displayPath(RestoreModel::placeText(RestoreModel::savedPlace(r.relativeFolder)))];
            if (r.isFile())
                ++place.files;
            else
                place.damage.append(r.damage);
        }
        return places;
    }

    // A path given on the command line names a record's folder (or one above it) or the record itself.
    bool matches(const QString &path, const QString &place, const QString &name)
    {
        if (path.isEmpty())
            return false;
        if (path == place)
            return true;
        if (place.startsWith(path) && (isSeparator(path.back()) || isSeparator(place.at(path.size()))))
            return true;
        return !place.isEmpty() && isSeparator(place.back()) && path == place + name;
    }

    // Sizes and dates of copied files are neither listed nor needed here: read by name only.
    bool scan(RestoreModel *model, const QString &folder, const QString &job)
    {
        QString error;
        if (!scanBackupFolder(model, folder, job, nullptr, &error, nullptr, false)) {
            refuse(error);
            return false;
        }
        return true;
    }

} // namespace

int listSets(Context &ctx)
{
    const QString job = ctx.takeOption(QStringLiteral("--job"));
    if (refuseUnknownOptions(ctx.args, QStringLiteral("sets")))
        return Refused;
    if (ctx.args.size() != 1)
        return refuse(QStringLiteral("Der Befehl \"sets\" erwartet genau einen Ordner."), true);
    RestoreModel model;
    if (!scan(&model, ctx.args.first(), job))
        return Refused;
    if (model.topLevel().isEmpty()) {
        err() << "Keine Sicherungen gefunden.\n";
        return Ok;
    }
    bool damaged = false;
    for (int set : model.topLevel()) {
        const SetNode &node = model.node(set);
        out() << Platform::displayPath(node.folderName) << '\t' << node.text << '\n';
        const QMap<QString, Place> places = placesOf(model, set);
        for (auto it = places.begin(); it != places.end(); ++it) {
            if (it->files > 0)
                out() << "  " << it.key() << '\t' << it->files << (it->files == 1 ? " Datei" : " Dateien") << '\n';
            // A part that cannot be read is shown as such, never as a folder that holds nothing.
            for (const QString &damage : it->damage)
                out() << "  " << it.key() << "\tbeschädigt: " << damage << '\n';
            damaged = damaged || !it->damage.isEmpty();
        }
    }
    return damaged ? WithErrors : Ok;
}

int restoreSet(Context &ctx)
{
    bool setGiven = false;
    bool toGiven = false;
    const QString setName = ctx.takeOption(QStringLiteral("--set"), &setGiven);
    const QString to = ctx.takeOption(QStringLiteral("--to"), &toGiven);
    // Access data for saved databases; without them the job that saved the set supplies its own.
    DatabaseRestore::Access dbAccess;
    bool dbHostGiven = false;
    bool dbPasswordGiven = false;
    dbAccess.host = ctx.takeOption(QStringLiteral("--db-host"), &dbHostGiven);
    dbAccess.port = ctx.takeOption(QStringLiteral("--db-port"));
    dbAccess.user = ctx.takeOption(QStringLiteral("--db-user"));
    bool dbNameGiven = false;
    dbAccess.database = ctx.takeOption(QStringLiteral("--db-name"), &dbNameGiven);
    // Restored below a folder, files are copies to look at: a live database is replaced only when asked for.
    const bool databasesAsked = ctx.args.removeAll(QStringLiteral("--databases")) > 0 || dbHostGiven || dbNameGiven;
    const QString dbPasswordFile = ctx.takeOption(QStringLiteral("--db-password-file"), &dbPasswordGiven);
    if (dbPasswordGiven) {
        QFile file(dbPasswordFile);
        if (!file.open(QIODevice::ReadOnly))
            return refuse(QStringLiteral("Die Passwortdatei \"%1\" kann nicht gelesen werden.").arg(dbPasswordFile));
        QString password = QString::fromUtf8(file.readAll());
        while (password.endsWith(u'\n') || password.endsWith(u'\r'))
            password.chop(1);
        dbAccess.password = password;
    }
    if (refuseUnknownOptions(ctx.args, QStringLiteral("restore")))
        return Refused;
    if (ctx.args.isEmpty() || !setGiven)
        return refuse(QStringLiteral("Der Befehl \"restore\" erwartet einen Ordner und --set SICHERUNG."), true);
    const QString folder = ctx.args.takeFirst();
    const QStringList paths = ctx.args;

    RestoreModel model;
    if (!scan(&model, folder, QString()))
        return Refused;
    // Only a set the scan found is taken, so a name like "../x" never reaches a path.
    int set = -1;
    for (int s : model.topLevel()) {
        if (model.node(s).folderName == setName || model.node(s).text == setName)
            set = s;
    }
    if (set < 0)
        return refuse(QStringLiteral("Die Sicherung \"%1\" wurde in %2 nicht gefunden.")
                          .arg(Platform::displayPath(setName), Platform::displayPath(folder)));

    if (paths.isEmpty()) {
        model.setNewStatus(set, true);
    } else {
        const QString prefix = model.node(set).relativeFolder;
        for (const QString &path : paths) {
            bool found = false;
            for (int i = 0; i < int(model.records().size()); ++i) {
                const RestoreRecord &r = model.record(i);
                if (r.relativeFolder.startsWith(prefix)
                    && matches(path, RestoreModel::placeText(RestoreModel::savedPlace(r.relativeFolder)), r.name)) {
                    model.setRecordSelected(i, true);
                    found = true;
                }
            }
            if (!found)
                return refuse(QStringLiteral("\"%1\" ist in der Sicherung %2 nicht enthalten.")
                                  .arg(Platform::displayPath(path), Platform::displayPath(setName)));
        }
    }

    TerminalRunHost host(ctx.answers);
    TerminalRunHost::installInterruptHandler();
    RestoreWalk walk(model, host);
    walk.setRestoreFolder(toGiven, to);
    walk.setJobName(model.node(set).jobName);
    // Saved databases left as they are: the warning was not answered, or files went below a folder.
    int databasesLeft = 0;
    walk.restoreDatabase = [&](const DatabaseRequest &request, RunHost &runHost) {
        if (toGiven && !databasesAsked) {
            ++databasesLeft;
            runHost.showMessage(QStringLiteral("Die Datenbank \"%1\" bleibt unverändert: Bei einer Wiederherstellung in "
                                               "einen Ordner (--to) werden Datenbanken nur mit --databases "
                                               "zurückgeschrieben.")
                                    .arg(request.databaseName));
            return DatabaseOutcome::Skipped;
        }
        DatabaseRestore::Access access = dbAccess;
        if (!dbHostGiven) {
            const TODBC_DB *entry = nullptr;
            if (!request.jobName.isEmpty() && (ctx.jobs || loadJobs(ctx))) {
                if (const TAuftrag *job = ctx.jobs->findJobByName(request.jobName)) {
                    for (const TODBC_DB &db : job->databases) {
                        if (db.DB_Name == request.databaseName)
                            entry = &db;
                    }
                }
            }
            if (!entry) {
                runHost.showMessage(QStringLiteral("Für die Datenbank \"%1\" sind keine Zugangsdaten bekannt. Geben Sie "
                                                   "sie mit --db-host, --db-user, --db-password-file und --db-name an.")
                                        .arg(request.databaseName));
                return DatabaseOutcome::Failed;
            }
            access = {entry->DB_Host, entry->DB_Port, entry->DB_User, entry->DB_Pass, entry->DB_DBName,
                      entry->DB_TLS == QLatin1String("ja")};
        }
        if (access.database.isEmpty())
            access.database = request.databaseName;
        bool connectFailed = false;
        const DatabaseOutcome outcome = DatabaseStep::restoreRecord(request, runHost,
            [&](const DatabaseStep::AccessRequest &ask) -> std::optional<DatabaseRestore::Access> {
                // The same data would fail the same way; there is nobody to type other data.
                if (ask.afterFailedConnect) {
                    connectFailed = true;
                    return std::nullopt;
                }
                Question q;
                q.text = ask.warning;
                q.icon = Icon::Warning;
                q.buttons = Answer::Ok | Answer::Cancel;
                q.unattended = Answer::Cancel; // a live database is never replaced without a yes
                q.caption = QStringLiteral("Datenbank auswählen");
                if (runHost.ask(q) == Answer::Ok)
                    return access;
                if (host.lastAnswerUnattended()) {
                    ++databasesLeft;
                    runHost.showMessage(QStringLiteral("Die Datenbank \"%1\" bleibt unverändert: Die Warnung wurde "
                                                       "nicht beantwortet (--answer ok).")
                                            .arg(request.databaseName));
                }
                return std::nullopt;
            });
        return connectFailed && outcome == DatabaseOutcome::Skipped ? DatabaseOutcome::Failed : outcome;
    };
    switch (walk.run()) {
    case RestoreWalk::Outcome::NothingSelected:
        err() << "Die Sicherung enthält keine Dateien.\n";
        return Ok;
    case RestoreWalk::Outcome::Completed:
        out() << "Wiederhergestellt: " << walk.restoredCount << ", übersprungen: " << walk.skippedCount
              << ", nicht wiederhergestellt: " << walk.failedCount << '\n';
        // A file left as it was (the overwrite question answered No) was not restored either.
        if (walk.failedCount > 0 || walk.skippedCount > databasesLeft)
            return WithErrors;
        if (databasesLeft > 0) {
            out() << "Unveränderte Datenbanken: " << databasesLeft << '\n';
            return DatabasesLeft;
        }
        return Ok;
    default:
        return Refused;
    }
}

} // namespace Cli
