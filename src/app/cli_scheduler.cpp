// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_common.h"

namespace Cli {

int runScheduler(Context &)
{
    return refuse(QStringLiteral("Der Zeitplaner ist noch nicht verfügbar."));
}

} // namespace Cli
