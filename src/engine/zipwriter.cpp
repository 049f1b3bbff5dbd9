// SPDX-License-Identifier: GPL-3.0-or-later
// Writing. The archive is written here with ISA-L's deflate rather than through libzip, which spends
// tens of microseconds of system time per entry and compresses on one core only. Files are
// cut into pieces of at most kPieceSize; worker threads deflate the pieces while this thread
// reads the next files and writes finished pieces in list order.
#include "engine/deflatepool.h"
#include "engine/ziparchive.h"
#include "engine/zipformat.h"
#include "platform/file.h"
#include "platform/filesystem.h"

#include <QElapsedTimer>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <time.h>
#include <vector>
#include <zlib.h>

using namespace ZipFormat;

namespace {

// Well below the 100 ms promised to callers, leaving room for reading or writing one piece.
constexpr int kKeepAliveMs = 40;
constexpr qsizetype kPieceSize = 1 << 20;
constexpr qsizetype kDictionarySize = 32768;
// Bounds what is read ahead of the writer, and so the memory used, whatever the file sizes.
constexpr qsizetype kMaxBytesInFlight = 8 << 20;
constexpr int kMaxPiecesInFlight = 512;
// A file this large gets ZIP64 sizes in its local header: even incompressible data that
// grows a little under deflate could then pass 4 GiB.
constexpr quint64 kZip64LocalThreshold = 0xF0000000u;

using Platform::systemReason;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QString readError(const QString &path, int err)
{
    return QStringLiteral("Die Datei %1 kann nicht gelesen werden: %2").arg(path, systemReason(err));
}

// The archive file, written through a buffer; a header written earlier can be patched.
class OutputFile
{
public:
    bool open(const QString &path)
    {
        m_buffer.reserve(kBufferSize);
        return m_file.open(path, Platform::File::Write);
    }

    quint64 position() const
    {
        return m_flushed + quint64(m_buffer.size());
    }

    bool write(const char *data, qsizetype size)
    {
        if (m_buffer.size() + size > kBufferSize && !flush())
            return false;
        if (size >= kBufferSize)
            return writeThrough(data, size);
        m_buffer.append(data, size);
        return true;
    }

    bool write(const QByteArray &bytes)
    {
        return write(bytes.constData(), bytes.size());
    }

    bool patch(quint64 at, const QByteArray &bytes)
    {
        if (at >= m_flushed) {
            std::memcpy(m_buffer.data() + (at - m_flushed), bytes.constData(), size_t(bytes.size()));
            return true;
        }
        return flush() && m_file.writeAt(at, bytes.constData(), bytes.size());
    }

    bool flush()
    {
        if (m_buffer.isEmpty())
            return true;
        const bool ok = writeThrough(m_buffer.constData(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }

    bool close()
    {
        const bool ok = flush();
        return m_file.close() && ok;
    }

    // Gives up everything written from position at on, for an entry that could not be read whole.
    bool truncate(quint64 at)
    {
        if (at >= m_flushed) {
            m_buffer.resize(qsizetype(at - m_flushed));
            return true;
        }
        m_buffer.clear();
        if (!m_file.truncate(at))
            return false;
        m_flushed = at;
        return true;
    }

    // Closes without writing what is still buffered, for an archive that is deleted anyway.
    void discard()
    {
        m_buffer.clear();
        (void)m_file.close();
    }

    QString errorString() const
    {
        return m_file.errorString();
    }

private:
    bool writeThrough(const char *data, qsizetype size)
    {
        if (!m_file.write(data, size))
            return false;
        m_flushed += quint64(size);
        return true;
    }

    static constexpr qsizetype kBufferSize = 1 << 20;
    Platform::File m_file;
    quint64 m_flushed = 0;
    QByteArray m_buffer;
};

struct Entry {
    QString path;
    QByteArray name;
    bool utf8 = false;
    // From the file when it is opened.
    qint64 mtime = 0;
    uint mode = 0;
    quint64 statSize = 0;
    Platform::FileStat stat;
    // Set when the file could not be read whole: it is left out of the archive.
    QString failure;
    bool headerWritten = false;
    // From writing.
    quint64 offset = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 size = 0;
    quint16 method = kMethodDeflated;
    bool zip64Local = false;
};

bool needsUtf8Flag(const QByteArray &name)
{
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x80; });
    return !ascii && QString::fromUtf8(name).toUtf8() == name;
}

// DOS date and time in local time, as other zip tools store them; 1980 is the earliest they hold.
void dosDateTime(qint64 mtime, quint16 *dosTime, quint16 *dosDate)
{
    const time_t t = time_t(mtime);
    struct tm tm;
    if (!::localtime_r(&t, &tm) || tm.tm_year < 80) {
        *dosTime = 0;
        *dosDate = (1 << 5) | 1;
        return;
    }
    if (tm.tm_year > 207) {
        *dosTime = (23 << 11) | (59 << 5) | 29;
        *dosDate = quint16((127 << 9) | (12 << 5) | 31);
        return;
    }
    *dosTime = quint16((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    *dosDate = quint16(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}


class ZipWriter
{
public:
    ZipWriter(const QString &archivePath, const ZipProgress &progress, ZipResult *result)
        : m_archivePath(archivePath)
        , m_progress(progress)
        , m_result(result)
    {
    }

    ~ZipWriter()
    {
        m_pool.stop();
    }

    bool run(const QStringList &files, QString *error)
    {
        // An archive of an earlier attempt must not survive a failure of this one.
        Platform::removeFile(m_archivePath);
        if (!collectEntries(files, error))
            return false;
        if (!m_out.open(m_archivePath)) {
            setError(error, QStringLiteral("Das Archiv %1 kann nicht angelegt werden: %2")
                                .arg(m_archivePath, m_out.errorString()));
            return false;
        }
        m_sinceKeepAlive.start();
        m_pool.start();
        const bool ok = pack() && writeCentralDirectory() && closeOutput();
        m_pool.stop();
        if (!ok) {
            m_out.discard();
            Platform::removeFile(m_archivePath);
            setError(error, m_error);
            return false;
        }
        if (m_result) {
            for (const Entry &e : m_entries) {
                if (e.failure.isEmpty())
                    m_result->packed.push_back({e.path, e.stat});
                else
                    m_result->skipped.push_back({e.path, e.failure});
            }
        }
        return true;
    }

private:
    bool fail(const QString &text)
    {
        m_error = text;
        return false;
    }

    bool writeFailed()
    {
        return fail(QStringLiteral("Das Archiv %1 kann nicht geschrieben werden: %2")
                        .arg(m_archivePath, m_out.errorString()));
    }

    bool collectEntries(const QStringList &files, QString *error)
    {
        QSet<QString> seenPaths;
        QSet<QByteArray> seenNames;
        m_entries.reserve(files.size());
        for (const QString &path : files) {
            // The same file listed twice (it matched two masks) is packed once.
            if (seenPaths.contains(path))
                continue;
            seenPaths.insert(path);
            Entry e;
            e.path = path;
            e.name = Platform::encodePath(path.mid(path.lastIndexOf(u'/') + 1));
            if (seenNames.contains(e.name)) {
                setError(error, QStringLiteral("Zwei Dateien heißen %1; das Archiv kann nur eine davon aufnehmen.")
                                    .arg(Platform::displayPath(Platform::decodePath(e.name.constData(), e.name.size()))));
                return false;
            }
            seenNames.insert(e.name);
            e.utf8 = needsUtf8Flag(e.name);
            m_entries.push_back(std::move(e));
        }
        return true;
    }

    bool checkIn()
    {
        if (m_sinceKeepAlive.elapsed() >= kKeepAliveMs) {
            m_sinceKeepAlive.restart();
            if (m_progress.keepAlive)
                m_progress.keepAlive();
            if (isCancelled())
                return false;
        }
        return true;
    }

    bool isCancelled()
    {
        if (m_progress.cancelled && m_progress.cancelled())
            return !fail(QStringLiteral("Das Verpacken wurde abgebrochen."));
        return false;
    }

    bool pack()
    {
        for (;;) {
            while (!m_inFlight.empty() && m_inFlight.front()->done.load(std::memory_order_acquire)) {
                std::unique_ptr<DeflatePiece> p = std::move(m_inFlight.front());
                m_inFlight.pop_front();
                m_bytesInFlight -= p->input.size();
                if (!writePiece(*p))
                    return false;
            }
            if (!checkIn())
                return false;
            const bool moreInput = m_in.isOpen() || m_nextEntry < qsizetype(m_entries.size());
            if (moreInput && m_bytesInFlight < kMaxBytesInFlight && m_inFlight.size() < size_t(kMaxPiecesInFlight)) {
                if (!readPiece())
                    return false;
                continue;
            }
            if (m_inFlight.empty())
                return true;
            m_pool.waitFor(*m_inFlight.front(), int(std::max<qint64>(1, kKeepAliveMs - m_sinceKeepAlive.elapsed())));
        }
    }

    bool openNextFile()
    {
        Entry &e = m_entries[size_t(m_nextEntry)];
        // Read without blocking, so that a pipe in the list cannot stall the run before it is recognised.
        if (!m_in.open(e.path, Platform::File::Read) || !m_in.stat(&e.stat))
            return fileFailed(readError(e.path, m_in.error()));
        if (e.stat.kind != Platform::FileStat::File)
            return fileFailed(QStringLiteral("Die Datei %1 ist keine gewöhnliche Datei.").arg(e.path));
        // Whole seconds, rounded down as the system keeps them (also before 1970).
        constexpr qint64 kNsPerSecond = 1000000000;
        e.mtime = (e.stat.mtimeNs - ((e.stat.mtimeNs % kNsPerSecond) + kNsPerSecond) % kNsPerSecond) / kNsPerSecond;
        e.mode = e.stat.mode;
        e.statSize = quint64(e.stat.size);
        m_readSoFar = 0;
        m_dictionary.clear();
        return true;
    }

    /*
     * A file that vanished or cannot be read: where the caller takes a partial archive it is
     * left out (what of it was written already is given up) and the next file follows;
     * otherwise the archive fails.
     */
    bool fileFailed(const QString &reason)
    {
        if (!m_result)
            return fail(reason);
        Entry &e = m_entries[size_t(m_nextEntry)];
        e.failure = reason;
        (void)m_in.close();
        ++m_nextEntry;
        if (e.headerWritten && !m_out.truncate(e.offset))
            return writeFailed();
        return true;
    }

    bool readPiece()
    {
        if (!m_in.isOpen()) {
            if (!openNextFile())
                return false;
            if (!m_in.isOpen())
                return true; // left out
        }
        Entry &e = m_entries[size_t(m_nextEntry)];
        auto p = std::make_unique<DeflatePiece>();
        p->entry = m_nextEntry;
        p->first = m_readSoFar == 0;
        const quint64 expected = e.statSize > m_readSoFar ? e.statSize - m_readSoFar : 0;
        // One byte more than the size the file should have left shows the end without another read;
        // a file that has grown since it was opened is read on in whole pieces.
        const qsizetype capacity = expected == 0 && !p->first
            ? kPieceSize
            : qsizetype(std::min<quint64>(quint64(kPieceSize), expected + 1));
        p->input.resize(capacity);
        qsizetype got = 0;
        bool atEnd = false;
        while (got < capacity) {
            const qint64 n = m_in.read(p->input.data() + got, capacity - got);
            if (n < 0)
                return fileFailed(readError(e.path, m_in.error()));
            if (n == 0) {
                atEnd = true;
                break;
            }
            got += n;
            // A short read of a regular file is its end.
            if (quint64(got) >= expected && got < capacity) {
                atEnd = true;
                break;
            }
        }
        p->input.resize(got);
        p->last = atEnd;
        if (!p->first)
            p->dictionary = m_dictionary;
        m_readSoFar += quint64(got);
        if (atEnd) {
            (void)m_in.close(); // read to its end: nothing of it is lost by a failing close
            ++m_nextEntry;
        } else {
            // The last 32 KiB read, without copying the whole piece on the way.
            if (p->input.size() >= kDictionarySize)
                m_dictionary = p->input.right(kDictionarySize);
            else
                m_dictionary = (m_dictionary + p->input).right(kDictionarySize);
        }
        m_bytesInFlight += p->input.size();
        m_pool.push(p.get());
        m_inFlight.push_back(std::move(p));
        return true;
    }

    QByteArray localHeader(const Entry &e) const
    {
        quint16 dosTime = 0;
        quint16 dosDate = 0;
        dosDateTime(e.mtime, &dosTime, &dosDate);
        QByteArray h;
        h.reserve(30 + e.name.size() + 29);
        put32(h, 0x04034b50);
        put16(h, e.zip64Local ? 45 : 20);
        put16(h, e.utf8 ? kFlagUtf8 : 0);
        put16(h, e.method);
        put16(h, dosTime);
        put16(h, dosDate);
        put32(h, e.crc);
        put32(h, e.zip64Local ? kMax32 : e.compressedSize);
        put32(h, e.zip64Local ? kMax32 : e.size);
        QByteArray zip64;
        if (e.zip64Local) {
            put64(zip64, e.size);
            put64(zip64, e.compressedSize);
        }
        put16(h, quint32(e.name.size()));
        put16(h, quint32(zip64ExtraSize(zip64) + timestampExtraSize(e.mtime)));
        h.append(e.name);
        appendZip64Extra(h, zip64);
        appendTimestampExtra(h, e.mtime);
        return h;
    }

    bool writePiece(DeflatePiece &p)
    {
        if (!m_entries[size_t(p.entry)].failure.isEmpty())
            return true; // the rest of a file left out
        if (!p.ok)
            return fail(QStringLiteral("Die Datei %1 kann nicht komprimiert werden.").arg(m_entries[size_t(p.entry)].path));
        Entry &e = m_entries[size_t(p.entry)];
        if (p.first && p.last) {
            // A whole file in one piece: everything is known before its header is written.
            e.offset = m_out.position();
            e.crc = p.crc;
            e.size = quint64(p.input.size());
            const bool store = p.output.size() >= p.input.size();
            e.method = store ? kMethodStored : kMethodDeflated;
            const QByteArray &data = store ? p.input : p.output;
            e.compressedSize = quint64(data.size());
            e.headerWritten = true;
            if (!m_out.write(localHeader(e)) || !m_out.write(data))
                return writeFailed();
            return fileDone(e);
        }
        if (p.first) {
            e.offset = m_out.position();
            e.method = kMethodDeflated;
            e.zip64Local = e.statSize >= kZip64LocalThreshold;
            e.crc = p.crc;
            e.size = 0;
            e.compressedSize = 0;
            e.headerWritten = true;
            if (!m_out.write(localHeader(e)))
                return writeFailed();
        } else {
            e.crc = quint32(crc32_combine(e.crc, p.crc, z_off_t(p.input.size())));
        }
        e.size += quint64(p.input.size());
        e.compressedSize += quint64(p.output.size());
        if (!m_out.write(p.output))
            return writeFailed();
        if (!p.last)
            return true;
        if (!e.zip64Local && (e.size >= kMax32 || e.compressedSize >= kMax32))
            return fail(QStringLiteral("Die Datei %1 ist beim Verpacken über 4 GiB gewachsen.").arg(e.path));
        if (!m_out.patch(e.offset, localHeader(e)))
            return writeFailed();
        return fileDone(e);
    }

    bool fileDone(const Entry &e)
    {
        if (m_progress.message)
            m_progress.message(QStringLiteral("  adding: ") + Platform::decodePath(e.name.constData(), e.name.size()));
        if (m_progress.fileDone)
            m_progress.fileDone();
        // A cancel click is honoured after every file, not only when keepAlive is due.
        return !isCancelled();
    }

    bool writeCentralDirectory()
    {
        const quint64 start = m_out.position();
        QByteArray h;
        quint64 count = 0;
        for (const Entry &e : m_entries) {
            if (!e.failure.isEmpty())
                continue;
            ++count;
            quint16 dosTime = 0;
            quint16 dosDate = 0;
            dosDateTime(e.mtime, &dosTime, &dosDate);
            QByteArray zip64;
            if (e.size >= kMax32)
                put64(zip64, e.size);
            if (e.compressedSize >= kMax32)
                put64(zip64, e.compressedSize);
            if (e.offset >= kMax32)
                put64(zip64, e.offset);
            const bool useZip64 = !zip64.isEmpty() || e.zip64Local;
            h.clear();
            put32(h, 0x02014b50);
            put16(h, kMadeByUnix | (useZip64 ? 45 : 20));
            put16(h, useZip64 ? 45 : 20);
            put16(h, e.utf8 ? kFlagUtf8 : 0);
            put16(h, e.method);
            put16(h, dosTime);
            put16(h, dosDate);
            put32(h, e.crc);
            put32(h, std::min(e.compressedSize, kMax32));
            put32(h, std::min(e.size, kMax32));
            put16(h, quint32(e.name.size()));
            put16(h, quint32(zip64ExtraSize(zip64) + timestampExtraSize(e.mtime)));
            put16(h, 0); // comment
            put16(h, 0); // disk
            put16(h, 0); // internal attributes
            // Unix mode in the high half; the low byte carries the DOS read-only bit for other systems.
            put32(h, (quint64(kUnixRegularFile | e.mode) << 16) | ((e.mode & 0222) == 0 ? 0x01 : 0));
            put32(h, std::min(e.offset, kMax32));
            h.append(e.name);
            appendZip64Extra(h, zip64);
            appendTimestampExtra(h, e.mtime);
            if (!m_out.write(h))
                return writeFailed();
            if (!checkIn())
                return false;
        }
        const quint64 size = m_out.position() - start;
        h.clear();
        if (count >= 0xffff || size >= kMax32 || start >= kMax32) {
            const quint64 record = m_out.position();
            put32(h, 0x06064b50);
            put64(h, 44);
            put16(h, kMadeByUnix | 45);
            put16(h, 45);
            put32(h, 0);
            put32(h, 0);
            put64(h, count);
            put64(h, count);
            put64(h, size);
            put64(h, start);
            put32(h, 0x07064b50);
            put32(h, 0);
            put64(h, record);
            put32(h, 1);
        }
        put32(h, 0x06054b50);
        put16(h, 0);
        put16(h, 0);
        put16(h, quint32(std::min<quint64>(count, 0xffff)));
        put16(h, quint32(std::min<quint64>(count, 0xffff)));
        put32(h, std::min(size, kMax32));
        put32(h, std::min(start, kMax32));
        put16(h, 0);
        return m_out.write(h) || writeFailed();
    }

    bool closeOutput()
    {
        return m_out.close() || writeFailed();
    }

    QString m_archivePath;
    const ZipProgress &m_progress;
    ZipResult *m_result = nullptr;
    QString m_error;
    std::vector<Entry> m_entries;
    OutputFile m_out;
    DeflatePool m_pool;
    std::deque<std::unique_ptr<DeflatePiece>> m_inFlight;
    qsizetype m_bytesInFlight = 0;
    QElapsedTimer m_sinceKeepAlive;
    // The file being read.
    qsizetype m_nextEntry = 0;
    Platform::File m_in;
    quint64 m_readSoFar = 0;
    QByteArray m_dictionary;
};
} // namespace

bool zipFiles(const QString &archivePath, const QStringList &files, const ZipProgress &progress, QString *error)
{
    if (files.isEmpty())
        return true;
    ZipWriter writer(archivePath, progress, nullptr);
    return writer.run(files, error);
}

bool zipFiles(const QString &archivePath,
              const QStringList &files,
              const ZipProgress &progress,
              ZipResult *result,
              QString *error)
{
    result->packed.clear();
    result->skipped.clear();
    if (files.isEmpty())
        return true;
    ZipWriter writer(archivePath, progress, result);
    return writer.run(files, error);
}

