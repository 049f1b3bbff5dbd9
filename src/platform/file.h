// SPDX-License-Identifier: GPL-3.0-or-later
// One open file: what the archive writer and reader need of the system, on paths of any length.
#pragma once

#include "platform/filesystem.h"

#include <QString>

namespace Platform {

/**
 * An open file that closes itself. Every call returns false (read: -1) on failure and keeps
 * the system's error for error() and errorString(). Reading from a pipe or device never
 * blocks the opening.
 */
class File
{
public:
    enum Mode {
        Read,      ///< an existing file, for reading
        Write,     ///< made or emptied, for the owner only unless told otherwise
        CreateNew, ///< made anew (never an existing file, never through a link), for the owner only unless told otherwise
    };

    File() = default;
    ~File();
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    /// permissions: of a file made by Write or CreateNew (less the process's creation mask).
    [[nodiscard]] bool open(const QString &path, Mode mode, uint permissions = 0600);
    /// Makes a new file beside target under a name nobody else uses ("<target>.trevalo-..."); path() tells it.
    [[nodiscard]] bool createBeside(const QString &target, uint permissions = 0600);
    const QString &path() const
    {
        return m_path;
    }
    bool isOpen() const
    {
        return m_fd >= 0;
    }
    int error() const
    {
        return m_error;
    }
    QString errorString() const
    {
        return systemReason(m_error);
    }

    /// Up to size bytes; 0 at the end.
    qint64 read(char *data, qint64 size);
    /// All of data, or false (a medium that takes no more reads as "no space").
    [[nodiscard]] bool write(const char *data, qint64 size);
    /// Writes over what stands at offset at, leaving the position where it was.
    [[nodiscard]] bool writeAt(quint64 at, const char *data, qint64 size);
    /// Cuts the file to size bytes and goes on writing there.
    [[nodiscard]] bool truncate(quint64 size);
    [[nodiscard]] bool stat(FileStat *st);
    /// Sets the permission bits and the modification time (nanoseconds since 1970); the access time stays.
    [[nodiscard]] bool setModeAndTime(uint mode, qint64 mtimeNs);
    [[nodiscard]] bool close();
    /// The system's handle, for a library that reads through it.
    int descriptor() const
    {
        return m_fd;
    }
    /// Hands the open file over to a library that closes it itself; the object is closed then.
    int release();

private:
    bool fail();

    int m_fd = -1;
    int m_error = 0;
    QString m_path;
};

} // namespace Platform
