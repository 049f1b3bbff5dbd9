// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing one job file "<stem>.scr".
#pragma once

#include <QList>
#include <QString>

#include <functional>

class TAuftrag;

/**
 * Fills every stored field of job from its file. A missing file (or a folder of that name)
 * gives all defaults. When the file exists but cannot be read, the job keeps the defaults,
 * *errorMessage gets "Fehler beim Laden des Auftrages <Name> aufgetreten." and the result is false.
 */
[[nodiscard]] bool loadJob(TAuftrag &job, QString *errorMessage = nullptr);

/**
 * Writes the whole job file. The file is replaced in one step, so a failure (full disk,
 * no permission) leaves the previous file whole; then *errorMessage gets
 * "Fehler beim Speichern des Auftrages <Name> aufgetreten." and the result is false.
 * The file is readable by its owner only.
 */
[[nodiscard]] bool saveJob(TAuftrag &job, QString *errorMessage = nullptr);

struct JobFileEntry {
    QString section;
    QString key;
    QString value;
};

/// The job file's lines in write order; passwords encoded, or shown as "*****" when masked.
QList<JobFileEntry> jobFileEntries(const TAuftrag &job, bool maskPasswords);

/// The bytes saveJob writes (Windows-1252 or UTF-8 with byte-order mark, CRLF).
QByteArray jobFileBytes(const TAuftrag &job);

/// True when key (without regard to case) names a password of the job file: "email_pop3_pass",
/// "email_smtp_pass", "Pass<n>".
bool isJobFilePasswordKey(const QString &key);

/**
 * Sets one key of the job file in job (in memory only), from its value as the file writes
 * it: a key of section "Einstellungen", or a numbered key of a source or database that the
 * job has ("Verz2", "Port1"; numbered in file order). Keys are matched without regard to
 * case. Refuses, with a German *errorMessage and job unchanged: an unknown key, a key the
 * program keeps itself (last start, next start, status ...), and a value the key cannot
 * hold (flags "0"/"1", start time "HH:MM" from 00:00 to 23:59, a port from 1 to 65535 (a
 * database's may be empty: 3306), "ja"/"nein", "keine"/"STARTTLS"/"SSL/TLS", no line
 * breaks, no value the reader would cut). A start time "7:30" is kept as "07:30"; "TLS<n>=nein"
 * leaves the entry without a TLS line, as job files without encryption have always been.
 */
[[nodiscard]] bool setJobFileValue(TAuftrag &job, const QString &key, const QString &value,
                                   QString *errorMessage = nullptr);

/// Status := 1, then saveJob.
[[nodiscard]] bool markStarted(TAuftrag &job, QString *errorMessage = nullptr);

/// letzte_meldung := text, then saveJob.
[[nodiscard]] bool setLastMessage(TAuftrag &job, const QString &text, QString *errorMessage = nullptr);

/**
 * End-of-run bookkeeping. handOver (may be empty) gets the job's file stem first, so that
 * the scheduler can move it from its running list to its hold-off list; then saveJob.
 */
[[nodiscard]] bool finishJob(TAuftrag &job,
               const std::function<void(const QString &fileStem)> &handOver = {},
               QString *errorMessage = nullptr);
