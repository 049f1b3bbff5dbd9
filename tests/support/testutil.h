// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by the test programs.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <utime.h>

namespace TestUtil {

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline void setMtime(const QString &path, qint64 secs)
{
    struct utimbuf t {
        time_t(secs), time_t(secs)
    };
    ::utime(QFile::encodeName(path).constData(), &t);
}

/// Keeps the program's settings and success marker in a folder of the test's own (kept alive by the caller).
inline std::unique_ptr<QTemporaryDir> isolateSettings()
{
    QStandardPaths::setTestModeEnabled(true);
    auto dir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir->path());
    return dir;
}

/**
 * A self-signed certificate for localhost and 127.0.0.1 with its key, for the private TLS
 * servers of the tests. False with openssl's words in *error when it cannot be made.
 */
inline bool makeSelfSignedCertificate(const QString &cert, const QString &key, QString *error)
{
    QProcess gen;
    gen.setProcessChannelMode(QProcess::MergedChannels);
    gen.start(QStringLiteral("openssl"),
              {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
               QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
               QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
               QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"), QStringLiteral("-keyout"), key,
               QStringLiteral("-out"), cert});
    if (gen.waitForFinished(60000) && gen.exitStatus() == QProcess::NormalExit && gen.exitCode() == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(gen.readAll()).right(2000);
    return false;
}

/// True when the test must not skip what it cannot set up (CI sets TREVALO_TEST_REQUIRE).
inline bool required(const char *what)
{
    return qEnvironmentVariable("TREVALO_TEST_REQUIRE").split(u',').contains(QString::fromLatin1(what));
}

/**
 * A tmpfs mounted for the lifetime of the object (needs root). Used for a full disk and
 * for a read-only folder, which root's permission bypass would otherwise defeat.
 */
class TmpfsMount
{
public:
    TmpfsMount(const QString &dir, const QString &options)
        : m_dir(dir)
    {
        QDir().mkpath(dir);
        m_mounted = QProcess::execute(QStringLiteral("mount"),
                                      {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), options,
                                       QStringLiteral("tmpfs"), dir})
            == 0;
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_dir});
    }
    bool isMounted() const
    {
        return m_mounted;
    }

private:
    QString m_dir;
    bool m_mounted = false;
};

} // namespace TestUtil

/// Skips (or, where required, fails) a test whose tmpfs could not be mounted.
#define REQUIRE_MOUNT(mount)                                                                                           \
    do {                                                                                                               \
        if (!(mount).isMounted()) {                                                                                    \
            if (TestUtil::required("mount"))                                                                           \
                QFAIL("cannot mount a tmpfs");                                                                         \
            QSKIP("cannot mount a tmpfs (needs root)");                                                                \
        }                                                                                                              \
    } while (0)
