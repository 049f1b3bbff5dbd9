// SPDX-License-Identifier: GPL-3.0-or-later
// The cell texts of the job list, as the window and `trevalo-cli list` show them.
#pragma once

#include <QString>

class TAuftrag;

namespace JobListText
{

/// "Nächster Start": "heute - 09:05" when due today, "d. mmm. yyyy - hh:nn" otherwise, "manuell" without autostart.
QString nextStart(const TAuftrag &job);

} // namespace JobListText
