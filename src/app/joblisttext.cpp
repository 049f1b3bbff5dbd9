// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/joblisttext.h"

#include "jobs/germanformat.h"
#include "jobs/tauftrag.h"
#include "platform/clock.h"

namespace JobListText
{

QString nextStart(const TAuftrag &job)
{
    if (!job.autostart)
        return QStringLiteral("manuell");
    if (!job.next_start.isValid())
        return QString();
    if (job.next_start.date() == Clock::now().date())
        return QStringLiteral("heute - ") + job.next_start.toString(QStringLiteral("hh:mm"));
    return GermanFormat::dateStamp(job.next_start);
}

} // namespace JobListText
