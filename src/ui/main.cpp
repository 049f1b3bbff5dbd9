// SPDX-License-Identifier: GPL-3.0-or-later
// The window program: one instance, the job list of the scripts folder, the main window.
#include "app/commandline.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "jobs/tauftraege.h"
#include "ui/mainwindow.h"
#include "ui/prompt.h"
#include "ui/restorewindow.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("trevalo"));
    // The window hides into the tray; closing a dialog then must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt's own German texts for the standard buttons ("Ja", "Nein", "Abbrechen").
    QTranslator qtGerman;
    if (qtGerman.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtGerman);

    MainWindow *window = nullptr;
    SingleInstance instance(QStringLiteral("Backup"));
    if (!instance.tryToRun([&window] {
            if (window)
                window->showFromTray();
        }))
        return 0;

    const QString base = Startup::resolveScriptsBaseFolder();
    QDir().mkpath(Startup::scriptsFolder(base));
    TAuftraege jobs(Startup::scriptsFolder(base));
    for (const QString &message : jobs.loadAllJobs())
        Prompt::message(nullptr, message);

    MainWindow::Options options;
    options.scriptsBaseFolder = base;
    options.startup = parseCommandLine(QApplication::arguments().mid(1), jobs);
    MainWindow main(jobs, options);
    window = &main;
    attachRestoreWindow(main, jobs);
    QObject::connect(&main, &MainWindow::programEnd, &app, &QApplication::quit, Qt::QueuedConnection);
    main.show();
    return QApplication::exec();
}
