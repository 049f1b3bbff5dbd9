// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windowlayout.h"

#include "platform/settingsstore.h"

WindowLayout readWindowLayout(QSettings &settings)
{
    WindowLayout layout;
    if (!settings.childGroups().contains(SettingsStore::kLayoutGroup))
        return layout;
    settings.beginGroup(SettingsStore::kLayoutGroup);
    std::optional<int> *targets[] = {&layout.posX, &layout.posY, &layout.width, &layout.height};
    const char *names[] = {"PosX", "PosY", "Width", "Height"};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const int v = settings.value(QString::fromLatin1(names[i])).toString().toInt(&ok);
        if (!ok)
            break;
        *targets[i] = v;
    }
    settings.endGroup();
    return layout;
}

void writeWindowLayout(QSettings &settings, int posX, int posY, int width, int height)
{
    settings.beginGroup(SettingsStore::kLayoutGroup);
    settings.setValue(QStringLiteral("PosX"), posX);
    settings.setValue(QStringLiteral("PosY"), posY);
    settings.setValue(QStringLiteral("Width"), width);
    settings.setValue(QStringLiteral("Height"), height);
    settings.endGroup();
    settings.sync();
}
