// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/filesystem.h"
#include "platform/systemactions.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

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
        if (!device.isEmpty()
            && QProcess::execute(udisks, {QStringLiteral("unmount"), QStringLiteral("-b"), device}) == 0
            && QProcess::execute(udisks, {QStringLiteral("power-off"), QStringLiteral("-b"), device}) == 0)
            return true;
        if (QProcess::execute(QStringLiteral("eject"), {mountPoint}) == 0)
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
