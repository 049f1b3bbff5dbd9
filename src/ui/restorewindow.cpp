// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/restorewindow.h"

#include "jobs/tauftraege.h"
#include "restore/restorewalk.h"
#include "restore/setfinder.h"
#include "ui/databasedialogs.h"
#include "ui/folderchooser.h"
#include "ui/mainwindow.h"
#include "ui/restoremodels.h"
#include "ui/restoreprogress.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{

const QString kManual = QStringLiteral("  -- manuell --  ");
const QString kSetsCaption = QStringLiteral(" Vorhandene Sicherungen ");
constexpr int kImageSize = 16;
// The room of the state image at the left of a row: image and its margins.
constexpr int kImageRoom = kImageSize + 6;

} // namespace

SetTreeView::SetTreeView(QWidget *parent)
    : QTreeView(parent)
{
    setObjectName(QStringLiteral("setTree"));
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setIconSize(QSize(kImageSize, kImageSize));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

QRect SetTreeView::imageRect(const QModelIndex &index) const
{
    const QRect row = visualRect(index);
    return row.isValid() ? QRect(row.left(), row.top(), kImageRoom, row.height()) : QRect();
}

void SetTreeView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QTreeView::mousePressEvent(event);
    if (index.isValid() && event->button() == Qt::LeftButton && imageRect(index).contains(event->position().toPoint()))
        emit toggleRequested(index);
}

void SetTreeView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second click on the image is a click too, not a request to open the folder.
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && event->button() == Qt::LeftButton && imageRect(index).contains(event->position().toPoint())) {
        emit toggleRequested(index);
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void SetTreeView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space && currentIndex().isValid()) {
        emit toggleRequested(currentIndex());
        return;
    }
    QTreeView::keyPressEvent(event);
}

FileListView::FileListView(QWidget *parent)
    : QTreeView(parent)
{
    setObjectName(QStringLiteral("fileList"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setIconSize(QSize(kImageSize, kImageSize));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
}

void FileListView::mousePressEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QTreeView::mousePressEvent(event);
    if (index.isValid() && event->button() == Qt::LeftButton && event->position().x() < 20)
        emit toggleRequested({ index.siblingAtColumn(0) });
}

void FileListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    // The first press of a double click on the image has toggled the row already.
    if (index.isValid() && event->button() == Qt::LeftButton && event->position().x() >= 20)
        emit toggleRequested({ index.siblingAtColumn(0) });
}

void FileListView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space) {
        QModelIndexList rows = selectionModel()->selectedRows(0);
        if (rows.isEmpty() && currentIndex().isValid())
            rows.append(currentIndex().siblingAtColumn(0));
        std::sort(rows.begin(), rows.end());
        if (!rows.isEmpty())
            emit toggleRequested(rows);
        return;
    }
    QTreeView::keyPressEvent(event);
}

RestoreWindow::RestoreWindow(TAuftraege &jobs, DatabaseChooserDialog *chooser, QWidget *parent)
    : QDialog(parent)
    , m_jobs(jobs)
    , m_treeModel(new SetTreeModel(m_model, this))
    , m_listModel(new FileListModel(m_model, this))
    , m_scan(new ScanProgressWindow(this))
    , m_progress(new RestoreProgressWindow(this))
    , m_host(std::make_unique<RestoreRunHost>(*this, *m_progress))
    , m_chooser(chooser ? chooser : new DatabaseChooserDialog(this))
{
    setObjectName(QStringLiteral("restoreWindow"));
    setWindowTitle(QStringLiteral("Wiederherstellen von Daten"));
    runChooser = [](DatabaseChooserDialog &dialog) { return dialog.exec(); };
    buildWindow();
}

RestoreWindow::~RestoreWindow()
{
    // The views go with the dialog, after the selection model their item models read.
    m_tree->setModel(nullptr);
    m_list->setModel(nullptr);
}

QString RestoreWindow::browseTitle()
{
    return QStringLiteral("Bitte den Zielordner festlegen:");
}

void RestoreWindow::buildWindow()
{
    auto *source = new QGroupBox(QStringLiteral(" Quelle wählen "), this);
    source->setObjectName(QStringLiteral("sourceGroup"));
    m_jobBox = new QComboBox(source);
    m_jobBox->setObjectName(QStringLiteral("jobBox"));
    m_jobBox->setEditable(false);
    auto *jobLabel = new QLabel(QStringLiteral("Auftrag"), source);
    jobLabel->setBuddy(m_jobBox);
    m_backupFolder = new QLineEdit(source);
    m_backupFolder->setObjectName(QStringLiteral("backupFolderEdit"));
    m_browseBackup = new QToolButton(source);
    m_browseBackup->setObjectName(QStringLiteral("browseBackupButton"));
    m_browseBackup->setText(QStringLiteral("..."));
    m_browseBackup->setToolTip(QStringLiteral("Laufwerk und Pfad auswählen"));
    m_rescan = new QPushButton(QStringLiteral("&Neu Einlesen"), source);
    m_rescan->setObjectName(QStringLiteral("rescanButton"));
    m_rescan->setToolTip(QStringLiteral("Liest die Datensicherungen vom Medium neu ein. Wird benötigt, wenn Sie "
                                        "besipielsweise eine neue CD einlegen."));
    m_rescan->setAutoDefault(false);
    auto *sourceLayout = new QGridLayout(source);
    sourceLayout->addWidget(jobLabel, 0, 0);
    sourceLayout->addWidget(m_jobBox, 0, 1);
    sourceLayout->addWidget(m_rescan, 0, 2, 1, 2);
    sourceLayout->addWidget(m_backupFolder, 1, 1, 1, 2);
    sourceLayout->addWidget(m_browseBackup, 1, 3);
    sourceLayout->setColumnStretch(1, 1);

    m_setsGroup = new QGroupBox(kSetsCaption, this);
    m_setsGroup->setObjectName(QStringLiteral("setsGroup"));
    auto *filesCaption = new QLabel(QStringLiteral(" Bitte wählen Sie die wiederherzustellenden Dateien aus:"), m_setsGroup);
    m_splitter = new QSplitter(Qt::Horizontal, m_setsGroup);
    m_splitter->setObjectName(QStringLiteral("setSplitter"));
    m_splitter->setChildrenCollapsible(false);
    m_tree = new SetTreeView(m_splitter);
    m_tree->setModel(m_treeModel);
    m_list = new FileListView(m_splitter);
    m_list->setModel(m_listModel);
    // 150, 70 and 70 pixels, wider only where a size or a date would not fit in the font of this desktop.
    const QFontMetrics metrics = m_list->fontMetrics();
    m_list->setColumnWidth(0, 150);
    m_list->setColumnWidth(1, std::max(70, metrics.horizontalAdvance(QStringLiteral("999.999 kB")) + 12));
    m_list->setColumnWidth(2, std::max(70, metrics.horizontalAdvance(QStringLiteral("30.12.2026")) + 12));
    m_list->header()->setStretchLastSection(false);
    // The tree keeps at least 5 pixels; the list at least what leaves the tree the group's width minus 10.
    m_tree->setMinimumWidth(5);
    m_list->setMinimumWidth(std::max(1, 10 - m_splitter->handleWidth()));
    m_splitter->setSizes({ 290, 350 });
    auto *setsLayout = new QVBoxLayout(m_setsGroup);
    setsLayout->setContentsMargins(0, 4, 0, 0);
    setsLayout->addWidget(filesCaption);
    setsLayout->addWidget(m_splitter, 1);

    m_useRestoreFolder = new QCheckBox(QStringLiteral("Ordner für Wiederherstellung:"), this);
    m_useRestoreFolder->setObjectName(QStringLiteral("restoreFolderCheck"));
    m_restoreFolder = new QLineEdit(this);
    m_restoreFolder->setObjectName(QStringLiteral("restoreFolderEdit"));
    m_restoreFolder->setEnabled(false);
    m_browseRestore = new QToolButton(this);
    m_browseRestore->setObjectName(QStringLiteral("browseRestoreButton"));
    m_browseRestore->setText(QStringLiteral("..."));
    m_browseRestore->setEnabled(false);
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_useRestoreFolder);
    folderRow->addWidget(m_restoreFolder, 1);
    folderRow->addWidget(m_browseRestore);

    m_restoreButton = new QPushButton(QStringLiteral("&Wiederherstellen"), this);
    m_restoreButton->setObjectName(QStringLiteral("restoreButton"));
    m_restoreButton->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    m_restoreButton->setAutoDefault(false);
    m_closeButton = new QPushButton(QStringLiteral("&Abbrechen"), this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_closeButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    m_closeButton->setAutoDefault(false);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_restoreButton);
    buttonRow->addWidget(m_closeButton);

    auto *status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("restoreStatusBar"));
    status->setSizeGripEnabled(false);
    m_statusPanel = new QLabel(status);
    m_statusPanel->setObjectName(QStringLiteral("statusPanel"));
    m_statusPanel->setFixedWidth(300);
    status->addWidget(m_statusPanel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addWidget(source);
    layout->addWidget(m_setsGroup, 1);
    layout->addLayout(folderRow);
    layout->addLayout(buttonRow);
    layout->addWidget(status);
    resize(680, 520);

    connect(m_jobBox, &QComboBox::currentIndexChanged, this, &RestoreWindow::jobChanged);
    connect(m_browseBackup, &QToolButton::clicked, this, &RestoreWindow::browseBackupFolder);
    connect(m_rescan, &QPushButton::clicked, this, &RestoreWindow::rescan);
    connect(m_backupFolder, &QLineEdit::returnPressed, this, &RestoreWindow::rescan);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this, &RestoreWindow::showNode);
    connect(m_tree, &QTreeView::clicked, this, &RestoreWindow::showNode);
    connect(m_tree, &SetTreeView::toggleRequested, this, [this](const QModelIndex &index) {
        toggleNode(SetTreeModel::nodeOf(index));
    });
    connect(m_list, &FileListView::toggleRequested, this, [this](const QModelIndexList &rows) {
        QList<int> records;
        for (const QModelIndex &row : rows)
            records.append(m_listModel->recordAt(row.row()));
        toggleRecords(records);
    });
    connect(m_useRestoreFolder, &QCheckBox::toggled, this, &RestoreWindow::restoreFolderToggled);
    connect(m_browseRestore, &QToolButton::clicked, this, &RestoreWindow::browseRestoreFolder);
    connect(m_restoreButton, &QPushButton::clicked, this, &RestoreWindow::restore);
    connect(m_closeButton, &QPushButton::clicked, this, &RestoreWindow::reject);
}

void RestoreWindow::setChoices(const QStringList &choices, int selected)
{
    {
        const QSignalBlocker block(m_jobBox);
        m_jobBox->clear();
        m_jobBox->addItems(choices.isEmpty() ? QStringList { kManual } : choices);
        m_jobBox->setCurrentIndex(std::max(0, selected));
    }
    if (m_jobBox->count() > 1)
        jobChanged();
}

QString RestoreWindow::jobName() const
{
    return m_jobBox->currentIndex() > 0 ? m_jobBox->currentText() : QString();
}

void RestoreWindow::jobChanged()
{
    if (m_busy)
        return;
    const QString name = jobName();
    if (name.isEmpty()) {
        m_backupFolder->show();
        m_browseBackup->show();
        return;
    }
    if (const TAuftrag *job = m_jobs.findJobByName(name))
        m_backupFolder->setText(QDir::toNativeSeparators(job->Ziel));
    rescan();
    m_backupFolder->hide();
    m_browseBackup->hide();
}

void RestoreWindow::browseBackupFolder()
{
    const QString folder = browseForFolder(this, browseTitle(), m_backupFolder->text());
    if (!folder.isEmpty())
        m_backupFolder->setText(folder);
    rescan();
}

void RestoreWindow::restoreFolderToggled(bool on)
{
    m_restoreFolder->setEnabled(on);
    m_browseRestore->setEnabled(on);
    if (on)
        browseRestoreFolder();
}

void RestoreWindow::browseRestoreFolder()
{
    const QString folder = browseForFolder(this, browseTitle(), m_restoreFolder->text());
    if (!folder.isEmpty())
        m_restoreFolder->setText(folder);
}

void RestoreWindow::rescan()
{
    if (m_busy)
        return;
    m_busy = true;
    const QString name = jobName();
    const QString filter = !name.isEmpty() && m_jobs.findJobByName(name) ? name : QString();
    m_listModel->setNode(-1);
    m_treeModel->beginRefill();
    m_model.clear();
    m_setsGroup->setTitle(kSetsCaption);
    QString status;
    const QString folder = m_backupFolder->text().trimmed();
    if (!folder.isEmpty()) {
        m_scan->begin();
        QString error;
        bool cancelled = false;
        if (!scanBackupFolder(&m_model, folder, filter, m_scan, &error, &cancelled))
            status = error;
        else if (cancelled)
            status = QStringLiteral("Das Einlesen wurde abgebrochen.");
        m_scan->hide();
    }
    m_treeModel->endRefill();
    if (!m_model.groupCaption().isEmpty())
        m_setsGroup->setTitle(m_model.groupCaption());
    m_statusPanel->setToolTip(status);
    m_statusPanel->setText(m_statusPanel->fontMetrics().elidedText(status, Qt::ElideRight, m_statusPanel->width()));
    m_busy = false;
}

void RestoreWindow::showNode(const QModelIndex &index)
{
    const int node = SetTreeModel::nodeOf(index);
    if (node != m_listModel->node())
        m_listModel->setNode(node);
}

void RestoreWindow::toggleNode(int node)
{
    if (m_busy || node < 0)
        return;
    const std::vector<int> before = m_treeModel->states();
    m_model.toggleNode(node);
    m_treeModel->nodesChanged(before);
    m_listModel->ticksChanged();
    updateStatusBar();
}

void RestoreWindow::toggleRecords(const QList<int> &records)
{
    if (m_busy || records.isEmpty() || records.first() < 0)
        return;
    const std::vector<int> before = m_treeModel->states();
    m_model.setRecordsSelected(records, !m_model.record(records.first()).selected);
    m_treeModel->nodesChanged(before);
    m_listModel->ticksChanged();
    updateStatusBar();
}

void RestoreWindow::updateStatusBar()
{
    const QString text = m_model.updateStatusBar();
    m_statusPanel->setToolTip(QString());
    m_statusPanel->setText(text);
}

void RestoreWindow::restore()
{
    if (m_busy)
        return;
    m_busy = true;
    m_progress->reset();
    RestoreWalk walk(m_model, *m_host);
    walk.setRestoreFolder(m_useRestoreFolder->isChecked(), m_restoreFolder->text());
    walk.setJobName(jobName());
    walk.restoreDatabase = [this](const DatabaseRequest &request, RunHost &host) {
        return DatabaseStep::restoreRecord(
            request, host, [this](const DatabaseStep::AccessRequest &a) { return chooseAccess(a); });
    };
    walk.run();
    m_progress->hide();
    m_busy = false;
}

std::optional<DatabaseRestore::Access> RestoreWindow::chooseAccess(const DatabaseStep::AccessRequest &request)
{
    // After a failed connect the dialog comes again as the user left it, to correct what they typed.
    if (!request.afterFailedConnect) {
        m_chooser->setWarning(request.warning);
        m_chooser->setPresetName(request.entryName);
        m_chooser->fill(request.jobName.isEmpty() ? nullptr : m_jobs.findJobByName(request.jobName));
    }
    if (runChooser(*m_chooser) != QDialog::Accepted)
        return std::nullopt;
    const TODBC_DB entry = m_chooser->access();
    DatabaseRestore::Access access;
    access.host = entry.DB_Host;
    access.port = entry.DB_Port;
    access.user = entry.DB_User;
    access.password = entry.DB_Pass;
    access.database = entry.DB_DBName;
    access.requireTls = entry.DB_TLS == QLatin1String("ja");
    return access;
}

void RestoreWindow::reject()
{
    // A scan or a restore under way is ended by its own progress window, not by closing this one.
    if (!m_busy)
        QDialog::reject();
}

void RestoreWindow::closeEvent(QCloseEvent *event)
{
    if (m_busy)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void attachRestoreWindow(MainWindow &window, TAuftraege &jobs)
{
    // One chooser for the program's whole life: its box and inputs keep their state from one use to the next.
    auto *chooser = new DatabaseChooserDialog(&window);
    window.setRestoreOpener([&window, &jobs, chooser](const QStringList &choices, int selected) {
        RestoreWindow dialog(jobs, chooser, &window);
        // Modal from the start: its sets are read while it is already shown, before its own loop runs.
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        dialog.setChoices(choices, selected);
        dialog.exec();
    });
}
