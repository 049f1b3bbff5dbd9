// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/tauftrag.h"

#include "platform/filesystem.h"

QString TAuftrag::filePath() const
{
    return scriptsFolder + u'/' + fileStem + QStringLiteral(".scr");
}

bool TAuftrag::runsOnWeekday(int qtDayOfWeek) const
{
    switch (qtDayOfWeek) {
    case 1:
        return mon;
    case 2:
        return die;
    case 3:
        return mit;
    case 4:
        return don;
    case 5:
        return fre;
    case 6:
        return sam;
    case 7:
        return son;
    }
    return false;
}

QString TAuftrag::tempFolder() const
{
    if (temp_pfad.isEmpty())
        return Platform::systemTempFolder();
    return Platform::withTrailingSeparator(temp_pfad);
}
