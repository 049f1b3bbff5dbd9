// SPDX-License-Identifier: GPL-3.0-or-later
// "Ordner auswählen" (one source of a job: folder, filter, subfolders) and the plain folder browser.
#pragma once

#include <QDialog>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLineEdit;
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
 * The folder chooser window. Callers use chooseSource(); the class is public so that tests
 * can drive it. The chooser does not check what the user picked: the caller decides.
 */
class FolderChooser : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderChooser)

public:
    explicit FolderChooser(QWidget *parent = nullptr);
    ~FolderChooser() override;

    /// Moves tree and list to the folder; false (after the message) when it cannot be shown,
    /// and the chooser stays where it was.
    bool navigate(const QString &path);

    void setChoice(const SourceChoice &choice);
    SourceChoice choice() const;

    /// Tests: called with the ready chooser instead of its modal loop; returns the dialog
    /// code (QDialog::Accepted for "&Wählen"). An empty function shows the real window.
    using ChooserHook = std::function<int(FolderChooser &)>;
    static void setTestHook(ChooserHook hook);
    /// Tests: answers browseForFolder() with (title, start) → chosen folder or "" for cancel.
    using BrowseHook = std::function<QString(const QString &title, const QString &start)>;
    static void setBrowseHook(BrowseHook hook);

private:
    void folderSelected(const QModelIndex &index);

    QFileSystemModel *m_folders;
    QTreeView *m_tree;
    QLineEdit *m_folder;
    QComboBox *m_filter;
    QCheckBox *m_subfolders;
};
