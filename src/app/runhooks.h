// SPDX-License-Identifier: GPL-3.0-or-later
// The parts of a run that other subsystems provide, wired for the programs.
#pragma once

#include "engine/backuprun.h"

/// Database dumps and the log mail, as every program's runs use them.
BackupRun::Hooks standardRunHooks();
