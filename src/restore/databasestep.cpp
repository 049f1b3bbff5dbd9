// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/databasestep.h"

#include "engine/runhost.h"

namespace DatabaseStep
{

QString warningText(const QString &name)
{
    return QStringLiteral("ACHTUNG! Die Datenbank \"") + name
        + QStringLiteral("\" wird wiederhergestellt. Dabei gehen alle Daten, die derzeit in der Datenbank "
                         "gespeichert sind verloren. Möchten Sie fortsetzen?");
}

DatabaseOutcome restoreRecord(
    const DatabaseRequest &request, RunHost &host, const ChooseAccess &choose)
{
    const auto giveBack = [&] {
        host.setProgressLine(ProgressLine::Folder, request.itemLine);
        host.setGauge(2, request.gaugeProgress, request.gaugeMaximum);
    };
    const QString name = request.databaseName;
    host.setGauge(2, 0, request.gaugeMaximum);
    host.setProgressLine(ProgressLine::Folder, QStringLiteral("Datenbank: ") + name);

    // Without an archive there is nothing to restore; a path left empty must never be looked for elsewhere.
    if (request.archivePath.isEmpty()) {
        host.showMessage(QStringLiteral("Die gesicherte Datenbank \"%1\" konnte nicht gelesen werden: Das Archiv "
                                        "Archive.zip fehlt im Ordner %2.")
                             .arg(name, request.sourceFolder));
        giveBack();
        return DatabaseOutcome::Failed;
    }

    AccessRequest ask;
    ask.warning = warningText(name);
    ask.jobName = request.jobName;
    ask.entryName = name;
    for (;;) {
        std::optional<DatabaseRestore::Access> access = choose(ask);
        if (!access) {
            giveBack();
            return DatabaseOutcome::Skipped;
        }
        if (access->port.trimmed().isEmpty())
            access->port = QStringLiteral("3306");
        // The walk's own cancel state: its progress window's button reaches the database restore too.
        const DatabaseRestore::Report report = request.cancel
            ? DatabaseRestore::restoreDatabase(host, *request.cancel, request.archivePath, name, *access)
            : DatabaseRestore::restoreDatabase(host, request.archivePath, name, *access);
        switch (report.result) {
        case DatabaseRestore::Result::ConnectFailed:
            ask.afterFailedConnect = true;
            continue;
        case DatabaseRestore::Result::Cancelled:
            return DatabaseOutcome::Cancelled;
        case DatabaseRestore::Result::Completed:
            giveBack();
            return DatabaseOutcome::Restored;
        case DatabaseRestore::Result::WithErrors:
        case DatabaseRestore::Result::NoDump:
        case DatabaseRestore::Result::ConnectionLost:
            break;
        }
        giveBack();
        return DatabaseOutcome::Failed;
    }
}

} // namespace DatabaseStep
