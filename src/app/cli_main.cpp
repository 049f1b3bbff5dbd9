// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli.h"

#include "platform/filesystem.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trevalo-cli"));
#ifdef Q_OS_WIN
    return runCli(QCoreApplication::arguments().mid(1));
#else
    // Arguments are bytes like names: a folder or file whose name is not UTF-8 is still found.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(Platform::decodePath(argv[i]));
    return runCli(arguments);
#endif
}
