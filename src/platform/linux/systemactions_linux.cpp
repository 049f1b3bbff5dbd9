// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filesystem.h"
#include "platform/systemactions.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

// Ejecting must never hold the end of a run: each tool gets a time limit, and is killed past it.
constexpr int kEjectStepMs = 30000;

bool runWithin(const QString &program, const QStringList &arguments, int msecs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(msecs))
        return false;
    if (!process.waitForFinished(msecs)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

class LinuxActions : public SystemActions
{
public:
    bool startProgram(const QString &program, const QString &parameters, bool wait) override
    {
        QProcess process;
        process.setProgram(program);
        process.setArguments(QProcess::splitCommand(parameters));
        process.setWorkingDirectory(QFileInfo(program).absolutePath());
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.setInputChannelMode(QProcess::ForwardedInputChannel);
        if (!wait) {
            qint64 pid = 0;
            return process.startDetached(&pid);
        }
        process.start();
        if (!process.waitForStarted(-1))
            return false;
        process.waitForFinished(-1);
        return true;
    }

    bool ejectMedium(const QString &path, QString *error) override
    {
        const QString mountPoint = Platform::driveOf(path);
        if (mountPoint.isEmpty() || mountPoint == QLatin1String("/")) {
            if (error)
                *error = QStringLiteral("Kein Wechselmedium gefunden.");
            return false;
        }
        // udisksctl works for the desktop user without root; eject is the fallback.
        const QString udisks = QStandardPaths::findExecutable(QStringLiteral("udisksctl"));
        QString device;
        if (!udisks.isEmpty()) {
            QProcess findmnt;
            findmnt.start(QStringLiteral("findmnt"), {QStringLiteral("-n"), QStringLiteral("-o"), QStringLiteral("SOURCE"), mountPoint});
            if (findmnt.waitForFinished(10000))
                device = QString::fromLocal8Bit(findmnt.readAllStandardOutput()).trimmed();
        }
        // Without a person at hand no authorisation prompt may wait for one.
        const QString noPrompt = QStringLiteral("--no-user-interaction");
        if (!device.isEmpty()
            && runWithin(udisks, {QStringLiteral("unmount"), noPrompt, QStringLiteral("-b"), device}, kEjectStepMs)
            && runWithin(udisks, {QStringLiteral("power-off"), noPrompt, QStringLiteral("-b"), device}, kEjectStepMs))
            return true;
        if (runWithin(QStringLiteral("eject"), {mountPoint}, kEjectStepMs))
            return true;
        if (error)
            *error = QStringLiteral("Could not eject disk!");
        return false;
    }

    bool shutdown() override
    {
        return QProcess::startDetached(QStringLiteral("systemctl"), {QStringLiteral("poweroff")});
    }
};

} // namespace

SystemActions &SystemActions::system()
{
    static LinuxActions actions;
    return actions;
}
