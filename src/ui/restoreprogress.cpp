// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/restoreprogress.h"

#include "ui/progresswindow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTextCursor>
#include <QVBoxLayout>

namespace
{

constexpr int kEventsEveryMs = 20;

QPushButton *cancelButton(QWidget *parent, const char *name)
{
    auto *button = new QPushButton(QStringLiteral("&Abbruch"), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(parent->style()->standardIcon(QStyle::SP_DialogCancelButton));
    button->setAutoDefault(false);
    return button;
}

// A line that shows long paths elided in its own width; the whole text stays in its tool tip.
QLabel *lineLabel(QWidget *parent, const char *name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(10);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

void setElided(QLabel *label, const QString &text)
{
    label->setToolTip(text);
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, std::max(10, label->width())));
}

Qt::WindowFlags progressFlags()
{
    return Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint;
}

} // namespace

ScanProgressWindow::ScanProgressWindow(QWidget *parent)
    : QDialog(parent, progressFlags())
    , m_folder(lineLabel(this, "scanFolderLine"))
    , m_found(new QLabel(QStringLiteral("Gefundene Datensicherungen"), this))
    , m_memo(new QPlainTextEdit(this))
    , m_cancel(cancelButton(this, "scanCancelButton"))
{
    setObjectName(QStringLiteral("scanProgressWindow"));
    setWindowTitle(QStringLiteral("Verzeichnisliste erstellen"));
    // While the sets are read, nothing of the restore window may start a second scan or a restore.
    setWindowModality(Qt::ApplicationModal);
    auto *text = new QLabel(QStringLiteral("Die Sicherungsliste wird erstellt. Bitte warten Sie .."), this);
    QFont bold = text->font();
    bold.setBold(true);
    text->setFont(bold);
    m_found->setObjectName(QStringLiteral("foundLabel"));
    m_memo->setObjectName(QStringLiteral("scanMemo"));
    m_memo->setReadOnly(true);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelRequested = true; });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_folder);
    layout->addWidget(m_found);
    layout->addWidget(m_memo, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    layout->addLayout(buttons);
    resize(420, 300);
}

void ScanProgressWindow::begin()
{
    m_memo->clear();
    m_found->setText(QStringLiteral("Gefundene Datensicherungen"));
    m_folderText.clear();
    m_folder->clear();
    m_cancelRequested = false;
    show();
    raise();
}

QString ScanProgressWindow::foundText() const
{
    return m_found->text();
}

QStringList ScanProgressWindow::memo() const
{
    return m_memo->toPlainText().split(u'\n', Qt::SkipEmptyParts);
}

void ScanProgressWindow::setFolderLine(const QString &text)
{
    // Many folders go by between two repaints; the label takes only the one that is shown.
    m_folderText = text;
}

void ScanProgressWindow::setFoundText(const QString &text)
{
    m_found->setText(text);
}

void ScanProgressWindow::appendLine(const QString &text)
{
    m_memo->appendPlainText(text);
}

void ScanProgressWindow::appendToLastLine(const QString &text)
{
    QTextCursor cursor = m_memo->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    m_memo->setTextCursor(cursor);
}

void ScanProgressWindow::processEvents()
{
    setElided(m_folder, m_folderText);
    QApplication::processEvents(QEventLoop::AllEvents, 50);
}

void ScanProgressWindow::reject()
{
    // Closing the window asks the scan to stop; the scan hides it when it has.
    m_cancelRequested = true;
}

RestoreProgressWindow::RestoreProgressWindow(QWidget *parent)
    : QDialog(parent, progressFlags())
    , m_item(lineLabel(this, "itemLine"))
    , m_gauge(new QProgressBar(this))
    , m_cancel(cancelButton(this, "restoreCancelButton"))
{
    setObjectName(QStringLiteral("restoreProgressWindow"));
    setWindowTitle(QStringLiteral("Fortschritt der Wiederherstellung"));
    setWindowModality(Qt::ApplicationModal);
    auto *text = new QLabel(QStringLiteral("Die Dateien werden wiederhergestellt. Bitte warten Sie .."), this);
    QFont bold = text->font();
    bold.setBold(true);
    text->setFont(bold);
    m_gauge->setObjectName(QStringLiteral("restoreGauge"));
    m_gauge->setRange(0, 100);
    m_gauge->setFormat(QStringLiteral("%p %"));
    connect(m_cancel, &QPushButton::clicked, this, &RestoreProgressWindow::requestCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_item);
    layout->addWidget(m_gauge);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    layout->addLayout(buttons);
    setFixedSize(420, sizeHint().height());
}

void RestoreProgressWindow::setItemLine(const QString &text)
{
    m_itemText = text;
    setElided(m_item, text);
}

void RestoreProgressWindow::setGauge(qint64 progress, qint64 maximum)
{
    m_gauge->setValue(ProgressWindow::percentOf(progress, maximum));
}

int RestoreProgressWindow::percent() const
{
    return m_gauge->value();
}

void RestoreProgressWindow::reset()
{
    setItemLine(QString());
    setGauge(0, 0);
}

void RestoreProgressWindow::requestCancel()
{
    if (m_work)
        m_work->request();
}

void RestoreProgressWindow::reject()
{
    requestCancel();
}

RestoreRunHost::RestoreRunHost(QWidget &window, RestoreProgressWindow &progress)
    : DialogRunHost(progress)
    , m_window(window)
    , m_progress(progress)
{
}

QWidget *RestoreRunHost::dialogParent() const
{
    return m_progress.isVisible() ? static_cast<QWidget *>(&m_progress) : &m_window;
}

void RestoreRunHost::setProgressLine(ProgressLine line, const QString &text)
{
    // The walk names the file in the folder line, the database restore its table in the count line: one item line.
    if (line == ProgressLine::Folder || line == ProgressLine::FileCount)
        m_progress.setItemLine(text);
}

void RestoreRunHost::setGauge(int gauge, qint64 progress, qint64 maximum)
{
    if (gauge == 2)
        m_progress.setGauge(progress, maximum);
}

void RestoreRunHost::setCancel(RunCancel *cancel)
{
    m_progress.setCancel(cancel);
}

void RestoreRunHost::processEvents()
{
    // The first round comes at once: the window shows and its cancel button is live from the start.
    if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < kEventsEveryMs)
        return;
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    m_sinceEvents.start();
}
