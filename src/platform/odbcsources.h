// SPDX-License-Identifier: GPL-3.0-or-later
// Access data of named ODBC data sources, used to upgrade old job files.
#pragma once

#include <QString>

#include <optional>

struct OdbcSource {
    QString database;
    QString password;
    QString server;
    QString user;
    QString port;
};

/**
 * Looks up the data source name: first in the user's list, then in the system's.
 * On Linux these are ~/.odbc.ini and odbc.ini in $ODBCSYSINI (default /etc); on Windows
 * the ODBC.INI registry keys of the current user and of the machine. A value that is not
 * there reads as empty; nullopt when neither list has the source.
 */
std::optional<OdbcSource> findOdbcSource(const QString &name);

/// The same lookup in two given INI files (either may be missing).
std::optional<OdbcSource> findOdbcSource(const QString &name, const QString &userIni, const QString &systemIni);
