// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commandline.h"

#include "jobs/tauftraege.h"

StartupState parseCommandLine(const QStringList &arguments, const TAuftraege &jobs)
{
    StartupState state;
    for (const QString &arg : arguments) {
        const QString upper = arg.toUpper();
        if (upper == QLatin1String("/M") || upper == QLatin1String("\\M") || upper == QLatin1String("MINIMIZE")) {
            state.startMinimized = true;
        } else if (upper.startsWith(QLatin1String("/S:"))) {
            // Each "/S:" replaces what an earlier one decided, so the last one counts.
            state.currentAuftrag = jobs.findJobByName(arg.mid(3));
            state.commandLineStart = state.currentAuftrag != nullptr;
            state.abortFlag = !state.commandLineStart;
            state.commandLineErrorCode = state.commandLineStart ? 0 : 2;
        }
    }
    if (state.commandLineErrorCode != 0)
        state.commandLineStart = false;
    return state;
}
