// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/jobstore.h"

#include "jobs/jobfile.h"
#include "jobs/nextstart.h"
#include "jobs/tauftraege.h"
#include "jobs/tauftrag.h"

#include <algorithm>

namespace {

// What a run keeps in the job, not the user: a run that wrote while the job was being
// edited is not undone by storing.
void keepBookkeeping(TAuftrag &to, const TAuftrag &from)
{
    to.fileStem = from.fileStem;
    to.scriptsFolder = from.scriptsFolder;
    to.BackupVersion = from.BackupVersion;
    to.Zuletzt_Ausgefuehrt = from.Zuletzt_Ausgefuehrt;
    to.letzter_start = from.letzter_start;
    to.letzte_meldung = from.letzte_meldung;
    to.Status = from.Status;
    to.next_start = from.next_start;
    to.logErrorsArmed = from.logErrorsArmed;
}

QString uniqueName(const TAuftraege &jobs, const TAuftrag &job, QString name)
{
    bool found = true;
    while (found) {
        found = false;
        for (qsizetype i = 0; i < jobs.size(); ++i) {
            const TAuftrag *other = jobs.at(i);
            if (other != &job && other->Name == name) {
                name += u'1';
                found = true;
            }
        }
    }
    return name;
}

} // namespace

QList<TQuelle> sourceRows(const TAuftrag &job)
{
    QList<TQuelle> rows(job.sources.crbegin(), job.sources.crend());
    // Stable over the reversed list, so that storing the rows again keeps the order of
    // entries for the same folder.
    std::stable_sort(rows.begin(), rows.end(), [](const TQuelle &a, const TQuelle &b) {
        return upperAscii(a.Verz) < upperAscii(b.Verz);
    });
    return rows;
}

QList<TODBC_DB> databaseRows(const TAuftrag &job)
{
    return QList<TODBC_DB>(job.databases.crbegin(), job.databases.crend());
}

bool storeJob(TAuftraege &jobs, TAuftrag &job, const TAuftrag &edited, QString *errorMessage)
{
    const auto fail = [errorMessage](const QString &message) {
        if (errorMessage)
            *errorMessage = message;
        return false;
    };
    if (edited.Name.isEmpty())
        return fail(QStringLiteral("Bitte geben Sie einen gültigen Auftragsnamen ein."));

    // Everything is made on a copy; the job takes it only once the file is written.
    TAuftrag stored = edited;
    keepBookkeeping(stored, job);
    stored.Name = uniqueName(jobs, job, edited.Name);

    stored.sources = QList<TQuelle>(edited.sources.crbegin(), edited.sources.crend());
    for (TQuelle &q : stored.sources) {
        if (q.Filter.isEmpty())
            q.Filter = QStringLiteral("*.*");
    }
    stored.databases = QList<TODBC_DB>(edited.databases.crbegin(), edited.databases.crend());

    // A start time no clock shows would leave the job with a stale next start or none:
    // it would never start, and nobody would be told.
    if (stored.autostart && !computeNextStart(stored))
        return fail(
            QStringLiteral("Die Startzeit \"%1\" ist ungültig. Bitte geben Sie eine Uhrzeit von 00:00 bis 23:59 ein.")
                .arg(stored.startzeit));

    QString message;
    if (!saveJob(stored, &message))
        return fail(message);
    job = stored;
    return true;
}
