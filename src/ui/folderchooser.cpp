// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/folderchooser.h"

#include "jobs/germanformat.h"
#include "platform/filesystem.h"
#include "ui/prompt.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace
{

FolderChooser::ChooserHook s_chooserHook;
FolderChooser::BrowseHook s_browseHook;

const QString kNotFound
    = QStringLiteral("Der angegebene Ordner konnte nicht gefunden werden. Bitte wählen Sie einen anderen Ordner.");
const QString kFilterHint = QStringLiteral(
    "Aktiviere Filter\n\nDieser Schalter bewirkt, dass nur Dateien in der Dateiliste angezeigt werden,\n"
    "die dem aktuelle gewählten Dateifilter entsprechen.");
const QString kFilterBoxHint = QStringLiteral(
    "Geben Sie hier einen Dateifilter an, der bei dem aktuellen Ordner angewendet wird.\n\n"
    "Der Filter \"*.*\" bedeutet, dass alle Dateien des Ordners gesichert werden. Der Filter *.doc bedeutet z.B., "
    "dass alle Worddokumente gesichert werden.\n\n"
    "Sie können die Auswirkungen des Filters testen, indem Sie auf das Symbol \"Aktiviere Filter\", der sich über "
    "der Dateiliste befindet klicken.");

// Marks a drag as one of this chooser's own; drags from elsewhere are not taken.
const QString kDragFormat = QStringLiteral("application/x-trevalo-folderchooser");

constexpr int kHintDurationMs = 10000;

QString shown(const QString &path)
{
    return Platform::displayPath(QDir::toNativeSeparators(path));
}

QString nameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString parentOf(const QString &path)
{
    return QFileInfo(path).path();
}

QString childOf(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

bool isInside(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder.endsWith(u'/') ? folder : folder + u'/');
}

bool isRoot(const QString &path)
{
    return QDir(path).isRoot();
}

// Places the frame's file operations never touch: the system's own folders and an empty path.
bool untouchable(const QString &path)
{
    if (path.isEmpty())
        return true;
    const QString name = nameOf(path);
    return name.compare(QLatin1String("Control Panel"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("Recycle Bin"), Qt::CaseInsensitive) == 0
        || path.contains(QLatin1String("nethood"), Qt::CaseInsensitive);
}

void report(QWidget *parent, const QString &text)
{
    Question q;
    q.text = text;
    q.icon = Icon::Error;
    q.buttons = Answer::Ok;
    q.unattended = Answer::Ok;
    q.caption = QStringLiteral("Fehler");
    Prompt::ask(parent, q);
}

QIcon icon(const QString &name)
{
    return QIcon(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
}

/**
 * Copies or moves items into a folder as a file manager does, with the platform layer's file
 * calls. All questions (replace an existing name?) are asked before anything changes, so a
 * cancel leaves everything as it was. A move renames where it can; across file systems (and
 * into a folder that is already there) it copies completely and only then removes the
 * source. A failure removes what this operation made, so a failed move keeps its source and
 * leaves no half copy behind.
 */
class Transfer
{
public:
    Transfer(QWidget *parent, bool copy, const QString &target)
        : m_parent(parent)
        , m_copy(copy)
        , m_target(target)
    {
    }

    /// Asks about every name that is there already; false when the user cancelled or an item cannot go.
    bool plan(const QStringList &sources)
    {
        for (const QString &s : sources) {
            if (!planItem(s, childOf(m_target, nameOf(s))))
                return false;
        }
        return true;
    }

    /// Does the work; false with the message shown when an item failed (earlier items stay done).
    bool run(const QStringList &sources)
    {
        QProgressDialog progress(m_copy ? QStringLiteral("Kopieren ...") : QStringLiteral("Verschieben ..."),
            QStringLiteral("Abbrechen"),
            0,
            1000,
            m_parent);
        progress.setWindowTitle(m_copy ? QStringLiteral("Kopieren") : QStringLiteral("Verschieben"));
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(500);
        progress.setAutoReset(false);
        progress.setAutoClose(false);
        m_progress = &progress;
        bool ok = true;
        for (const QString &s : sources) {
            m_created.clear();
            m_copied.clear();
            m_reason.clear();
            const QString dest = childOf(m_target, nameOf(s));
            if (!runItem(s, dest)) {
                undo();
                report(m_parent, failureText(s));
                ok = false;
                break;
            }
            if (!m_copy && !m_copied.isEmpty() && !removeSource(s)) {
                report(m_parent,
                    QStringLiteral("\"%1\" wurde nach \"%2\" kopiert, konnte aber an der alten Stelle nicht "
                                   "vollständig entfernt werden.\n\n%3")
                        .arg(shown(nameOf(s)), shown(m_target), m_reason));
                ok = false;
                break;
            }
        }
        m_progress = nullptr;
        return ok;
    }

private:
    enum class Reply { Go, Skip, Cancel };

    bool planItem(const QString &src, const QString &dest)
    {
        const Platform::FileStat s = Platform::statPath(src, false);
        if (!s.exists()) {
            report(m_parent, QStringLiteral("\"%1\" gibt es nicht mehr.").arg(shown(src)));
            return false;
        }
        const Platform::FileStat d = Platform::statPath(dest, false);
        const bool srcDir = s.kind == Platform::FileStat::Directory;
        const bool destDir = d.kind == Platform::FileStat::Directory;
        if (!d.exists()) {
            count(src, s);
            return true;
        }
        if (srcDir && destDir) {
            // The folder is there already: its contents go in beside what it holds.
            std::vector<Platform::DirEntry> entries;
            QString error;
            if (!Platform::listDirectory(src, &entries, &error)) {
                report(
                    m_parent, QStringLiteral("Der Ordner \"%1\" kann nicht gelesen werden: %2").arg(shown(src), error));
                return false;
            }
            for (const Platform::DirEntry &e : entries) {
                if (!planItem(childOf(src, e.name), childOf(dest, e.name)))
                    return false;
            }
            return true;
        }
        if (srcDir != destDir) {
            report(m_parent,
                (destDir ? QStringLiteral("Der Ordner \"%1\" enthält bereits einen Ordner namens \"%2\". Eine Datei "
                                          "kann ihn nicht ersetzen.")
                         : QStringLiteral("Der Ordner \"%1\" enthält bereits eine Datei namens \"%2\". Ein Ordner "
                                          "kann sie nicht ersetzen."))
                        .arg(shown(parentOf(dest)), shown(nameOf(dest)))
                    + (m_copy ? QStringLiteral("\n\nEs wurde nichts kopiert.")
                              : QStringLiteral("\n\nEs wurde nichts verschoben.")));
            return false;
        }
        switch (askReplace(src, s, dest, d)) {
        case Reply::Go:
            m_replace.insert(dest);
            count(src, s);
            return true;
        case Reply::Skip:
            m_skipped.insert(src);
            return true;
        case Reply::Cancel:
            break;
        }
        return false;
    }

    Reply askReplace(const QString &src, const Platform::FileStat &s, const QString &dest, const Platform::FileStat &d)
    {
        if (m_replaceAll)
            return Reply::Go;
        const auto stamp = [](const Platform::FileStat &st) {
            return GermanFormat::integer(st.size) + QStringLiteral(" Bytes, ")
                + GermanFormat::dateTimeValue(QDateTime::fromMSecsSinceEpoch(st.mtimeNs / 1000000));
        };
        Question q;
        q.text = QStringLiteral("Der Ordner \"%1\" enthält bereits eine Datei namens \"%2\".\n\n"
                                "Soll die vorhandene Datei\n   %3\ndurch diese ersetzt werden?\n   %4\n   (aus \"%5\")")
                     .arg(shown(parentOf(dest)), shown(nameOf(dest)), stamp(d), stamp(s), shown(parentOf(src)));
        q.caption = QStringLiteral("Ersetzen von Dateien bestätigen");
        q.icon = Icon::Warning;
        q.buttons = Answer::Yes | Answer::No | Answer::All | Answer::Cancel;
        q.unattended = Answer::Cancel;
        switch (Prompt::ask(m_parent, q)) {
        case Answer::All:
            m_replaceAll = true;
            return Reply::Go;
        case Answer::Yes:
            return Reply::Go;
        case Answer::No:
            return Reply::Skip;
        default:
            break;
        }
        return Reply::Cancel;
    }

    void count(const QString &path, const Platform::FileStat &st)
    {
        if (st.kind != Platform::FileStat::Directory) {
            m_total += st.size;
            return;
        }
        std::vector<Platform::DirEntry> entries;
        if (!Platform::listDirectory(path, &entries))
            return; // the run meets it again and says why
        for (const Platform::DirEntry &e : entries)
            count(childOf(path, e.name), e.stat);
    }

    bool runItem(const QString &src, const QString &dest)
    {
        if (m_skipped.contains(src))
            return true;
        if (!m_copy) {
            const Platform::FileStat s = Platform::statPath(src, false);
            const Platform::FileStat d = Platform::statPath(dest, false);
            // A rename replaces a file in one step; a folder already there is filled by copying instead.
            if (d.exists() && s.kind != Platform::FileStat::Directory && !m_replace.contains(dest))
                return failed(dest, EEXIST); // came after the question
            if (!d.exists() || s.kind != Platform::FileStat::Directory) {
                if (Platform::renamePath(src, dest) == 0) {
                    advance(s.size);
                    return true;
                }
                if (errno != EXDEV)
                    return failed(dest, errno);
            }
        }
        return copyItem(src, dest);
    }

    bool copyItem(const QString &src, const QString &dest)
    {
        if (m_skipped.contains(src))
            return true;
        if (m_progress->wasCanceled())
            return false;
        m_progress->setLabelText(shown(src));
        const Platform::FileStat s = Platform::statPath(src, false);
        const Platform::FileStat d = Platform::statPath(dest, false);
        const bool existed = d.exists();
        // Nothing is replaced that the user was not asked about (it may have come after the question).
        if (existed && (s.kind != Platform::FileStat::Directory || d.kind != Platform::FileStat::Directory)
            && !m_replace.contains(dest))
            return failed(dest, EEXIST);
        switch (s.kind) {
        case Platform::FileStat::Directory: {
            if (!existed) {
                if (Platform::makeDirectory(dest, 0700) != 0)
                    return failed(dest, errno);
                m_created.append(dest);
            }
            std::vector<Platform::DirEntry> entries;
            QString error;
            if (!Platform::listDirectory(src, &entries, &error)) {
                m_reason = QStringLiteral("\"%1\": %2").arg(shown(src), error);
                return false;
            }
            for (const Platform::DirEntry &e : entries) {
                if (!copyItem(childOf(src, e.name), childOf(dest, e.name)))
                    return false;
            }
            if (!existed)
                Platform::changeMode(dest, s.mode & 07777);
            break;
        }
        case Platform::FileStat::File: {
            QString error;
            qint64 done = 0;
            const auto keepAlive = [&] {
                done += 256 * 1024;
                showProgress(m_done + done);
            };
            if (!Platform::copyFile(src, dest, keepAlive, nullptr, &error)) {
                m_reason = QStringLiteral("\"%1\": %2").arg(shown(dest), error);
                return false;
            }
            if (!existed)
                m_created.append(dest);
            advance(s.size);
            break;
        }
        case Platform::FileStat::Symlink: {
            // A link is copied as the link it is, never followed.
            std::error_code ec;
            const std::filesystem::path from(Platform::encodePath(src).toStdString());
            const std::filesystem::path to(Platform::encodePath(dest).toStdString());
            const std::filesystem::path points = std::filesystem::read_symlink(from, ec);
            if (!ec && existed && Platform::removeFile(dest) != 0)
                return failed(dest, errno);
            if (!ec)
                std::filesystem::create_symlink(points, to, ec);
            if (ec) {
                m_reason = QStringLiteral("\"%1\": %2").arg(shown(dest), Platform::systemReason(ec.value()));
                return false;
            }
            m_created.append(dest);
            break;
        }
        case Platform::FileStat::Other:
            m_reason = QStringLiteral("\"%1\" ist weder eine Datei noch ein Ordner und kann nicht kopiert werden.")
                           .arg(shown(src));
            return false;
        case Platform::FileStat::Missing:
            m_reason = QStringLiteral("\"%1\" gibt es nicht mehr.").arg(shown(src));
            return false;
        }
        m_copied.insert(src);
        return true;
    }

    // After a complete copy the source goes: only what was copied, so a file that the user kept
    // (or that appeared meanwhile) stays with its folders. False with m_reason on a real failure.
    bool removeSource(const QString &path)
    {
        if (!m_copied.contains(path))
            return true;
        const Platform::FileStat st = Platform::statPath(path, false);
        if (st.kind == Platform::FileStat::Directory) {
            std::vector<Platform::DirEntry> entries;
            QString error;
            if (!Platform::listDirectory(path, &entries, &error)) {
                m_reason = QStringLiteral("\"%1\": %2").arg(shown(path), error);
                return false;
            }
            for (const Platform::DirEntry &e : entries) {
                if (!removeSource(childOf(path, e.name)))
                    return false;
            }
            if (Platform::removeDirectory(path) != 0 && errno != ENOTEMPTY && errno != EEXIST)
                return failed(path, errno);
            return true;
        }
        if (Platform::removeFile(path) != 0)
            return failed(path, errno);
        return true;
    }

    // Takes back what a failed item made; a file it replaced keeps the new content (the user agreed).
    void undo()
    {
        // A finished folder has its source's mode, which may forbid removing what is in it.
        for (const QString &made : std::as_const(m_created)) {
            if (Platform::statPath(made, false).kind == Platform::FileStat::Directory)
                Platform::changeMode(made, 0700);
        }
        for (auto it = m_created.crbegin(); it != m_created.crend(); ++it) {
            if (Platform::statPath(*it, false).kind == Platform::FileStat::Directory)
                Platform::removeDirectory(*it);
            else
                Platform::removeFile(*it);
        }
        m_created.clear();
    }

    bool failed(const QString &path, int err)
    {
        m_reason = QStringLiteral("\"%1\": %2").arg(shown(path), Platform::systemReason(err));
        return false;
    }

    QString failureText(const QString &src) const
    {
        if (m_progress && m_progress->wasCanceled()) {
            return m_copy ? QStringLiteral("Das Kopieren wurde abgebrochen.")
                          : QStringLiteral("Das Verschieben wurde abgebrochen. Die Quelle ist unverändert.");
        }
        if (m_copy) {
            return QStringLiteral("\"%1\" konnte nicht nach \"%2\" kopiert werden.\n\n%3")
                .arg(shown(nameOf(src)), shown(m_target), m_reason);
        }
        return QStringLiteral("\"%1\" konnte nicht nach \"%2\" verschoben werden.\n\n%3\n\nDie Quelle ist unverändert.")
            .arg(shown(nameOf(src)), shown(m_target), m_reason);
    }

    void advance(qint64 bytes)
    {
        m_done += bytes;
        showProgress(m_done);
    }

    void showProgress(qint64 done)
    {
        if (m_total > 0)
            m_progress->setValue(int(qMin<qint64>(999, done * 1000 / m_total)));
    }

    QWidget *m_parent;
    bool m_copy;
    QString m_target;
    QSet<QString> m_skipped;
    QSet<QString> m_replace;
    bool m_replaceAll = false;
    qint64 m_total = 0;
    qint64 m_done = 0;
    QProgressDialog *m_progress = nullptr;
    QStringList m_created;
    QSet<QString> m_copied;
    QString m_reason;
};

} // namespace

FileListFilter::FileListFilter(bool filterOn, bool foldersOn, const QString &filter)
    : m_filterOn(filterOn)
    , m_foldersOn(foldersOn)
    , m_pieces(FileTree::splitMasks(filter))
{
    for (const QString &piece : std::as_const(m_pieces)) {
        // A piece without a wildcard names one file: only its exact name shows (the equality below).
        if (piece.contains(u'*') || piece.contains(u'?'))
            m_masks.append(FileTree::Mask(piece));
    }
}

bool FileListFilter::shows(const QString &name, bool isFolder) const
{
    if (isFolder)
        return m_foldersOn;
    if (!m_filterOn)
        return true;
    for (const FileTree::Mask &mask : m_masks) {
        if (mask.matches(name))
            return true;
    }
    return m_pieces.contains(name);
}

/**
 * The system's icons, and the style's plain folder and file where the desktop has no icon
 * theme. The models ask from their gathering thread, so the two stand-ins are made at the
 * start, in the window's thread.
 */
class ChooserIconProvider : public QFileIconProvider
{
public:
    ChooserIconProvider()
        : m_folder(QApplication::style()->standardIcon(QStyle::SP_DirIcon))
        , m_file(QApplication::style()->standardIcon(QStyle::SP_FileIcon))
    {
    }

    QIcon icon(IconType type) const override
    {
        const QIcon i = QFileIconProvider::icon(type);
        return usable(i) ? i : type == File ? m_file : m_folder;
    }

    QIcon icon(const QFileInfo &info) const override
    {
        const QIcon i = QFileIconProvider::icon(info);
        return usable(i) ? i : info.isDir() ? m_folder : m_file;
    }

private:
    static bool usable(const QIcon &icon)
    {
        return !icon.isNull() && !icon.availableSizes().isEmpty();
    }

    QIcon m_folder;
    QIcon m_file;
};

/// The file system with the chooser's own mark on what is dragged from it.
class FolderChooserModel : public QFileSystemModel
{
public:
    explicit FolderChooserModel(FolderChooser *chooser)
        : QFileSystemModel(chooser)
        , m_chooser(chooser)
    {
        setReadOnly(true); // drops are the chooser's, never the model's own file operations
        setIconProvider(chooser->m_icons);
    }

    QMimeData *mimeData(const QModelIndexList &indexes) const override
    {
        QStringList paths;
        for (const QModelIndex &index : indexes) {
            const QString path = filePath(index);
            if (!paths.contains(path))
                paths.append(path);
        }
        return m_chooser->dragData(paths);
    }

    QStringList mimeTypes() const override
    {
        return { kDragFormat, QStringLiteral("text/uri-list") };
    }

private:
    FolderChooser *m_chooser;
};

/// The list's items of the folder it shows, as FileListFilter decides; its parents always pass.
class FileListProxy : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setRule(const QString &folder, const FileListFilter &filter)
    {
        m_folder = folder;
        m_filter = filter;
        invalidateFilter();
    }

    // Sizes and dates in the program's German form whatever the system's locale.
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || (index.column() != 1 && index.column() != 3))
            return QSortFilterProxyModel::data(index, role);
        const auto *model = static_cast<const QFileSystemModel *>(sourceModel());
        const QModelIndex item = mapToSource(index);
        if (index.column() == 3) {
            const QDateTime changed = model->lastModified(item);
            return GermanFormat::shortDate(changed.date()) + u' ' + changed.time().toString(QStringLiteral("hh:mm"));
        }
        if (model->isDir(item))
            return QString();
        return GermanFormat::integer((model->size(item) + 1023) / 1024) + QStringLiteral(" KB");
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        const auto *model = static_cast<const QFileSystemModel *>(sourceModel());
        if (model->filePath(parent) != m_folder)
            return true;
        const QModelIndex item = model->index(row, 0, parent);
        return m_filter.shows(model->fileName(item), model->isDir(item));
    }

private:
    QString m_folder;
    FileListFilter m_filter;
};

/// The folder tree, which takes the chooser's own drags onto its folders.
class FolderTreeView : public QTreeView
{
public:
    explicit FolderTreeView(FolderChooser *chooser)
        : QTreeView(chooser)
        , m_chooser(chooser)
    {
    }

protected:
    void dragEnterEvent(QDragEnterEvent *event) override
    {
        if (!event->mimeData()->hasFormat(kDragFormat)) {
            event->ignore();
            return;
        }
        setState(DraggingState);
        event->accept();
    }

    void dragMoveEvent(QDragMoveEvent *event) override
    {
        QTreeView::dragMoveEvent(event); // scrolls and opens folders while the mouse rests
        const QModelIndex index = indexAt(event->position().toPoint());
        const QString target = index.isValid() ? m_chooser->m_treeModel->filePath(index) : QString();
        if (m_chooser->canDrop(event->mimeData(), target)) {
            event->setDropAction(event->modifiers().testFlag(Qt::ControlModifier) ? Qt::CopyAction : Qt::MoveAction);
            event->accept(visualRect(index));
        } else {
            event->ignore();
        }
    }

    void dropEvent(QDropEvent *event) override
    {
        stopAutoScroll();
        setState(NoState);
        const QModelIndex index = indexAt(event->position().toPoint());
        const QString target = index.isValid() ? m_chooser->m_treeModel->filePath(index) : QString();
        if (!m_chooser->canDrop(event->mimeData(), target)) {
            event->ignore();
            return;
        }
        // The drag's source must not remove anything itself: the chooser does the whole work.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        m_chooser->dropped(event->mimeData(), target, event->modifiers().testFlag(Qt::ControlModifier));
    }

private:
    FolderChooser *m_chooser;
};

FolderChooser::FolderChooser(QWidget *parent)
    : QDialog(parent)
    , m_tree(new FolderTreeView(this))
    , m_sightTimer(new QTimer(this))
    , m_viewButtons(new QButtonGroup(this))
    , m_views(new QStackedWidget(this))
    , m_details(new QTreeView(this))
    , m_list(new QListView(this))
    , m_path(new QComboBox(this))
    , m_up(new QToolButton(this))
    , m_filterButton(new QToolButton(this))
    , m_foldersButton(new QToolButton(this))
    , m_folder(new QLineEdit(this))
    , m_filter(new QComboBox(this))
    , m_subfolders(new QCheckBox(QStringLiteral("Unterordner bei Datensicherung einbeziehen"), this))
    , m_icons(new ChooserIconProvider)
{
    setObjectName(QStringLiteral("folderChooser"));
    setWindowTitle(QStringLiteral("Ordner auswählen"));
    setToolTipDuration(kHintDurationMs);

    // Toolbar: up, path, the four views, the two switches of the list.
    m_up->setObjectName(QStringLiteral("upButton"));
    m_up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    m_up->setText(QStringLiteral("Up"));
    m_up->setToolTip(QStringLiteral("Wechselt eine Ordnerebene aufwärts"));
    m_up->setAutoRaise(true);
    connect(m_up, &QToolButton::clicked, this, [this] {
        if (!isRoot(m_listFolder))
            moveTo(parentOf(m_listFolder));
    });
    m_path->setObjectName(QStringLiteral("pathBox"));
    m_path->setEditable(true);
    m_path->setInsertPolicy(QComboBox::NoInsert);
    m_path->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_path, &QComboBox::activated, this, [this](int row) {
        if (!navigate(m_path->itemData(row).toString()))
            fillPathBox();
    });
    // Enter in the path box goes there; it must not reach the dialog, which would choose.
    m_path->lineEdit()->installEventFilter(this);

    struct ViewButton {
        View view;
        const char *name;
        const char *text;
        const char *icon;
    };
    const ViewButton viewButtons[] = {
        { View::Details, "detailsViewButton", "Detaildarstellung", "viewdetails" },
        { View::List, "listViewButton", "Listenansicht", "viewlist" },
        { View::SmallIcons, "smallIconsButton", "kleine Symbole", "viewsmallicons" },
        { View::LargeIcons, "largeIconsButton", "große Symbole", "viewlargeicons" },
    };
    m_viewButtons->setExclusive(true);
    auto *toolbar = new QHBoxLayout;
    toolbar->addWidget(m_up);
    toolbar->addWidget(m_path, 1);
    for (const ViewButton &v : viewButtons) {
        auto *b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(v.name));
        b->setText(QString::fromUtf8(v.text));
        b->setToolTip(QString::fromUtf8(v.text));
        b->setIcon(icon(QString::fromLatin1(v.icon)));
        b->setCheckable(true);
        b->setAutoRaise(true);
        b->setChecked(v.view == View::Details);
        m_viewButtons->addButton(b, int(v.view));
        const View view = v.view;
        connect(b, &QToolButton::clicked, this, [this, view] { setView(view); });
        toolbar->addWidget(b);
    }

    m_filterButton->setObjectName(QStringLiteral("filterButton"));
    m_filterButton->setIcon(icon(QStringLiteral("filter")));
    m_filterButton->setText(QStringLiteral("Aktiviere Filter"));
    m_filterButton->setToolTip(kFilterHint);
    m_foldersButton->setObjectName(QStringLiteral("foldersButton"));
    m_foldersButton->setIcon(icon(QStringLiteral("folders")));
    m_foldersButton->setText(QStringLiteral("Ordner"));
    m_foldersButton->setToolTip(QStringLiteral("Ordner in der Dateiliste ein- bzw. ausblenden."));
    for (QToolButton *b : { m_filterButton, m_foldersButton }) {
        b->setCheckable(true); // both up at start: every file, no folders
        b->setAutoRaise(true);
        connect(b, &QToolButton::toggled, this, &FolderChooser::refilter);
    }

    // Left the folder tree, right the file list.
    m_tree->setObjectName(QStringLiteral("folderTree"));
    m_tree->header()->setVisible(false);
    m_tree->setDragEnabled(true);
    m_tree->setAcceptDrops(true);
    m_tree->setDragDropMode(QAbstractItemView::DragDrop);
    m_tree->setAutoExpandDelay(700);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sightTimer->setSingleShot(true);
    m_sightTimer->setInterval(20);
    connect(m_sightTimer, &QTimer::timeout, this, [this] {
        m_tree->scrollTo(m_tree->currentIndex(), QAbstractItemView::PositionAtCenter);
    });
    auto *treeHeader = new QLabel(QStringLiteral(" Ordner"), this);
    treeHeader->setObjectName(QStringLiteral("treeHeader"));
    treeHeader->setFrameShape(QFrame::StyledPanel);
    auto *treePanel = new QWidget(this);
    auto *treeLayout = new QVBoxLayout(treePanel);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    treeLayout->setSpacing(0);
    treeLayout->addWidget(treeHeader);
    treeLayout->addWidget(m_tree, 1);

    m_details->setObjectName(QStringLiteral("fileDetails"));
    m_details->setRootIsDecorated(false);
    m_details->setItemsExpandable(false);
    m_details->setExpandsOnDoubleClick(false);
    m_list->setObjectName(QStringLiteral("fileList"));
    m_list->setMovement(QListView::Static);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setWrapping(true);
    for (QAbstractItemView *view : std::initializer_list<QAbstractItemView *> { m_details, m_list }) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setDragEnabled(true);
        view->setDragDropMode(QAbstractItemView::DragOnly);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        connect(view, &QAbstractItemView::doubleClicked, this, &FolderChooser::itemActivated);
    }
    m_views->addWidget(m_details);
    m_views->addWidget(m_list);
    auto *listPanel = new QWidget(this);
    auto *listLayout = new QVBoxLayout(listPanel);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    auto *switches = new QHBoxLayout;
    switches->addWidget(m_filterButton);
    switches->addWidget(m_foldersButton);
    switches->addStretch();
    listLayout->addLayout(switches);
    listLayout->addWidget(m_views, 1);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->addWidget(treePanel);
    splitter->addWidget(listPanel);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    splitter->setChildrenCollapsible(false);

    // Below: what the caller reads.
    m_folder->setObjectName(QStringLiteral("folderEdit"));
    m_folder->setToolTip(
        QStringLiteral("Dieser Ordner wird gesichert. Sie müssen den Ordner in der Ordnerliste auswählen."));
    m_filter->setObjectName(QStringLiteral("filterBox"));
    m_filter->setEditable(true);
    m_filter->setInsertPolicy(QComboBox::NoInsert);
    m_filter->addItems({ QStringLiteral("*.*"),
        QStringLiteral("*.doc;*.xls;*.txt"),
        QStringLiteral("*.exe;*.com;*.bat"),
        QStringLiteral("*.pas;*.dfm;*.dcu"),
        QStringLiteral("*.dll") });
    m_filter->setToolTip(kFilterBoxHint);
    connect(m_filter, &QComboBox::currentTextChanged, this, [this] {
        if (m_filterButton->isChecked())
            refilter();
    });
    m_subfolders->setObjectName(QStringLiteral("subfoldersBox"));
    m_subfolders->setToolTip(QStringLiteral("Unterordner bei Sicherung mit einbeziehen"));

    auto *choose = new QPushButton(QStringLiteral("&Wählen"), this);
    choose->setObjectName(QStringLiteral("chooseButton"));
    choose->setDefault(true);
    connect(choose, &QPushButton::clicked, this, &QDialog::accept);
    auto *cancel = new QPushButton(QStringLiteral("&Abbrechen"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *folderLabel = new QLabel(QStringLiteral("Ordner"), this);
    folderLabel->setBuddy(m_folder);
    auto *filterLabel = new QLabel(QStringLiteral("Datei-Filter"), this);
    filterLabel->setBuddy(m_filter);
    auto *fields = new QGridLayout;
    fields->addWidget(folderLabel, 0, 0);
    fields->addWidget(m_folder, 0, 1);
    fields->addWidget(choose, 0, 2);
    fields->addWidget(filterLabel, 1, 0);
    fields->addWidget(m_filter, 1, 1);
    fields->addWidget(cancel, 1, 2);
    fields->addWidget(m_subfolders, 2, 1);
    fields->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(toolbar);
    layout->addWidget(splitter, 1);
    layout->addLayout(fields);
    resize(840, 560);

    buildModels();
    setView(View::Details);
}

FolderChooser::~FolderChooser()
{
    // The models' threads ask the icon provider until the models are gone.
    delete m_listProxy;
    delete m_listModel;
    delete m_treeModel;
    delete m_icons;
}

bool FolderChooser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_path->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (!navigate(m_path->currentText()))
                fillPathBox();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FolderChooser::buildModels()
{
    auto *treeModel = new FolderChooserModel(this);
    treeModel->setObjectName(QStringLiteral("folderModel"));
    // Hidden folders too: a source may well lie in one.
    treeModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::Drives);
    treeModel->setRootPath(QString());
    // The tree fills and sorts itself bit by bit: for a while after a move the folder is kept in sight.
    const auto keepInSight = [this] {
        if (m_sightClock.isValid() && m_sightClock.elapsed() < 3000)
            m_sightTimer->start();
    };
    connect(treeModel, &QFileSystemModel::directoryLoaded, this, keepInSight);
    connect(treeModel, &QFileSystemModel::layoutChanged, this, keepInSight);
    auto *listModel = new FolderChooserModel(this);
    listModel->setObjectName(QStringLiteral("fileModel"));
    listModel->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    auto *proxy = new FileListProxy(this);
    proxy->setSourceModel(listModel);

    QItemSelectionModel *oldTreeSelection = m_tree->selectionModel();
    QItemSelectionModel *oldListSelection = m_details->selectionModel();
    // The old root would be asked for against the new model.
    m_details->setRootIndex(QModelIndex());
    m_list->setRootIndex(QModelIndex());
    m_tree->setModel(treeModel);
    for (int c = 1; c < treeModel->columnCount(); ++c)
        m_tree->hideColumn(c);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, &FolderChooser::folderSelected);
    m_details->setModel(proxy);
    m_list->setModel(proxy);
    m_list->setSelectionModel(m_details->selectionModel());
    const int widths[] = { 190, 70, 120, 120 };
    for (int c = 0; c < 4; ++c)
        m_details->header()->resizeSection(c, widths[c]);

    delete oldTreeSelection;
    delete oldListSelection;
    delete m_listProxy;
    delete m_listModel;
    delete m_treeModel;
    m_treeModel = treeModel;
    m_listModel = listModel;
    m_listProxy = proxy;
    if (!m_listFolder.isEmpty())
        setListFolder(m_listFolder);
}

bool FolderChooser::navigate(const QString &path)
{
    if (moveTo(path))
        return true;
    Prompt::message(this, kNotFound);
    return false;
}

bool FolderChooser::moveTo(const QString &path)
{
    const QString clean = path.isEmpty() ? QString() : QDir::cleanPath(QDir::fromNativeSeparators(path));
    if (clean.isEmpty() || !QFileInfo(clean).isDir())
        return false;
    const QModelIndex index = m_treeModel->index(clean);
    if (!index.isValid())
        return false;
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    m_sightClock.start();
    setListFolder(clean);
    return true;
}

void FolderChooser::setChoice(const SourceChoice &choice)
{
    if (choice.folder.isEmpty() || !navigate(choice.folder))
        moveTo(Platform::userProfileFolder());
    // A folder that cannot be shown stays in the field: choosing again must not lose it.
    if (!choice.folder.isEmpty())
        m_folder->setText(QDir::toNativeSeparators(choice.folder));
    m_filter->setCurrentText(choice.filter);
    m_subfolders->setChecked(choice.subfolders);
}

SourceChoice FolderChooser::choice() const
{
    SourceChoice c;
    c.folder = m_folder->text();
    c.filter = m_filter->currentText();
    c.subfolders = m_subfolders->isChecked();
    return c;
}

QString FolderChooser::listFolder() const
{
    return m_listFolder;
}

void FolderChooser::setView(View view)
{
    m_viewButtons->button(int(view))->setChecked(true);
    switch (view) {
    case View::Details:
        m_views->setCurrentWidget(m_details);
        return;
    case View::List:
        m_list->setViewMode(QListView::ListMode);
        m_list->setFlow(QListView::TopToBottom);
        m_list->setIconSize(QSize(16, 16));
        m_list->setGridSize(QSize());
        m_list->setSpacing(1);
        break;
    case View::SmallIcons:
        m_list->setViewMode(QListView::ListMode);
        m_list->setFlow(QListView::LeftToRight);
        m_list->setIconSize(QSize(16, 16));
        m_list->setGridSize(QSize(150, 22));
        m_list->setSpacing(0);
        break;
    case View::LargeIcons:
        m_list->setViewMode(QListView::IconMode);
        m_list->setIconSize(QSize(32, 32));
        m_list->setGridSize(QSize(96, 72));
        m_list->setWordWrap(true);
        m_list->setSpacing(0);
        break;
    }
    m_list->setMovement(QListView::Static); // icon mode would otherwise let items be pushed around
    m_list->setWrapping(true);
    m_views->setCurrentWidget(m_list);
}

QAbstractItemView *FolderChooser::fileView() const
{
    return qobject_cast<QAbstractItemView *>(m_views->currentWidget());
}

QTreeView *FolderChooser::folderTree() const
{
    return m_tree;
}

void FolderChooser::folderSelected(const QModelIndex &index)
{
    // Places without a path of their own leave field and list as they were.
    const QString path = m_treeModel->filePath(index);
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return;
    m_folder->setText(QDir::toNativeSeparators(path));
    setListFolder(path);
}

void FolderChooser::setListFolder(const QString &path)
{
    m_listFolder = path;
    m_listModel->setRootPath(path);
    m_listProxy->setRule(
        path, FileListFilter(m_filterButton->isChecked(), m_foldersButton->isChecked(), m_filter->currentText()));
    const QModelIndex root = m_listProxy->mapFromSource(m_listModel->index(path));
    m_details->setRootIndex(root);
    m_list->setRootIndex(root);
    m_up->setEnabled(!isRoot(path));
    fillPathBox();
}

void FolderChooser::refilter()
{
    m_listProxy->setRule(m_listFolder,
        FileListFilter(m_filterButton->isChecked(), m_foldersButton->isChecked(), m_filter->currentText()));
}

void FolderChooser::itemActivated(const QModelIndex &index)
{
    // No navigation here: a double-clicked file becomes the filter, so the source means that one file.
    const QModelIndex item = m_listProxy->mapToSource(index);
    if (!item.isValid() || m_listModel->isDir(item))
        return;
    m_filter->setCurrentText(m_listModel->fileName(item));
}

void FolderChooser::fillPathBox()
{
    // The folder and its parents up to the top, as the path box of a file manager lists them.
    QSignalBlocker block(m_path);
    m_path->clear();
    if (m_listFolder.isEmpty())
        return;
    QStringList chain;
    for (QString p = m_listFolder;; p = parentOf(p)) {
        chain.prepend(p);
        if (isRoot(p) || parentOf(p) == p)
            break;
    }
    for (int i = 0; i < chain.size(); ++i)
        m_path->addItem(m_treeModel->fileIcon(m_treeModel->index(chain.at(i))), shown(chain.at(i)), chain.at(i));
    m_path->setCurrentIndex(m_path->count() - 1);
}

QMimeData *FolderChooser::dragData(const QStringList &paths) const
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls.append(QUrl::fromLocalFile(p));
    data->setUrls(urls);
    data->setData(kDragFormat, QByteArray::number(quintptr(this)));
    return data;
}

QStringList FolderChooser::draggedPaths(const QMimeData *data) const
{
    if (!data || data->data(kDragFormat) != QByteArray::number(quintptr(this)))
        return {};
    QStringList paths;
    for (const QUrl &url : data->urls())
        paths.append(url.isLocalFile() ? QDir::cleanPath(url.toLocalFile()) : QString());
    return paths;
}

bool FolderChooser::canDrop(const QMimeData *data, const QString &target) const
{
    if (m_busy || untouchable(target) || !QFileInfo(target).isDir())
        return false;
    const QStringList sources = draggedPaths(data);
    if (sources.isEmpty())
        return false;
    for (const QString &s : sources) {
        // A drive's top, a folder into itself, or an item onto the folder it is in: nothing sensible to do.
        if (untouchable(s) || isRoot(s) || isInside(target, s) || parentOf(s) == target)
            return false;
    }
    return true;
}

void FolderChooser::dropped(const QMimeData *data, const QString &target, bool copy)
{
    // The work starts once the drag has ended, outside the drag's own event loop.
    const QStringList sources = draggedPaths(data);
    m_busy = true;
    QTimer::singleShot(0, this, [this, sources, target, copy] { transfer(sources, target, copy); });
}

void FolderChooser::transfer(const QStringList &sources, const QString &target, bool copy)
{
    QStringList names;
    for (const QString &s : sources)
        names.append(shown(nameOf(s)));
    Question q;
    q.icon = Icon::Question;
    q.buttons = Answer::Yes | Answer::No;
    q.unattended = Answer::No;
    q.caption = copy ? QStringLiteral("Kopieren bestätigen") : QStringLiteral("Verschieben bestätigen");
    const QString verb = copy ? QStringLiteral("kopieren") : QStringLiteral("verschieben");
    if (sources.size() == 1) {
        q.text = QStringLiteral("Möchten Sie \"%1\" nach \"%2\" %3?").arg(names.first(), shown(target), verb);
    } else {
        const int listed = 10;
        q.text = QStringLiteral("Möchten Sie diese %1 Elemente nach \"%2\" %3?\n\n")
                     .arg(QString::number(sources.size()), shown(target), verb)
            + names.mid(0, listed).join(u'\n') + (names.size() > listed ? QStringLiteral("\n...") : QString());
    }

    bool changed = false;
    if (Prompt::ask(this, q) == Answer::Yes) {
        Transfer work(this, copy, target);
        if (work.plan(sources)) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            work.run(sources);
            QApplication::restoreOverrideCursor();
            changed = true; // even a failed item may follow items that are done
        }
    }
    if (changed) {
        // What moved away from under the list (a folder dragged from the tree) leaves it one level up.
        const QString field = m_folder->text();
        QString folder = m_listFolder;
        while (!folder.isEmpty() && !QFileInfo(folder).isDir() && !isRoot(folder))
            folder = parentOf(folder);
        const bool stayed = folder == m_listFolder;
        m_listFolder = folder;
        buildModels();
        moveTo(folder);
        if (stayed)
            m_folder->setText(field);
    }
    m_busy = false;
    emit transferFinished();
}

void FolderChooser::setTestHook(ChooserHook hook)
{
    s_chooserHook = std::move(hook);
}

void FolderChooser::setBrowseHook(BrowseHook hook)
{
    s_browseHook = std::move(hook);
}

std::optional<SourceChoice> chooseSource(QWidget *parent, const SourceChoice &initial)
{
    FolderChooser chooser(parent);
    chooser.setChoice(initial);
    const int result = s_chooserHook ? s_chooserHook(chooser) : chooser.exec();
    if (result != QDialog::Accepted)
        return std::nullopt;
    return chooser.choice();
}

QString browseForFolder(QWidget *owner, const QString &title, const QString &start)
{
    if (s_browseHook)
        return s_browseHook(title, start);
    // Owned by the given window, else by the window in front, so it never hides behind it.
    QWidget *parent = owner ? owner : QApplication::activeWindow();
    const QString chosen = QFileDialog::getExistingDirectory(
        parent, title, QDir::fromNativeSeparators(start), QFileDialog::ShowDirsOnly);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
}
