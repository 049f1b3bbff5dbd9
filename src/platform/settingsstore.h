// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own settings: the registry on Windows, an INI file under $XDG_CONFIG_HOME on Linux.
#pragma once

#include <QSettings>
#include <QString>

#include <memory>

namespace SettingsStore {

inline const QString kOrganisation = QStringLiteral("Halvesto-Produkte");
inline const QString kApplication = QStringLiteral("Backup");
/// Holds the value "Erfolgreich" of the last run ("0" while running, "1" after a normal end).
inline const QString kSuccessMarkerKey = QStringLiteral("Halvesto_Backup");

inline const QString kScriptsValue = QStringLiteral("Scripts");
inline const QString kLayoutGroup = QStringLiteral("Layout");
inline const QString kSuccessValue = QStringLiteral("Erfolgreich");

/// "\Software\Halvesto-Produkte\Backup" of the current user.
std::unique_ptr<QSettings> programSettings();
/// "\Software\Halvesto_Backup" of the current user.
std::unique_ptr<QSettings> successMarkerSettings();

/// True when the store can be read and written (an unusable store means: no settings).
bool isUsable(const QSettings &settings);

} // namespace SettingsStore
