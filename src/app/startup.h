// SPDX-License-Identifier: GPL-3.0-or-later
// Where the job files live, the temporary folder, the program version.
#pragma once

#include <QString>

class QSettings;
class TAuftrag;

namespace Startup {

inline const QString kWriteTestFile = QStringLiteral("back_tsf.tst");

/**
 * The scripts base folder (no trailing separator), from the stored setting "Scripts".
 * At the first start (setting empty) it is the working folder when "<it>/Scripts" can be
 * made and written, else "<profile>/Trevalo"; the choice is stored. Empty when the
 * settings store cannot be used.
 */
QString resolveScriptsBaseFolder(QSettings *settings, const QString &workingFolder, const QString &profileFolder);
/// The same with the program's settings, the current folder and the user's profile.
QString resolveScriptsBaseFolder();

/// "<base>/Scripts", the folder of the job files.
QString scriptsFolder(const QString &baseFolder);

/// Creates (or truncates) "<base>/Scripts/back_tsf.tst"; false when that fails.
bool checkScriptsFolderWritable(const QString &baseFolder);

/// The job's temp_pfad with a separator at the end; the system's temporary folder when empty.
QString tempFolder(const TAuftrag &job);

/// The program's four-part version, e.g. "3.0.0.1".
QString programVersion();

/// The update page with "?Version=" and the program version.
QString updatePageUrl();

} // namespace Startup
