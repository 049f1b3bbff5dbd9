// SPDX-License-Identifier: GPL-3.0-or-later
// The run's database step: every database of the job dumped to SQL, zipped and copied into the set.
#pragma once

#include <QByteArray>
#include <QString>

class RunStep;

/**
 * Saves the databases of run.job(), in list order: connects (compressed protocol when
 * offered, 10 seconds for the connect and login), writes the dump "trevalo_db.sql" into a
 * fresh owner-only work folder with an unpredictable name below the job's temporary folder,
 * packs it into "Archive.zip" and copies that to "<setFolder>-<name>/Archive.zip". The work
 * folder is removed on every path, failures and cancels included.
 *
 * Sets the run's database count and database files (through the copy). A failed
 * connect, read or copy adds one error, stops the run, stores the job's last message and
 * logs it (with a message box when the job shows errors); later entries still connect and
 * log their connection, and are skipped. A cancel on the progress window is confirmed once
 * per row, and while the connection waits for the server; Yes ends the step with the run
 * stopped and no archive.
 *
 * All tables of one database are read in one consistent snapshot with the session time zone
 * "+00:00" (the dump says so in a statement after its header); text values come in their
 * column's own character set and are written in hexadecimal unless they are plain UTF-8 (or
 * ASCII), so every character set comes back exact. Invisible columns are read and inserted by
 * name. The stored functions and procedures follow the tables, then the views (as their
 * definitions, without rows), then triggers and events, each between "DELIMITER ;;" and
 * "DELIMITER ;" lines. Rows are streamed straight into the file, so memory does not grow with
 * the size of a table.
 *
 * Fits BackupRun::Hooks::backUpDatabases.
 */
void backUpDatabases(RunStep &run);

namespace DatabaseDump
{

/// The dump's file name, also the entry name inside the archive.
inline const QString kDumpFileName = QStringLiteral("trevalo_db.sql");

/// `name` with backquotes doubled, between backquotes.
QByteArray quoteName(const QString &name);

} // namespace DatabaseDump
