// SPDX-License-Identifier: GPL-3.0-or-later
// One window program per user: a second start wakes the first and ends.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>

/**
 * The first instance holds a lock file and listens on a local socket beside it. A later
 * instance finds the lock taken, asks the first one through the socket to show its
 * window, and is told to end silently.
 */
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    /// name: the application title ("Backup"); folder: where lock and socket live (default: the runtime folder).
    explicit SingleInstance(const QString &name = QStringLiteral("Backup"),
                            const QString &folder = QString(),
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    /**
     * True when this is the only instance; onActivate is then called whenever another start
     * asks for the window. False when another instance runs; it has been asked to show itself.
     */
    bool tryToRun(std::function<void()> onActivate);

private:
    void acceptConnection();

    QString m_lockPath;
    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer m_server;
    std::function<void()> m_onActivate;
};
