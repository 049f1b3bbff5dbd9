// SPDX-License-Identifier: GPL-3.0-or-later
// "Ordner auswählen" (one source of a job: folder, filter, subfolders) and the plain folder browser.
#pragma once

#include "engine/filetree.h"

#include <QDialog>
#include <QElapsedTimer>

#include <functional>
#include <optional>

class FileListProxy;
class QAbstractItemView;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileIconProvider;
class QFileSystemModel;
class QLineEdit;
class QListView;
class QMimeData;
class QStackedWidget;
class QTimer;
class QToolButton;
class QTreeView;

/// One source as the chooser returns it; the folder is shown and returned with native separators.
struct SourceChoice {
    QString folder;
    QString filter = QStringLiteral("*.*");
    bool subfolders = true;
};

/// "Ordner auswählen", modal, preset with `initial` (empty folder: a new source, subfolders ticked);
/// std::nullopt when cancelled.
std::optional<SourceChoice> chooseSource(QWidget *parent, const SourceChoice &initial);
/// The folder browser: a folder dialog with this title; an empty text when cancelled
/// (callers then keep their old value).
QString browseForFolder(QWidget *owner, const QString &title, const QString &start = QString());

/**
 * Which items the chooser's file list shows. A folder only while folders are switched on.
 * A file always while the filter is off; while it is on, when its name matches one of the
 * filter's masks as a backup run matches them ('*', '?', without regard to case) or equals
 * one of the filter's pieces exactly, case included (a filter naming one file shows that
 * file alone).
 */
class FileListFilter
{
public:
    FileListFilter() = default;
    FileListFilter(bool filterOn, bool foldersOn, const QString &filter);

    bool shows(const QString &name, bool isFolder) const;

private:
    bool m_filterOn = false;
    bool m_foldersOn = false;
    QStringList m_pieces;
    QList<FileTree::Mask> m_masks;
};

/**
 * The folder chooser window: folder tree, file list, folder field, filter box and subfolder
 * box. Callers use chooseSource(); the class is public so that tests can drive it. The
 * chooser does not check what the user picked: the caller decides.
 *
 * A file or folder dragged from the list or the tree onto a folder of the tree is moved
 * there, or copied with Ctrl held, after a confirmation; an existing name is replaced only
 * when the user says so, and a move that fails or is cancelled leaves its source as it was.
 */
class FolderChooser : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderChooser)

public:
    enum class View { Details, List, SmallIcons, LargeIcons };

    explicit FolderChooser(QWidget *parent = nullptr);
    ~FolderChooser() override;

    /// Moves tree and list to the folder; false (after the message) when it cannot be shown,
    /// and the chooser stays where it was.
    bool navigate(const QString &path);

    void setChoice(const SourceChoice &choice);
    SourceChoice choice() const;

    /// The folder the file list shows (with '/').
    QString listFolder() const;
    void setView(View view);
    /// The view showing the file list now (details or one of the list modes).
    QAbstractItemView *fileView() const;
    QTreeView *folderTree() const;

    /// What a drag from the tree or the list carries for these items (paths with '/').
    QMimeData *dragData(const QStringList &paths) const;
    /// True when a drag with this data may be dropped on the folder target (as the tree decides).
    bool canDrop(const QMimeData *data, const QString &target) const;

    /// Tests: called with the ready chooser instead of its modal loop; returns the dialog
    /// code (QDialog::Accepted for "&Wählen"). An empty function shows the real window.
    using ChooserHook = std::function<int(FolderChooser &)>;
    static void setTestHook(ChooserHook hook);
    /// Tests: answers browseForFolder() with (title, start) → chosen folder or "" for cancel.
    using BrowseHook = std::function<QString(const QString &title, const QString &start)>;
    static void setBrowseHook(BrowseHook hook);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    /// A drop's copy or move has ended (refused, cancelled, failed or done) and the views are current.
    void transferFinished();

private:
    friend class FolderTreeView;
    friend class FolderChooserModel;

    void buildModels();
    bool moveTo(const QString &path);
    void folderSelected(const QModelIndex &index);
    void setListFolder(const QString &path);
    void refilter();
    void itemActivated(const QModelIndex &index);
    void fillPathBox();
    QStringList draggedPaths(const QMimeData *data) const;
    void dropped(const QMimeData *data, const QString &target, bool copy);
    void transfer(const QStringList &sources, const QString &target, bool copy);

    QFileSystemModel *m_treeModel = nullptr;
    QFileSystemModel *m_listModel = nullptr;
    FileListProxy *m_listProxy = nullptr;
    QTreeView *m_tree;
    QTimer *m_sightTimer;
    QElapsedTimer m_sightClock;
    QButtonGroup *m_viewButtons;
    QStackedWidget *m_views;
    QTreeView *m_details;
    QListView *m_list;
    QComboBox *m_path;
    QToolButton *m_up;
    QToolButton *m_filterButton;
    QToolButton *m_foldersButton;
    QLineEdit *m_folder;
    QComboBox *m_filter;
    QCheckBox *m_subfolders;
    QFileIconProvider *m_icons;
    QString m_listFolder;
    bool m_busy = false;
};
