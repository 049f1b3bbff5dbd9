// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the sets of a backup folder exactly as the restore window's "Neu Einlesen" does, ticks every set as a
// click on its image does, and shows the folder with the most files in the list; reports the time of each and
// the window's longest pause in handling its events (the gap between two event-processing calls).
//
// usage: restorescan FOLDER [--quiet]   (offscreen unless QT_QPA_PLATFORM says otherwise)
// output: sets records scan-ms scan-gap-ms tick-ms tick-gap-ms show-ms show-rows
#include "jobs/tauftraege.h"
#include "restore/restoremodel.h"
#include "ui/restoremodels.h"
#include "ui/restorewindow.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>

namespace
{

struct GapMeter {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;

    void start()
    {
        clock.start();
        last = 0;
        longest = 0;
    }
    void tick()
    {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: restorescan FOLDER [--quiet]\n");
        return 2;
    }
    const bool quiet = argc > 2 && qstrcmp(argv[2], "--quiet") == 0;
    QTemporaryDir scripts;
    TAuftraege jobs(scripts.path());
    RestoreWindow window(jobs);
    window.show();
    QApplication::processEvents();
    window.findChild<QLineEdit *>(QStringLiteral("backupFolderEdit"))->setText(QString::fromLocal8Bit(argv[1]));

    GapMeter meter;
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &app, [&meter] { meter.tick(); });

    QElapsedTimer clock;
    meter.start();
    clock.start();
    window.rescan();
    const qint64 scanMs = clock.elapsed();
    meter.tick();
    const qint64 scanGap = meter.longest;

    // Every set ticked, one click each, with the events of the window handled between the clicks.
    meter.start();
    clock.start();
    for (int set : window.model().topLevel()) {
        window.toggleNode(set);
        QApplication::processEvents();
    }
    const qint64 tickMs = clock.elapsed();
    meter.tick();
    const qint64 tickGap = meter.longest;

    // The folder with the most files, chosen in the tree as a click does; its list is sorted by name.
    int largest = -1;
    for (size_t n = 0; n < window.model().nodes().size(); ++n) {
        if (largest < 0 || window.model().node(int(n)).records.size() > window.model().node(largest).records.size())
            largest = int(n);
    }
    clock.start();
    if (largest >= 0) {
        auto *tree = window.findChild<SetTreeView *>(QStringLiteral("setTree"));
        tree->setCurrentIndex(window.treeModel().indexOf(largest));
        QApplication::processEvents();
    }
    const qint64 showMs = clock.elapsed();

    if (!quiet) {
        std::printf("%d %zu %lld %lld %lld %lld %lld %d\n",
            window.model().setsFound(),
            window.model().records().size(),
            scanMs,
            scanGap,
            tickMs,
            tickGap,
            showMs,
            window.listModel().rowCount());
    }
    return window.model().setsFound() > 0 ? 0 : 1;
}
