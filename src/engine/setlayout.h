// SPDX-License-Identifier: GPL-3.0-or-later
// Where a run puts things inside the target: the set folder and the place of each source.
#pragma once

#include <QDate>
#include <QString>

class TAuftrag;

namespace SetLayout {

/// "B-T01" full/copied, "B-T02" incremental/copied, "B-T03" full/zipped, "B-T04" incremental/zipped.
QString setTypeCode(bool full, bool compressed);

/// A job name as it stands in a set folder name: separators become '_', so the set stays one folder.
QString nameInFolder(const QString &jobName);

/**
 * The set folder name for a run on date: code + yymmdd + "-" + name (dated form), or
 * code + "-" + name when the job overwrites one fixed set.
 */
QString setFolderName(const TAuftrag &job, const QDate &date);

/**
 * The place of a source folder (ending with a separator) inside a set:
 * "C:\Daten\" -> "C/Daten/", "\\srv\ablage\" -> "_srv/ablage/", "/home/anna/" -> "root/home/anna/".
 * The result ends with a separator.
 */
QString mappedSource(const QString &sourceDir);

/// Name of the empty marker file of a fixed-name set; its modification time dates the set.
inline const QString kFixedSetMarker = QStringLiteral("file");

/// Name of the level-1 folder that stands for the file-system root.
inline const QString kRootFolder = QStringLiteral("root");

} // namespace SetLayout
