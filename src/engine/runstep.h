// SPDX-License-Identifier: GPL-3.0-or-later
// What a step of a run that another subsystem provides (databases, mail) may do with the run.
#pragma once

#include <QString>

class RunCancel;
class RunHost;
class TAuftrag;

/**
 * The narrow view of a running backup that its database and mail steps get: the job, the
 * user, the log, the error count, the set and the database counters; nothing else of the
 * run. BackupRun implements it.
 */
class RunStep
{
public:
    virtual ~RunStep() = default;

    virtual TAuftrag &job() = 0;
    virtual RunHost &host() = 0;

    /// Appends one entry to the job's log.
    virtual void writeLog(const QString &text) = 0;
    /// The job's last message, saved at once.
    virtual void setLastMessage(const QString &text) = 0;
    /// One more non-critical error of the run.
    virtual void countError() = 0;
    virtual int errorsSoFar() const = 0;

    /// The set folder of the run, ending with '/'.
    virtual QString targetSetFolder() const = 0;
    /**
     * Copies a dump archive made by the step into the set at target (its folder made as the
     * run makes folders on the medium), with the run's question on failure; true when it is in
     * the set. It counts as a database file of the run.
     */
    virtual bool copyDumpIntoSet(const QString &workFile, const QString &target) = 0;

    /// The run's one cancel state: a request of the user to confirm, and the stop after this step.
    virtual RunCancel &cancel() = 0;

    /// The number of databases of the job, for the run's summary.
    virtual void setDatabaseCount(int count) = 0;
    /// Database files copied into the set by this run so far.
    virtual qint64 databaseFilesCopied() const = 0;
};
