// SPDX-License-Identifier: GPL-3.0-or-later
// The list of all jobs of the scripts folder.
#pragma once

#include "jobs/tauftrag.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

/**
 * The job list: owns its jobs, in the order their files were found, new jobs at the end.
 * Pointers to jobs stay valid until the job is removed or the list reloaded.
 */
class TAuftraege
{
public:
    explicit TAuftraege(const QString &scriptsFolder = QString());

    QString scriptsFolder() const
    {
        return m_scriptsFolder;
    }
    void setScriptsFolder(const QString &folder)
    {
        m_scriptsFolder = folder;
    }

    /**
     * Frees all jobs and loads every "*.scr" of the scripts folder (folders of that name
     * too) in name order as a case-insensitive file system lists them. Messages of files
     * that failed to load are returned; the jobs are kept with what could be read.
     */
    QStringList loadAllJobs();

    /// A job with the given stem and defaults, BackupVersion "3", appended; nothing is written.
    TAuftrag *addNewJob(const QString &stem);

    /// The smallest number n from 0 for which "<n>.scr" does not exist in the scripts folder.
    QString nextFreeStem() const;

    /// Removes the job with this file stem (compared without regard to case).
    void removeJobByStem(const QString &stem);

    /// Removes the last job whose Name equals name exactly; nothing when there is none.
    void removeJobByName(const QString &name);

    /// The last job whose Name equals name when both are upper-cased (ASCII a-z only).
    TAuftrag *findJobByName(const QString &name) const;

    /// The job with this file stem (compared without regard to case), or nullptr.
    TAuftrag *findJobByStem(const QString &stem) const;

    /**
     * Deletes the job file of the last job named exactly name (else the last one whose name
     * matches without regard to case) and removes that same job from the list.
     * False with a message when the file stays.
     */
    bool deleteJob(const QString &name, QString *errorMessage = nullptr);

    int countScheduledJobs() const;

    qsizetype size() const
    {
        return qsizetype(m_jobs.size());
    }
    TAuftrag *at(qsizetype i) const
    {
        return m_jobs[size_t(i)].get();
    }

private:
    QString m_scriptsFolder;
    std::vector<std::unique_ptr<TAuftrag>> m_jobs;
};

/// Upper-cases the ASCII letters a to z only, as job names are compared.
QString upperAscii(const QString &text);
