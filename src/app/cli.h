// SPDX-License-Identifier: GPL-3.0-or-later
// trevalo-cli: jobs without windows, for scripts, timers and tests.
#pragma once

#include <QStringList>

/// Runs one command line (without the program name); returns the exit code.
int runCli(const QStringList &arguments);
