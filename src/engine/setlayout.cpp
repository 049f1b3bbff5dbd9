// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/setlayout.h"

#include "jobs/tauftrag.h"

namespace SetLayout {

QString setTypeCode(bool full, bool compressed)
{
    if (compressed)
        return full ? QStringLiteral("B-T03") : QStringLiteral("B-T04");
    return full ? QStringLiteral("B-T01") : QStringLiteral("B-T02");
}

QString setFolderName(const TAuftrag &job, const QDate &date)
{
    const QString code = setTypeCode(job.Gesamtsicherung, job.komprimieren);
    if (job.ueberschreiben)
        return code + u'-' + job.Name;
    return code + date.toString(QStringLiteral("yyMMdd")) + u'-' + job.Name;
}

QString mappedSource(const QString &sourceDir)
{
    QString mapped;
    if (sourceDir.size() >= 2 && sourceDir[1] == u':') {
        // Drive letter as written, then the path after "X:\".
        mapped = sourceDir.left(1) + u'/' + sourceDir.mid(3);
    } else if (sourceDir.startsWith(QLatin1String("\\\\"))) {
        mapped = u'_' + sourceDir.mid(2);
    } else if (sourceDir.startsWith(u'/')) {
        mapped = kRootFolder + sourceDir;
    } else {
        mapped = sourceDir;
    }
    mapped.replace(u'\\', u'/');
    if (!mapped.endsWith(u'/'))
        mapped += u'/';
    return mapped;
}

} // namespace SetLayout
