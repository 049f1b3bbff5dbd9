// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/runhooks.h"

#include "mail/logmail.h"

BackupRun::Hooks standardRunHooks()
{
    BackupRun::Hooks hooks;
    hooks.mailLog = LogMail::mailLog;
    return hooks;
}
