// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the backup sets in a folder and listing what they hold.
#pragma once

#include <QString>

class RestoreModel;

/**
 * What the scan shows while it works ("Verzeichnisliste erstellen"). The restore dialog
 * implements it with its progress window; every member does nothing by default.
 */
class ScanProgress
{
public:
    virtual ~ScanProgress() = default;
    /// The folder line: the folder being listed, or the text of the set just finished.
    virtual void setFolderLine(const QString &text);
    /// "Gefundene Datensicherungen: " + count.
    virtual void setFoundText(const QString &text);
    /// Appends a line to the memo.
    virtual void appendLine(const QString &text);
    /// Appends text to the memo's last line.
    virtual void appendToLastLine(const QString &text);
    /// Lets the window repaint and its cancel button work: after every set, and every 50 ms while a set is read.
    virtual void processEvents();
    /// The user asked to stop the scan; read after every processEvents().
    virtual bool cancelRequested();
};

/**
 * Empties model and fills it with the sets directly below backupFolder:
 * dated set folders ("B-T02071226-Buchhaltung") and fixed-name ones ("B-T01-Buchhaltung",
 * only with their "file" marker, which dates them). With a jobFilter only sets of that
 * job name count. Each set becomes a top-level node with its folders below it; the files
 * of folders below the drive, server, database and root folders become records, and in
 * compressed sets (types 3 and 4) every file there is read as an archive whose entries
 * become records.
 *
 * Saved folders that hold nothing become folder records, so that they are restored too. A
 * folder that cannot be listed and an archive that cannot be read become records marked as
 * damaged, never an empty folder, and the set's memo line ends in "beschädigt" instead of "ok". Folders that look like dated sets without a valid date or
 * type are skipped silently, as are symbolic links. False with *error only when
 * backupFolder itself cannot be read.
 *
 * A cancel request of progress stops the scan at its next check: the sets read in full stay,
 * the one being read is dropped (its memo line ends in "abgebrochen"), and *cancelled is set.
 *
 * Without fileDetails the files of copied sets and the saved folders are read by name and
 * kind only, one system call less per file: their size stays 0 and their date invalid (for a
 * restore that shows neither; the restore walk looks the date up when it asks about a file).
 */
bool scanBackupFolder(RestoreModel *model,
    const QString &backupFolder,
    const QString &jobFilter,
    ScanProgress *progress = nullptr,
    QString *error = nullptr,
    bool *cancelled = nullptr,
    bool fileDetails = true);
