// SPDX-License-Identifier: GPL-3.0-or-later
// The archive attribute of files: "changed since the last backup".
#pragma once

#include "platform/filesystem.h"

#include <QString>

/**
 * Where the file system keeps an archive attribute (Windows) it is read and written there;
 * elsewhere a catalog of the program keeps it (ArchiveCatalog). The engine sees only this.
 */
class ArchiveAttributes
{
public:
    virtual ~ArchiveAttributes() = default;

    /// True when the file changed since its attribute was cleared, or was never cleared.
    virtual bool isSet(const QString &absolutePath, const Platform::FileStat &st) = 0;
    /// The same for the file name in folder (absolute, ending with a separator). A walk asks for
    /// the files of one folder after another, which a catalog can answer with one read per folder.
    virtual bool isSet(const QString &folder, const QString &name, const Platform::FileStat &st)
    {
        return isSet(folder + name, st);
    }
    /// Clears the attribute for the state st (taken before the file was read for the backup).
    virtual bool clear(const QString &absolutePath, const Platform::FileStat &st) = 0;
    /// Sets the attribute, so the next incremental backup takes the file.
    virtual bool set(const QString &absolutePath) = 0;
    /// Makes pending changes lasting.
    virtual bool flush() = 0;
};
