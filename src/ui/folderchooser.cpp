// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/folderchooser.h"

#include "ui/prompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace
{

FolderChooser::ChooserHook s_chooserHook;
FolderChooser::BrowseHook s_browseHook;

const QString kNotFound
    = QStringLiteral("Der angegebene Ordner konnte nicht gefunden werden. Bitte wählen Sie einen anderen Ordner.");

} // namespace

FolderChooser::FolderChooser(QWidget *parent)
    : QDialog(parent)
    , m_folders(new QFileSystemModel(this))
    , m_tree(new QTreeView(this))
    , m_folder(new QLineEdit(this))
    , m_filter(new QComboBox(this))
    , m_subfolders(new QCheckBox(QStringLiteral("Unterordner bei Datensicherung einbeziehen"), this))
{
    setObjectName(QStringLiteral("folderChooser"));
    setWindowTitle(QStringLiteral("Ordner auswählen"));

    m_folders->setObjectName(QStringLiteral("folderModel"));
    m_folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    m_folders->setRootPath(QString());
    m_tree->setObjectName(QStringLiteral("folderTree"));
    m_tree->setModel(m_folders);
    for (int c = 1; c < m_folders->columnCount(); ++c)
        m_tree->hideColumn(c);
    m_tree->header()->setVisible(false);
    m_tree->setRootIsDecorated(true);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, &FolderChooser::folderSelected);

    m_folder->setObjectName(QStringLiteral("folderEdit"));
    m_folder->setToolTip(
        QStringLiteral("Dieser Ordner wird gesichert. Sie müssen den Ordner in der Ordnerliste auswählen."));
    m_filter->setObjectName(QStringLiteral("filterBox"));
    m_filter->setEditable(true);
    m_filter->addItems({ QStringLiteral("*.*"),
        QStringLiteral("*.doc;*.xls;*.txt"),
        QStringLiteral("*.exe;*.com;*.bat"),
        QStringLiteral("*.pas;*.dfm;*.dcu"),
        QStringLiteral("*.dll") });
    m_subfolders->setObjectName(QStringLiteral("subfoldersBox"));
    m_subfolders->setToolTip(QStringLiteral("Unterordner bei Sicherung mit einbeziehen"));

    auto *choose = new QPushButton(QStringLiteral("&Wählen"), this);
    choose->setObjectName(QStringLiteral("chooseButton"));
    choose->setDefault(true);
    connect(choose, &QPushButton::clicked, this, &QDialog::accept);
    auto *cancel = new QPushButton(QStringLiteral("&Abbrechen"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Ordner"), m_folder);
    form->addRow(QStringLiteral("Datei-Filter"), m_filter);
    form->addRow(QString(), m_subfolders);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(choose);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tree, 1);
    layout->addLayout(form);
    layout->addLayout(buttons);
    resize(640, 480);
}

FolderChooser::~FolderChooser() = default;

bool FolderChooser::navigate(const QString &path)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    const QModelIndex index = clean.isEmpty() || !QFileInfo(clean).isDir() ? QModelIndex() : m_folders->index(clean);
    if (!index.isValid()) {
        Prompt::message(this, kNotFound);
        return false;
    }
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index);
    return true;
}

void FolderChooser::setChoice(const SourceChoice &choice)
{
    if (!choice.folder.isEmpty() && navigate(choice.folder))
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

void FolderChooser::folderSelected(const QModelIndex &index)
{
    // Places without a path of their own leave the field as it was.
    const QString path = m_folders->filePath(index);
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return;
    m_folder->setText(QDir::toNativeSeparators(path));
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
    const QString chosen = QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
}
