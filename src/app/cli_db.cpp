// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_common.h"

#include "app/terminalrunhost.h"
#include "db/databaserestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Cli {

namespace {

// "-Kunden" (the database folder of a set) shows as "Kunden"; any other folder by the database name.
QString savedName(const QString &archive, const QString &database)
{
    const QString folder = QFileInfo(archive).absoluteDir().dirName();
    return folder.startsWith(u'-') && folder.size() > 1 ? folder.mid(1) : database;
}

} // namespace

int restoreDatabase(Context &ctx)
{
    bool hasHost = false;
    bool hasUser = false;
    bool hasPasswordFile = false;
    bool hasDatabase = false;
    DatabaseRestore::Access access;
    access.host = ctx.takeOption(QStringLiteral("--host"), &hasHost);
    access.port = ctx.takeOption(QStringLiteral("--port"));
    access.user = ctx.takeOption(QStringLiteral("--user"), &hasUser);
    const QString passwordFile = ctx.takeOption(QStringLiteral("--password-file"), &hasPasswordFile);
    access.database = ctx.takeOption(QStringLiteral("--database"), &hasDatabase);
    if (ctx.args.size() != 1 || !hasHost || !hasUser || !hasPasswordFile || !hasDatabase)
        return refuse(QStringLiteral("Der Befehl \"restore-db\" erwartet ein Archiv und --host, --user, --password-file "
                                     "und --database."),
                      true);
    if (!access.port.isEmpty()) {
        bool ok = false;
        const int port = access.port.toInt(&ok);
        if (!ok || port <= 0 || port > 65535)
            return refuse(QStringLiteral("Ungültiger Port \"%1\".").arg(access.port));
    }
    const QString archive = ctx.args.first();
    if (!QFileInfo(archive).isFile())
        return refuse(QStringLiteral("Das Archiv \"%1\" wurde nicht gefunden.").arg(QDir::toNativeSeparators(archive)));
    if (!readPassword(passwordFile, QStringLiteral("die Datenbank"), &access.password))
        return Refused;

    const QString name = savedName(archive, access.database);
    TerminalRunHost host(ctx.answers);
    TerminalRunHost::installInterruptHandler();
    host.setProgressVisible(true);
    const DatabaseRestore::Report report = DatabaseRestore::restoreDatabase(host, archive, name, access);
    host.setProgressVisible(false);

    switch (report.result) {
    case DatabaseRestore::Result::Completed:
        out() << QStringLiteral("Datenbank \"%1\" wiederhergestellt: %2 Befehle.").arg(name, QString::number(report.statements))
              << '\n';
        return Ok;
    case DatabaseRestore::Result::WithErrors:
        out() << QStringLiteral("Datenbank \"%1\" wiederhergestellt: %2 Befehle, davon %3 fehlerhaft.")
                     .arg(name, QString::number(report.statements), QString::number(report.failed))
              << '\n';
        return WithErrors;
    case DatabaseRestore::Result::Cancelled:
        return Refused;
    case DatabaseRestore::Result::ConnectionLost:
        // Statements were sent and failed: the database is changed, but not completely.
        err() << QStringLiteral("Die Verbindung zum Server ist abgebrochen: ") << report.errorString << '\n';
        return WithErrors;
    case DatabaseRestore::Result::ConnectFailed:
    case DatabaseRestore::Result::NoDump:
        return refuse(report.errorString);
    }
    return Refused;
}

} // namespace Cli
