// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_common.h"

namespace Cli {

int restoreDatabase(Context &)
{
    return refuse(QStringLiteral("Die Wiederherstellung von Datenbanken ist noch nicht verfügbar."));
}

} // namespace Cli
