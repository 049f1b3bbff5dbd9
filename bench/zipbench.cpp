// SPDX-License-Identifier: GPL-3.0-or-later
// Packs every file of one folder into one archive, as a compressed backup does for each folder.
#include "engine/ziparchive.h"

#include <QDir>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: zipbench ARCHIVE FOLDER\n");
        return 2;
    }
    const QString archive = QFile::decodeName(argv[1]);
    const QDir folder(QFile::decodeName(argv[2]));
    QStringList files;
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    files.reserve(names.size());
    for (const QString &name : names)
        files << folder.filePath(name);

    qint64 done = 0;
    qint64 keepAlives = 0;
    ZipProgress progress;
    progress.message = [](const QString &) {};
    progress.fileDone = [&] { ++done; };
    progress.keepAlive = [&] { ++keepAlives; };
    progress.cancelled = [] { return false; };
    QString error;
    if (!zipFiles(archive, files, progress, &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    return done == files.size() ? 0 : 1;
}
