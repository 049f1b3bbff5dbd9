// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/singleinstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {
const QByteArray kActivate = QByteArrayLiteral("activate\n");
constexpr int kSocketTimeoutMs = 2000;

QString defaultFolder()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? QDir::tempPath() : dir;
}
} // namespace

SingleInstance::SingleInstance(const QString &name, const QString &folder, QObject *parent)
    : QObject(parent)
    , m_lockPath((folder.isEmpty() ? defaultFolder() : folder) + u'/' + name + QStringLiteral(".OneInstance.lock"))
    , m_socketPath((folder.isEmpty() ? defaultFolder() : folder) + u'/' + name + QStringLiteral(".OneInstance.socket"))
    , m_lock(m_lockPath)
{
    m_lock.setStaleLockTime(0); // held for the whole program run; only a dead owner frees it
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
}

SingleInstance::~SingleInstance()
{
    m_server.close();
    if (m_lock.isLocked())
        m_lock.unlock();
}

bool SingleInstance::tryToRun(std::function<void()> onActivate)
{
    if (m_lock.tryLock(0)) {
        m_onActivate = std::move(onActivate);
        QLocalServer::removeServer(m_socketPath); // left over by a crashed owner
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        m_server.listen(m_socketPath);
        return true;
    }
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (socket.waitForConnected(kSocketTimeoutMs)) {
        socket.write(kActivate);
        socket.waitForBytesWritten(kSocketTimeoutMs);
        socket.disconnectFromServer();
    }
    return false;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains(kActivate.trimmed()) && m_onActivate)
                m_onActivate();
        });
    }
}
