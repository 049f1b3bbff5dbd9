// SPDX-License-Identifier: GPL-3.0-or-later
// File system services whose form differs between Windows and Linux.
#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

namespace Platform {

/// What one lstat-like look at a path tells; cheap enough to be taken once per file.
struct FileStat {
    enum Kind { Missing, File, Directory, Symlink, Other };
    Kind kind = Missing;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0; ///< modification time, nanoseconds since 1970 (UTC)
    qint64 ctimeNs = 0; ///< change time (metadata), nanoseconds since 1970 (UTC)
    uint mode = 0;      ///< permission bits

    bool exists() const
    {
        return kind != Missing;
    }
};

/// Looks at path itself; a symbolic link is reported as Symlink, never followed.
FileStat statPath(const QString &path);

// Paths as the system takes them. On Linux a name is bytes and need not be valid UTF-8; such a
// name is held in a QString with each byte that is not part of valid UTF-8 kept as the code unit
// U+DC80..U+DCFF, so that a name read from the disk is written back with exactly its bytes.

/// The system's bytes of path: UTF-8, with kept bytes given back as they were read.
QByteArray encodePath(QStringView path);
/// A name or path as the system gave it (size -1: up to the NUL).
QString decodePath(const char *bytes, qsizetype size = -1);
/// path (or any text holding names) as users read it: a kept byte shows as "\xNN".
QString displayPath(const QString &path);

/**
 * The file calls below take paths of any length: a path longer than the system takes in one
 * call is reached through handles of its folders, so depth is no limit. Each returns the
 * system's result (a file descriptor, 0 or -1) and leaves errno set on failure.
 */
int openPath(const QString &path, int flags, uint mode = 0);
int makeDirectory(const QString &path, uint mode = 0777);
int removeFile(const QString &path);
int changeMode(const QString &path, uint mode);
int removeDirectory(const QString &path);
int renamePath(const QString &from, const QString &to);
/// Looks at path itself (follow false) or at what a link points to (follow true).
FileStat statPath(const QString &path, bool follow);
/// Creates path and its missing parents. False with errno set when a part cannot be made or is no folder.
[[nodiscard]] bool makePath(const QString &path);
/// The system's text for an errno value.
QString systemReason(int err);

/// One entry of a folder.
struct DirEntry {
    QString name;
    FileStat stat;       ///< of the entry itself (a link is a link); only its kind unless looked at
    FileStat::Kind kind; ///< what it is, a link to a file counting as a file
    bool isLink = false;
    bool looked = false; ///< stat holds the entry's whole state, not only its kind
};

/// How closely listDirectory looks at the entries of a folder.
enum class ListDetail {
    Everything, ///< every entry's whole state
    Files,      ///< the state of files and links; folders and other entries by their kind only
    Kinds,      ///< the kind of each entry only, where the listing tells it (links are still looked at)
};

/**
 * The entries of a folder without "." and "..", in the order the system lists them. A link
 * to a folder is reported as Symlink (never followed); a link to a file as File with the
 * file's state. False with the system's reason (and errno) when the folder cannot be read.
 * Each look at an entry is one system call, which a walk of many files pays per file; detail
 * says which entries are worth it. keepAlive, when given, is called after every read of the
 * listing (a few hundred entries; a folder may hold 100,000).
 */
[[nodiscard]] bool listDirectory(const QString &dir,
                                 std::vector<DirEntry> *entries,
                                 QString *error = nullptr,
                                 ListDetail detail = ListDetail::Everything,
                                 const std::function<void()> &keepAlive = {});

/**
 * Lists dir and, with subfolders, every folder below it (never through a link), and hands
 * each listing to visit on the calling thread: relPath is the folder below dir ("" for dir
 * itself, else ending with '/'), the entries unsorted. The folders come in no particular
 * order; the listing and the looks run on a second thread meanwhile, a few folders ahead at
 * most. A folder that cannot be read is left out, with what lies below it.
 */
void walkFolders(const QString &dir,
                 bool subfolders,
                 ListDetail detail,
                 const std::function<void(const QString &relPath, std::vector<DirEntry> &entries)> &visit);

/// How a copy where nothing stood yet is made.
enum class NewCopy {
    Direct,      ///< under its name (a crash can leave it partial there)
    WhenComplete ///< under a name of its own beside it, renamed into place once complete
};

/**
 * Copies source to target with its permission bits and modification time (and owner when
 * running as root); keepAlive after every 256 KiB. A file at target is replaced only by the
 * complete copy; newCopy says how a copy where nothing stood is made. *sourceStat: the source
 * as it was opened.
 */
[[nodiscard]] bool copyFile(const QString &source,
                            const QString &target,
                            const std::function<void()> &keepAlive,
                            FileStat *sourceStat,
                            QString *error,
                            NewCopy newCopy = NewCopy::Direct);

/// Appends bytes to a regular file (made with its folder when missing); never blocks on a pipe or device.
[[nodiscard]] bool appendToFile(const QString &path, const QByteArray &bytes);
/// Replaces path by a new file holding bytes.
[[nodiscard]] bool writeNewFile(const QString &path, const QByteArray &bytes);
/// True when the file can be opened for reading now.
bool canOpenForReading(const QString &path);
/// A new folder below parent, prefix + a part nobody can guess, for the owner only; ends with '/'. Empty on failure.
QString makePrivateFolder(const QString &parent, const QString &prefix, QString *error = nullptr);
/// Writes everything cached for the file system of path back to its medium.
[[nodiscard]] bool syncFileSystem(const QString &path, QString *error = nullptr);

/**
 * Writes a file system's cache back to its medium while a run is still writing to it, so that
 * the medium works while the run copies, and at the end makes sure that everything is there.
 * begin() takes a handle of a folder on the file system; written() is told of what was written
 * since, and once enough has gathered a second thread writes it back in the background.
 * finish() waits for that thread, writes back the rest and reports every failure of writing
 * back since begin() (the background's too). end() stops without writing back.
 */
class FileSystemSync
{
public:
    FileSystemSync();
    ~FileSystemSync();
    FileSystemSync(const FileSystemSync &) = delete;
    FileSystemSync &operator=(const FileSystemSync &) = delete;

    [[nodiscard]] bool begin(const QString &folder);
    bool isActive() const;
    /// Bytes written to the file system (and one file's worth of metadata).
    void written(qint64 bytes);
    [[nodiscard]] bool finish(QString *error = nullptr);
    void end();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// The attributes that the Windows side keeps per file.
struct FileAttributes {
    bool readOnly = false;
    bool hidden = false;
    bool system = false;
};

/// Read-only: no write permission bit set. Hidden: the name begins with '.'. System: never.
FileAttributes fileAttributes(const QString &path);
FileAttributes fileAttributes(const QString &path, const FileStat &st);

/// Makes the file writable (or read-only) for everybody who may write it now.
bool setReadOnly(const QString &path, bool readOnly, QString *error = nullptr);

/// The system temporary folder, ending with a separator.
QString systemTempFolder();

/// The user's profile folder (%USERPROFILE% on Windows, $HOME on Linux).
QString userProfileFolder();

/**
 * The "drive" of a path: the mount point of the file system that holds it, or that would
 * hold it when it does not exist yet (nearest existing parent). Empty when nothing can
 * be found.
 */
QString driveOf(const QString &path);

/**
 * True when the medium of target is not there: target lies below a folder where removable
 * media are mounted (/media, /run/media, /mnt) but its nearest existing folder is not on such
 * a medium, or lastMountPoint (where the job last wrote to, empty when unknown) differs from
 * the mount point of its nearest existing folder.
 */
bool mediumMissing(const QString &target, const QString &lastMountPoint);

/// Bytes available to this user on the file system of path (nearest existing parent); -1 when unknown.
qint64 freeSpace(const QString &path);

/// True when path names a place without depending on the current folder.
bool isAbsolutePath(const QString &path);

/// The separator shown to users and appended to folder names.
QChar separator();

/// path with a separator at its end (an empty path stays empty).
QString withTrailingSeparator(const QString &path);

} // namespace Platform
