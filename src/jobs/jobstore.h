// SPDX-License-Identifier: GPL-3.0-or-later
// Storing an edited job: the one set of rules the job editor and trevalo-cli share.
#pragma once

#include <QList>
#include <QString>

struct TQuelle;
struct TODBC_DB;
class TAuftrag;
class TAuftraege;

/// The source rows as the job editor shows them: sorted by folder path (the one order
/// both the editor and trevalo-cli use).
QList<TQuelle> sourceRows(const TAuftrag &job);

/// The database rows as the editor shows them: the job's databases from the last to the first.
QList<TODBC_DB> databaseRows(const TAuftrag &job);

/**
 * Stores `edited` (every setting as entered, sources and databases as rows, top row first)
 * into `job`, which belongs to `jobs`: refuses an empty name with "Bitte geben Sie einen
 * gültigen Auftragsnamen ein.", makes the name unique against the other jobs (appending "1"
 * until a whole walk finds no equal name), stores rows from the last to the first, turns an
 * empty filter into "*.*", computes the next start and writes the job file. On failure the
 * job in memory and on disk is unchanged and *errorMessage says why in German.
 *
 * What a run keeps in the job (status, last start and message, last success, file stem,
 * format version) is taken from `job`, not from `edited`, so a run that wrote while the
 * job was being edited is not undone.
 */
[[nodiscard]] bool storeJob(TAuftraege &jobs, TAuftrag &job, const TAuftrag &edited, QString *errorMessage = nullptr);
