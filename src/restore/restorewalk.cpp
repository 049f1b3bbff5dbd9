// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restorewalk.h"

#include "engine/filetree.h"
#include "engine/setlayout.h"
#include "engine/ziparchive.h"
#include "jobs/germanformat.h"
#include "platform/filesystem.h"
#include "restore/restoremodel.h"

#include <QDir>
#include <QElapsedTimer>

#include <cerrno>

namespace
{

const QString kCaption = QStringLiteral("Wiederherstellen von Daten");
constexpr qint64 kEventIntervalMs = 20;

// A path as the messages show it: native separators, bytes that are no text as "\xNN".
QString native(const QString &path)
{
    return Platform::displayPath(QDir::toNativeSeparators(path));
}

// Every component a plain name: a saved place built from folder names never climbs out.
bool isSafeRelativeFolder(const QString &folder)
{
    if (folder.isEmpty() || !folder.endsWith(u'/'))
        return false;
    const QStringList parts = folder.chopped(1).split(u'/');
    for (const QString &part : parts) {
        if (!isSafeEntryName(part))
            return false;
    }
    return true;
}

// The "Archive.zip" of a folder, whatever the case of its name.
QString findArchive(const QString &folder)
{
    std::vector<FileTree::Entry> entries;
    if (!FileTree::listDirectory(folder, &entries))
        return QString();
    for (const FileTree::Entry &e : entries) {
        if (e.kind == Platform::FileStat::File
            && e.name.compare(QLatin1String("archive.zip"), Qt::CaseInsensitive) == 0)
            return folder + e.name;
    }
    return QString();
}

} // namespace

RestoreWalk::RestoreWalk(RestoreModel &model, RunHost &host)
    : m_model(model)
    , m_host(host)
{
}

void RestoreWalk::setRestoreFolder(bool use, const QString &folder)
{
    m_useRestoreFolder = use;
    m_restoreFolder = folder;
}

QString RestoreWalk::destinationFolder(const QString &savedPlace, const QString &restoreFolder)
{
    if (!isSafeRelativeFolder(savedPlace))
        return QString();
    if (!restoreFolder.isEmpty())
        return restoreFolder + (savedPlace.startsWith(u'_') ? savedPlace.mid(1) : savedPlace);

    const qsizetype slash = savedPlace.indexOf(u'/');
    const QString first = savedPlace.left(slash);
    const QString rest = savedPlace.mid(slash + 1);
#ifdef Q_OS_WIN
    if (first.startsWith(u'_'))
        return QStringLiteral("//") + savedPlace.mid(1);
    if (first.size() == 1 && first[0].isLetter())
        return first + QStringLiteral(":/") + rest;
    return QString();
#else
    // Drive letters and servers have no place here; only the root folder does.
    if (first == SetLayout::kRootFolder)
        return u'/' + rest;
    return QString();
#endif
}

RestoreWalk::Outcome RestoreWalk::run()
{
    // The archive kept open between its entries is closed on every way out: its medium may be ejected next.
    struct ArchiveRelease {
        ~ArchiveRelease()
        {
            releaseArchive();
        }
    } archiveRelease;
    restoredCount = skippedCount = failedCount = damagedCount = 0;
    failures.clear();

    QString restoreFolder;
    if (m_useRestoreFolder) {
        if (m_restoreFolder.trimmed().isEmpty()) {
            m_host.showMessage(
                QStringLiteral(
                    "Bitte geben Sie den Ordner an, in dem Sie die wiederhergestellten Daten ablegen möchten."),
                kCaption);
            return Outcome::NoRestoreFolder;
        }
        restoreFolder = QDir::cleanPath(QDir(QDir::fromNativeSeparators(m_restoreFolder)).absolutePath());
        if (!Platform::makePath(restoreFolder)
            || Platform::statPath(restoreFolder, true).kind != Platform::FileStat::Directory) {
            m_host.showMessage(
                QStringLiteral("Der Order, in dem die wiederhergestellten Daten abgelegt werden sollen, ist "
                               "nicht vorhanden und kann nicht erzeugt werden."),
                kCaption);
            return Outcome::RestoreFolderMissing;
        }
        if (!restoreFolder.endsWith(u'/'))
            restoreFolder += u'/';
    }
    m_resolvedFolder = restoreFolder;

    qint64 total = 0;
    for (const RestoreRecord &r : m_model.records())
        total += r.selected ? 1 : 0;
    if (total == 0)
        return Outcome::NothingSelected;

    const CancelScope cancelScope(m_host, m_cancel);
    m_host.setGauge(2, 0, total);
    m_host.setProgressVisible(true);
    m_overwriteAll = false;
    m_madeFolder.clear();
    QElapsedTimer sinceEvents;

    qint64 done = 0;
    const auto &records = m_model.records();
    for (auto it = records.rbegin(); it != records.rend() && !m_cancel.requested(); ++it) {
        if (it->selected) {
            bool cancelled = false;
            if (!restoreRecord(*it, ++done, total, &cancelled) && cancelled)
                return Outcome::Cancelled;
        }
        // Often enough for a live window and its cancel button, not after every one of many small files.
        if (!sinceEvents.isValid() || sinceEvents.elapsed() >= kEventIntervalMs) {
            m_host.processEvents();
            sinceEvents.start();
        }
        if (m_cancel.requested()) {
            Question q;
            q.text = QStringLiteral("Möchten Sie den Wiederherstellungsvorgang wirklich abbrechen?");
            q.confirmsCancel = true;
            q.icon = Icon::Warning;
            q.buttons = Answer::Yes | Answer::No;
            q.unattended = Answer::Yes; // nobody is there to change their mind
            q.caption = kCaption;
            if (m_host.ask(q) == Answer::No)
                m_cancel.withdraw();
        }
    }

    if (m_cancel.requested()) {
        finish(QStringLiteral("Der Wiederherstellungsvorgang wurde abgebrochen."));
        return Outcome::Cancelled;
    }
    finish(summary());
    return Outcome::Completed;
}

QString RestoreWalk::summary() const
{
    const int files = failedCount - damagedCount;
    QString text;
    if (files == 1)
        text = QStringLiteral("Die Wiederherstellung ist beendet, aber 1 Datei konnte nicht wiederhergestellt werden.");
    else if (files > 1)
        text = QStringLiteral("Die Wiederherstellung ist beendet, aber %1 Dateien konnten nicht wiederhergestellt "
                              "werden.")
                   .arg(files);
    if (damagedCount > 0) {
        const QString damaged = damagedCount == 1
            ? QStringLiteral("1 Teil der Sicherung ist nicht lesbar.")
            : QStringLiteral("%1 Teile der Sicherung sind nicht lesbar.").arg(damagedCount);
        text = text.isEmpty() ? QStringLiteral("Die Wiederherstellung ist beendet, aber ") + damaged
                              : text + u' ' + damaged;
    }
    return text.isEmpty() ? QStringLiteral("Daten wurden erfolgreich wiederhergestellt.") : text;
}

bool RestoreWalk::restoreRecord(const RestoreRecord &record, qint64 done, qint64 total, bool *cancelled)
{
    const QString sourceFolder = m_model.backupFolder() + record.relativeFolder;
    const QString place = RestoreModel::savedPlace(record.relativeFolder);
    m_host.setProgressLine(ProgressLine::Folder, record.name.isEmpty() ? native(sourceFolder) : native(record.name));
    m_host.setGauge(2, done, total);

    // What the scan could not read is reported here, where its files would have come back.
    if (!record.damage.isEmpty()) {
        ++failedCount;
        ++damagedCount;
        failures.append(record.damage);
        m_host.showMessage(
            record.damage + QStringLiteral("\r\rDie Dateien darin können nicht wiederhergestellt werden."), kCaption);
        return false;
    }

    if (place.startsWith(u'-')) {
        const QString database = place.mid(1).section(u'/', 0, 0);
        if (!restoreDatabase) {
            ++failedCount;
            failures.append(QStringLiteral("Datenbank: ") + database);
            m_host.showMessage(
                QStringLiteral("Die Datenbank %1 konnte nicht wiederhergestellt werden: Datenbanken können "
                               "hier nicht wiederhergestellt werden.")
                    .arg(database),
                kCaption);
            return false;
        }
        DatabaseRequest request;
        request.sourceFolder = sourceFolder;
        request.archivePath = findArchive(sourceFolder);
        request.databaseName = database;
        request.jobName = m_jobName;
        request.cancel = &m_cancel;
        request.record = &record;
        request.itemLine = record.name;
        request.gaugeProgress = done;
        request.gaugeMaximum = total;
        switch (restoreDatabase(request, m_host)) {
        case DatabaseOutcome::Restored:
            ++restoredCount;
            return true;
        case DatabaseOutcome::Skipped:
            ++skippedCount;
            return true;
        case DatabaseOutcome::Failed:
            ++failedCount;
            failures.append(QStringLiteral("Datenbank: ") + database);
            return false;
        case DatabaseOutcome::Cancelled:
            m_host.setProgressVisible(false);
            *cancelled = true;
            return false;
        }
        return false;
    }

    const QString destFolder = destinationFolder(place, m_resolvedFolder);
    if (destFolder.isEmpty()) {
        const QString reason = m_useRestoreFolder
            ? QStringLiteral("Der Ordner der Sicherung hat einen unzulässigen Namen.")
            : QStringLiteral("Dieser Ort ist auf diesem System nicht vorhanden. Bitte geben Sie einen "
                             "Ordner für die Wiederherstellung an.");
        if (record.folder)
            failFolder(RestoreModel::placeText(place), reason);
        else
            fail(RestoreModel::placeText(place) + record.name, reason);
        return false;
    }
    if (record.folder) {
        // An empty folder of the set: the folder is all there is to restore.
        if (!Platform::makePath(destFolder)) {
            const int err = errno;
            failFolder(destFolder, Platform::systemReason(err));
            return false;
        }
        ++restoredCount;
        return true;
    }
    const QString dest = destFolder + record.name;
    // A name from an archive could climb out of the destination; such an entry is never touched.
    if (!isSafeEntryName(record.name)) {
        fail(destFolder + record.name,
            QStringLiteral("Der Name ist unzulässig; die Datei wird nicht wiederhergestellt."));
        return false;
    }

    const Platform::FileStat existing = Platform::statPath(dest);
    bool replace = existing.exists();
    if (existing.exists() && !m_overwriteAll) {
        QDateTime savedDate = record.date;
        if (!savedDate.isValid()) // read without details
            savedDate = QDateTime::fromMSecsSinceEpoch(
                Platform::statPath(sourceFolder + record.name).mtimeNs / 1000000, Qt::UTC);
        Question q;
        q.text = QStringLiteral("Die Datei: \r\r   ") + native(dest) + QStringLiteral("\r\r")
            + QStringLiteral("   Datum: ")
            + GermanFormat::dateTimeValue(QDateTime::fromMSecsSinceEpoch(existing.mtimeNs / 1000000))
            + QStringLiteral("\r\r") + QStringLiteral("existiert bereits. Soll Sie mit der Datei der Datensicherung:")
            + QStringLiteral("\r\r") + QStringLiteral("   Datum: ") + GermanFormat::dateTimeValue(savedDate.toLocalTime())
            + QStringLiteral("\r\r") + QStringLiteral("überschrieben werden?");
        q.icon = Icon::Warning;
        q.buttons = Answer::Yes | Answer::No | Answer::Cancel | Answer::All;
        q.unattended = Answer::No; // never overwrite without being told
        q.caption = kCaption;
        switch (m_host.ask(q)) {
        case Answer::Yes:
            break;
        case Answer::All:
            m_overwriteAll = true;
            break;
        case Answer::Cancel:
            m_host.showMessage(QStringLiteral("Datenwiederherstellung wurde abgebrochen."), kCaption);
            m_host.setProgressVisible(false);
            *cancelled = true;
            return false;
        default:
            replace = false;
            break;
        }
    }
    // The folder is made even for a skipped file, as a restore of its folder would; once for the
    // files of one folder that come one after the other.
    if (destFolder != m_madeFolder && !Platform::makePath(destFolder)) {
        const int err = errno;
        fail(dest,
            QStringLiteral("Der Ordner %1 kann nicht angelegt werden: %2")
                .arg(native(destFolder), Platform::systemReason(err)));
        return false;
    }
    m_madeFolder = destFolder;
    if (existing.exists() && !replace) {
        ++skippedCount;
        return true;
    }

    // A file in the way is replaced only by a complete one, made under a name of its own beside
    // it and renamed over it: a failed copy, a damaged archive or a crash never loses the old
    // file. Where nothing stands, a copied file is written under its name (the rename costs a
    // fifth of a small file's time and, without a flush, guards nothing against a power loss);
    // a failure the copy sees removes it.
    QString error;
    if (record.fromArchive) {
        const QString archive
            = record.archiveName.isEmpty() ? findArchive(sourceFolder) : sourceFolder + record.archiveName;
        if (archive.isEmpty()) {
            fail(dest, QStringLiteral("Das Archiv Archive.zip fehlt im Ordner %1.").arg(native(sourceFolder)));
            return false;
        }
        if (!extractEntry(archive, destFolder, record.name, &error, [this] { m_host.processEvents(); })) {
            fail(dest, error);
            return false;
        }
    } else {
        if (!FileTree::copyFile(sourceFolder + record.name, dest, [this] { m_host.processEvents(); }, nullptr, &error,
                existing.exists() ? Platform::NewCopy::WhenComplete : Platform::NewCopy::Direct)) {
            fail(dest, error);
            return false;
        }
    }
    ++restoredCount;
    return true;
}

void RestoreWalk::fail(const QString &path, const QString &reason)
{
    ++failedCount;
    failures.append(native(path) + QStringLiteral(": ") + reason);
    m_host.showMessage(
        QStringLiteral("Die Datei %1 konnte nicht wiederhergestellt werden.\r\r%2").arg(native(path), reason),
        kCaption);
}

void RestoreWalk::failFolder(const QString &path, const QString &reason)
{
    ++failedCount;
    failures.append(native(path) + QStringLiteral(": ") + reason);
    m_host.showMessage(
        QStringLiteral("Der Ordner %1 konnte nicht wiederhergestellt werden.\r\r%2").arg(native(path), reason),
        kCaption);
}

void RestoreWalk::finish(const QString &message)
{
    m_host.showMessage(message, kCaption);
    m_host.setProgressVisible(false);
}
