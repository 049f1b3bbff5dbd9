// SPDX-License-Identifier: GPL-3.0-or-later
// Names as bytes, and file calls on paths of any length.
#include "platform/filesystem.h"
#include "platform/linux/stat_linux.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr char16_t kKeptByteBase = 0xDC00; // U+DC80..U+DCFF hold the bytes 0x80..0xFF

// Length of the valid UTF-8 sequence at p (at most end - p bytes), 0 when there is none.
int validSequence(const uchar *p, const uchar *end, char32_t *cp)
{
    const uchar c = p[0];
    int len = 0;
    char32_t min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        *cp = c & 0x1F;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        *cp = c & 0x0F;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        *cp = c & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (end - p < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        *cp = (*cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, encoded surrogates and values past U+10FFFF are not valid UTF-8.
    if (*cp < min || (*cp >= 0xD800 && *cp <= 0xDFFF) || *cp > 0x10FFFF)
        return 0;
    return len;
}

bool isKeptByte(char16_t u)
{
    return u >= kKeptByteBase + 0x80 && u <= kKeptByteBase + 0xFF;
}

// A path too long for one system call is reached through handles of its folders: the
// folder handle and the last part that the call then takes.
class PathAt
{
public:
    explicit PathAt(const QString &path)
        : m_bytes(encodePath(path))
    {
        m_name = m_bytes.constData();
        qsizetype rest = m_bytes.size();
        // Leave room below PATH_MAX; one name is at most 255 bytes anyway.
        constexpr qsizetype kLimit = PATH_MAX - 256;
        while (rest > kLimit) {
            const char *start = m_name;
            // The longest run of whole folders that one call can take.
            qsizetype cut = kLimit;
            while (cut > 0 && start[cut] != '/')
                --cut;
            if (cut == 0) {
                m_error = ENAMETOOLONG;
                return;
            }
            const QByteArray part(start, cut);
            const int fd = ::openat(m_dir, part.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                m_error = errno;
                return;
            }
            if (m_dir != AT_FDCWD)
                ::close(m_dir);
            m_dir = fd;
            m_name = start + cut;
            while (*m_name == '/')
                ++m_name;
            rest = m_bytes.size() - (m_name - m_bytes.constData());
        }
    }
    ~PathAt()
    {
        if (m_dir != AT_FDCWD)
            ::close(m_dir);
    }
    PathAt(const PathAt &) = delete;
    PathAt &operator=(const PathAt &) = delete;

    bool ok() const
    {
        if (m_error != 0)
            errno = m_error;
        return m_error == 0;
    }
    int dir() const
    {
        return m_dir;
    }
    const char *name() const
    {
        return *m_name ? m_name : ".";
    }

private:
    QByteArray m_bytes;
    int m_dir = AT_FDCWD;
    const char *m_name = nullptr;
    int m_error = 0;
};


} // namespace

QByteArray encodePath(QStringView path)
{
    const char16_t *u = path.utf16();
    const qsizetype n = path.size();
    // Every path call goes through here: written into room for the longest case, then cut.
    QByteArray out(n * 3, Qt::Uninitialized);
    char *o = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = u[i];
        if (c < 0x80) {
            *o++ = char(c);
        } else if (isKeptByte(c)) {
            *o++ = char(c - kKeptByteBase);
        } else if (c < 0x800) {
            *o++ = char(0xC0 | (c >> 6));
            *o++ = char(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
            *o++ = char(0xF0 | (cp >> 18));
            *o++ = char(0x80 | ((cp >> 12) & 0x3F));
            *o++ = char(0x80 | ((cp >> 6) & 0x3F));
            *o++ = char(0x80 | (cp & 0x3F));
        } else {
            // A lone surrogate that no name read from the disk gives: the replacement character.
            const char16_t v = (c >= 0xD800 && c <= 0xDFFF) ? char16_t(0xFFFD) : c;
            *o++ = char(0xE0 | (v >> 12));
            *o++ = char(0x80 | ((v >> 6) & 0x3F));
            *o++ = char(0x80 | (v & 0x3F));
        }
    }
    out.truncate(o - out.constData());
    return out;
}

QString decodePath(const char *bytes, qsizetype size)
{
    if (size < 0)
        size = qsizetype(std::strlen(bytes));
    const uchar *p = reinterpret_cast<const uchar *>(bytes);
    const uchar *end = p + size;
    QString out;
    out.reserve(size);
    while (p < end) {
        if (*p < 0x80) {
            out.append(QChar(char16_t(*p)));
            ++p;
            continue;
        }
        char32_t cp = 0;
        const int len = validSequence(p, end, &cp);
        if (len == 0) {
            out.append(QChar(char16_t(kKeptByteBase + *p)));
            ++p;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar(char16_t(0xD800 + ((cp - 0x10000) >> 10))));
            out.append(QChar(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF))));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        p += len;
    }
    return out;
}

QString displayPath(const QString &path)
{
    qsizetype i = 0;
    const qsizetype n = path.size();
    while (i < n && !isKeptByte(path[i].unicode()))
        ++i;
    if (i == n)
        return path;
    QString out = path.left(i);
    for (; i < n; ++i) {
        const char16_t c = path[i].unicode();
        if (isKeptByte(c))
            out += QStringLiteral("\\x") + QString::number(uint(c - kKeptByteBase), 16).toUpper();
        else
            out += QChar(c);
    }
    return out;
}

int openPath(const QString &path, int flags, uint mode)
{
    PathAt at(path);
    return at.ok() ? ::openat(at.dir(), at.name(), flags | O_CLOEXEC, mode_t(mode)) : -1;
}

int makeDirectory(const QString &path, uint mode)
{
    PathAt at(path);
    return at.ok() ? ::mkdirat(at.dir(), at.name(), mode_t(mode)) : -1;
}

int changeMode(const QString &path, uint mode)
{
    PathAt at(path);
    return at.ok() ? ::fchmodat(at.dir(), at.name(), mode_t(mode), 0) : -1;
}

int removeFile(const QString &path)
{
    PathAt at(path);
    return at.ok() ? ::unlinkat(at.dir(), at.name(), 0) : -1;
}

int removeDirectory(const QString &path)
{
    PathAt at(path);
    return at.ok() ? ::unlinkat(at.dir(), at.name(), AT_REMOVEDIR) : -1;
}

int renamePath(const QString &from, const QString &to)
{
    PathAt a(from);
    if (!a.ok())
        return -1;
    PathAt b(to);
    if (!b.ok())
        return -1;
    return ::renameat(a.dir(), a.name(), b.dir(), b.name());
}

FileStat statPath(const QString &path, bool follow)
{
    FileStat st;
    PathAt at(path);
    struct stat sb;
    if (!at.ok() || ::fstatat(at.dir(), at.name(), &sb, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return st;
    st = toStat(sb);
    return st;
}

FileStat statPath(const QString &path)
{
    return statPath(path, false);
}

bool makePath(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    if (p.isEmpty())
        return true;
    if (makeDirectory(p) == 0)
        return true;
    int err = errno;
    if (err == ENOENT) {
        const qsizetype slash = p.lastIndexOf(u'/');
        if (slash > 0 && !makePath(p.left(slash)))
            return false;
        if (makeDirectory(p) == 0)
            return true;
        err = errno;
    }
    if (err == EEXIST) {
        if (statPath(p, true).kind == FileStat::Directory)
            return true;
        err = ENOTDIR;
    }
    errno = err;
    return false;
}

QString systemReason(int err)
{
    // The reasons a user meets in a backup, in the program's language whatever the system's
    // locale; anything rarer as the system words it.
    switch (err) {
    case ENOENT:
        return QStringLiteral("Datei oder Verzeichnis nicht gefunden");
    case EACCES:
        return QStringLiteral("Zugriff verweigert");
    case EPERM:
        return QStringLiteral("Vorgang nicht erlaubt");
    case ENOSPC:
        return QStringLiteral("Kein Platz mehr auf dem Datenträger");
    case EDQUOT:
        return QStringLiteral("Speicherplatzkontingent überschritten");
    case EROFS:
        return QStringLiteral("Der Datenträger ist schreibgeschützt");
    case EIO:
        return QStringLiteral("Ein-/Ausgabefehler");
    case ENOTDIR:
        return QStringLiteral("Ist kein Verzeichnis");
    case EISDIR:
        return QStringLiteral("Ist ein Verzeichnis");
    case EEXIST:
        return QStringLiteral("Die Datei existiert bereits");
    case ENAMETOOLONG:
        return QStringLiteral("Der Name ist zu lang");
    case ELOOP:
        return QStringLiteral("Zu viele Ebenen symbolischer Verknüpfungen");
    case EBUSY:
        return QStringLiteral("Das Gerät oder die Datei wird benutzt");
    case ENXIO:
        return QStringLiteral("Gerät oder Adresse nicht vorhanden");
    case EFBIG:
        return QStringLiteral("Die Datei ist zu groß");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

} // namespace Platform
