// SPDX-License-Identifier: GPL-3.0-or-later
// The job's log file "protokoll.txt": one writer for every step of a run.
#pragma once

#include <QString>

class RunHost;
class TAuftrag;

namespace RunLog {

/// "<proto_pfad>/protokoll.txt"; without proto_pfad "<scripts base folder>/Protokolle/<file stem>/protokoll.txt".
QString logFilePath(const TAuftrag &job);

/**
 * Appends text and CR LF to the job's log (nothing when the job keeps no log). The file is
 * opened and closed for every entry, so it is complete after each one; a read-only file is
 * made writable, a missing folder is created. Never fails towards the caller: the first
 * failure of a run (job.logErrorsArmed) is reported through host, later ones are silent.
 */
void writeLogLine(TAuftrag &job, const QString &text, RunHost *host);

/// The seven header entries of a run: two empty lines, a rule, date and time, job name, rule, an empty line.
void writeLogHeader(TAuftrag &job, RunHost *host);

/// The bytes of one entry: UTF-8 on Linux (the platform's plain-text convention), CR LF.
QByteArray encodeEntry(const QString &text);

} // namespace RunLog
