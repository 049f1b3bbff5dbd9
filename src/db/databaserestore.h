// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a saved database ("-<name>/Archive.zip" of a set) back into a MySQL server.
#pragma once

#include <QString>

class RunCancel;
class RunHost;

namespace DatabaseRestore
{

/// Where the dump goes: the access data of the chooser dialog (or the command line).
struct Access {
    QString host;
    QString port; ///< empty means 3306; a text that is no port number fails like a connect
    QString user;
    QString password;
    QString database;
    bool requireTls = false; ///< the job's DB_TLS: fail the connect when the server offers no TLS
};

enum class Result {
    Completed, ///< every statement went through
    WithErrors, ///< some statements were rejected (each one reported), the rest went through
    ConnectFailed, ///< nothing was changed; the chooser is shown again
    NoDump, ///< the archive or its dump could not be read; nothing was changed, unless the archive
            ///< became unreadable during the restore (its medium removed): then the table being
            ///< loaded is left without the rows of its open transaction
    Cancelled, ///< the user confirmed the cancel: the whole restore ends
    ConnectionLost ///< the server went away during the restore (reported once)
};

struct Report {
    Result result = Result::Completed;
    int statements = 0; ///< statements of the dump executed
    int failed = 0; ///< of those, rejected by the server
    QString errorString; ///< the server's or the archive's text for ConnectFailed, NoDump, ConnectionLost
};

/// "Fehler beim Aufbau der Datenbankverbindung. ..." as shown after a failed connect.
QString connectFailedText();

/**
 * Restores the dump "trevalo_db.sql" of archivePath (the "Archive.zip" of a database folder;
 * "archive.zip" in the same folder is found as well) into access.database, replacing its
 * tables. displayName is the saved database's name ("-" and the separator removed).
 *
 * Connects (5 seconds at most; no login prompt) before anything else; a failure shows
 * connectFailedText() and returns ConnectFailed, so the caller can ask for access data again.
 * The dump is read from the archive twice and never written to disk: once whole before anything
 * is changed, so that a damaged archive changes nothing, and once into the statements.
 *
 * The session runs as a dump file expects: utf8mb4 (utf8 before server 5.5.3), foreign-key
 * checks off, SQL mode NO_AUTO_VALUE_ON_ZERO only (no ANSI_QUOTES, no NO_BACKSLASH_ESCAPES, no
 * strict mode). The time zone is the server's unless the dump sets "+00:00" itself (dumps that
 * hold UTC times do; older ones hold the server's local times). Statements are assembled line
 * by line and executed in order; lines between "DELIMITER ;;" and "DELIMITER ;" are taken as
 * they are and end a statement only with ";;" (stored routines, triggers, events). A rejected one shows
 * "Fehler bei der Datenbankwiederherstellung. ..." with its first line and the server's text,
 * and the restore goes on. The rows of an InnoDB table are sent in one transaction, joined
 * into multi-row INSERTs; a batch the server rejects is sent again row by row, so each
 * rejected row is reported on its own. The rows of a table with a primary key that fill more
 * than one batch go over a second session as well, every other batch, so that the server loads
 * them on two cores; the second session is given every session setting of the first (the
 * dump's time zone among them), and each batch of such a table is committed as it is run. A
 * second session that cannot be opened, or a dump that takes locks, leaves the restore in one.
 *
 * Progress: the FileCount line shows "Datenbank: <name> -> Tabelle: <table> -> Satz: <n>",
 * gauge 2 the part of the dump read. Every tenth line pending events are processed; a cancel
 * request is confirmed with "Möchten Sie die Wiederherstellung wirklich abbrechen?" (the
 * unattended answer is No: a half-restored database would lose data). Yes commits what was
 * sent, shows "Der Wiederherstellungsvorgang wurde abgebrochen.", hides the progress and
 * returns Cancelled. The cancel is also asked while the connection waits for the server; a Yes
 * there ends the wait at once (the server then takes back the open transaction).
 */
Report restoreDatabase(
    RunHost &host, RunCancel &cancel, const QString &archivePath, const QString &displayName, const Access &access);
/// The same as a piece of work of its own: with its own cancel state, given to the host while it runs.
Report restoreDatabase(RunHost &host, const QString &archivePath, const QString &displayName, const Access &access);

} // namespace DatabaseRestore
