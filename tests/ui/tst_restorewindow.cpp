// SPDX-License-Identifier: GPL-3.0-or-later
// The restore window on the offscreen platform, on sets the engine made: reading, ticking, restoring files and
// databases.
#include "app/runhooks.h"
#include "db/tmysqldatabase.h"
#include "jobs/jobfile.h"
#include "mariadbserver.h"
#include "restore/restoremodel.h"
#include "runfixture.h"
#include "schedule/scheduler.h"
#include "ui/databasedialogs.h"
#include "ui/folderchooser.h"
#include "ui/mainwindow.h"
#include "ui/prompt.h"
#include "ui/restoremodels.h"
#include "ui/restoreprogress.h"
#include "ui/restorewindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>

#include <memory>

using TestUtil::readFile;
using TestUtil::writeFile;

namespace
{

const QDateTime kNow(QDate(2026, 12, 10), QTime(21, 30, 5));
const QString kAkten = QStringLiteral("Akten vom 10.12.2026 (Gesamtsicherung)");
const QString kArchiv = QStringLiteral("Archiv vom 10.12.2026 (Komprimierte Gesamtsicherung)");

// Every file below dir by its path below dir, with its content.
QMap<QString, QByteArray> filesBelow(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        files.insert(file.mid(dir.size() + 1), readFile(file));
    }
    return files;
}

// Acts on every modal window of type T that comes up while it lives (a modal loop runs inside the code under test).
template <typename T> class ModalWatcher
{
public:
    explicit ModalWatcher(std::function<void(T *)> act)
        : m_act(std::move(act))
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (T *w = qobject_cast<T *>(QApplication::activeModalWidget()); w && w != m_last) {
                m_last = w;
                m_act(w);
            }
        });
        m_timer.start(2);
    }

private:
    std::function<void(T *)> m_act;
    QTimer m_timer;
    QPointer<T> m_last;
};

} // namespace

class TestRestoreWindow : public QObject, private RunFixture
{
    Q_OBJECT

public:
    TestRestoreWindow()
        : RunFixture(kNow)
    {
    }

private:
    MariaDbServer m_server;
    bool m_serverUp = false;
    QTranslator m_german;
    Prompt::Script m_script;
    std::unique_ptr<RestoreWindow> m_window;

    template <typename T> T *find(QObject *parent, const char *name) const
    {
        T *w = parent->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    QString source() const
    {
        return path(QStringLiteral("quelle-akten"));
    }

    // Two real sets in "ziel": "Akten" copied file by file, "Archiv" zipped.
    void makeSets()
    {
        writeFile(source() + QStringLiteral("/brief.doc"), QByteArray(30, 'b'));
        writeFile(source() + QStringLiteral("/tabelle.xls"), QByteArray(70000, 't'));
        writeFile(source() + QStringLiteral("/Unter/notiz.txt"), "neu!");
        writeFile(source() + QStringLiteral("/Unter/tief/alt.txt"), "alt");
        QVERIFY(QDir().mkpath(source() + QStringLiteral("/leer")));
        writeFile(path(QStringLiteral("quelle-archiv/a.txt")), "a");
        writeFile(path(QStringLiteral("quelle-archiv/b.txt")), "bb");
        for (const QString &name : { QStringLiteral("Akten"), QStringLiteral("Archiv") }) {
            TAuftrag &job = makeJob(name);
            job.komprimieren = name == QLatin1String("Archiv");
            job.sources = { { path(QStringLiteral("quelle-") + name.toLower()), QStringLiteral("*.*"), true } };
            QVERIFY(saveJob(job));
            QCOMPARE(run(job), BackupRun::Outcome::Completed);
        }
        // A server folder that holds nothing: nothing to tick there.
        QVERIFY(QDir().mkpath(path(QStringLiteral("ziel/B-T01261210-Akten/_srv"))));
    }

    RestoreWindow &openWindow(const QString &job)
    {
        m_window = std::make_unique<RestoreWindow>(*m_jobs);
        m_window->show();
        QStringList choices { QStringLiteral("  -- manuell --  ") };
        for (qsizetype i = 0; i < m_jobs->size(); ++i)
            choices.append(m_jobs->at(i)->Name);
        m_window->setChoices(choices, std::max<int>(0, int(choices.indexOf(job))));
        return *m_window;
    }

    SetTreeView *tree() const
    {
        return find<SetTreeView>(m_window.get(), "setTree");
    }

    FileListView *list() const
    {
        return find<FileListView>(m_window.get(), "fileList");
    }

    // "#set" the first set; "_srv" a level-1 folder of it; else a folder below the source ("." itself).
    int nodeOf(const QString &key) const
    {
        const RestoreModel &model = m_window->model();
        if (model.topLevel().isEmpty())
            return -1;
        const int set = model.topLevel().first();
        if (key == QLatin1String("#set"))
            return set;
        const QString rel = key.startsWith(u'_') || key.startsWith(u'-') ? model.node(set).relativeFolder + key + u'/'
            : key == QLatin1String(".")          ? QStringLiteral("root") + source() + u'/'
                                                 : QStringLiteral("root") + source() + u'/' + key + u'/';
        for (size_t n = 0; n < model.nodes().size(); ++n) {
            if (model.node(int(n)).relativeFolder.endsWith(rel))
                return int(n);
        }
        return -1;
    }

    QModelIndex shown(int node) const
    {
        const QModelIndex index = m_window->treeModel().indexOf(node);
        tree()->scrollTo(index);
        return index;
    }

    void clickImage(int node)
    {
        const QModelIndex index = shown(node);
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->imageRect(index).center());
    }

    // Shows the folder of the file in the list and clicks the file's tick.
    void clickFile(const QString &file)
    {
        const int folder = nodeOf(file.contains(u'/') ? file.section(u'/', 0, -2) : QStringLiteral("."));
        const QModelIndex index = shown(folder);
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualRect(index).center());
        QCOMPARE(m_window->listModel().node(), folder);
        const QString name = file.section(u'/', -1);
        for (int row = 0; row < m_window->listModel().rowCount(); ++row) {
            const QModelIndex cell = m_window->listModel().index(row, 0);
            if (cell.data().toString() == name) {
                QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, QPoint(10, list()->visualRect(cell).center().y()));
                return;
            }
        }
        QFAIL(qPrintable(QStringLiteral("no row ") + file));
    }

    int imageOf(int node) const
    {
        const QModelIndex index = m_window->treeModel().indexOf(node);
        const QIcon icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
        for (int state = 0; state < 4; ++state) {
            if (icon.cacheKey() == StateImages::icon(state).cacheKey())
                return state;
        }
        return -1;
    }

    void sql(const QString &statements)
    {
        QString error;
        QVERIFY2(m_server.execute(statements, &error), qPrintable(error));
    }

    QList<QList<QByteArray>> rows(const QString &select)
    {
        TmySQLDatabase db;
        db.setParams({ QStringLiteral("DatabaseName=wk"),
            QStringLiteral("Host=") + m_server.host(),
            QStringLiteral("Port=%1").arg(m_server.port()),
            QStringLiteral("UID=test_native"),
            QStringLiteral("PWD=nativepw") });
        QList<QList<QByteArray>> result;
        if (!db.open())
            return result;
        TmySQLQuery q(&db);
        q.setSql(select);
        if (!q.open())
            return result;
        for (; !q.eof(); q.next()) {
            QList<QByteArray> row;
            for (int i = 0; i < q.fieldCount(); ++i)
                row.append(q.field(i)->isNull() ? QByteArray("<NULL>") : q.field(i)->asBytes());
            result.append(row);
        }
        return result;
    }

private slots:
    void initTestCase()
    {
        isolateSettings();
        qputenv("XDG_STATE_HOME", m_settingsDir->path().toUtf8());
        QVERIFY(m_german.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
        QApplication::installTranslator(&m_german);
        QString error;
        m_serverUp = MariaDbServer::available() && m_server.start(&error);
        if (!m_serverUp && MariaDbServer::required())
            QFAIL(qPrintable(QStringLiteral("the MariaDB server does not start: ") + error));
    }

    void cleanupTestCase()
    {
        m_server.stop();
    }

    void init()
    {
        freshFolder();
        m_script = Prompt::Script();
        Prompt::setScript(&m_script);
    }

    void cleanup()
    {
        m_window.reset();
        Prompt::setScript(nullptr);
        FolderChooser::setBrowseHook({});
        finish();
    }

    // The job box filters the sets; clicks on the images tick whole folders, clicks left of a row tick one file,
    // and the tree shows what is ticked below each node with its image.
    void testSetsAndTicks_data()
    {
        QTest::addColumn<QString>("job");
        QTest::addColumn<QStringList>("sets");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("images");
        QTest::addColumn<QString>("status");
        QTest::newRow("manual choice: every set") << "" << QStringList { kAkten, kArchiv } << QStringList {}
                                                  << QStringList { "#set=0" } << "";
        QTest::newRow("job filter") << "Archiv" << QStringList { kArchiv } << QStringList {} << QStringList {} << "";
        QTest::newRow("a folder ticked")
            << "Akten" << QStringList { kAkten } << QStringList { "node:Unter" }
            << QStringList { "Unter=1", "Unter/tief=1", ".=2", "leer=0", "#set=2", "_srv=0" }
            << " gewählte Dateien: 2 Dateien entsprechen 0 kB.";
        QTest::newRow("a folder ticked by Space")
            << "Akten" << QStringList { kAkten } << QStringList { "space:Unter/tief" }
            << QStringList { "Unter/tief=1", "Unter=2", ".=2", "#set=2" }
            << " gewählte Dateien: 1 Dateien entsprechen 0 kB.";
        QTest::newRow("one file off below a ticked folder")
            << "Akten" << QStringList { kAkten } << QStringList { "node:.", "file:Unter/notiz.txt" }
            << QStringList { "Unter=2", "Unter/tief=1", "leer=1", ".=2", "#set=2" }
            << " gewählte Dateien: 3 Dateien entsprechen 70 kB.";
        QTest::newRow("a partly ticked folder is cleared by its click")
            << "Akten" << QStringList { kAkten } << QStringList { "node:Unter/tief", "node:Unter" }
            << QStringList { "Unter=0", "Unter/tief=0", ".=0", "#set=0" }
            << " gewählte Dateien: 0 Dateien entsprechen 0 kB.";
        QTest::newRow("nothing to tick") << "Akten" << QStringList { kAkten } << QStringList { "node:_srv" }
                                         << QStringList { "_srv=3", "#set=0" }
                                         << " gewählte Dateien: 0 Dateien entsprechen 0 kB.";
        QTest::newRow("the whole set") << "Akten" << QStringList { kAkten } << QStringList { "node:#set" }
                                       << QStringList { "#set=1", ".=1", "leer=1", "_srv=3" }
                                       << " gewählte Dateien: 4 Dateien entsprechen 70 kB.";
    }

    void testSetsAndTicks()
    {
        QFETCH(QString, job);
        QFETCH(QStringList, sets);
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, images);
        QFETCH(QString, status);
        makeSets();
        FolderChooser::setBrowseHook([this](const QString &title, const QString &) {
            return title == RestoreWindow::browseTitle() ? path(QStringLiteral("ziel")) : QString();
        });
        RestoreWindow &w = openWindow(job);
        auto *folderEdit = find<QLineEdit>(&w, "backupFolderEdit");
        QCOMPARE(folderEdit->isVisible(), job.isEmpty());
        if (job.isEmpty()) {
            QVERIFY(w.model().topLevel().isEmpty());
            QTest::mouseClick(find<QToolButton>(&w, "browseBackupButton"), Qt::LeftButton);
            QCOMPARE(folderEdit->text(), path(QStringLiteral("ziel")));
        }
        QStringList shownSets;
        for (int row = 0; row < w.treeModel().rowCount(); ++row)
            shownSets.append(w.treeModel().index(row, 0).data().toString());
        shownSets.sort();
        QCOMPARE(shownSets, sets);
        QCOMPARE(find<QGroupBox>(&w, "setsGroup")->title(), QStringLiteral(" Vorhandene Sicherungen - %1 ").arg(job));
        tree()->expandAll();

        for (const QString &click : clicks) {
            const QString what = click.section(u':', 1);
            if (click.startsWith(QLatin1String("file:"))) {
                clickFile(what);
            } else if (click.startsWith(QLatin1String("space:"))) {
                tree()->setCurrentIndex(shown(nodeOf(what)));
                QTest::keyClick(tree(), Qt::Key_Space);
            } else {
                QVERIFY2(nodeOf(what) >= 0, qPrintable(what));
                clickImage(nodeOf(what));
            }
        }
        for (const QString &image : images) {
            const int node = nodeOf(image.section(u'=', 0, 0));
            QVERIFY2(node >= 0, qPrintable(image));
            QVERIFY2(imageOf(node) == image.section(u'=', 1).toInt(),
                qPrintable(image + QStringLiteral(" shows ") + QString::number(imageOf(node))));
            // The image is the selection model's own state, not a copy kept beside it.
            QCOMPARE(imageOf(node), w.model().node(node).state);
        }
        QCOMPARE(find<QLabel>(&w, "statusPanel")->text(), status);
        // The list shows its rows' ticks as the records hold them.
        for (int row = 0; row < w.listModel().rowCount(); ++row) {
            const QModelIndex cell = w.listModel().index(row, 0);
            QCOMPARE(cell.data(StateImages::StateRole).toInt(),
                w.model().record(w.listModel().recordAt(row)).selected ? 1 : 0);
        }
    }

    // The whole "Akten" set restored: below a restore folder equal to its source, over changed files at the original
    // place (the first question answered "Alle" in the real box), and cancelled while a large file is written.
    void testRestore_data()
    {
        QTest::addColumn<QString>("restoreFolder");
        QTest::addColumn<bool>("changedBefore");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("lastMessage");
        QTest::newRow("restore folder equal to the source")
            << "quelle-akten" << false << false << 0 << "Daten wurden erfolgreich wiederhergestellt.";
        QTest::newRow("overwrite question answered Alle")
            << "" << true << false << 1 << "Daten wurden erfolgreich wiederhergestellt.";
        QTest::newRow("cancelled mid-way") << "wieder" << false << true << 1
                                           << "Der Wiederherstellungsvorgang wurde abgebrochen.";
    }

    void testRestore()
    {
        QFETCH(QString, restoreFolder);
        QFETCH(bool, changedBefore);
        QFETCH(bool, cancel);
        QFETCH(int, questions);
        QFETCH(QString, lastMessage);
        if (cancel)
            writeFile(source() + QStringLiteral("/Unter/gross.bin"), QByteArray(96 * 1024 * 1024, 'g'));
        makeSets();
        const QMap<QString, QByteArray> saved = filesBelow(source());
        if (changedBefore) {
            writeFile(source() + QStringLiteral("/brief.doc"), "geändert");
            writeFile(source() + QStringLiteral("/Unter/tief/alt.txt"), "auch geändert");
        }
        const QMap<QString, QByteArray> before = filesBelow(source());

        RestoreWindow &w = openWindow(QStringLiteral("Akten"));
        clickImage(w.model().topLevel().first());
        const QString dest = restoreFolder.isEmpty() ? QString() : path(restoreFolder);
        if (!dest.isEmpty()) {
            FolderChooser::setBrowseHook([&](const QString &title, const QString &) {
                return title == RestoreWindow::browseTitle() ? dest : QString();
            });
            QTest::mouseClick(find<QCheckBox>(&w, "restoreFolderCheck"), Qt::LeftButton);
            QCOMPARE(find<QLineEdit>(&w, "restoreFolderEdit")->text(), dest);
            QVERIFY(find<QLineEdit>(&w, "restoreFolderEdit")->isEnabled());
        }

        QTimer press;
        QString pressedDuring;
        if (cancel) {
            // The cancel button is pressed in the first round of events, which comes after the
            // first file (a fast disk writes even the large one between two later rounds).
            m_script.answers = { Answer::Yes };
            connect(&press, &QTimer::timeout, this, [&] {
                pressedDuring = w.progressWindow().itemLine();
                if (!pressedDuring.isEmpty()) {
                    QTest::mouseClick(find<QPushButton>(&w.progressWindow(), "restoreCancelButton"), Qt::LeftButton);
                    press.stop();
                }
            });
            press.start(1);
        }
        // With changed files in the way, the real boxes: the question's "Alle" button, then the final message.
        std::unique_ptr<ModalWatcher<QMessageBox>> boxes;
        if (changedBefore) {
            Prompt::setScript(nullptr);
            boxes = std::make_unique<ModalWatcher<QMessageBox>>([this](QMessageBox *box) {
                Question shown;
                shown.text = box->text();
                m_script.asked.append(shown);
                QAbstractButton *all = box->button(QMessageBox::YesToAll);
                if (!all) {
                    box->accept();
                    return;
                }
                QCOMPARE(all->text(), QStringLiteral("&Alle"));
                all->click();
            });
        }
        QTest::mouseClick(find<QPushButton>(&w, "restoreButton"), Qt::LeftButton);
        boxes.reset();
        Prompt::setScript(&m_script);
        QVERIFY(!w.progressWindow().isVisible());
        QVERIFY(!w.busy());

        const QStringList texts = m_script.texts();
        QCOMPARE(texts.size(), questions + 1);
        QCOMPARE(texts.last(), lastMessage);
        if (changedBefore)
            QVERIFY(texts.first().startsWith(QStringLiteral("Die Datei: \n\n   ") + source()));
        if (cancel)
            QCOMPARE(texts.first(), QStringLiteral("Möchten Sie den Wiederherstellungsvorgang wirklich abbrechen?"));

        const QString restoredAt = dest.isEmpty() ? source() : dest + QStringLiteral("/root") + source();
        const QMap<QString, QByteArray> restored = filesBelow(restoredAt);
        if (cancel) {
            // Whatever came back is whole; nothing is left under a name of its own making.
            QVERIFY(restored.size() < saved.size());
            const QString fileName = pressedDuring.section(u'/', -1);
            QVERIFY2(std::any_of(restored.keyBegin(), restored.keyEnd(),
                         [&](const QString &key) { return key.section(u'/', -1) == fileName; }),
                qPrintable(pressedDuring));
            for (auto it = restored.begin(); it != restored.end(); ++it)
                QVERIFY2(saved.value(it.key()) == it.value(), qPrintable(it.key()));
            QDirIterator all(dest, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (all.hasNext())
                QVERIFY2(!all.next().contains(QLatin1String(".trevalo-")), qPrintable(all.filePath()));
            return;
        }
        // Below a restore folder the set comes back beside the source it was made from; the source stays as it was.
        for (auto it = saved.begin(); it != saved.end(); ++it)
            QVERIFY2(restored.value(it.key()) == it.value(), qPrintable(it.key()));
        QVERIFY(QFileInfo(restoredAt + QStringLiteral("/leer")).isDir());
        if (!dest.isEmpty()) {
            QMap<QString, QByteArray> sourceNow = filesBelow(source());
            sourceNow.removeIf([](const auto &f) { return f.key().startsWith(QLatin1String("root/")); });
            QCOMPARE(sourceNow, before);
        }
    }

    // A set with a saved database, restored through the window: the chooser with its warning, the job's entries and
    // the set's entry chosen; skipped, started, and shown again after a failed connect.
    void testDatabaseRestore_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<bool>("restored");
        QTest::newRow("warning skipped: untouched") << QStringList { "skip" } << false;
        QTest::newRow("started: restored and equal") << QStringList { "start" } << true;
        QTest::newRow("failed connect: the chooser again") << QStringList { "wrong password", "start" } << true;
        QTest::newRow("failed connect, then skipped") << QStringList { "wrong password", "skip" } << false;
    }

    void testDatabaseRestore()
    {
        QFETCH(QStringList, actions);
        QFETCH(bool, restored);
        if (!m_serverUp)
            QSKIP("the MariaDB server is not available");
        sql(QStringLiteral("DROP DATABASE IF EXISTS wk; CREATE DATABASE wk CHARACTER SET utf8mb4; USE wk;"
                           "CREATE TABLE kunden (id INT PRIMARY KEY, name VARCHAR(40)) ENGINE=InnoDB;"
                           "INSERT INTO kunden VALUES (1, 'Anna'), (2, 'Bärbel'), (3, 'Carl\\\\Co');"));
        TODBC_DB entry;
        entry.DB_Name = QStringLiteral("Kunden");
        entry.DB_Login = QStringLiteral("nein");
        entry.DB_User = QStringLiteral("test_native");
        entry.DB_Pass = QStringLiteral("nativepw");
        entry.DB_Host = m_server.host();
        entry.DB_Port = QString::number(m_server.port());
        entry.DB_DBName = QStringLiteral("wk");
        TODBC_DB other = entry;
        other.DB_Name = QStringLiteral("Lager");
        other.DB_DBName = QStringLiteral("lager");
        TAuftrag &job = makeJob(QStringLiteral("Kunden"));
        job.sources.clear();
        job.temp_pfad = path(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(job.temp_pfad));
        job.databases = { other, entry };
        sql(QStringLiteral("CREATE DATABASE IF NOT EXISTS lager"));
        QVERIFY(saveJob(job));
        BackupRun withDatabases(m_host, m_actions, *m_catalog);
        withDatabases.setHooks(standardRunHooks());
        QCOMPARE(run(job, &withDatabases), BackupRun::Outcome::Completed);
        QCOMPARE(withDatabases.errorCount, 0);
        const QString all = QStringLiteral("SELECT * FROM kunden ORDER BY id");
        const auto saved = rows(all);
        QCOMPARE(saved.size(), 3);
        sql(QStringLiteral("USE wk; DELETE FROM kunden WHERE id = 2; UPDATE kunden SET name = 'geändert' WHERE id = 1;"));
        const auto changed = rows(all);

        RestoreWindow &w = openWindow(QStringLiteral("Kunden"));
        QCOMPARE(w.model().topLevel().size(), 1);
        tree()->expandAll();
        QVERIFY(nodeOf(QStringLiteral("-Kunden")) >= 0);
        clickImage(nodeOf(QStringLiteral("-Kunden")));
        QStringList seen;
        w.runChooser = [&](DatabaseChooserDialog &chooser) {
            const auto *combo = find<QComboBox>(&chooser, "dbChoiceCombo");
            const QString action = actions.value(int(seen.size()));
            seen.append(find<QLabel>(&chooser, "warningLabel")->text() + u'|' + QString::number(combo->count()) + u'|'
                + combo->currentText() + u'|' + (chooser.manualEdit() ? u'M' : u'-') + u'|'
                + find<QLineEdit>(&chooser, "dbPasswordEdit")->text());
            if (action == QLatin1String("skip"))
                return int(QDialog::Rejected);
            if (action == QLatin1String("wrong password")) {
                chooser.setManualEdit(true);
                find<QLineEdit>(&chooser, "dbPasswordEdit")->setText(QStringLiteral("falsch"));
            } else if (chooser.manualEdit()) {
                find<QLineEdit>(&chooser, "dbPasswordEdit")->setText(QStringLiteral("nativepw"));
            }
            return int(QDialog::Accepted);
        };
        QTest::mouseClick(find<QPushButton>(&w, "restoreButton"), Qt::LeftButton);
        w.chooser().setManualEdit(false); // the program's one chooser keeps its box: leave it as found

        const QString warning = QStringLiteral(
            "ACHTUNG! Die Datenbank \"Kunden\" wird wiederhergestellt. Dabei gehen alle Daten, die derzeit in der "
            "Datenbank gespeichert sind verloren. Möchten Sie fortsetzen?");
        QCOMPARE(seen.size(), actions.size());
        // The job's entries, the set's one chosen, used as stored unless edited.
        QCOMPARE(seen.first(), warning + QStringLiteral("|2|Kunden|-|nativepw"));
        if (actions.size() > 1) {
            // Shown again as the user left it, after the message.
            QCOMPARE(seen[1], warning + QStringLiteral("|2|Kunden|M|falsch"));
            QVERIFY(m_script.texts().contains(DatabaseRestore::connectFailedText()));
        }
        QCOMPARE(rows(all), restored ? saved : changed);
        QCOMPARE(m_script.texts().last(), QStringLiteral("Daten wurden erfolgreich wiederhergestellt."));
        QVERIFY(!w.progressWindow().isVisible());
    }

    // The main window opens the window on its selected job; scheduled jobs wait while it is open.
    void testOpenedFromMainWindow()
    {
        makeSets();
        MainWindow::Options options;
        options.scriptsBaseFolder = m_dir->path();
        options.actions = &m_actions;
        options.schedulerLockFolder = m_dir->path();
        options.trayAvailable = false;
        options.saveLayout = false;
        MainWindow main(*m_jobs, options);
        attachRestoreWindow(main, *m_jobs);
        main.show();
        main.fillListView(m_jobs->findJobByName(QStringLiteral("Archiv"))->fileStem);
        QStringList choices;
        QStringList sets;
        bool held = false;
        bool folderShown = true;
        ModalWatcher<RestoreWindow> watcher([&](RestoreWindow *w) {
            auto *box = find<QComboBox>(w, "jobBox");
            for (int i = 0; i < box->count(); ++i)
                choices.append(box->itemText(i) + (i == box->currentIndex() ? QStringLiteral(" *") : QString()));
            for (int s : w->model().topLevel())
                sets.append(w->model().node(s).text);
            held = main.scheduler().isHeld && main.scheduler().isHeld();
            folderShown = find<QLineEdit>(w, "backupFolderEdit")->isVisible();
            QTest::mouseClick(find<QPushButton>(w, "closeButton"), Qt::LeftButton);
        });
        QTest::mouseClick(main.findChild<QToolButton *>(QStringLiteral("restoreButton")), Qt::LeftButton);
        QCOMPARE(choices,
            (QStringList { QStringLiteral("  -- manuell --  "), QStringLiteral("Akten"), QStringLiteral("Archiv *") }));
        QCOMPARE(sets, QStringList { kArchiv });
        QVERIFY(held);
        QVERIFY(!folderShown);
        QVERIFY(!main.scheduler().isHeld());
    }
};

QTEST_MAIN(TestRestoreWindow)
#include "tst_restorewindow.moc"
