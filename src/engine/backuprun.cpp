// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/backuprun.h"

#include "engine/runlog.h"
#include "engine/setlayout.h"
#include "engine/ziparchive.h"
#include "jobs/germanformat.h"
#include "jobs/jobfile.h"
#include "jobs/nextstart.h"
#include "jobs/tauftraege.h"
#include "platform/archiveattributes.h"
#include "platform/clock.h"
#include "platform/settingsstore.h"
#include "platform/systemactions.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <future>

namespace {

const QString kListHintIdle = QStringLiteral(
    "Übersicht Ihrer Backup Aufträge. \r\n\r\nKlicken Sie auf Einstellungen, um den Auftrag zu bearbeiten oder doppelt, "
    "um den Auftrag starten.");
const QString kCancelled = QStringLiteral("Das Backup wurde abgebrochen ...");
constexpr int kMaxFilesPerArchive = 32001;
constexpr qint64 kEventIntervalMs = 20;

// Paths name the same source folder when they are equal; on a case-sensitive file system
// two spellings are two folders, and merging them would leave one unsaved.
bool sameFolder(const QString &a, const QString &b)
{
    return a == b;
}

void setSuccessMarker(const QString &value)
{
    auto settings = SettingsStore::successMarkerSettings();
    settings->setValue(SettingsStore::kSuccessValue, value);
    settings->sync();
}

// Where the medium of a target was last written to, so that its absence can be told apart
// from an empty folder of the system disk.
QString mediumKey(const QString &target)
{
    return QStringLiteral("Zielmedien/") + QString::fromLatin1(target.toUtf8().toHex());
}

} // namespace

int BackupRun::Gauge::percent() const
{
    if (maximum <= 0)
        return 0;
    return int(std::min<qint64>(100, progress * 100 / maximum));
}

BackupRun::BackupRun(RunHost &host, SystemActions &actions, ArchiveAttributes &catalog)
    : m_host(host)
    , m_actions(actions)
    , m_catalog(catalog)
{
}

void BackupRun::writeLog(const QString &text)
{
    if (currentAuftrag)
        RunLog::writeLogLine(*currentAuftrag, text, &m_host);
}

void BackupRun::setLastMessage(const QString &text)
{
    QString error;
    if (!::setLastMessage(*currentAuftrag, text, &error))
        m_host.showMessage(error);
}

QString BackupRun::dateStampNow() const
{
    return GermanFormat::dateStamp(Clock::now());
}

// The "drive" of the target as the prompts show it: its mount point.
QString BackupRun::driveText() const
{
    const QString drive = Platform::driveOf(currentAuftrag->Ziel);
    return drive.isEmpty() ? currentAuftrag->Ziel.left(1) : drive;
}

void BackupRun::startAuftrag(TAuftrag &job, StartedBy how)
{
    if (jobRunning) {
        m_host.showMessage(QStringLiteral("Zur Zeit läuft bereits ein Backupauftrag"));
        outcome = Outcome::Refused;
        return;
    }
    jobRunning = true;
    outcome = Outcome::None;
    currentAuftrag = &job;
    const CancelScope cancelScope(m_host, m_cancel);
    m_startedBy = how;
    if (how == StartedBy::User)
        m_host.setJobProgressText(QStringLiteral("wird ausgeführt"));
    m_host.setJobListHint(job.hintergrundBackup
                              ? QStringLiteral("Auftrag wird durchgeführt. \r\n\r\nKlicken Sie auf den aktiven Auftrag "
                                               "doppelt, um das Statusfenster zu öffnen.")
                              : QStringLiteral("Auftrag wird durchgeführt."));

    computeNextStart(job);
    if (!job.start_before_backup.isEmpty())
        m_actions.startProgram(job.start_before_backup, job.start_before_backup_param, job.start_before_backup_wait);

    QString error;
    if (!markStarted(job, &error))
        m_host.showMessage(error);
    job.letzter_start = dateStampNow();
    if (!saveJob(job, &error))
        m_host.showMessage(error);
    job.logErrorsArmed = true;

    if (!runChecks()) {
        outcome = Outcome::ChecksFailed;
        m_host.refreshJobList(job.fileStem);
        finishStart();
        return;
    }

    if (job.Start_Meldung) {
        Question q;
        q.text = QStringLiteral("Der Backupauftrag: \"%1\" wird jetzt ausgeführt. Bitte legen Sie ein Medium im "
                                "Laufwerk %2 ein.")
                     .arg(job.Name, driveText());
        q.icon = Icon::Information;
        q.buttons = Answer::Ok | Answer::Cancel;
        q.unattended = Answer::Ok;
        if (m_host.ask(q) != Answer::Ok) {
            setLastMessage(QStringLiteral("Backup nicht gestartet. Durch Benutzer abgebrochen."));
            outcome = Outcome::PromptCancelled;
            m_host.refreshJobList(job.fileStem);
            finishStart();
            return;
        }
    }
    m_showSuccess = job.backup_ok_anzeigen;

    prepareAndRun();

    const bool shutDown = job.runterfahren;
    finishStart();
    m_host.refreshJobList(job.fileStem);
    if (shutDown) {
        syncTarget();
        m_actions.shutdown();
    }
}

// finishJob, the scheduler's countdown, and the run state back to idle.
void BackupRun::finishStart()
{
    QString error;
    if (!finishJob(*currentAuftrag, m_hooks.handOver, &error))
        m_host.showMessage(error);
    m_catalog.flush();
    m_targetSync.end();
    removeWorkFolder();
    if (m_hooks.enableKillTimer)
        m_hooks.enableKillTimer();
    jobRunning = false;
}

bool BackupRun::runChecks()
{
    TAuftrag &job = *currentAuftrag;
    bool ok = true;
    const auto fail = [&](const QString &text) {
        m_host.showMessage(text);
        setLastMessage(text);
        ok = false;
    };
    if (job.Ziel.isEmpty())
        fail(QStringLiteral("Kein Zielpfad angegeben."));
    else if (!Platform::isAbsolutePath(job.Ziel))
        fail(QStringLiteral("Kein Ziellaufwerk angegeben."));
    if (job.sources.isEmpty() && job.databases.isEmpty())
        fail(QStringLiteral("Keine zu sichernden Daten angegeben."));
    return ok;
}

void BackupRun::prepareAndRun()
{
    TAuftrag &job = *currentAuftrag;
    errorCount = 0;
    filesCopied = 0;
    filesPacked = 0;
    kbCopied = 0;
    kbPacked = 0;
    dbFilesCopied = 0;
    kbDbCopied = 0;
    databaseCount = 0;

    makeSetFolder();
    if (job.pruefe_platz && !m_cancel.stopped()) {
        checkFreeSpace();
        if (m_cancel.stopped()) {
            outcome = Outcome::SpaceRefused;
            return;
        }
    }
    // Only a log file is deleted; whatever else stands in its place is the user's.
    if (job.proto_loeschen && job.Proto && Platform::statPath(RunLog::logFilePath(job)).kind == Platform::FileStat::File)
        Platform::removeFile(RunLog::logFilePath(job));
    RunLog::writeLogHeader(job, &m_host);
    setSuccessMarker(QStringLiteral("0"));
    m_host.setStatusText(QStringLiteral("Backupvorgang wird durchgeführt ..."));
    m_host.setTrayHint(QStringLiteral("Backupauftrag wird ausgeführt ..."));
    setLastMessage(QStringLiteral("Start des Backupauftrages"));

    executeBackup();

    m_host.setStatusText(QString());
}

void BackupRun::executeBackup()
{
    TAuftrag &job = *currentAuftrag;
    // Stable, so entries of the same folder keep their order.
    std::stable_sort(job.sources.begin(), job.sources.end(), [](const TQuelle &a, const TQuelle &b) {
        return upperAscii(a.Verz) < upperAscii(b.Verz);
    });
    sourceShare = job.sources.size() <= 60 ? 100 : 10;
    sourceDirCount = 1;
    for (qsizetype i = 1; i < job.sources.size(); ++i) {
        if (!sameFolder(job.sources[i - 1].Verz, job.sources[i].Verz))
            ++sourceDirCount;
    }
    m_gauge2 = {0, qint64(sourceDirCount) * sourceShare};
    showGauge(2);
    m_shownPercent = -1;
    showPercent();
    if (!job.hintergrundBackup)
        m_host.setProgressVisible(true);

    runSources();
    if (!m_cancel.requested())
        endRun();

    if (m_cancel.requested()) {
        m_host.showMessage(QStringLiteral("Sicherungsvorgang wurde vorzeitig abgebrochen."));
        writeLog(QStringLiteral("Sicherungsvorgang wurde durch den Benutzer abgebrochen."));
        setLastMessage(QStringLiteral("Abbruch durch Benutzer"));
        m_cancel.withdraw();
        outcome = Outcome::Cancelled;
    }
    m_host.setProgressVisible(false);
    jobRunning = false;
    m_host.setJobListHint(kListHintIdle);
}

void BackupRun::runSources()
{
    TAuftrag &job = *currentAuftrag;
    kbPacked = 0;
    sourceIndex = 0;
    qsizetype i = 0;
    while (i < job.sources.size()) {
        const TQuelle &first = job.sources[i];
        sourceDir = first.Verz;
        m_host.setProgressLine(ProgressLine::Folder, sourceDir);
        QStringList masks = FileTree::splitMasks(first.Filter);
        qsizetype next = i + 1;
        while (next < job.sources.size() && sameFolder(job.sources[next].Verz, sourceDir)) {
            masks += FileTree::splitMasks(job.sources[next].Filter);
            ++next;
        }
        const bool includeSubdirs = first.SubDir;
        i = next;

        m_host.setProgressLine(ProgressLine::FolderCount,
                               QStringLiteral("Verzeichnis %1 von %2").arg(QString::number(sourceIndex + 1), QString::number(sourceDirCount)));
        sourceDir = Platform::withTrailingSeparator(sourceDir);

        if (!m_cancel.stopped() && Platform::statPath(sourceDir, true).kind != Platform::FileStat::Directory) {
            const QString skipped = QStringLiteral("Verzeichnis \"%1\" existiert nicht mehr. Das Verzeichnis wurde "
                                                   "übersprungen.")
                                        .arg(sourceDir);
            if (job.fehler_anzeigen) {
                Question q;
                q.text = QStringLiteral("Das Verzeichnis:\r\r%1\r\rexistiert nicht. Das Verzeichnis wird übersprungen. "
                                        "Wollen Sie die Datensicherung fortfahren?")
                             .arg(sourceDir);
                q.icon = Icon::Error;
                q.buttons = Answer::Yes | Answer::No;
                q.unattended = Answer::Yes;
                if (m_host.ask(q) != Answer::Yes) {
                    m_cancel.stop();
                    writeLog(kCancelled);
                    setLastMessage(QStringLiteral("Abbruch durch den Benutzer."));
                }
            }
            ++errorCount;
            writeLog(skipped);
        }
        if (!m_cancel.stopped())
            backupSource(masks, includeSubdirs);
        if (m_cancel.requested())
            return;
        ++sourceIndex;
    }
}

void BackupRun::endRun()
{
    TAuftrag &job = *currentAuftrag;
    if (!m_cancel.stopped()) {
        if (m_hooks.backUpDatabases)
            m_hooks.backUpDatabases(*this);
        else
            databaseCount = int(job.databases.size());
    }
    const bool mailWanted = job.email && job.Proto && (!job.email_bei_fehler || errorCount > 0);
    const QString subject = job.email_subject + QStringLiteral(" - %1 Fehler").arg(errorCount);
    if (m_cancel.stopped()) {
        if (mailWanted && m_hooks.mailLog)
            m_hooks.mailLog(*this, subject);
        outcome = Outcome::Aborted;
        return;
    }

    // The set is complete on the medium before anything says so: a user may pull the medium then.
    writeInfoFile();
    if (!syncTarget()) {
        ++errorCount;
        writeLog(QStringLiteral("Die Sicherung konnte nicht vollständig auf das Ziellaufwerk geschrieben werden: ")
                 + m_syncError);
    } else if (!m_mediumMissing) {
        rememberMedium();
    }

    if (errorCount == 0) {
        writeLog(QStringLiteral("Es trat kein Fehler auf."));
        setLastMessage(QStringLiteral("Erfolgreich. Kein Fehler!"));
    } else if (errorCount == 1) {
        writeLog(QStringLiteral("Es trat 1 Fehler auf."));
        setLastMessage(QStringLiteral("Erfolgreich. 1 nicht kritischer Fehler!"));
    } else {
        writeLog(QStringLiteral("Es traten %1 Fehler auf.").arg(errorCount));
        setLastMessage(QStringLiteral("Erfolgreich. %1 nicht kritische Fehler!").arg(errorCount));
    }
    const QString mb = GermanFormat::decimal(kbDbCopied / 1024, 2);
    const QString dbSentence =
        databaseCount == 1
            ? QStringLiteral("\r\n\r\nVon 1 ausgewählten Datenbank wurde %1 gesichert. (Verpackte Größe: %2 MB)")
                  .arg(QString::number(dbFilesCopied), mb)
            : QStringLiteral("\r\n\r\nVon %1 ausgewählten Datenbanken wurden %2 gesichert. (Verpackte Größe: %3 MB)")
                  .arg(QString::number(databaseCount), QString::number(dbFilesCopied), mb);
    writeLog(QStringLiteral("Backup erfolgreich beendet. "));
    job.Zuletzt_Ausgefuehrt = dateStampNow();
    const QString summary =
        (job.komprimieren ? QStringLiteral("Es wurden %1 Dateien mit %2 MB in %3 komprimierten Archiven mit %4 MB gesichert.")
                                .arg(QString::number(filesPacked),
                                     GermanFormat::decimal(kbPacked / 1024, 2),
                                     QString::number(filesCopied),
                                     GermanFormat::decimal(kbCopied / 1024, 2))
                          : QStringLiteral("Es wurden %1 Dateien mit %2 MB gesichert.")
                                .arg(QString::number(filesCopied), GermanFormat::decimal(kbCopied / 1024, 2)))
        + dbSentence;
    writeLog(summary);
    setSuccessMarker(QStringLiteral("1"));

    if (m_showSuccess)
        m_host.showMessage(QStringLiteral("Backup erfolgreich durchgeführt.\r\r") + summary);
    const QString logFile = RunLog::logFilePath(job);
    if (job.proto_nach_sicherung_anzeigen && job.Proto)
        m_host.viewLog(logFile);
    if (job.proto_drucken && job.Proto)
        m_host.printLog(logFile, job.Drucker);
    if (mailWanted && m_hooks.mailLog)
        m_hooks.mailLog(*this, subject);
    if (!job.start_after_backup.isEmpty())
        m_actions.startProgram(job.start_after_backup, job.start_after_backup_param, job.start_after_backup_wait);
    if (m_startedBy == StartedBy::CommandLine)
        m_host.requestClose();
    if (job.autostart && startedMinimized) {
        m_host.minimizeMainWindow();
        startedMinimized = false;
    }
    if (job.cd_auswerfen) {
        QString reason;
        if (!m_actions.ejectMedium(job.Ziel, &reason)) {
            if (job.fehler_anzeigen)
                m_host.showMessage(QStringLiteral("Konnte Medium nicht auswerfen."));
            writeLog(QStringLiteral("Konnte Medium %1 nach abgeschlossenem Backup nicht auswerfen.").arg(driveText()));
        }
    }
    job.Status = 0;
    outcome = Outcome::Completed;
}

void BackupRun::writeInfoFile()
{
    const QString path = setFolder + QStringLiteral("datum.txt");
    const QByteArray content =
        (QStringLiteral("Die letzte Sicherung auf diesem Medium ist vom ") + GermanFormat::dateTimeValue(Clock::now()))
            .toUtf8();
    if (m_mediumMissing || !Platform::writeNewFile(path, content)) {
        const QString text = QStringLiteral("Fehler beim Erstellen der Info-Datei: \"%1\"").arg(path);
        if (currentAuftrag->fehler_anzeigen)
            m_host.showMessage(text);
        writeLog(text);
    }
}

void BackupRun::makeSetFolder()
{
    TAuftrag &job = *currentAuftrag;
    const QString target = Platform::withTrailingSeparator(job.Ziel);
    setFolder = target + SetLayout::setFolderName(job, Clock::now().date()) + u'/';
    m_synced = false;
    m_targetSync.end();
    m_mediumMissing = targetMediumMissing();
    if (m_mediumMissing)
        return; // nothing is made on the disk that holds the empty mount point
    prepareTarget();
}

// The target folder, and the marker of a fixed-name set, once the medium is there.
void BackupRun::prepareTarget()
{
    TAuftrag &job = *currentAuftrag;
    // A folder that cannot be made shows in the copies, which ask for a medium.
    (void)Platform::makePath(Platform::withTrailingSeparator(job.Ziel));
    // The medium writes while the run copies; without a handle the end of the run syncs by name.
    (void)m_targetSync.begin(job.Ziel);
    if (job.ueberschreiben) {
        (void)Platform::makePath(setFolder);
        const QString marker = setFolder + SetLayout::kFixedSetMarker;
        Platform::removeFile(marker);
        (void)Platform::writeNewFile(marker, QByteArray()); // a set without its marker is still read by its name
    }
}

// Folders on the target are made only while its medium is there. A folder that cannot be made
// for a plain reason (no space, no permission, the medium gone) is left to the copies of its
// files, which ask; anything else (a file in its place, a name the file system refuses) ends
// the run when messageFolder names the place for the message.
bool BackupRun::makeTargetFolder(const QString &path, const QString &messageFolder)
{
    if (m_mediumMissing || Platform::makePath(path))
        return true;
    const int err = errno;
    switch (err) {
    case ENOENT:
    case ENOSPC:
    case EDQUOT:
    case EACCES:
    case EPERM:
    case EROFS:
    case EIO:
        return true;
    default:
        break;
    }
    if (messageFolder.isEmpty())
        return true;
    const QString text = QStringLiteral("Zielverzeichnis %1 konnte nicht erstellt werden.").arg(messageFolder);
    m_host.showMessage(text);
    writeLog(text);
    writeLog(QStringLiteral("  Ursache: ") + Platform::systemReason(err));
    setLastMessage(text);
    m_cancel.stop();
    return false;
}

// A target below a mount point whose medium is not there, or on another file system than the
// one the job last wrote to, is a missing medium: never a folder on the system disk.
bool BackupRun::targetMediumMissing() const
{
    const QString target = currentAuftrag->Ziel;
    const QString last = SettingsStore::programSettings()->value(mediumKey(target)).toString();
    return Platform::mediumMissing(target, last);
}

void BackupRun::rememberMedium()
{
    auto settings = SettingsStore::programSettings();
    settings->setValue(mediumKey(currentAuftrag->Ziel), Platform::driveOf(setFolder));
    settings->sync();
}

// Writes the set back to the medium; false with m_syncError when the medium reports a failure.
bool BackupRun::syncTarget()
{
    if (m_synced || m_mediumMissing || setFolder.isEmpty())
        return true;
    m_synced = true;
    if (!Platform::statPath(setFolder).exists()) {
        m_targetSync.end();
        return true; // no set folder: nothing was written
    }
    // Writing a large set back to the medium takes seconds: the window stays alive meanwhile.
    QString error;
    auto synced = std::async(std::launch::async, [this, folder = setFolder, &error] {
        if (m_targetSync.isActive())
            return m_targetSync.finish(&error);
        return Platform::syncFileSystem(folder, &error);
    });
    while (synced.wait_for(std::chrono::milliseconds(kEventIntervalMs)) != std::future_status::ready)
        m_host.processEvents();
    const bool ok = synced.get();
    m_syncError = error;
    return ok;
}

bool BackupRun::isDue(const QString &folder, const QString &name, const Platform::FileStat &st) const
{
    return currentAuftrag->Gesamtsicherung || m_catalog.isSet(folder, name, st);
}

namespace {

// A name as the walk's record of a folder holds it; the lowest bit is free for the mark "due".
quint64 nameKey(const QString &name)
{
    return quint64(qHash(QStringView(name), size_t(0x7265'7661'6c6f)) & ~quint64(1));
}

} // namespace

/*
 * The count before a source is saved looks at each file once: for the free-space check (sizes)
 * and for an incremental run (whether the file changed). An incremental run remembers what
 * it found (recordDue), so that the walk that saves the files need not look at them again;
 * a full run needs no look at all, the copy takes the file's state when it opens it.
 */
qint64 BackupRun::countFiles(const QString &relPath,
                             const QList<FileTree::Mask> &masks,
                             bool includeSubdirs,
                             bool showStatus)
{
    const bool full = currentAuftrag->Gesamtsicherung;
    const Platform::ListDetail detail = showStatus || !full ? Platform::ListDetail::Files : Platform::ListDetail::Kinds;
    const bool record = m_recordDue && !full;
    qint64 count = 0;
    // Counting needs no order: the folders come as the walk lists them.
    Platform::walkFolders(sourceDir + relPath, includeSubdirs, detail,
                          [&](const QString &below, std::vector<FileTree::Entry> &entries) {
        const QString folderRel = relPath + below;
        if (showStatus && !below.isEmpty())
            m_host.setStatusText(QStringLiteral("Platz wird geprüft ... ") + folderRel.chopped(1));
        const QString folder = sourceDir + folderRel;
        // Whether each file is due, asked once whatever number of masks match it.
        std::vector<signed char> due(entries.size(), -1);
        const auto isDueAt = [&](size_t i) {
            if (due[i] < 0)
                due[i] = isDue(folder, entries[i].name, entries[i].stat) ? 1 : 0;
            return due[i] == 1;
        };
        for (const FileTree::Mask &mask : masks) {
            for (size_t i = 0; i < entries.size(); ++i) {
                const FileTree::Entry &e = entries[i];
                if (e.kind == Platform::FileStat::File && mask.matches(e.name) && isDueAt(i)) {
                    ++count;
                    bytesCounted += double(e.stat.size);
                }
            }
        }
        if (record) {
            std::vector<quint64> seen;
            seen.reserve(entries.size());
            for (size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].kind == Platform::FileStat::File)
                    seen.push_back(nameKey(entries[i].name) | (due[i] == 1 ? 1 : 0));
            }
            std::sort(seen.begin(), seen.end());
            m_seenFiles.insert(folderRel, std::move(seen));
        }
        keepAlive();
    });
    return count;
}

void BackupRun::backupSource(const QStringList &maskList, bool includeSubdirs)
{
    makeTargetFolder(setFolder);
    m_masks = FileTree::compileMasks(maskList);
    m_mapped = SetLayout::mappedSource(sourceDir);
    bytesCounted = 0;
    m_seenFiles.clear();
    m_recordDue = true;
    m_gauge1 = {0, countFiles(QString(), m_masks, includeSubdirs, false)};
    m_recordDue = false;
    showGauge(1);
    makeTargetFolder(setFolder + m_mapped);
    backupDirectory(QString(), includeSubdirs);
    m_seenFiles.clear();
    m_seenFiles.squeeze();
}

// Due by what the count found; a file the count did not see (made since) is looked at now.
bool BackupRun::isDueNow(const std::vector<quint64> *seen, const QString &relPath, const FileTree::Entry &e) const
{
    if (currentAuftrag->Gesamtsicherung)
        return true;
    if (seen) {
        const quint64 key = nameKey(e.name);
        const auto it = std::lower_bound(seen->begin(), seen->end(), key);
        if (it != seen->end() && (*it & ~quint64(1)) == key) {
            // Two names with one key (not met in practice) count as due: saved twice rather than not at all.
            const bool shared = it + 1 != seen->end() && (*(it + 1) & ~quint64(1)) == key;
            return shared || (*it & 1) != 0;
        }
    }
    const QString folder = sourceDir + relPath;
    return isDue(folder, e.name, e.looked ? e.stat : Platform::statPath(folder + e.name));
}

void BackupRun::backupDirectory(const QString &relPath, bool includeSubdirs)
{
    TAuftrag &job = *currentAuftrag;
    const QString &mapped = m_mapped;
    QStringList archiveList;
    if (m_cancel.stopped())
        return;

    std::vector<FileTree::Entry> entries;
    QString listError;
    if (!FileTree::listDirectory(sourceDir + relPath, &entries, &listError, Platform::ListDetail::Kinds)) {
        if (errno == ENOENT) {
            // A missing source folder was reported already; a vanished subfolder has nothing to save.
            if (!job.proto_ausfuehrlich)
                writeLog(QStringLiteral("Verzeichnis gesichert: ") + sourceDir + relPath);
            return;
        }
        // An unreadable folder would otherwise vanish from the set without a word.
        ++errorCount;
        writeLog(QStringLiteral("Verzeichnis \"%1%2\" konnte nicht gelesen werden: %3").arg(sourceDir, relPath, listError));
        return;
    }
    const auto seenAt = m_seenFiles.constFind(relPath);
    const std::vector<quint64> *seen = seenAt == m_seenFiles.cend() ? nullptr : &*seenAt;

    for (const FileTree::Mask &mask : std::as_const(m_masks)) {
        for (const FileTree::Entry &e : entries) {
            if (e.kind == Platform::FileStat::Other && mask.matches(e.name)) {
                writeLog(QStringLiteral("Datei \"%1\" ist keine gewöhnliche Datei und wurde übersprungen.")
                             .arg(sourceDir + relPath + e.name));
            } else if (e.kind == Platform::FileStat::File && mask.matches(e.name)) {
                if (isDueNow(seen, relPath, e)) {
                    const QString path = sourceDir + relPath + e.name;
                    if (job.komprimieren)
                        addFileForArchive(&archiveList, path);
                    else
                        copyFileToTarget(path, setFolder + mapped + relPath + e.name, true);
                }
            }
            if (m_cancel.requested() || m_cancel.stopped())
                return;
        }
    }

    if (includeSubdirs) {
        for (const FileTree::Entry &e : entries) {
            if (e.kind == Platform::FileStat::Symlink) {
                writeLog(QStringLiteral("Verknüpfung \"%1%2%3\" wurde nicht verfolgt.").arg(sourceDir, relPath, e.name));
                continue;
            }
            if (e.kind != Platform::FileStat::Directory)
                continue;
            if (!makeTargetFolder(setFolder + mapped + relPath + e.name, setFolder + mapped))
                return;
            backupDirectory(relPath + e.name + u'/', includeSubdirs);
            if (m_cancel.stopped())
                return;
        }
    }

    if (!job.proto_ausfuehrlich)
        writeLog(QStringLiteral("Verzeichnis gesichert: ") + sourceDir + relPath);
    if (job.komprimieren && !archiveList.isEmpty())
        packDirectory(archiveList, sourceDir + relPath, setFolder + mapped + relPath);
}

bool BackupRun::addFileForArchive(QStringList *list, const QString &path)
{
    TAuftrag &job = *currentAuftrag;
    const QString skipped =
        QStringLiteral("Datei \"%1\" konnte nicht geöffnet werden und wurde übersprungen (nicht gesichert)").arg(path);
    for (;;) {
        if (Platform::canOpenForReading(path)) {
            list->append(path);
            return true;
        }
        if (!job.fehler_anzeigen) {
            writeLog(skipped);
            ++errorCount;
            return false;
        }
        Question q;
        q.text = QStringLiteral("Die Datei \"%1\" kann nicht geöffnet werden. Wahrscheinlich wird sie zur Zeit benutzt. "
                                "Bitte schließen sie alle Anwendungen und klicken Sie auf Wiederholen.")
                     .arg(path);
        q.icon = Icon::Warning;
        q.buttons = Answer::Cancel | Answer::Retry | Answer::Ignore;
        q.unattended = Answer::Ignore;
        const Answer::Button a = m_host.ask(q);
        if (a == Answer::Retry)
            continue;
        if (a == Answer::Ignore) {
            writeLog(skipped);
            ++errorCount;
            return false;
        }
        writeLog(QStringLiteral("Datei \"%1\" konnte nicht geöffnet werden.").arg(path));
        m_cancel.request();
        m_cancel.stop();
        return false;
    }
}

void BackupRun::packDirectory(const QStringList &files, const QString &sourcePath, const QString &targetFolder)
{
    TAuftrag &job = *currentAuftrag;
    if (files.size() > kMaxFilesPerArchive) {
        if (job.fehler_anzeigen) {
            m_host.showMessage(QStringLiteral("Das Verzeichnis %1 hat zu viele Dateien (%2) und kann nicht verpackt werden. "
                                              "Es sind maximal %3 Dateien erlaubt. Löschen Sie einige Dateien oder sichern "
                                              "sie \"unkomprimiert\".")
                                   .arg(sourcePath, QString::number(files.size()), QString::number(kMaxFilesPerArchive)));
        }
        writeLog(QStringLiteral("Verzeichnis nicht gesichert (zu viele Dateien zum komprimieren, max. %1): %2")
                     .arg(QString::number(kMaxFilesPerArchive), sourcePath));
        ++errorCount;
        return;
    }

    const QString work = workArchivePath();
    if (work.isEmpty()) {
        copyFailed(job.tempFolder() + QStringLiteral("Archive.zip"), m_workFolderError);
        return;
    }
    Platform::removeFile(work);
    m_host.setProgressLine(ProgressLine::Target, QString());
    m_host.setProgressLine(ProgressLine::FileCount,
                           QStringLiteral("Komprimiere Datei %1 von %2")
                               .arg(QString::number(m_gauge1.progress), QString::number(m_gauge1.maximum)));

    ZipProgress progress;
    progress.message = [this](const QString &line) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            return;
        ++m_gauge1.progress;
        showGauge(1);
        m_host.setProgressLine(ProgressLine::Source, QStringLiteral("Verpacke : ") + line.mid(colon + 1));
    };
    progress.keepAlive = [this] { keepAlive(); };

    ZipResult result;
    for (;;) {
        QString error;
        if (zipFiles(work, files, progress, &result, &error))
            break;
        Platform::removeFile(work);
        // A failed archive is a failed copy of everything in it: the user decides, nothing is silently lost.
        const FailureChoice choice = copyFailed(work, error);
        if (choice == FailureChoice::Retry)
            continue;
        if (choice == FailureChoice::Ignore)
            progressStep(true);
        return;
    }
    // A file that vanished or could not be read is missing from the archive; the others are in it.
    for (const ZipResult::Skipped &skipped : result.skipped) {
        ++errorCount;
        writeLog(QStringLiteral("Konnte Datei %1 nicht sichern.").arg(skipped.path));
        writeLog(QStringLiteral("  Ursache: ") + skipped.reason);
    }
    if (result.packed.empty()) {
        Platform::removeFile(work);
        return;
    }
    const bool saved = copyWorkFileToTarget(work, targetFolder + QStringLiteral("Archive.zip"), true);
    Platform::removeFile(work);
    if (!saved)
        return; // nothing of this folder is in the set, and nothing is said to be
    for (const ZipResult::Packed &packed : result.packed) {
        if (job.proto_ausfuehrlich)
            writeLog(QStringLiteral("  -> Archive.zip: ") + packed.path);
        kbPacked += double(packed.stat.size / 1024);
        // Safely in the set: the next incremental run need not take the file again.
        m_catalog.clear(packed.path, packed.stat);
    }
    filesPacked += qint64(result.packed.size());
}

// The run's own work folder in the temporary folder, made once per run with a name nobody can
// guess and for the owner only; the archive in it keeps its name "Archive.zip".
QString BackupRun::workArchivePath()
{
    if (m_workFolder.isEmpty()) {
        m_workFolder = Platform::makePrivateFolder(currentAuftrag->tempFolder(), QStringLiteral("trevalo-"),
                                                   &m_workFolderError);
        if (m_workFolder.isEmpty())
            return QString();
    }
    return m_workFolder + QStringLiteral("Archive.zip");
}

void BackupRun::removeWorkFolder()
{
    if (m_workFolder.isEmpty())
        return;
    Platform::removeFile(m_workFolder + QStringLiteral("Archive.zip"));
    Platform::removeDirectory(m_workFolder);
    m_workFolder.clear();
}

bool BackupRun::copyDumpIntoSet(const QString &workFile, const QString &target)
{
    const QString folder = target.left(target.lastIndexOf(u'/'));
    if (!makeTargetFolder(folder, folder + u'/'))
        return false;
    return copyToTarget(workFile, target, false, false);
}

bool BackupRun::copyFileToTarget(const QString &source, const QString &target, bool isSourceFile)
{
    return copyToTarget(source, target, isSourceFile, true);
}

bool BackupRun::copyWorkFileToTarget(const QString &source, const QString &target, bool isSourceFile)
{
    return copyToTarget(source, target, isSourceFile, false);
}

bool BackupRun::copyToTarget(const QString &source, const QString &target, bool isSourceFile, bool clearArchiveBit)
{
    TAuftrag &job = *currentAuftrag;
    m_host.setProgressLine(ProgressLine::Source, source);
    m_host.setProgressLine(ProgressLine::Target, target);

    bool retry = false;
    bool copied = false;
    for (;;) {
        if (retry) {
            // A newly inserted medium gets the folder.
            const bool wasMissing = m_mediumMissing;
            m_mediumMissing = targetMediumMissing();
            if (wasMissing && !m_mediumMissing)
                prepareTarget();
            if (!m_mediumMissing)
                (void)Platform::makePath(target.left(target.lastIndexOf(u'/')));
        }
        Platform::FileStat st;
        QString error;
        bool ok = false;
        if (m_mediumMissing)
            error = QStringLiteral("Das Ziellaufwerk %1 ist nicht bereit.").arg(driveText());
        else
            ok = FileTree::copyFile(source, target, [this] { keepAlive(); }, &st, &error);
        if (ok) {
            copied = true;
            m_targetSync.written(st.size);
            if (clearArchiveBit)
                m_catalog.clear(source, st);
            if (job.proto_ausfuehrlich)
                writeLog(QStringLiteral("Gesichert:  ") + source);
            if (isSourceFile) {
                ++filesCopied;
                kbCopied += double(st.size / 1024);
            } else {
                ++dbFilesCopied;
                kbDbCopied += double(st.size / 1024);
            }
            break;
        }
        const FailureChoice choice = copyFailed(source, error);
        if (choice == FailureChoice::Retry) {
            retry = true;
            continue;
        }
        if (choice == FailureChoice::Cancel || !job.fehler_anzeigen)
            return false; // no progress step
        break;      // ignored: counted, and the gauge moves on
    }
    progressStep(isSourceFile);
    keepAlive();
    if (m_cancel.requested())
        confirmCancel();
    return copied;
}

BackupRun::FailureChoice BackupRun::copyFailed(const QString &source, const QString &reason)
{
    TAuftrag &job = *currentAuftrag;
    const QString notSaved = QStringLiteral("Konnte Datei %1 nicht sichern.").arg(source);
    const QString why = QStringLiteral("  Ursache: ") + reason;
    if (!job.fehler_anzeigen) {
        ++errorCount;
        writeLog(notSaved);
        writeLog(why);
        return FailureChoice::Ignore;
    }
    Question q;
    q.text = QStringLiteral("Fehler beim Kopieren der Datei: \"") + source
        + QStringLiteral("\" Entweder die Datei ist bereits geöffnet,") + QStringLiteral("oder der Zieldatenträger ist voll. Sie können jetzt ein neues ")
        + QStringLiteral("Medium einlegen. Klicken Sie anschließend auf Wiederholen") + QStringLiteral("\r\r")
        + QStringLiteral("Wiederholen  --> Das Programm versucht erneut die Datei zu kopieren.") + u'\r'
        + QStringLiteral("Ignorieren      --> Das Programm überspringt diese Datei.") + u'\r'
        + QStringLiteral("Abbruch        --> Das Programm wird beendet. Es wurde kein vollständiges Backup durchgeführt");
    q.icon = Icon::Error;
    q.buttons = Answer::Cancel | Answer::Retry | Answer::Ignore;
    q.unattended = Answer::Ignore;
    const Answer::Button a = m_host.ask(q);
    if (a == Answer::Retry)
        return FailureChoice::Retry;
    if (a == Answer::Ignore) {
        writeLog(notSaved);
        writeLog(why);
        ++errorCount;
        return FailureChoice::Ignore;
    }
    setLastMessage(QStringLiteral("Fehler beim Schreiben auf Ziellaufwerk."));
    writeLog(kCancelled);
    m_cancel.stop();
    return FailureChoice::Cancel;
}

void BackupRun::progressStep(bool isSourceFile)
{
    if (!isSourceFile) {
        m_host.setProgressLine(ProgressLine::Source, QStringLiteral("Alle Tabellen ausgelesen."));
        m_host.setProgressLine(ProgressLine::Target, QStringLiteral("Datenbank wird jetzt in Sicherungspfad kopiert ..."));
        return;
    }
    ++m_gauge1.progress;
    showGauge(1);
    const double share =
        m_gauge1.maximum > 0 ? std::nearbyint(double(m_gauge1.progress) / double(m_gauge1.maximum) * sourceShare) : 0.0;
    m_gauge2.progress = qint64(share) + qint64(sourceShare) * sourceIndex;
    showGauge(2);
    showPercent();
    m_host.setProgressLine(ProgressLine::FileCount,
                           QStringLiteral("Datei %1 von %2").arg(QString::number(m_gauge1.progress), QString::number(m_gauge1.maximum)));
}

// The job list's cell and the tray's hint, made anew only when the percentage changes.
void BackupRun::showPercent()
{
    const int percent = m_gauge2.percent();
    if (percent == m_shownPercent)
        return;
    m_shownPercent = percent;
    const QString cell = QStringLiteral("aktiv (Dateien: %1 %)").arg(percent);
    m_host.setJobProgressText(cell);
    m_host.setTrayHint(currentAuftrag->Name + u' ' + cell);
}

// Pending events are handled often enough for a live window and its cancel button, but not
// after every one of many small files, where it would cost more than the copy.
void BackupRun::keepAlive()
{
    if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < kEventIntervalMs)
        return;
    m_host.processEvents();
    m_sinceEvents.start();
}

void BackupRun::showGauge(int which)
{
    const Gauge &g = which == 1 ? m_gauge1 : m_gauge2;
    m_host.setGauge(which, g.progress, g.maximum);
}

void BackupRun::confirmCancel()
{
    Question q;
    q.text = QStringLiteral("Möchten Sie den Sicherungsvorgang wirklich abbrechen?");
    q.confirmsCancel = true;
    q.icon = Icon::Warning;
    q.buttons = Answer::Yes | Answer::No;
    q.unattended = Answer::Yes;
    if (m_host.ask(q) != Answer::Yes)
        m_cancel.withdraw();
}

QString BackupRun::shortfallText(double bytes)
{
    QString unit = QStringLiteral("Byte");
    int decimals = 0;
    double value = bytes;
    if (value > 1024) {
        value /= 1024;
        unit = QStringLiteral("KB");
        if (value > 1024) {
            value /= 1024;
            unit = QStringLiteral("MB");
            decimals = 2;
        }
    }
    QString number = QString::number(value, 'f', decimals);
    number.replace(u'.', u',');
    return number + u' ' + unit;
}

bool BackupRun::checkFreeSpace()
{
    TAuftrag &job = *currentAuftrag;
    m_host.setStatusText(QStringLiteral("Platz wird geprüft ..."));
    double needed = 0;
    const QString savedSourceDir = sourceDir;
    for (const TQuelle &q : std::as_const(job.sources)) {
        sourceDir = Platform::withTrailingSeparator(q.Verz);
        const QList<FileTree::Mask> masks = FileTree::compileMasks(FileTree::splitMasks(q.Filter));
        m_host.setStatusText(QStringLiteral("Platz wird geprüft ... ") + sourceDir);
        bytesCounted = 0;
        countFiles(QString(), masks, q.SubDir, true);
        needed += bytesCounted;
    }
    sourceDir = savedSourceDir;

    for (;;) {
        // Without its medium the target has no room: the question lets the user insert it.
        const bool wasMissing = m_mediumMissing;
        m_mediumMissing = targetMediumMissing();
        if (wasMissing && !m_mediumMissing)
            prepareTarget();
        const double free = m_mediumMissing ? 0.0 : double(Platform::freeSpace(setFolder));
        if (free > needed) {
            m_host.setStatusText(QString());
            return true;
        }
        const double shortfall = needed - free;
        Question q;
        q.text = QStringLiteral("Platz auf Zieldatenträger reicht für Backup nicht aus! Wenn Sie einen Wechseldatenträger "
                                "besitzen, können Sie jetzt das Medium wechseln, und den Test erneut durchführen. Sie "
                                "bebötigen weitere ")
            + shortfallText(shortfall) + QStringLiteral(" auf dem Zieldatenträger.") + QStringLiteral("\r\r")
            + QStringLiteral("Wiederholen --> Erneute Prüfung des freien Platzes") + u'\r'
            + QStringLiteral("OK                --> Backup trotzdem durchführen (Medium später wechseln)") + u'\r'
            + QStringLiteral("Abbruch        --> zurück zum Startbildschirm");
        q.icon = Icon::Warning;
        q.buttons = Answer::Ok | Answer::Cancel | Answer::Retry;
        q.unattended = Answer::Ok;
        const Answer::Button a = m_host.ask(q);
        if (a == Answer::Retry)
            continue;
        if (a == Answer::Ok) {
            m_host.setStatusText(QString());
            return true;
        }
        m_cancel.stop();
        setLastMessage(QStringLiteral("Nicht genügend Platz auf Ziellaufwerk."));
        return false;
    }
}
