// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_common.h"

namespace Cli {

int listSets(Context &)
{
    return refuse(QStringLiteral("Das Auflisten von Sicherungen ist noch nicht verfügbar."));
}

int restoreSet(Context &)
{
    return refuse(QStringLiteral("Die Wiederherstellung ist noch nicht verfügbar."));
}

} // namespace Cli
