// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/runhooks.h"

#include "db/databasebackup.h"
#include "mail/logmail.h"

BackupRun::Hooks standardRunHooks()
{
    BackupRun::Hooks hooks;
    hooks.backUpDatabases = backUpDatabases;
    hooks.mailLog = LogMail::mailLog;
    return hooks;
}
