// SPDX-License-Identifier: GPL-3.0-or-later
// Reading folders and writing files: the system calls behind the engine's file work.
#include "platform/file.h"
#include "platform/filesystem.h"
#include "platform/linux/stat_linux.h"

#include <QFile>


#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <mutex>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr size_t kBufferSize = 256 * 1024;
// Copies in the kernel are made in pieces that take about this long, so that keepAlive comes
// often enough on a slow medium and a fast one is not held up by many small calls.
constexpr qint64 kPieceTargetNs = 20'000'000;
constexpr size_t kMinPiece = 256 * 1024;
constexpr size_t kMaxPiece = 64 << 20;

qint64 monotonicNs()
{
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

/*
 * Copies in to its end. size: what the file held when it was opened; once that much has come
 * and a piece came short, the end is reached without asking again (a file growing meanwhile
 * is changed, and its next backup takes it again).
 */
bool copyContent(int in, int out, qint64 size, const std::function<void()> &keepAlive)
{
    bool useRange = true;
    size_t piece = size > 0 && size < qint64(kMinPiece) ? size_t(size) + 1 : kMinPiece;
    qint64 copied = 0;
    std::vector<char> buffer;
    for (;;) {
        if (useRange) {
            const qint64 started = monotonicNs();
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, piece, 0);
            if (n > 0) {
                copied += n;
                if (size_t(n) < piece && copied >= size)
                    return true;
                const qint64 took = monotonicNs() - started;
                if (took < kPieceTargetNs / 4 && piece < kMaxPiece)
                    piece *= 2;
                else if (took > kPieceTargetNs * 2 && piece > kMinPiece)
                    piece /= 2;
                if (keepAlive)
                    keepAlive();
                continue;
            }
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EPERM)
                return false;
            useRange = false; // a file system that cannot: go on with plain reads from here
        }
        if (buffer.empty())
            buffer.resize(kBufferSize);
        for (;;) {
            const ssize_t n = ::read(in, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                return true;
            if (!writeFully(out, buffer.data(), n))
                return false;
            if (keepAlive)
                keepAlive();
        }
    }
}

// The process's file creation mask as the system reports it; 077 (the strictest) when it does not.
mode_t creationMask()
{
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        return mode_t(value);
                }
            }
        }
        return mode_t(077);
    }();
    return mask;
}

} // namespace

namespace {

/*
 * A second thread for looking at the entries of large folders. The looks (one system call
 * each) are most of the time a walk over many files takes, they need no lock of their own,
 * and a machine has more than one core. One thread, made at the first use and kept for the
 * life of the program; a caller finding it busy does all the work itself.
 */
class LookHelper
{
public:
    static LookHelper &instance()
    {
        static LookHelper *helper = new LookHelper; // never destroyed: its thread may still wait at exit
        return *helper;
    }

    /// Starts job on the helper thread; false (and nothing started) when another caller has it.
    bool start(std::function<void()> job)
    {
        if (!m_use.try_lock())
            return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_thread.joinable())
                m_thread = std::thread([this] { loop(); });
            m_job = std::move(job);
            m_done = false;
        }
        m_wake.notify_one();
        return true;
    }

    /// Waits for the job that start() began.
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_finished.wait(lock, [this] { return m_done; });
        lock.unlock();
        m_use.unlock();
    }

private:
    void loop()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return bool(m_job); });
            std::function<void()> job = std::move(m_job);
            m_job = nullptr;
            lock.unlock();
            job();
            lock.lock();
            m_done = true;
            m_finished.notify_one();
        }
    }

    std::mutex m_use;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    std::function<void()> m_job;
    bool m_done = true;
    std::thread m_thread;
};

// Below this many looks a folder is not worth the hand-over.
constexpr size_t kLooksToShare = 48;

struct RawEntry {
    const char *name = nullptr;
    unsigned char type = DT_UNKNOWN;
    bool look = false;
    int result = 0; // of the look at the entry itself
    struct stat sb;
    int linkResult = -1; // of the look through a link
    struct stat target;
};

// Looks at the entries of one read of the listing that need it (on two threads where many do),
// then appends them to entries.
void takeEntries(int fd, std::vector<RawEntry> &raw, std::vector<size_t> &looks, std::vector<DirEntry> *entries)
{
    looks.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i].look)
            looks.push_back(i);
    }
    const auto lookAt = [&](size_t from, size_t to) {
        for (size_t k = from; k < to; ++k) {
            RawEntry &e = raw[looks[k]];
            e.result = ::fstatat(fd, e.name, &e.sb, AT_SYMLINK_NOFOLLOW);
            // A link to a file is saved as that file; links to folders are never walked into.
            if (e.result == 0 && S_ISLNK(e.sb.st_mode))
                e.linkResult = ::fstatat(fd, e.name, &e.target, 0);
        }
    };
    const size_t half = looks.size() / 2;
    if (looks.size() >= kLooksToShare && LookHelper::instance().start([&] { lookAt(0, half); })) {
        lookAt(half, looks.size());
        LookHelper::instance().wait();
    } else {
        lookAt(0, looks.size());
    }

    for (const RawEntry &r : raw) {
        DirEntry e;
        if (r.look) {
            if (r.result != 0)
                continue; // vanished since the listing
            e.stat = toStat(r.sb);
            e.looked = true;
        } else {
            switch (r.type) {
            case DT_REG:
                e.stat.kind = FileStat::File;
                break;
            case DT_DIR:
                e.stat.kind = FileStat::Directory;
                break;
            default:
                e.stat.kind = FileStat::Other;
                break;
            }
        }
        e.name = decodePath(r.name);
        e.kind = e.stat.kind;
        if (e.kind == FileStat::Symlink) {
            e.isLink = true;
            if (r.linkResult == 0 && S_ISREG(r.target.st_mode)) {
                e.kind = FileStat::File;
                e.stat = toStat(r.target);
            }
        }
        entries->push_back(std::move(e));
    }
    raw.clear();
}

} // namespace

bool listDirectory(const QString &dir,
                   std::vector<DirEntry> *entries,
                   QString *error,
                   ListDetail detail,
                   const std::function<void()> &keepAlive)
{
    entries->clear();
    const int fd = openPath(dir, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (error)
            *error = systemReason(err);
        errno = err;
        return false;
    }
    // The raw listing in large reads: one call brings hundreds of entries.
    std::vector<RawEntry> raw;
    std::vector<size_t> looks;
    alignas(struct dirent64) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int err = errno;
            ::close(fd);
            entries->clear();
            if (error)
                *error = systemReason(err);
            errno = err;
            return false;
        }
        if (got == 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto *de = reinterpret_cast<const struct dirent64 *>(buffer + at);
            at += de->d_reclen;
            const char *n = de->d_name;
            if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
                continue;
            RawEntry e;
            e.name = n;
            e.type = de->d_type;
            e.look = e.type == DT_UNKNOWN || e.type == DT_LNK || detail == ListDetail::Everything
                || (detail == ListDetail::Files && e.type == DT_REG);
            raw.push_back(e);
        }
        takeEntries(fd, raw, looks, entries);
        if (keepAlive)
            keepAlive();
    }
    ::close(fd);
    return true;
}

void walkFolders(const QString &dir,
                 bool subfolders,
                 ListDetail detail,
                 const std::function<void(const QString &relPath, std::vector<DirEntry> &entries)> &visit)
{
    struct Listing {
        QString relPath;
        std::vector<DirEntry> entries;
    };
    // Enough to keep both threads busy; the memory of a few folders' listings.
    constexpr size_t kAhead = 8;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Listing> ready;
    bool done = false;
    bool stop = false;

    std::thread lister([&] {
        std::vector<QString> pending{QString()};
        while (!pending.empty()) {
            Listing listing;
            listing.relPath = std::move(pending.back());
            pending.pop_back();
            if (!listDirectory(dir + listing.relPath, &listing.entries, nullptr, detail))
                continue;
            if (subfolders) {
                for (const DirEntry &e : listing.entries) {
                    if (e.kind == FileStat::Directory)
                        pending.push_back(listing.relPath + e.name + u'/');
                }
            }
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return stop || ready.size() < kAhead; });
            if (stop)
                break;
            ready.push_back(std::move(listing));
            changed.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        changed.notify_all();
    });

    // A visit that throws must not leave the lister waiting for room that never comes.
    struct Joiner {
        std::thread &thread;
        std::mutex &mutex;
        std::condition_variable &changed;
        bool &stop;
        ~Joiner()
        {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            changed.notify_all();
            thread.join();
        }
    } joiner{lister, mutex, changed, stop};

    for (;;) {
        Listing listing;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return done || !ready.empty(); });
            if (ready.empty())
                return;
            listing = std::move(ready.front());
            ready.pop_front();
            changed.notify_all();
        }
        visit(listing.relPath, listing.entries);
    }
}

bool copyFile(const QString &source,
              const QString &target,
              const std::function<void()> &keepAlive,
              FileStat *sourceStat,
              QString *error,
              NewCopy newCopy)
{
    const int in = openPath(source, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (in < 0) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    struct stat sb;
    const int statResult = ::fstat(in, &sb);
    if (statResult != 0 || !S_ISREG(sb.st_mode)) {
        const int err = statResult != 0 ? errno : EINVAL; // a pipe or device is not copied
        ::close(in);
        if (error)
            *error = systemReason(err);
        return false;
    }
    if (sourceStat)
        *sourceStat = toStat(sb);

    // A file already in the target's place is replaced only by a complete copy: the copy is
    // made beside it and renamed over it, so a failure leaves the earlier copy as it was.
    // Made with its permission bits where the creation mask lets them through: one call less.
    const uint permissions = sb.st_mode & 0777;
    File out;
    if (newCopy == NewCopy::WhenComplete ? !out.createBeside(target, permissions)
                                         : !out.open(target, File::CreateNew, permissions)
                && (out.error() != EEXIST || !out.createBeside(target, permissions))) {
        ::close(in);
        if (error)
            *error = out.errorString();
        return false;
    }
    int err = 0;
    bool ok = copyContent(in, out.descriptor(), sb.st_size, keepAlive);
    if (!ok)
        err = errno;
    if (ok) {
        const struct timespec times[2] = {sb.st_atim, sb.st_mtim};
        static const bool asRoot = ::geteuid() == 0;
        if (asRoot)
            (void)::fchown(out.descriptor(), sb.st_uid, sb.st_gid);
        const bool modeMade = (sb.st_mode & 07777) == (permissions & ~creationMask());
        if ((!modeMade && ::fchmod(out.descriptor(), sb.st_mode & 07777) != 0) || ::futimens(out.descriptor(), times) != 0) {
            ok = false;
            err = errno;
        }
    }
    ::close(in);
    if (!out.close() && ok) {
        ok = false;
        err = out.error();
    }
    if (ok && out.path() != target && renamePath(out.path(), target) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        removeFile(out.path());
        if (error)
            *error = systemReason(err);
    }
    return ok;
}

bool appendToFile(const QString &path, const QByteArray &bytes)
{
    // Never blocks: a pipe or device in the file's place is refused, not waited on.
    int fd = openPath(path, O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == ENOENT) {
        if (!makePath(path.left(path.lastIndexOf(u'/'))))
            return false;
        fd = openPath(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY, 0644);
    }
    if (fd < 0)
        return false;
    struct stat sb;
    const bool ok = ::fstat(fd, &sb) == 0 && S_ISREG(sb.st_mode) && writeFully(fd, bytes.constData(), bytes.size());
    return ::close(fd) == 0 && ok;
}

bool writeNewFile(const QString &path, const QByteArray &bytes)
{
    removeFile(path);
    const int fd = openPath(path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0644);
    if (fd < 0)
        return false;
    const bool ok = writeFully(fd, bytes.constData(), bytes.size());
    return ::close(fd) == 0 && ok;
}

bool canOpenForReading(const QString &path)
{
    const int fd = openPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

QString makePrivateFolder(const QString &parent, const QString &prefix, QString *error)
{
    QByteArray pattern = encodePath(withTrailingSeparator(parent) + prefix + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        if (error)
            *error = systemReason(errno);
        return QString();
    }
    return decodePath(pattern.constData(), pattern.size()) + u'/';
}

bool syncFileSystem(const QString &path, QString *error)
{
    const int fd = openPath(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    const bool ok = ::syncfs(fd) == 0;
    if (!ok && error)
        *error = systemReason(errno);
    ::close(fd);
    return ok;
}

// Enough to be worth a pass of the medium; a file's metadata counts as this much data.
constexpr qint64 kWritebackBatch = 32 << 20;
constexpr qint64 kMetadataCost = 16 << 10;
// Each pass commits the file system's journal, which holds up the run's own file creation for a
// moment: with many small files, passes back to back cost more than the medium gains by them.
constexpr std::chrono::milliseconds kWritebackPause{1000};

struct FileSystemSync::Private {
    // Sampled when opened: a write-back failure after that moment is reported by syncfs on it.
    int fd = -1;
    // The background's own handle: its reports do not take the failures away from fd.
    int backgroundFd = -1;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    qint64 pending = 0;
    bool stop = false;

    void loop()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stop || pending >= kWritebackBatch; });
            if (stop)
                return;
            pending = 0;
            lock.unlock();
            (void)::syncfs(backgroundFd);
            lock.lock();
            if (wake.wait_for(lock, kWritebackPause, [this] { return stop; }))
                return;
        }
    }

    void stopThread()
    {
        if (!thread.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_one();
        thread.join();
    }

    void closeAll()
    {
        stopThread();
        for (int *f : {&fd, &backgroundFd}) {
            if (*f >= 0)
                ::close(*f);
            *f = -1;
        }
    }
};

FileSystemSync::FileSystemSync()
    : d(std::make_unique<Private>())
{
}

FileSystemSync::~FileSystemSync()
{
    d->closeAll();
}

bool FileSystemSync::begin(const QString &folder)
{
    d->closeAll();
    d->fd = openPath(folder, O_RDONLY | O_DIRECTORY);
    if (d->fd < 0)
        return false;
    d->backgroundFd = ::openat(d->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    d->pending = 0;
    d->stop = false;
    if (d->backgroundFd >= 0)
        d->thread = std::thread([this] { d->loop(); });
    return true;
}

bool FileSystemSync::isActive() const
{
    return d->fd >= 0;
}

void FileSystemSync::written(qint64 bytes)
{
    if (!d->thread.joinable())
        return;
    bool due;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        // Woken once when a batch is complete, not for every file after: each wake-up costs.
        const bool wasShort = d->pending < kWritebackBatch;
        d->pending += bytes + kMetadataCost;
        due = wasShort && d->pending >= kWritebackBatch;
    }
    if (due)
        d->wake.notify_one();
}

bool FileSystemSync::finish(QString *error)
{
    d->stopThread();
    const bool ok = d->fd >= 0 && ::syncfs(d->fd) == 0;
    if (!ok && error)
        *error = systemReason(d->fd >= 0 ? errno : EBADF);
    d->closeAll();
    return ok;
}

void FileSystemSync::end()
{
    d->closeAll();
}

} // namespace Platform
