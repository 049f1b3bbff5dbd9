// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/settingsstore.h"

namespace SettingsStore {

std::unique_ptr<QSettings> programSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
}

std::unique_ptr<QSettings> successMarkerSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kSuccessMarkerKey);
}

bool isUsable(const QSettings &settings)
{
    return settings.status() != QSettings::AccessError && settings.isWritable();
}

} // namespace SettingsStore
