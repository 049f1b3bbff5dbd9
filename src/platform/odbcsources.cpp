// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/odbcsources.h"

#include "platform/inifile.h"

#include <QDir>
#include <QFile>

namespace {

std::optional<OdbcSource> lookIn(const QString &iniPath, const QString &name)
{
    QFile file(iniPath);
    if (iniPath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const IniDocument ini = IniDocument::fromBytes(file.readAll());
    if (!ini.hasSection(name))
        return std::nullopt;
    OdbcSource s;
    s.database = ini.value(name, QStringLiteral("Database")).trimmed();
    s.password = ini.value(name, QStringLiteral("Password")).trimmed();
    s.server = ini.value(name, QStringLiteral("Server")).trimmed();
    s.user = ini.value(name, QStringLiteral("User")).trimmed();
    s.port = ini.value(name, QStringLiteral("Port")).trimmed();
    return s;
}

} // namespace

std::optional<OdbcSource> findOdbcSource(const QString &name, const QString &userIni, const QString &systemIni)
{
    if (auto s = lookIn(userIni, name))
        return s;
    return lookIn(systemIni, name);
}

std::optional<OdbcSource> findOdbcSource(const QString &name)
{
    QString sysDir = qEnvironmentVariable("ODBCSYSINI");
    if (sysDir.isEmpty())
        sysDir = QStringLiteral("/etc");
    return findOdbcSource(
        name, QDir::homePath() + QStringLiteral("/.odbc.ini"), sysDir + QStringLiteral("/odbc.ini"));
}
