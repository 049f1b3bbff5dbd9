// SPDX-License-Identifier: GPL-3.0-or-later
// Putting the selected files of a backup set back in place.
#pragma once

#include "engine/runhost.h"

#include <QString>
#include <QStringList>

#include <functional>

class RestoreModel;
struct RestoreRecord;

/// A selected record of a database folder ("-" + name), handed to the database restore.
struct DatabaseRequest {
    QString sourceFolder; ///< the database folder in the set, ending with '/'; its archive holds the dump
    QString archivePath; ///< the "Archive.zip" of sourceFolder (found without regard to case), or empty
    QString databaseName; ///< the folder name without its '-'
    QString jobName; ///< the job the sets were read for; empty for a folder chosen by hand
    RunCancel *cancel = nullptr; ///< the walk's cancel state, which the database restore shares
    const RestoreRecord *record = nullptr;
    /// The walk's progress, to be given back after the database restore showed its own.
    QString itemLine;
    qint64 gaugeProgress = 0;
    qint64 gaugeMaximum = 0;
};

/// How the database restore ended for one record.
enum class DatabaseOutcome {
    Restored,
    Skipped, ///< the user gave up this database (the access dialog was cancelled)
    Failed, ///< it could not be restored; the database restore has told the user why
    Cancelled, ///< the user ended the whole restore; the database restore has said so
};

/**
 * The restore of the selected records of a RestoreModel, last record first: each file is
 * copied (or extracted from its archive) into the place it was saved from, or below a
 * restore folder, with its modification time and permission bits. An existing file is
 * replaced only when the user says so (Ja / Nein / Abbrechen / Alle; unattended: Nein).
 * Records of database folders go to restoreDatabase.
 *
 * Everything reaches the user through the RunHost: questions and messages, the item line
 * (ProgressLine::Folder), gauge 2 (records done of selected) and the cancel button, which
 * is read after every record. A file that cannot be restored is reported with its name and
 * the reason and counted; so is a selected part of the set that the scan could not read.
 * The walk goes on. An empty folder of the set is made again. Nothing is ever written
 * outside the destination: names that could leave their folder are refused.
 */
class RestoreWalk
{
public:
    enum class Outcome {
        NothingSelected,
        NoRestoreFolder, ///< a restore folder was asked for but not given
        RestoreFolderMissing, ///< the restore folder cannot be created
        Completed, ///< walked to the end; failedCount tells how well
        Cancelled, ///< the user cancelled
    };

    RestoreWalk(RestoreModel &model, RunHost &host);

    /// Restore below folder (created when missing) instead of to the original places.
    void setRestoreFolder(bool use, const QString &folder);
    /// The job the sets were read for, handed to the database restore.
    void setJobName(const QString &jobName)
    {
        m_jobName = jobName;
    }

    /// The database restore; without one, database records count as not restored.
    std::function<DatabaseOutcome(const DatabaseRequest &, RunHost &)> restoreDatabase;

    Outcome run();

    /// The cancel state of the walk under way: the front end requests a cancel through it.
    RunCancel &cancel()
    {
        return m_cancel;
    }

    /**
     * Where the files of a saved place ("C/Daten/", "_srv/ablage/", "root/home/anna/") go:
     * below restoreFolder (ending with '/') when it is given, else to the original place.
     * Empty when the place cannot be reached on this system (a drive or server folder on
     * Linux, the root folder on Windows) or when it could leave restoreFolder.
     */
    static QString destinationFolder(const QString &savedPlace, const QString &restoreFolder);

    // The result of the last run().
    int restoredCount = 0;
    int skippedCount = 0;
    int failedCount = 0; ///< files not restored and damaged parts of the set
    int damagedCount = 0; ///< parts of the set that could not be read (each also counts as failed)
    QStringList failures; ///< one line per file or damaged part not restored: what and why

private:
    bool restoreRecord(const RestoreRecord &record, qint64 done, qint64 total, bool *cancelled);
    void fail(const QString &path, const QString &reason);
    void failFolder(const QString &path, const QString &reason);
    /// The closing message of a walk that went to its end.
    QString summary() const;
    void finish(const QString &message);

    RestoreModel &m_model;
    RunHost &m_host;
    RunCancel m_cancel;
    bool m_useRestoreFolder = false;
    QString m_restoreFolder;
    QString m_jobName;
    QString m_resolvedFolder; ///< the restore folder of the running walk, absolute, ending with '/'; or empty
    bool m_overwriteAll = false;
    QString m_madeFolder; ///< the destination folder made for the record before, if any
};
