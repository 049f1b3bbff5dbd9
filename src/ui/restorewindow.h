// SPDX-License-Identifier: GPL-3.0-or-later
// "Wiederherstellen von Daten": the sets of a backup folder as a tree with ticks, their files, the restore.
#pragma once

#include "db/databaserestore.h"
#include "restore/databasestep.h"
#include "restore/restoremodel.h"

#include <QDialog>
#include <QTreeView>

#include <functional>
#include <memory>
#include <optional>

class DatabaseChooserDialog;
class FileListModel;
class MainWindow;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSplitter;
class QToolButton;
class RestoreProgressWindow;
class RestoreRunHost;
class ScanProgressWindow;
class SetTreeModel;
class TAuftraege;

/// The tree of sets and folders: a click on a node's image or Space ticks or unticks everything below it.
class SetTreeView : public QTreeView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SetTreeView)

public:
    explicit SetTreeView(QWidget *parent = nullptr);

    /// Where the state image of the row at index is drawn, in viewport coordinates.
    QRect imageRect(const QModelIndex &index) const;

signals:
    void toggleRequested(const QModelIndex &index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

/// The file list: a double click, Space, or a press left of x = 20 ticks or unticks the rows.
class FileListView : public QTreeView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileListView)

public:
    explicit FileListView(QWidget *parent = nullptr);

signals:
    /// The rows to toggle: the one pressed or double-clicked, or the selected ones for Space.
    void toggleRequested(const QModelIndexList &rows);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

/**
 * The restore window. The job box takes over a job's target and reads its sets; with
 * "  -- manuell --  " the user names the backup folder. Reading the sets and restoring run
 * in progress windows that keep the window alive and can be cancelled; while they run, the
 * window takes no input. The selection lives in the RestoreModel; tree and list are item
 * models over it. Saved databases are restored after the warning of the database chooser.
 */
class RestoreWindow : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RestoreWindow)

public:
    /// chooser: the program's one database chooser (it keeps its state); nullptr makes one of its own.
    RestoreWindow(TAuftraege &jobs, DatabaseChooserDialog *chooser = nullptr, QWidget *parent = nullptr);
    ~RestoreWindow() override;

    /// Fills the job box ("  -- manuell --  " first) and selects entry selected; with a job there, reads its sets.
    void setChoices(const QStringList &choices, int selected);
    /// The job chosen in the job box; empty for "  -- manuell --  ".
    QString jobName() const;

    /// "&Neu Einlesen": reads the sets of the backup folder again, for the chosen job only.
    void rescan();
    /// "&Wiederherstellen".
    void restore();
    bool busy() const
    {
        return m_busy;
    }

    /// Ticks or unticks everything below node, as a click on its image does.
    void toggleNode(int node);
    /// Ticks or unticks the records as one change: all ticked when the first was not, else all unticked.
    void toggleRecords(const QList<int> &records);

    RestoreModel &model()
    {
        return m_model;
    }
    SetTreeModel &treeModel()
    {
        return *m_treeModel;
    }
    FileListModel &listModel()
    {
        return *m_listModel;
    }
    ScanProgressWindow &scanWindow()
    {
        return *m_scan;
    }
    RestoreProgressWindow &progressWindow()
    {
        return *m_progress;
    }
    DatabaseChooserDialog &chooser()
    {
        return *m_chooser;
    }

    /// Shows the chooser modally and returns its result; tests answer it in place of the modal loop.
    std::function<int(DatabaseChooserDialog &)> runChooser;

    /// "Bitte den Zielordner festlegen:"
    static QString browseTitle();

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void jobChanged();
    void browseBackupFolder();
    void restoreFolderToggled(bool on);
    void browseRestoreFolder();
    void showNode(const QModelIndex &index);
    void updateStatusBar();
    std::optional<DatabaseRestore::Access> chooseAccess(const DatabaseStep::AccessRequest &request);

    TAuftraege &m_jobs;
    RestoreModel m_model;
    SetTreeModel *m_treeModel;
    FileListModel *m_listModel;
    ScanProgressWindow *m_scan;
    RestoreProgressWindow *m_progress;
    std::unique_ptr<RestoreRunHost> m_host;
    DatabaseChooserDialog *m_chooser;
    bool m_busy = false;

    QComboBox *m_jobBox = nullptr;
    QLineEdit *m_backupFolder = nullptr;
    QToolButton *m_browseBackup = nullptr;
    QPushButton *m_rescan = nullptr;
    QGroupBox *m_setsGroup = nullptr;
    QSplitter *m_splitter = nullptr;
    SetTreeView *m_tree = nullptr;
    FileListView *m_list = nullptr;
    QLabel *m_statusPanel = nullptr;
    QCheckBox *m_useRestoreFolder = nullptr;
    QLineEdit *m_restoreFolder = nullptr;
    QToolButton *m_browseRestore = nullptr;
    QPushButton *m_restoreButton = nullptr;
    QPushButton *m_closeButton = nullptr;
};

/**
 * Lets the main window's restore commands open the restore window on jobs, with one database
 * chooser for the program's whole life.
 */
void attachRestoreWindow(MainWindow &window, TAuftraege &jobs);
