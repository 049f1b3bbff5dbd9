// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ziparchive.h"

#include "engine/zipformat.h"
#include "platform/file.h"
#include "platform/filesystem.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>

#include <cerrno>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zip.h>

namespace {

// Well below the 100 ms promised to callers, leaving room for one buffer of an entry.
constexpr int kKeepAliveMs = 40;

using Platform::systemReason;
using ZipFormat::kExtendedTimestampId;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// ---------------------------------------------------------------------------------------------
// Reading, through libzip. Writing is in zipwriter.cpp.

quint32 readLittleEndian32(const zip_uint8_t *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// The modification time from the extended-timestamp field, which holds it in UTC to the second.
bool extendedMtime(zip_t *za, zip_uint64_t index, zip_flags_t where, qint64 *mtime)
{
    zip_uint16_t len = 0;
    const zip_uint8_t *data = zip_file_extra_field_get_by_id(za, index, kExtendedTimestampId, 0, &len, where);
    if (!data || len < 5 || !(data[0] & 1))
        return false;
    *mtime = qint32(readLittleEndian32(data + 1));
    return true;
}

QString archiveReadError(const QString &archivePath, const QString &reason)
{
    return QStringLiteral("Das Archiv %1 kann nicht gelesen werden: %2")
        .arg(Platform::displayPath(archivePath), reason);
}

QString missingEntryText(const QString &archivePath, const QString &entryName)
{
    return QStringLiteral("Der Eintrag %1 fehlt im Archiv %2.")
        .arg(Platform::displayPath(entryName), Platform::displayPath(archivePath));
}

QString zipErrorText(int code)
{
    zip_error_t err;
    zip_error_init_with_code(&err, code);
    const QString text = QString::fromLocal8Bit(zip_error_strerror(&err));
    zip_error_fini(&err);
    return text;
}

// Opened through a descriptor, so that an archive deep below its set or with any bytes in its name is read too.
zip_t *openForReading(const QString &archivePath, QString *error)
{
    Platform::File file;
    Platform::FileStat st;
    if (!file.open(archivePath, Platform::File::Read) || !file.stat(&st)) {
        setError(error, archiveReadError(archivePath, file.errorString()));
        return nullptr;
    }
    // An empty file is what is left of an archive cut off at its start, not an archive without entries.
    if (st.kind != Platform::FileStat::File || st.size == 0) {
        setError(error, archiveReadError(archivePath, zipErrorText(ZIP_ER_NOZIP)));
        return nullptr;
    }
    int code = 0;
    zip_t *za = zip_fdopen(file.descriptor(), 0, &code);
    if (za)
        file.release(); // libzip closes it with the archive
    else
        setError(error, archiveReadError(archivePath, zipErrorText(code)));
    return za;
}

// The entry's name. An entry packed on a Unix-like system carries the bytes of its name, whatever
// the UTF-8 flag says, and gets them back, so a name that is not UTF-8 is restored as it was
// saved. Packers on DOS and Windows wrote names without the flag in their code page 437, which
// libzip converts.
QString entryName(zip_t *za, zip_uint64_t index)
{
    zip_uint8_t opsys = ZIP_OPSYS_UNIX;
    zip_uint32_t attributes = 0;
    zip_file_get_external_attributes(za, index, 0, &opsys, &attributes);
    switch (opsys) {
    case ZIP_OPSYS_DOS:
    case ZIP_OPSYS_OS_2:
    case ZIP_OPSYS_WINDOWS_NTFS:
    case ZIP_OPSYS_MVS: // what some Windows packers wrote for NTFS
    case ZIP_OPSYS_VFAT:
        if (const char *converted = zip_get_name(za, index, ZIP_FL_ENC_GUESS))
            return QString::fromUtf8(converted);
        return QString();
    default:
        break;
    }
    const char *raw = zip_get_name(za, index, ZIP_FL_ENC_RAW);
    return raw ? Platform::decodePath(raw) : QString();
}

/*
 * The archive a restore reads from, kept open between the entries it extracts one after the
 * other: opening it and finding an entry by name for each of a hundred entries would read its
 * directory a hundred times. Kept per thread, and only while the file is the same one.
 */
struct OpenArchive {
    QString path;
    Platform::FileStat state;
    zip_t *za = nullptr;
    QHash<QString, zip_int64_t> index; // the first entry of each name

    void release()
    {
        if (za)
            zip_discard(za);
        za = nullptr;
        path.clear();
        index.clear();
    }
    ~OpenArchive()
    {
        release();
    }
};

thread_local OpenArchive t_archive;

bool sameState(const Platform::FileStat &a, const Platform::FileStat &b)
{
    return a.exists() && a.device == b.device && a.inode == b.inode && a.size == b.size && a.mtimeNs == b.mtimeNs
        && a.ctimeNs == b.ctimeNs;
}

OpenArchive *openCached(const QString &archivePath, QString *error)
{
    const Platform::FileStat state = Platform::statPath(archivePath, true);
    if (t_archive.za && t_archive.path == archivePath && sameState(state, t_archive.state))
        return &t_archive;
    t_archive.release();
    zip_t *za = openForReading(archivePath, error);
    if (!za)
        return nullptr;
    t_archive.za = za;
    t_archive.path = archivePath;
    t_archive.state = state;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    t_archive.index.reserve(count);
    // The first entry of a name counts; libzip's own lookup goes by names it converted from code
    // page 437, so it would not find a name that is not UTF-8 by its bytes.
    for (zip_int64_t i = 0; i < count; ++i) {
        const QString name = entryName(za, zip_uint64_t(i));
        if (!t_archive.index.contains(name))
            t_archive.index.insert(name, i);
    }
    return &t_archive;
}

} // namespace

void releaseArchive()
{
    t_archive.release();
}

bool listArchive(const QString &archivePath, QList<TZippedFile> *entries, QString *error)
{
    entries->clear();
    zip_t *za = openForReading(archivePath, error);
    if (!za)
        return false;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    entries->reserve(count);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0) {
            setError(error, archiveReadError(archivePath, QString::fromLocal8Bit(zip_strerror(za))));
            zip_discard(za);
            entries->clear();
            return false;
        }
        TZippedFile e;
        e.uncompressedSize = st.size;
        e.compressedSize = st.comp_size;
        if (st.size > 0)
            e.factor = int(qRound64(100.0 * (double(st.size) - double(st.comp_size)) / double(st.size)));
        e.date = QDateTime::fromSecsSinceEpoch(st.mtime).date();
        e.name = entryName(za, zip_uint64_t(i));
        e.crc = st.crc;
        e.encryptionMarker = st.encryption_method != ZIP_EM_NONE ? u'E' : u' ';
        entries->append(e);
    }
    zip_discard(za);
    return true;
}

bool extractEntry(const QString &archivePath,
    const QString &targetDir,
    const QString &entryName,
    QString *error,
    const std::function<void()> &keepAlive)
{
    if (!isSafeEntryName(entryName)) {
        setError(error,
            QStringLiteral("Der Eintrag \"%1\" im Archiv %2 hat einen unzulässigen Namen und wird nicht entpackt.")
                .arg(Platform::displayPath(entryName), Platform::displayPath(archivePath)));
        return false;
    }
    OpenArchive *archive = openCached(archivePath, error);
    if (!archive)
        return false;
    zip_t *za = archive->za;
    const zip_int64_t index = archive->index.value(entryName, -1);
    if (index < 0) {
        setError(error, missingEntryText(archivePath, entryName));
        return false;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    uint mode = 0644;
    if (zip_stat_index(za, zip_uint64_t(index), 0, &st) == 0
        && zip_file_get_external_attributes(za, zip_uint64_t(index), 0, &opsys, &attributes) == 0
        && opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & 0777) != 0)
        mode = (attributes >> 16) & 0777;
    qint64 mtime = st.mtime;
    if (!extendedMtime(za, zip_uint64_t(index), ZIP_FL_CENTRAL, &mtime))
        extendedMtime(za, zip_uint64_t(index), ZIP_FL_LOCAL, &mtime);

    const QString target = targetDir + (targetDir.endsWith(u'/') ? QString() : QStringLiteral("/")) + entryName;
    const QString shown = Platform::displayPath(target);
    // The entry is written under a fresh name beside its place and renamed over it only when whole.
    Platform::File out;
    if (!out.createBeside(target)) {
        setError(error, QStringLiteral("Die Datei %1 kann nicht angelegt werden: %2").arg(shown, out.errorString()));
        return false;
    }
    const QString tempName = out.path();
    auto fail = [&](const QString &text) {
        (void)out.close();
        Platform::removeFile(tempName);
        // A damaged archive is read anew next time.
        t_archive.release();
        setError(error, text);
        return false;
    };

    zip_file_t *zf = zip_fopen_index(za, zip_uint64_t(index), 0);
    if (!zf)
        return fail(archiveReadError(archivePath, QString::fromLocal8Bit(zip_strerror(za))));
    // Small entries need no large buffer; the buffer of a thread is kept for the next entry.
    thread_local QByteArray buffer(256 * 1024, Qt::Uninitialized);
    QElapsedTimer sinceKeepAlive;
    sinceKeepAlive.start();
    for (;;) {
        if (keepAlive && sinceKeepAlive.elapsed() >= kKeepAliveMs) {
            keepAlive();
            sinceKeepAlive.restart();
        }
        // libzip checks the CRC when the last byte has been read and then reports an error.
        const zip_int64_t n = zip_fread(zf, buffer.data(), zip_uint64_t(buffer.size()));
        if (n < 0) {
            const QString reason = QString::fromLocal8Bit(zip_file_strerror(zf));
            zip_fclose(zf);
            return fail(archiveReadError(archivePath, reason));
        }
        if (n == 0)
            break;
        if (!out.write(buffer.constData(), n)) {
            zip_fclose(zf);
            return fail(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(shown, out.errorString()));
        }
    }
    zip_fclose(zf);

    if (!out.setModeAndTime(mode, mtime * 1000000000LL) || !out.close())
        return fail(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(shown, out.errorString()));
    // The rename replaces an existing file (also a read-only one) in one step.
    if (Platform::renamePath(tempName, target) != 0) {
        const int err = errno;
        Platform::removeFile(tempName);
        setError(error, QStringLiteral("Die Datei %1 kann nicht angelegt werden: %2").arg(shown, systemReason(err)));
        return false;
    }
    return true;
}

// A deflated entry is read as it is stored and inflated here, with a faster decoder than
// libzip's: a database restore reads its dump twice, and the first time nothing else can go on.
struct ZipEntryReader::Inflater {
    inflate_state state;
    QByteArray input = QByteArray(256 * 1024, Qt::Uninitialized);
    bool inputEnd = false;
    bool finished = false;
    quint32 crc = 0;
    quint32 expectedCrc = 0;
    quint64 produced = 0;
};

ZipEntryReader::ZipEntryReader() = default;

ZipEntryReader::~ZipEntryReader()
{
    close();
}

bool ZipEntryReader::open(const QString &archivePath, const QString &name, QString *error)
{
    close();
    m_archivePath = archivePath;
    m_error.clear();
    m_archive = openForReading(archivePath, error);
    if (!m_archive)
        return false;
    const zip_int64_t count = zip_get_num_entries(m_archive, 0);
    zip_int64_t index = 0;
    while (index < count && entryName(m_archive, zip_uint64_t(index)) != name)
        ++index;
    zip_stat_t st;
    zip_stat_init(&st);
    const bool deflated = index < count && zip_stat_index(m_archive, zip_uint64_t(index), 0, &st) == 0
        && (st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_DEFLATE
        && (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method == ZIP_EM_NONE
        && (st.valid & ZIP_STAT_CRC);
    if (index == count) {
        setError(error, missingEntryText(archivePath, name));
    } else if (!(st.valid & ZIP_STAT_SIZE)
        || !(m_file = zip_fopen_index(m_archive, zip_uint64_t(index), deflated ? ZIP_FL_COMPRESSED : 0))) {
        setError(error, archiveReadError(archivePath, QString::fromLocal8Bit(zip_strerror(m_archive))));
    } else {
        m_size = st.size;
        if (deflated) {
            m_inflater = std::make_unique<Inflater>();
            isal_inflate_init(&m_inflater->state);
            m_inflater->state.crc_flag = ISAL_DEFLATE;
            m_inflater->expectedCrc = st.crc;
        }
        return true;
    }
    close();
    return false;
}

qint64 ZipEntryReader::read(char *data, qint64 size)
{
    // A damaged entry stays damaged: it never reads as ended after its error.
    if (!m_file || !m_error.isEmpty())
        return -1;
    if (m_inflater)
        return inflate(data, size);
    const zip_int64_t n = zip_fread(m_file, data, zip_uint64_t(size));
    if (n < 0)
        m_error = archiveReadError(m_archivePath, QString::fromLocal8Bit(zip_file_strerror(m_file)));
    return n;
}

qint64 ZipEntryReader::inflate(char *data, qint64 size)
{
    Inflater &z = *m_inflater;
    inflate_state &state = z.state;
    const auto failed = [this](int code) {
        m_error = archiveReadError(m_archivePath, zipErrorText(code));
        return qint64(-1);
    };
    if (z.finished)
        return 0;
    state.next_out = reinterpret_cast<uint8_t *>(data);
    state.avail_out = uint32_t(qMin<qint64>(size, 1 << 30));
    while (state.avail_out > 0 && state.block_state != ISAL_BLOCK_FINISH) {
        if (state.avail_in == 0 && !z.inputEnd) {
            const zip_int64_t n = zip_fread(m_file, z.input.data(), zip_uint64_t(z.input.size()));
            if (n < 0) {
                m_error = archiveReadError(m_archivePath, QString::fromLocal8Bit(zip_file_strerror(m_file)));
                return -1;
            }
            z.inputEnd = n == 0;
            state.next_in = reinterpret_cast<uint8_t *>(z.input.data());
            state.avail_in = uint32_t(n);
        }
        const uint32_t roomBefore = state.avail_out;
        if (isal_inflate(&state) < 0)
            return failed(ZIP_ER_COMPRESSED_DATA);
        // Out of input before the last block: the entry is cut off.
        if (z.inputEnd && state.avail_in == 0 && state.avail_out == roomBefore
            && state.block_state != ISAL_BLOCK_FINISH)
            return failed(ZIP_ER_EOF);
    }
    const qint64 n = reinterpret_cast<char *>(state.next_out) - data;
    z.crc = crc32_gzip_refl(z.crc, reinterpret_cast<const unsigned char *>(data), quint64(n));
    z.produced += quint64(n);
    if (z.produced > m_size)
        return failed(ZIP_ER_INCONS);
    if (state.block_state == ISAL_BLOCK_FINISH) {
        z.finished = true;
        if (z.produced != m_size)
            return failed(ZIP_ER_INCONS);
        if (z.crc != z.expectedCrc)
            return failed(ZIP_ER_CRC);
    }
    return n;
}

void ZipEntryReader::close()
{
    m_inflater.reset();
    if (m_file)
        zip_fclose(m_file);
    m_file = nullptr;
    if (m_archive)
        zip_discard(m_archive);
    m_archive = nullptr;
    m_size = 0;
}

bool isSafeEntryName(const QString &name)
{
    if (name.isEmpty() || name == u'.' || name == QLatin1String(".."))
        return false;
    if (name.contains(u'/') || name.contains(QChar(0)))
        return false;
#ifdef Q_OS_WIN
    // A backslash separates folders only there; elsewhere it is a character of the name like any other.
    if (name.contains(u'\\') || name.contains(u':'))
        return false;
#endif
    return true;
}
