// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of the window program.
#pragma once

#include <QStringList>

class TAuftrag;
class TAuftraege;

/// What the command line asks of the window program at its first activation.
struct StartupState {
    bool startMinimized = false;
    bool commandLineStart = false; ///< run currentAuftrag at the first activation
    bool closeAfterRun = false;
    int commandLineErrorCode = 0; ///< 2: the job named with "/S:" does not exist
    bool abortFlag = false;       ///< set by an unknown job name until the next run starts
    TAuftrag *currentAuftrag = nullptr;
};

/**
 * Reads the parameters (without the program name): "/M", "\M" or "Minimize" in any case
 * start minimized; "/S:<job>" (any case) runs that job, looked up with findJobByName;
 * others are ignored. With several "/S:" the last one decides. An error clears
 * commandLineStart.
 */
StartupState parseCommandLine(const QStringList &arguments, const TAuftraege &jobs);
