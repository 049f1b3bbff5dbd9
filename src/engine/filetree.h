// SPDX-License-Identifier: GPL-3.0-or-later
// Listing source folders, file masks, copying one file.
#pragma once

#include "platform/filesystem.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace FileTree {

using Entry = Platform::DirEntry;

/**
 * The entries of a folder without "." and "..", in the order a case-insensitive file
 * system lists them. A link to a folder is reported as Symlink (never followed); a link to
 * a file as File. False with the system's reason when the folder cannot be read. detail: see
 * Platform::listDirectory. keepAlive, when given, is called every few hundred entries while
 * they are read and sorted.
 */
[[nodiscard]] bool listDirectory(const QString &dir,
                                 std::vector<Entry> *entries,
                                 QString *error = nullptr,
                                 Platform::ListDetail detail = Platform::ListDetail::Everything,
                                 const std::function<void()> &keepAlive = {});

/// The masks of a filter string: split at ';', empty pieces dropped, order kept.
QStringList splitMasks(const QString &filter);

/// A compiled file mask: '*' any run of characters, '?' one character, letters without regard to case.
class Mask
{
public:
    explicit Mask(const QString &pattern);
    bool matches(const QString &name) const;

private:
    QString m_pattern; // case-folded
    bool m_all = false;
};

/// The masks compiled, in order.
QList<Mask> compileMasks(const QStringList &masks);

/**
 * Copies the content of source to target (created or replaced), then gives the target the
 * source's permission bits and modification time (and owner when running as root).
 * keepAlive is called after every 256 KiB. A file already at target is replaced only by the
 * complete copy; on failure nothing is left under the target's name but what was there
 * before, and *error holds the system's reason. Paths of any length and names of any bytes.
 * *sourceStat receives the state of the source when it was opened; newCopy says how a copy
 * where nothing stood is made.
 */
[[nodiscard]] bool copyFile(const QString &source,
              const QString &target,
              const std::function<void()> &keepAlive,
              Platform::FileStat *sourceStat,
              QString *error,
              Platform::NewCopy newCopy = Platform::NewCopy::Direct);

} // namespace FileTree
