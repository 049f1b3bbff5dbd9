// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/runhooks.h"

BackupRun::Hooks standardRunHooks()
{
    BackupRun::Hooks hooks;
    return hooks;
}
