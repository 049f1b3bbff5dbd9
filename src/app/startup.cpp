// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"

#include "jobs/tauftrag.h"
#include "platform/filesystem.h"
#include "platform/settingsstore.h"
#include "version.h"

#include <QDir>
#include <QFile>

namespace Startup {

namespace {
bool touchWriteTest(const QString &scriptsDir)
{
    QFile test(scriptsDir + u'/' + kWriteTestFile);
    if (!test.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    test.close();
    return true;
}
} // namespace

QString resolveScriptsBaseFolder(QSettings *settings, const QString &workingFolder, const QString &profileFolder)
{
    if (!settings || !SettingsStore::isUsable(*settings))
        return QString();
    const QString stored = settings->value(SettingsStore::kScriptsValue).toString();
    if (!stored.isEmpty())
        return stored;

    QString result = workingFolder;
    const QString scripts = scriptsFolder(workingFolder);
    if (!QDir().mkpath(scripts) || !touchWriteTest(scripts))
        result = profileFolder + QStringLiteral("/Trevalo");
    settings->setValue(SettingsStore::kScriptsValue, result);
    settings->sync();
    return result;
}

QString resolveScriptsBaseFolder()
{
    auto settings = SettingsStore::programSettings();
    return resolveScriptsBaseFolder(settings.get(), QDir::currentPath(), Platform::userProfileFolder());
}

QString scriptsFolder(const QString &baseFolder)
{
    return Platform::withTrailingSeparator(baseFolder) + QStringLiteral("Scripts");
}

bool checkScriptsFolderWritable(const QString &baseFolder)
{
    return touchWriteTest(scriptsFolder(baseFolder));
}

QString tempFolder(const TAuftrag &job)
{
    return job.tempFolder();
}

QString programVersion()
{
    return QStringLiteral(TREVALO_VERSION);
}

QString updatePageUrl()
{
    return QStringLiteral("https://www.trevalo.example/update.html?Version=") + programVersion();
}

} // namespace Startup
