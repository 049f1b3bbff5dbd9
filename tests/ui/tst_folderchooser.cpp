// SPDX-License-Identifier: GPL-3.0-or-later
// The folder chooser on the offscreen platform: list filter, navigation, drag and drop on real folders.
#include "platform/filesystem.h"
#include "testutil.h"
#include "ui/folderchooser.h"
#include "ui/prompt.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeView>

#include <memory>
#include <sys/stat.h>

using TestUtil::readFile;
using TestUtil::writeFile;

class TestFolderChooser : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FolderChooser> m_chooser;
    Prompt::Script m_script;
    QTranslator m_german;

    QString path(const QString &rel = QString()) const
    {
        return rel.isEmpty() ? m_dir->path() : m_dir->filePath(rel);
    }

    template <typename T> T *find(const char *name) const
    {
        T *w = m_chooser->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    // The folder "daten" with files that differ only in case, a hidden file and a subfolder.
    FolderChooser &makeChooser()
    {
        for (const char *name : { "Brief.DOC", "Brief.doc", "Tabelle.xls", "notiz.txt", ".versteckt" })
            writeFile(path(QStringLiteral("daten/") + QString::fromLatin1(name)), "x");
        writeFile(path(QStringLiteral("daten/unter/innen.txt")), "x");
        m_chooser = std::make_unique<FolderChooser>();
        m_chooser->show();
        if (!QTest::qWaitForWindowExposed(m_chooser.get()))
            qFatal("chooser not shown");
        return *m_chooser;
    }

    // The names the file list shows now, sorted.
    QStringList listed() const
    {
        QAbstractItemView *view = m_chooser->fileView();
        const QModelIndex root = view->rootIndex();
        QStringList names;
        for (int r = 0; r < view->model()->rowCount(root); ++r)
            names.append(view->model()->index(r, 0, root).data().toString());
        names.sort();
        return names;
    }

    QFileSystemModel *treeModel() const
    {
        return static_cast<QFileSystemModel *>(m_chooser->folderTree()->model());
    }

    bool treeHolds(const QString &folder) const
    {
        return treeModel()->index(folder).isValid();
    }

    QString field() const
    {
        return find<QLineEdit>("folderEdit")->text();
    }

    // What a drag of these items from the list carries, taken from the list's own model.
    std::unique_ptr<QMimeData> dragFromList(const QStringList &names)
    {
        QAbstractItemView *view = m_chooser->fileView();
        QModelIndexList items;
        for (const QString &name : names) {
            const QModelIndex root = view->rootIndex();
            for (int r = 0; r < view->model()->rowCount(root); ++r) {
                if (view->model()->index(r, 0, root).data().toString() == name)
                    items.append(view->model()->index(r, 0, root));
            }
        }
        if (items.size() != names.size())
            qFatal("not in the list");
        return std::unique_ptr<QMimeData>(view->model()->mimeData(items));
    }

    std::unique_ptr<QMimeData> dragFromTree(const QString &folder)
    {
        return std::unique_ptr<QMimeData>(treeModel()->mimeData({ treeModel()->index(folder) }));
    }

    // Drags data over the tree folder target and drops it there; false when the tree refused it.
    bool drop(const QMimeData *data, const QString &target, bool ctrl)
    {
        QTreeView *tree = m_chooser->folderTree();
        const QModelIndex index = treeModel()->index(target);
        tree->scrollTo(index);
        if (!QTest::qWaitFor([&] { return !tree->visualRect(index).isEmpty(); }))
            qFatal("target not in the tree");
        const QPoint at = tree->visualRect(index).center();
        const Qt::KeyboardModifiers mods = ctrl ? Qt::ControlModifier : Qt::NoModifier;
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
        QApplication::sendEvent(tree->viewport(), &enter);
        QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
        QApplication::sendEvent(tree->viewport(), &move);
        if (!move.isAccepted())
            return false;
        if (move.dropAction() != (ctrl ? Qt::CopyAction : Qt::MoveAction))
            qFatal("wrong drop action");
        QSignalSpy finished(m_chooser.get(), &FolderChooser::transferFinished);
        QDropEvent dropEvent(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
        QApplication::sendEvent(tree->viewport(), &dropEvent);
        if (!dropEvent.isAccepted())
            return false;
        if (!finished.wait(10000))
            qFatal("drop not finished");
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_german.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
        QApplication::installTranslator(&m_german);
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_script = Prompt::Script();
        Prompt::setScript(&m_script);
    }

    void cleanup()
    {
        m_chooser.reset();
        FolderChooser::setTestHook({});
        FolderChooser::setBrowseHook({});
        Prompt::setScript(nullptr);
        m_dir.reset();
    }

    void testFilterDecision_data()
    {
        QTest::addColumn<bool>("filterOn");
        QTest::addColumn<bool>("foldersOn");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("shown");
        QTest::newRow("filter off: every file") << false << false << "*.doc"
                                                << "notiz.txt" << false << true;
        QTest::newRow("mask without regard to case") << true << false << "*.doc;*.xls"
                                                     << "Brief.DOC" << false << true;
        QTest::newRow("second mask") << true << false << "*.doc;*.xls"
                                     << "Tabelle.XLS" << false << true;
        QTest::newRow("no mask matches") << true << false << "*.doc;*.xls"
                                         << "notiz.txt" << false << false;
        QTest::newRow("question mark") << true << false << "br?ef.*"
                                       << "Brief.doc" << false << true;
        QTest::newRow("bare name exactly") << true << false << "Brief.doc"
                                           << "Brief.doc" << false << true;
        QTest::newRow("bare name, other case") << true << false << "Brief.doc"
                                               << "Brief.DOC" << false << false;
        QTest::newRow("bare name among masks") << true << false << "*.xls;Brief.doc"
                                               << "Brief.doc" << false << true;
        QTest::newRow("empty pieces dropped") << true << false << ";;*.txt;"
                                              << "notiz.txt" << false << true;
        QTest::newRow("empty filter shows no file") << true << false << ";"
                                                    << "notiz.txt" << false << false;
        // The list shows what a run would take, and a run reads brackets as plain characters.
        QTest::newRow("brackets are characters") << true << false << "[ab]*.txt"
                                                 << "a1.txt" << false << false;
        QTest::newRow("folder hidden while folders are off") << false << false << "*.*"
                                                             << "unter" << true << false;
        QTest::newRow("folder shown whatever the filter") << true << true << "*.doc"
                                                          << "unter" << true << true;
    }

    void testFilterDecision()
    {
        QFETCH(bool, filterOn);
        QFETCH(bool, foldersOn);
        QFETCH(QString, filter);
        QFETCH(QString, name);
        QFETCH(bool, folder);
        QFETCH(bool, shown);
        QCOMPARE(FileListFilter(filterOn, foldersOn, filter).shows(name, folder), shown);
    }

    void testListFollowsSwitchesAndFilter_data()
    {
        QTest::addColumn<bool>("filterOn");
        QTest::addColumn<bool>("foldersOn");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("at start: every file, no folder")
            << false << false << "*.doc;*.xls"
            << QStringList { ".versteckt", "Brief.DOC", "Brief.doc", "Tabelle.xls", "notiz.txt" };
        QTest::newRow("filter on: masks without regard to case")
            << true << false << "*.doc;*.xls" << QStringList { "Brief.DOC", "Brief.doc", "Tabelle.xls" };
        QTest::newRow("filter on: one file by its exact name")
            << true << false << "Brief.doc" << QStringList { "Brief.doc" };
        QTest::newRow("folders on") << true << true << "*.xls" << QStringList { "Tabelle.xls", "unter" };
    }

    void testListFollowsSwitchesAndFilter()
    {
        QFETCH(bool, filterOn);
        QFETCH(bool, foldersOn);
        QFETCH(QString, filter);
        QFETCH(QStringList, names);
        FolderChooser &c = makeChooser();
        QVERIFY(c.navigate(path(QStringLiteral("daten"))));
        QVERIFY(!find<QToolButton>("filterButton")->isChecked());
        QVERIFY(!find<QToolButton>("foldersButton")->isChecked());
        // The filter text is typed first: with the filter off it changes nothing.
        find<QComboBox>("filterBox")->setCurrentText(filter);
        QTRY_COMPARE(listed(), (QStringList { ".versteckt", "Brief.DOC", "Brief.doc", "Tabelle.xls", "notiz.txt" }));
        find<QToolButton>("filterButton")->setChecked(filterOn);
        find<QToolButton>("foldersButton")->setChecked(foldersOn);
        QTRY_COMPARE(listed(), names);
        QVERIFY(treeHolds(path(QStringLiteral("daten/unter"))));
        QCOMPARE(m_script.asked.size(), 0);
    }

    void testFilterTextRefillsWhileOn()
    {
        FolderChooser &c = makeChooser();
        QVERIFY(c.navigate(path(QStringLiteral("daten"))));
        find<QToolButton>("filterButton")->click();
        auto *box = find<QComboBox>("filterBox");
        box->setCurrentText(QStringLiteral("*.txt"));
        QTRY_COMPARE(listed(), QStringList { "notiz.txt" });
        box->setCurrentText(QStringLiteral("*.xls"));
        QTRY_COMPARE(listed(), QStringList { "Tabelle.xls" });
    }

    void testTextsAndStart()
    {
        FolderChooser &c = makeChooser();
        QCOMPARE(c.windowTitle(), QStringLiteral("Ordner auswählen"));
        QCOMPARE(find<QToolButton>("upButton")->toolTip(), QStringLiteral("Wechselt eine Ordnerebene aufwärts"));
        QCOMPARE(find<QToolButton>("filterButton")->toolTip(),
            QStringLiteral("Aktiviere Filter\n\nDieser Schalter bewirkt, dass nur Dateien in der Dateiliste angezeigt "
                           "werden,\ndie dem aktuelle gewählten Dateifilter entsprechen."));
        QCOMPARE(find<QToolButton>("foldersButton")->toolTip(),
            QStringLiteral("Ordner in der Dateiliste ein- bzw. ausblenden."));
        QCOMPARE(find<QLineEdit>("folderEdit")->toolTip(),
            QStringLiteral("Dieser Ordner wird gesichert. Sie müssen den Ordner in der Ordnerliste auswählen."));
        QCOMPARE(find<QComboBox>("filterBox")->toolTip(),
            QStringLiteral("Geben Sie hier einen Dateifilter an, der bei dem aktuellen Ordner angewendet wird.\n\nDer "
                           "Filter \"*.*\" bedeutet, dass alle Dateien des Ordners gesichert werden. Der Filter *.doc "
                           "bedeutet z.B., dass alle Worddokumente gesichert werden.\n\nSie können die Auswirkungen "
                           "des Filters testen, indem Sie auf das Symbol \"Aktiviere Filter\", der sich über der "
                           "Dateiliste befindet klicken."));
        auto *sub = find<QCheckBox>("subfoldersBox");
        QCOMPARE(sub->text(), QStringLiteral("Unterordner bei Datensicherung einbeziehen"));
        QCOMPARE(sub->toolTip(), QStringLiteral("Unterordner bei Sicherung mit einbeziehen"));
        auto *box = find<QComboBox>("filterBox");
        QStringList entries;
        for (int i = 0; i < box->count(); ++i)
            entries.append(box->itemText(i));
        QCOMPARE(
            entries, (QStringList { "*.*", "*.doc;*.xls;*.txt", "*.exe;*.com;*.bat", "*.pas;*.dfm;*.dcu", "*.dll" }));
        QCOMPARE(find<QPushButton>("chooseButton")->text(), QStringLiteral("&Wählen"));
        QCOMPARE(find<QPushButton>("cancelButton")->text(), QStringLiteral("&Abbrechen"));
        QCOMPARE(find<QLabel>("treeHeader")->text(), QStringLiteral(" Ordner"));
        QStringList views;
        for (const char *name : { "detailsViewButton", "listViewButton", "smallIconsButton", "largeIconsButton" })
            views.append(find<QToolButton>(name)->toolTip());
        QCOMPARE(views, (QStringList { "Detaildarstellung", "Listenansicht", "kleine Symbole", "große Symbole" }));
        QCOMPARE(c.fileView()->objectName(), QStringLiteral("fileDetails"));
    }

    void testViewButtons()
    {
        FolderChooser &c = makeChooser();
        QVERIFY(c.navigate(path(QStringLiteral("daten"))));
        QTRY_COMPARE(listed().size(), 5);
        find<QToolButton>("largeIconsButton")->click();
        auto *list = qobject_cast<QListView *>(c.fileView());
        QVERIFY(list);
        QCOMPARE(list->viewMode(), QListView::IconMode);
        QCOMPARE(list->movement(), QListView::Static);
        find<QToolButton>("listViewButton")->click();
        QCOMPARE(list->viewMode(), QListView::ListMode);
        QCOMPARE(list->flow(), QListView::TopToBottom);
        find<QToolButton>("smallIconsButton")->click();
        QCOMPARE(list->flow(), QListView::LeftToRight);
        QCOMPARE(listed().size(), 5); // every view shows the same items
        find<QToolButton>("detailsViewButton")->click();
        QCOMPARE(c.fileView()->objectName(), QStringLiteral("fileDetails"));
        c.setView(FolderChooser::View::LargeIcons);
        QVERIFY(find<QToolButton>("largeIconsButton")->isChecked());
        QVERIFY(!find<QToolButton>("detailsViewButton")->isChecked());
    }

    void testPlacesWithoutAPathLeaveTheField_data()
    {
        QTest::addColumn<bool>("removedFolder");
        QTest::newRow("top of the tree, no path of its own") << false;
        QTest::newRow("folder gone since it was listed") << true;
    }

    void testPlacesWithoutAPathLeaveTheField()
    {
        QFETCH(bool, removedFolder);
        FolderChooser &c = makeChooser();
        QDir().mkpath(path(QStringLiteral("weg")));
        QVERIFY(c.navigate(path(QStringLiteral("daten"))));
        QCOMPARE(field(), path(QStringLiteral("daten")));
        QModelIndex place;
        if (removedFolder) {
            place = treeModel()->index(path(QStringLiteral("weg")));
            QVERIFY(place.isValid());
            QVERIFY(QDir(path(QStringLiteral("weg"))).removeRecursively());
        }
        c.folderTree()->setCurrentIndex(place);
        QCOMPARE(field(), path(QStringLiteral("daten")));
        QCOMPARE(c.listFolder(), path(QStringLiteral("daten")));
        c.folderTree()->setCurrentIndex(treeModel()->index(path(QStringLiteral("daten/unter"))));
        QCOMPARE(field(), path(QStringLiteral("daten/unter")));
    }

    void testNavigationToAMissingFolderStays()
    {
        FolderChooser &c = makeChooser();
        QVERIFY(c.navigate(path(QStringLiteral("daten/unter"))));
        QCOMPARE(c.listFolder(), path(QStringLiteral("daten/unter")));
        QCOMPARE(field(), path(QStringLiteral("daten/unter")));
        const QString message = QStringLiteral(
            "Der angegebene Ordner konnte nicht gefunden werden. Bitte wählen Sie einen anderen Ordner.");

        QVERIFY(!c.navigate(path(QStringLiteral("fehlt"))));
        QCOMPARE(m_script.texts(), QStringList { message });
        QVERIFY(!c.navigate(path(QStringLiteral("daten/notiz.txt")))); // a file is no folder
        QCOMPARE(c.listFolder(), path(QStringLiteral("daten/unter")));
        QCOMPARE(field(), path(QStringLiteral("daten/unter")));
        QCOMPARE(treeModel()->filePath(c.folderTree()->currentIndex()), path(QStringLiteral("daten/unter")));

        // Typed into the path box: the same message, and the box shows where the chooser still is.
        auto *box = find<QComboBox>("pathBox");
        box->lineEdit()->setText(path(QStringLiteral("fehlt")));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(m_script.texts().size(), 3);
        QCOMPARE(box->currentText(), path(QStringLiteral("daten/unter")));
        QVERIFY(c.isVisible()); // Enter in the path box does not choose
        box->lineEdit()->setText(path(QStringLiteral("daten")));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(c.listFolder(), path(QStringLiteral("daten")));

        find<QToolButton>("upButton")->click();
        QCOMPARE(c.listFolder(), path());
        QCOMPARE(field(), path());
    }

    void testDoubleClickOnAFilePutsItsName()
    {
        FolderChooser &c = makeChooser();
        QVERIFY(c.navigate(path(QStringLiteral("daten"))));
        find<QToolButton>("foldersButton")->click();
        QTRY_COMPARE(listed().size(), 6);
        QAbstractItemView *view = c.fileView();
        const auto doubleClick = [&](const QString &name) {
            const QModelIndex root = view->rootIndex();
            for (int r = 0; r < view->model()->rowCount(root); ++r) {
                const QModelIndex i = view->model()->index(r, 0, root);
                if (i.data().toString() == name) {
                    view->scrollTo(i);
                    const QPoint at = view->visualRect(i).center();
                    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
                    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
                    return;
                }
            }
            QFAIL("not listed");
        };
        doubleClick(QStringLiteral("Tabelle.xls"));
        QCOMPARE(find<QComboBox>("filterBox")->currentText(), QStringLiteral("Tabelle.xls"));
        // A folder neither becomes the filter nor opens.
        doubleClick(QStringLiteral("unter"));
        QCOMPARE(find<QComboBox>("filterBox")->currentText(), QStringLiteral("Tabelle.xls"));
        QCOMPARE(c.listFolder(), path(QStringLiteral("daten")));
    }

    void testChooseSource()
    {
        writeFile(path(QStringLiteral("daten/a.txt")), "x");
        SourceChoice seen;
        FolderChooser::setTestHook([&](FolderChooser &c) {
            seen = c.choice();
            c.findChild<QComboBox *>(QStringLiteral("filterBox"))->setCurrentText(QStringLiteral("*.txt"));
            return int(QDialog::Accepted);
        });
        const auto chosen = chooseSource(nullptr, { path(QStringLiteral("daten")), QStringLiteral("*.doc"), false });
        QVERIFY(chosen);
        QCOMPARE(seen.folder, path(QStringLiteral("daten")));
        QCOMPARE(seen.filter, QStringLiteral("*.doc"));
        QCOMPARE(seen.subfolders, false);
        QCOMPARE(chosen->folder, path(QStringLiteral("daten")));
        QCOMPARE(chosen->filter, QStringLiteral("*.txt"));

        // A new source: subfolders ticked, the filter "*.*".
        FolderChooser::setTestHook([&](FolderChooser &c) {
            seen = c.choice();
            return int(QDialog::Rejected);
        });
        QVERIFY(!chooseSource(nullptr, SourceChoice()));
        QCOMPARE(seen.subfolders, true);
        QCOMPARE(seen.filter, QStringLiteral("*.*"));
        QCOMPARE(m_script.asked.size(), 0);

        // A source whose folder is gone: the message, and its folder stays in the field.
        QVERIFY(!chooseSource(nullptr, { path(QStringLiteral("fehlt")), QStringLiteral("*.*"), true }));
        QCOMPARE(m_script.asked.size(), 1);
        QCOMPARE(seen.folder, path(QStringLiteral("fehlt")));
    }

    void testBrowseForFolder()
    {
        QString title;
        FolderChooser::setBrowseHook([&](const QString &t, const QString &) {
            title = t;
            return QString();
        });
        QCOMPARE(browseForFolder(nullptr, QStringLiteral("Bitte den Zielordner festlegen:")), QString());
        QCOMPARE(title, QStringLiteral("Bitte den Zielordner festlegen:"));
        FolderChooser::setBrowseHook({});

        // The real dialog: folders only, the caller's title; cancel gives an empty text.
        QString shownTitle;
        bool dirsOnly = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            shownTitle = dialog->windowTitle();
            dirsOnly = dialog->testOption(QFileDialog::ShowDirsOnly) && dialog->fileMode() == QFileDialog::Directory;
            dialog->reject();
        });
        QCOMPARE(browseForFolder(nullptr, QStringLiteral("Bitte den Zielordner festlegen:"), path()), QString());
        QCOMPARE(shownTitle, QStringLiteral("Bitte den Zielordner festlegen:"));
        QVERIFY(dirsOnly);
    }

    void testDropMovesOrCopies_data()
    {
        QTest::addColumn<bool>("ctrl");
        QTest::addColumn<QList<Answer::Button>>("answers");
        QTest::addColumn<QByteArray>("atTarget"); // "" = nothing there before
        QTest::addColumn<QByteArray>("afterTarget");
        QTest::addColumn<bool>("sourceStays");
        QTest::addColumn<QStringList>("questions"); // what the user is asked, %T the target
        const QString move = QStringLiteral("Möchten Sie \"a.txt\" nach \"%T\" verschieben?");
        const QString copy = QStringLiteral("Möchten Sie \"a.txt\" nach \"%T\" kopieren?");
        const QString replace = QStringLiteral("Der Ordner \"%T\" enthält bereits eine Datei namens \"a.txt\".");
        using L = QList<Answer::Button>;
        QTest::newRow("move") << false << L { Answer::Yes } << QByteArray() << QByteArray("neu") << false
                              << QStringList { move };
        QTest::newRow("copy with Ctrl") << true << L { Answer::Yes } << QByteArray() << QByteArray("neu") << true
                                        << QStringList { copy };
        QTest::newRow("move not confirmed")
            << false << L { Answer::No } << QByteArray() << QByteArray() << true << QStringList { move };
        QTest::newRow("existing name kept") << false << L { Answer::Yes, Answer::No } << QByteArray("alt")
                                            << QByteArray("alt") << true << QStringList { move, replace };
        QTest::newRow("existing name, cancelled") << true << L { Answer::Yes, Answer::Cancel } << QByteArray("alt")
                                                  << QByteArray("alt") << true << QStringList { copy, replace };
        QTest::newRow("existing name replaced") << false << L { Answer::Yes, Answer::Yes } << QByteArray("alt")
                                                << QByteArray("neu") << false << QStringList { move, replace };
    }

    void testDropMovesOrCopies()
    {
        QFETCH(bool, ctrl);
        QFETCH(QList<Answer::Button>, answers);
        QFETCH(QByteArray, atTarget);
        QFETCH(QByteArray, afterTarget);
        QFETCH(bool, sourceStays);
        QFETCH(QStringList, questions);
        FolderChooser &c = makeChooser();
        writeFile(path(QStringLiteral("daten/a.txt")), "neu");
        QDir().mkpath(path(QStringLiteral("ziel")));
        if (!atTarget.isEmpty())
            writeFile(path(QStringLiteral("ziel/a.txt")), atTarget);
        QVERIFY(c.navigate(path(QStringLiteral("daten"))));
        QTRY_VERIFY(listed().contains(QStringLiteral("a.txt")));

        m_script.answers = answers;
        const auto data = dragFromList({ QStringLiteral("a.txt") });
        QVERIFY(drop(data.get(), path(QStringLiteral("ziel")), ctrl));
        QStringList asked;
        for (const QString &q : m_script.texts())
            asked.append(q.section(u'\n', 0, 0));
        QCOMPARE(asked, questions.replaceInStrings(QStringLiteral("%T"), path(QStringLiteral("ziel"))));
        QCOMPARE(readFile(path(QStringLiteral("ziel/a.txt"))), afterTarget);
        QCOMPARE(QFile::exists(path(QStringLiteral("daten/a.txt"))), sourceStays);
        if (sourceStays)
            QCOMPARE(readFile(path(QStringLiteral("daten/a.txt"))), QByteArray("neu"));
        // The views are current and the chooser is still where it was.
        QCOMPARE(c.listFolder(), path(QStringLiteral("daten")));
        QCOMPARE(field(), path(QStringLiteral("daten")));
        QTRY_COMPARE(listed().contains(QStringLiteral("a.txt")), sourceStays);
    }

    void testMovingTheTreesFolderTakesTheListUp()
    {
        FolderChooser &c = makeChooser();
        writeFile(path(QStringLiteral("daten/unter/tief/b.txt")), "b");
        QDir().mkpath(path(QStringLiteral("ziel/unter")));
        writeFile(path(QStringLiteral("ziel/unter/innen.txt")), "alt");
        QVERIFY(c.navigate(path(QStringLiteral("daten/unter"))));
        m_script.answers = { Answer::Yes, Answer::Yes };
        // The folder is there already: its contents join it, the one same name only after the question.
        const auto data = dragFromTree(path(QStringLiteral("daten/unter")));
        QVERIFY(drop(data.get(), path(QStringLiteral("ziel")), false));
        QCOMPARE(m_script.asked.size(), 2);
        QCOMPARE(readFile(path(QStringLiteral("ziel/unter/innen.txt"))), QByteArray("x"));
        QCOMPARE(readFile(path(QStringLiteral("ziel/unter/tief/b.txt"))), QByteArray("b"));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("daten/unter"))));
        QCOMPARE(c.listFolder(), path(QStringLiteral("daten")));
        QCOMPARE(field(), path(QStringLiteral("daten")));
        QVERIFY(treeHolds(path(QStringLiteral("ziel/unter/tief"))));
    }

    void testRefusedDrops_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::newRow("into itself") << "daten"
                                     << "daten";
        QTest::newRow("into its own subfolder") << "daten"
                                                << "daten/unter";
        QTest::newRow("onto the folder it is in") << "daten/unter"
                                                  << "daten";
        QTest::newRow("target Recycle Bin") << "daten/unter"
                                            << "Recycle Bin";
        QTest::newRow("target below NetHood") << "daten/unter"
                                              << "NetHood/x";
        QTest::newRow("source Control Panel") << "Control Panel"
                                              << "ziel";
    }

    void testRefusedDrops()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        FolderChooser &c = makeChooser();
        for (const QString &f : { QStringLiteral("ziel"), source, target })
            QDir().mkpath(path(f));
        QVERIFY(c.navigate(path()));
        const auto data = dragFromTree(path(source));
        QVERIFY(!drop(data.get(), path(target), false));
        QVERIFY(QFileInfo(path(source)).isDir());
        QCOMPARE(m_script.asked.size(), 0);
        // A drag from elsewhere (another program, another chooser) is never taken.
        QMimeData foreign;
        foreign.setUrls({ QUrl::fromLocalFile(path(QStringLiteral("daten/notiz.txt"))) });
        QVERIFY(!c.canDrop(&foreign, path(QStringLiteral("ziel"))));
        QVERIFY(!c.canDrop(data.get(), QString()));
    }

    void testMoveToAnotherFileSystem()
    {
        const QString stick = path(QStringLiteral("stick"));
        TestUtil::TmpfsMount mount(stick, QStringLiteral("size=4m"));
        REQUIRE_MOUNT(mount);
        FolderChooser &c = makeChooser();
        writeFile(path(QStringLiteral("daten/unter/tief/b.txt")), QByteArray(300 * 1024, 'b'));
        QVERIFY(::chmod(QFile::encodeName(path(QStringLiteral("daten/unter/tief/b.txt"))).constData(), 0640) == 0);
        const QFile::Permissions permissions = QFileInfo(path(QStringLiteral("daten/unter/tief/b.txt"))).permissions();
        QVERIFY(QFile::link(QStringLiteral("tief/b.txt"), path(QStringLiteral("daten/unter/verweis"))));
        QVERIFY(c.navigate(path(QStringLiteral("daten"))));
        m_script.answers = { Answer::Yes };
        const auto data = dragFromTree(path(QStringLiteral("daten/unter")));
        QVERIFY(drop(data.get(), stick, false));
        QCOMPARE(m_script.asked.size(), 1);
        QCOMPARE(readFile(stick + QStringLiteral("/unter/tief/b.txt")), QByteArray(300 * 1024, 'b'));
        QCOMPARE(readFile(stick + QStringLiteral("/unter/innen.txt")), QByteArray("x"));
        QCOMPARE(QFileInfo(stick + QStringLiteral("/unter/tief/b.txt")).permissions(), permissions);
        QCOMPARE(QFile::symLinkTarget(stick + QStringLiteral("/unter/verweis")),
            stick + QStringLiteral("/unter/tief/b.txt")); // still relative: it points into the copy
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("daten/unter"))));
    }

    void testFailedMoveKeepsTheSource_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<bool>("withFifo");
        QTest::addColumn<QString>("reason");
        QTest::newRow("target read-only") << "ro,size=1m" << false << "schreibgeschützt";
        QTest::newRow("target full") << "size=64k" << false << "Kein Platz mehr auf dem Datenträger";
        QTest::newRow("a pipe in the folder") << "size=1m" << true << "weder eine Datei noch ein Ordner";
    }

    void testFailedMoveKeepsTheSource()
    {
        QFETCH(QString, options);
        QFETCH(bool, withFifo);
        QFETCH(QString, reason);
        const QString stick = path(QStringLiteral("stick"));
        TestUtil::TmpfsMount mount(stick, options);
        REQUIRE_MOUNT(mount);
        FolderChooser &c = makeChooser();
        writeFile(path(QStringLiteral("daten/unter/gross.bin")), QByteArray(200 * 1024, 'g'));
        if (withFifo)
            QVERIFY(::mkfifo(QFile::encodeName(path(QStringLiteral("daten/unter/zz-pipe"))).constData(), 0600) == 0);
        QVERIFY(c.navigate(path(QStringLiteral("daten"))));
        m_script.answers = { Answer::Yes };
        const auto data = dragFromTree(path(QStringLiteral("daten/unter")));
        QVERIFY(drop(data.get(), stick, false));
        QCOMPARE(m_script.asked.size(), 2);
        const QString failure = m_script.texts().last();
        QVERIFY2(failure.startsWith(QStringLiteral("\"unter\" konnte nicht nach \"%1\" verschoben werden.").arg(stick)),
            qPrintable(failure));
        QVERIFY2(failure.contains(reason), qPrintable(failure));
        QVERIFY(failure.endsWith(QStringLiteral("Die Quelle ist unverändert.")));
        QCOMPARE(readFile(path(QStringLiteral("daten/unter/gross.bin"))), QByteArray(200 * 1024, 'g'));
        QCOMPARE(readFile(path(QStringLiteral("daten/unter/innen.txt"))), QByteArray("x"));
        QVERIFY(!QFileInfo::exists(stick + QStringLiteral("/unter"))); // no half copy left behind
        QCOMPARE(c.listFolder(), path(QStringLiteral("daten")));
    }
};

QTEST_MAIN(TestFolderChooser)
#include "tst_folderchooser.moc"
