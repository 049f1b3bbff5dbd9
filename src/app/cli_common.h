// SPDX-License-Identifier: GPL-3.0-or-later
// What the commands of trevalo-cli share: output, refusals, options, the job list.
#pragma once

#include "engine/runhost.h"
#include "jobs/tauftraege.h"

#include <QList>
#include <QStringList>
#include <QTextStream>

#include <memory>

namespace Cli {

enum ExitCode {
    Ok = 0,
    WithErrors = 1,
    Refused = 2,
    DatabasesLeft = 3, ///< restore: the files are back, a saved database was left as it is
};

QTextStream &out();
QTextStream &err();

/// Prints message (and the usage) to standard error; returns Refused.
int refuse(const QString &message, bool withUsage = false);
/// Refuses the first argument left that begins with "--": the command took its own options out
/// already, so it is a typing error, not a path. True after the refusal.
bool refuseUnknownOptions(const QStringList &args, const QString &command);

/// One call of the program after the global options were taken out.
struct Context {
    QString baseFolder;                ///< --scripts-folder, or empty
    bool baseGiven = false;
    QList<Answer::Button> answers;     ///< --answer, in order
    QStringList args;                  ///< the command's own arguments and options
    std::unique_ptr<TAuftraege> jobs;  ///< filled by loadJobs()

    /// Takes "--name VALUE" or "--name=VALUE" out of args; *present tells whether it was there.
    QString takeOption(const QString &name, bool *present = nullptr);
    /// Takes every "--name VALUE" out of args.
    QStringList takeOptions(const QString &name);
};

/**
 * Loads the jobs of the scripts folder (found and made as the window program does unless
 * --scripts-folder names one; with create, also the "Scripts" folder of a named base folder
 * that exists). False after a refusal message when the folder cannot be read.
 */
bool loadJobs(Context &ctx, bool create = false);

/**
 * Reads a password: the first line of the file at path, or of standard input for "-" (asked
 * for without echo on a terminal, naming what). Passwords never come from the command line,
 * where every user sees them in the process list. False after a refusal message.
 */
bool readPassword(const QString &path, const QString &what, QString *password);

// Commands, each in its own file.
int listJobs(Context &ctx);
int showJob(Context &ctx);
int runJob(Context &ctx);
int restoreDatabase(Context &ctx); // cli_db.cpp
int listSets(Context &ctx);        // cli_restore.cpp
int restoreSet(Context &ctx);      // cli_restore.cpp
int runScheduler(Context &ctx);    // cli_scheduler.cpp
int newJob(Context &ctx);          // cli_jobs.cpp
int setJob(Context &ctx);          // cli_jobs.cpp
int addSource(Context &ctx);       // cli_jobs.cpp
int removeSource(Context &ctx);    // cli_jobs.cpp
int addDatabase(Context &ctx);     // cli_jobs.cpp
int removeDatabase(Context &ctx);  // cli_jobs.cpp
int deleteJob(Context &ctx);       // cli_jobs.cpp

} // namespace Cli
