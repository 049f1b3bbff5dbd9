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

QString nameInFolder(const QString &jobName)
{
    QString name = jobName;
    name.replace(u'/', u'_');
    name.replace(u'\\', u'_');
#ifdef Q_OS_WIN
    name.replace(u':', u'_');
#endif
    return name;
}

QString setFolderName(const TAuftrag &job, const QDate &date)
{
    const QString code = setTypeCode(job.Gesamtsicherung, job.komprimieren);
    if (job.ueberschreiben)
        return code + u'-' + nameInFolder(job.Name);
    return code + date.toString(QStringLiteral("yyMMdd")) + u'-' + nameInFolder(job.Name);
}

QString mappedSource(const QString &sourceDir)
{
    QString mapped;
    if (sourceDir.size() >= 2 && sourceDir[0].isLetter() && sourceDir[1] == u':') {
        // Drive letter as written, then the path after "X:\".
        mapped = sourceDir.left(1) + u'/' + sourceDir.mid(3);
        mapped.replace(u'\\', u'/');
    } else if (sourceDir.startsWith(QLatin1String("\\\\"))) {
        mapped = u'_' + sourceDir.mid(2);
        mapped.replace(u'\\', u'/');
    } else if (sourceDir.startsWith(u'/')) {
        // On Linux a backslash is part of a name.
        mapped = kRootFolder + sourceDir;
    } else {
        mapped = sourceDir;
    }
    if (!mapped.endsWith(u'/'))
        mapped += u'/';
    return mapped;
}

} // namespace SetLayout
