// SPDX-License-Identifier: GPL-3.0-or-later
// A saved database met by the restore walk: the warning, the access data, the restore itself.
#pragma once

#include "db/databaserestore.h"
#include "restore/restorewalk.h"

#include <QString>

#include <functional>
#include <optional>

namespace DatabaseStep
{

/// "ACHTUNG! Die Datenbank \"<name>\" wird wiederhergestellt. ... Möchten Sie fortsetzen?"
QString warningText(const QString &name);

/// What the access dialog is asked each time.
struct AccessRequest {
    QString warning; ///< warningText() of the database
    QString jobName; ///< whose database entries are offered; empty for a folder chosen by hand
    QString entryName; ///< the entry preselected: the saved database's name
    bool afterFailedConnect = false; ///< the last access data given could not connect
};

/**
 * Shows the warning with the access data: the data to restore with, or nothing when the
 * user skips this database. The window shows its chooser; the command line asks the warning
 * as a question and takes its data from its options or the job.
 */
using ChooseAccess = std::function<std::optional<DatabaseRestore::Access>(const AccessRequest &)>;

/**
 * Restores the database of one selected record of a database folder ("-" + name): shows
 * "Datenbank: <name>" with the gauge at 0, asks choose for the access data (an empty port
 * becomes "3306") and restores the dump of the folder's archive into it. A failed connect
 * has said so and asks choose again, until it connects or gives nothing.
 *
 * Skipped when choose gives nothing; Failed when the set holds no archive there (said without
 * asking) or the dump could not be restored in full (the database restore has said why);
 * Cancelled when the user ended the whole restore. Except after a cancel, the walk's item
 * line and gauge are given back as they were.
 */
DatabaseOutcome restoreRecord(const DatabaseRequest &request,
    RunHost &host,
    const ChooseAccess &choose);

} // namespace DatabaseStep
