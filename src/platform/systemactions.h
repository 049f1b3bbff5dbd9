// SPDX-License-Identifier: GPL-3.0-or-later
// Programs around a run, ejecting the medium, shutting the computer down.
#pragma once

#include <QString>

/**
 * What a run may do to the world beyond its files. The real implementation starts
 * processes, ejects and powers off; tests put a recording substitute in its place,
 * since a test machine must never be ejected or shut down.
 */
class SystemActions
{
public:
    virtual ~SystemActions() = default;

    /**
     * Starts program with the parameter text (split as a shell would) in the program's
     * folder; with wait, returns when it has ended (no time limit). True when it started.
     */
    virtual bool startProgram(const QString &program, const QString &parameters, bool wait) = 0;

    /// Ejects the medium that holds path; false with a reason when that fails.
    virtual bool ejectMedium(const QString &path, QString *error) = 0;

    /// Asks the system to shut down at once (closing programs without asking).
    virtual bool shutdown() = 0;

    /// The implementation of this platform.
    static SystemActions &system();
};
