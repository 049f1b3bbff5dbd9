// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/runlog.h"

#include "engine/runhost.h"
#include "jobs/germanformat.h"
#include "jobs/tauftrag.h"
#include "platform/clock.h"
#include "platform/filesystem.h"

#include <QDir>

namespace RunLog {

namespace {
const QString kRule = QString(45, u'#');
} // namespace

QString logFilePath(const TAuftrag &job)
{
    // Without a folder the name alone would land in whatever folder the program was started
    // from; such a job keeps its log with the job files instead.
    if (job.proto_pfad.isEmpty() && !job.scriptsFolder.isEmpty()) {
        const QString base = QDir::cleanPath(job.scriptsFolder + QStringLiteral("/.."));
        return base + QStringLiteral("/Protokolle/") + job.fileStem + QStringLiteral("/protokoll.txt");
    }
    return Platform::withTrailingSeparator(job.proto_pfad) + QStringLiteral("protokoll.txt");
}

QByteArray encodeEntry(const QString &text)
{
    // Names that are not valid UTF-8 show their bytes as "\xNN".
    return Platform::displayPath(text).toUtf8() + "\r\n";
}

void writeLogLine(TAuftrag &job, const QString &text, RunHost *host)
{
    if (!job.Proto)
        return;
    const QString path = logFilePath(job);
    if (Platform::fileAttributes(path).readOnly)
        Platform::setReadOnly(path, false);
    if (Platform::appendToFile(path, encodeEntry(text)))
        return;
    if (job.logErrorsArmed && host) {
        host->showMessage(
            QStringLiteral("Fehler beim Schreiben der Protokolldatei. \r\rMögliche Ursachen: Festplatte voll oder keine "
                           "Schreibberechtigung im angegebenen Protokollordner\rEs werden keine weiteren "
                           "Protokolldateifehler angezeigt.\r\rBackup wird trotzdem fortgesetzt."),
            QStringLiteral("Fehler"));
    }
    job.logErrorsArmed = false;
}

void writeLogHeader(TAuftrag &job, RunHost *host)
{
    writeLogLine(job, QString(), host);
    writeLogLine(job, QString(), host);
    writeLogLine(job, kRule, host);
    writeLogLine(job, QStringLiteral("   ") + GermanFormat::dateTimeValue(Clock::now()) + QStringLiteral(" Backup gestartet"),
                 host);
    writeLogLine(job, QStringLiteral("   Auftragsname: ") + job.Name, host);
    writeLogLine(job, kRule, host);
    writeLogLine(job, QString(), host);
}

} // namespace RunLog
