// SPDX-License-Identifier: GPL-3.0-or-later
// One backup run, from the request to start a job to its last after-run action.
#pragma once

#include "engine/filetree.h"
#include "engine/runhost.h"
#include "engine/runstep.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class ArchiveAttributes;
class SystemActions;
class TAuftrag;

/**
 * The run state and the steps of a run. One object serves the program's whole life (the
 * main window owns it); startAuftrag() runs one start to its end on the caller's thread.
 * The user is reached only through the RunHost; processes, eject and shutdown only
 * through SystemActions; the archive attribute through ArchiveAttributes.
 */
class BackupRun : public RunStep
{
public:
    /// How the last start ended; trevalo-cli turns it into its exit code.
    enum class Outcome {
        None,
        Refused,         ///< another start was in progress
        ChecksFailed,    ///< no target, no drive, nothing to back up
        PromptCancelled, ///< the medium prompt was cancelled
        SpaceRefused,    ///< the free-space check was given up
        Cancelled,       ///< cancelled on the progress window
        Aborted,         ///< stopped by the user at an error, or by a failure
        Completed,       ///< ended normally (errorCount tells how well)
    };

    /// Seams for the parts of a run that other subsystems provide.
    struct Hooks {
        /// The scheduler takes a finished job's key (finishJob's hand-over).
        std::function<void(const QString &fileStem)> handOver;
        /// The scheduler's hold-off countdown is started when it is idle.
        std::function<void()> enableKillTimer;
        /// Saves the job's databases into the set.
        std::function<void(RunStep &)> backUpDatabases;
        /// Mails the log with the given subject.
        std::function<void(RunStep &, const QString &subject)> mailLog;
    };

    BackupRun(RunHost &host, SystemActions &actions, ArchiveAttributes &catalog);

    void setHooks(const Hooks &hooks)
    {
        m_hooks = hooks;
    }

    /// Who started a run: the user (button, menu, trevalo-cli run), the clock, or the program's command line.
    enum class StartedBy { User, Clock, CommandLine };

    /**
     * Runs job and returns when the start has ended. A start from the command line asks the
     * main window to close at its end; a start by the user marks the job's row at once.
     */
    void startAuftrag(TAuftrag &job, StartedBy how);

    /// The cancel state of the start under way: the front end requests a cancel through it.
    RunCancel &cancel() override
    {
        return m_cancel;
    }

    /**
     * Copies one file into the set: a failure goes to the Retry / Ignore / Cancel dialog or
     * the log, as the job wants. isSourceFile: files and archives of folders (true) or
     * database dumps (false), counted apart.
     */
    bool copyFileToTarget(const QString &source, const QString &target, bool isSourceFile);
    /// The same for a file made by the run itself (an archive), whose archive attribute means nothing.
    /// Both return true when the file is in the set.
    bool copyWorkFileToTarget(const QString &source, const QString &target, bool isSourceFile);

    /// Appends one entry to the running job's log.
    void writeLog(const QString &text) override;

    /// The job's last message, saved at once (a save failure is shown).
    void setLastMessage(const QString &text) override;

    // The view of the run that its database and mail steps get.
    TAuftrag &job() override
    {
        return *currentAuftrag;
    }
    void countError() override
    {
        ++errorCount;
    }
    int errorsSoFar() const override
    {
        return errorCount;
    }
    QString targetSetFolder() const override
    {
        return setFolder;
    }
    bool copyDumpIntoSet(const QString &workFile, const QString &target) override;

    void setDatabaseCount(int count) override
    {
        databaseCount = count;
    }
    qint64 databaseFilesCopied() const override
    {
        return dbFilesCopied;
    }

    // Run state, shared with the steps other subsystems provide.
    TAuftrag *currentAuftrag = nullptr; ///< the job of the start under way, or of the last one
    bool jobRunning = false;
    /// The window was minimized when the program or this start began: an autostart job minimizes it again.
    bool startedMinimized = false;
    int errorCount = 0;
    qint64 filesCopied = 0;
    double kbCopied = 0;
    qint64 filesPacked = 0;
    double kbPacked = 0;
    qint64 dbFilesCopied = 0;
    double kbDbCopied = 0;
    int databaseCount = 0;
    QString setFolder; ///< ends with a separator
    QString sourceDir; ///< ends with a separator
    int sourceIndex = 0;
    int sourceShare = 100;
    int sourceDirCount = 1;
    double bytesCounted = 0;
    Outcome outcome = Outcome::None;

    RunHost &host() override
    {
        return m_host;
    }

    /// The shortfall as the free-space question shows it: "1024 Byte", "1 KB", "1,00 MB".
    static QString shortfallText(double bytes);

    // Steps, public for the free-space check and for tests.
    void makeSetFolder();
    bool checkFreeSpace();
    qint64 countFiles(const QString &relPath, const QList<FileTree::Mask> &masks, bool includeSubdirs, bool showStatus);

private:
    struct Gauge {
        qint64 progress = 0;
        qint64 maximum = 0;
        int percent() const;
    };

    bool runChecks();
    void prepareAndRun();
    void executeBackup();
    void runSources();
    void endRun();
    void writeInfoFile();
    void backupSource(const QStringList &maskList, bool includeSubdirs);
    void backupDirectory(const QString &relPath, bool includeSubdirs);
    bool addFileForArchive(QStringList *list, const QString &path);
    void packDirectory(const QStringList &files, const QString &sourcePath, const QString &targetFolder);
    void progressStep(bool isSourceFile);
    void showPercent();
    bool copyToTarget(const QString &source, const QString &target, bool isSourceFile, bool clearArchiveBit);
    QString workArchivePath();
    void removeWorkFolder();
    bool makeTargetFolder(const QString &path, const QString &messageFolder = QString());
    bool targetMediumMissing() const;
    void prepareTarget();
    void rememberMedium();
    bool syncTarget();
    enum class FailureChoice { Retry, Ignore, Cancel };
    FailureChoice copyFailed(const QString &source, const QString &reason);
    void confirmCancel();
    void finishStart();
    bool isDue(const QString &folder, const QString &name, const Platform::FileStat &st) const;
    bool isDueNow(const std::vector<quint64> *seen, const QString &relPath, const FileTree::Entry &e) const;
    void showGauge(int which);
    void keepAlive();
    QString dateStampNow() const;
    QString driveText() const;

    RunHost &m_host;
    SystemActions &m_actions;
    ArchiveAttributes &m_catalog;
    Hooks m_hooks;
    RunCancel m_cancel;
    StartedBy m_startedBy = StartedBy::User;
    Gauge m_gauge1;
    Gauge m_gauge2;
    int m_shownPercent = -1; ///< of m_gauge2, as the job list and the tray show it
    bool m_showSuccess = false;
    QList<FileTree::Mask> m_masks;
    QString m_mapped; ///< where the source under way lies in the set, below setFolder
    /// What the count of an incremental run found, per folder below the source: the files it
    /// saw (nameKey), each marked when it was due.
    QHash<QString, std::vector<quint64>> m_seenFiles;
    bool m_recordDue = false;
    QElapsedTimer m_sinceEvents;
    QString m_workFolder; ///< this run's own folder in the temporary folder, or empty
    QString m_workFolderError;
    bool m_mediumMissing = false;
    bool m_synced = false;
    Platform::FileSystemSync m_targetSync; ///< the medium of the target, written back while the run copies
    QString m_syncError;
};
