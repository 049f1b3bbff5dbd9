// SPDX-License-Identifier: GPL-3.0-or-later
// Prints a run's log.
#pragma once

#include <QString>

class QPrinter;

namespace LogPrinter
{

/**
 * Prints the log file on the named printer, the default one when the name is empty. False
 * with a German message when the file cannot be read or no printer is there.
 * target: a printer set up by the caller (tests print into a PDF); the name is then ignored.
 */
bool print(const QString &logFile, const QString &printerName, QString *error, QPrinter *target = nullptr);

} // namespace LogPrinter
