// SPDX-License-Identifier: GPL-3.0-or-later
// How long the window goes without handling its events during a run: the longest gap between
// two event-processing calls while one large file is copied, one large file is zipped and one
// large table is dumped, each run started from the main window as the "Starten" button does.
//
// usage: guigap WORKDIR [copy] [zip] [db]   (default: all three; db needs the MariaDB server)
// environment: GUIGAP_MB (size of the file, default 2048), GUIGAP_ROWS (rows, default 1000000)
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "mariadbserver.h"
#include "scriptedrunhost.h"
#include "ui/mainwindow.h"
#include "ui/progresswindow.h"
#include "ui/prompt.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace
{

struct GapMeter {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    qint64 calls = 0;
    std::function<QString()> where; ///< what the progress window showed when a gap began
    QString lastWhere;
    QString longestWhere;

    void start()
    {
        clock.start();
        last = 0;
        longest = 0;
        calls = 0;
        lastWhere = QStringLiteral("start");
    }
    void tick(const QString &at = QString())
    {
        const qint64 now = clock.elapsed();
        if (now - last > longest) {
            longest = now - last;
            longestWhere = lastWhere + QStringLiteral(" -> ") + (at.isEmpty() ? where() : at);
        }
        last = now;
        lastWhere = where();
        ++calls;
    }
};

// One megabyte of random bytes repeated: the deflate window never sees the repetition, so packing costs what real data
// costs.
bool makeBigFile(const QString &path, qint64 megabytes)
{
    if (QFileInfo(path).size() == megabytes * 1024 * 1024)
        return true;
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    auto *words = reinterpret_cast<quint32 *>(block.data());
    QRandomGenerator gen(42);
    gen.fillRange(words, block.size() / 4);
    // Text-like bytes, as documents are: deflate has real work to do.
    for (char &c : block)
        c = char('a' + (quint8(c) % 20));
    for (qint64 i = 0; i < megabytes; ++i) {
        if (f.write(block) != block.size())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: guigap WORKDIR [copy] [zip] [db]\n");
        return 2;
    }
    const QString work = QString::fromLocal8Bit(argv[1]);
    QStringList kinds;
    for (int i = 2; i < argc; ++i)
        kinds.append(QString::fromLocal8Bit(argv[i]));
    if (kinds.isEmpty())
        kinds = { QStringLiteral("copy"), QStringLiteral("zip"), QStringLiteral("db") };
    const qint64 megabytes = qEnvironmentVariableIsSet("GUIGAP_MB") ? qEnvironmentVariableIntValue("GUIGAP_MB") : 2048;
    const int rows = qEnvironmentVariableIsSet("GUIGAP_ROWS") ? qEnvironmentVariableIntValue("GUIGAP_ROWS") : 1000000;

    qputenv("XDG_STATE_HOME", (work + QStringLiteral("/state")).toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, work + QStringLiteral("/config"));
    Prompt::Script script; // no question may wait for a hand: every one takes its unattended answer
    Prompt::setScript(&script);

    const QString scripts = work + QStringLiteral("/Scripts");
    QDir(scripts).removeRecursively();
    QDir().mkpath(scripts);
    const QString source = work + QStringLiteral("/quelle");
    if (kinds.contains(QStringLiteral("copy")) || kinds.contains(QStringLiteral("zip"))) {
        std::fprintf(stderr, "preparing %lld MB file\n", megabytes);
        if (!makeBigFile(source + QStringLiteral("/gross.bin"), megabytes)) {
            std::fprintf(stderr, "cannot write the source file\n");
            return 1;
        }
    }

    MariaDbServer server;
    TAuftraege jobs(scripts);
    RecordingActions actions;
    MainWindow::Options options;
    options.scriptsBaseFolder = work;
    options.actions = &actions;
    options.schedulerLockFolder = work;
    options.trayAvailable = false;
    options.saveLayout = false;
    MainWindow window(jobs, options);
    window.show();
    QApplication::processEvents();

    GapMeter meter;
    meter.where = [&window] {
        const QString line = window.progressWindow().line(ProgressLine::Target);
        return line.section(u'/', -1).left(40);
    };
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, [&meter] { meter.tick(); });

    QTextStream out(stdout);
    out << "| run | size | time (s) | event calls | longest gap (ms) | between |\n|---|---|---|---|---|---|\n";
    for (const QString &kind : kinds) {
        TAuftrag *job = jobs.addNewJob(jobs.nextFreeStem());
        job->Name = kind;
        const QString target = work + QStringLiteral("/ziel-") + kind;
        QDir(target).removeRecursively();
        QDir().mkpath(target);
        job->Ziel = target;
        job->Gesamtsicherung = true;
        job->fehler_anzeigen = false;
        QString size;
        if (kind == QLatin1String("db")) {
            QString error;
            if (!MariaDbServer::available() || !server.start(&error)) {
                out << "| db | - | - | - | server not available " << error << " |\n";
                continue;
            }
            std::fprintf(stderr, "filling %d rows\n", rows);
            if (!server.execute(
                    QStringLiteral("USE testdb; CREATE TABLE gross (id INT PRIMARY KEY, name VARCHAR(40), "
                                   "betrag DECIMAL(12,2), datum DATETIME); INSERT INTO gross SELECT seq, "
                                   "CONCAT('Zeile ', seq), seq / 7, '2026-01-01' + INTERVAL seq SECOND FROM "
                                   "seq_1_to_%1;")
                        .arg(rows),
                    &error)) {
                out << "| db | - | - | - | " << error << " |\n";
                continue;
            }
            TODBC_DB db;
            db.DB_Name = QStringLiteral("gross");
            db.DB_Login = QStringLiteral("nein");
            db.DB_User = QStringLiteral("test_native");
            db.DB_Pass = QStringLiteral("nativepw");
            db.DB_Host = server.host();
            db.DB_Port = QString::number(server.port());
            db.DB_DBName = QStringLiteral("testdb");
            job->databases.append(db);
            size = QStringLiteral("%1 rows").arg(rows);
        } else {
            job->komprimieren = kind == QLatin1String("zip");
            job->sources.append({ source, QStringLiteral("*.*"), false });
            size = QStringLiteral("%1 MB").arg(megabytes);
        }
        if (!saveJob(*job))
            return 1;
        std::fprintf(stderr, "running %s\n", qPrintable(kind));
        QElapsedTimer total;
        total.start();
        meter.start();
        window.startJob(*job);
        meter.tick(QStringLiteral("end of run"));
        out << "| " << kind << " | " << size << " | " << QString::number(total.elapsed() / 1000.0, 'f', 1) << " | "
            << meter.calls << " | " << meter.longest << " | " << meter.longestWhere << " |\n";
        out.flush();
        std::fprintf(stderr, "%s: %s\n", qPrintable(kind), qPrintable(job->letzte_meldung));
        QDir(target).removeRecursively();
    }
    return 0;
}
