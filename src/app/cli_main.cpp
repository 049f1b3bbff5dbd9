// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trevalo-cli"));
    return runCli(QCoreApplication::arguments().mid(1));
}
