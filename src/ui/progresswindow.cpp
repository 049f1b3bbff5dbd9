// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/progresswindow.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace
{
const char *const kInitialTexts[8]
    = { "Quelldatei:", "", "Zieldatei:", "", "Verzeichnis", "", "Dateien", "Verzeichnisse" };
} // namespace

ProgressWindow::ProgressWindow(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QStringLiteral("Kopieren"));
    setModal(false);

    for (int i = 0; i < 8; ++i) {
        m_labels[i] = new QLabel(this);
        m_labels[i]->setObjectName(QStringLiteral("label%1").arg(i + 1));
        m_labels[i]->setTextFormat(Qt::PlainText);
    }
    // Long paths must not widen a fixed window: the lines elide in their own width.
    for (int i : { 1, 3, 5 }) {
        m_labels[i]->setMinimumWidth(10);
        m_labels[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    m_labels[6]->setAlignment(Qt::AlignCenter);
    m_labels[7]->setAlignment(Qt::AlignCenter);
    QFont bold = m_labels[0]->font();
    bold.setBold(true);
    for (int i : { 0, 2, 4 })
        m_labels[i]->setFont(bold);

    for (int i = 0; i < 2; ++i) {
        m_gauges[i] = new QProgressBar(this);
        m_gauges[i]->setObjectName(QStringLiteral("gauge%1").arg(i + 1));
        m_gauges[i]->setRange(0, 100);
        m_gauges[i]->setFormat(QStringLiteral("%p %"));
    }
    m_cancel = new QPushButton(QStringLiteral("&Auftrag abbrechen"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, &ProgressWindow::requestCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_labels[0]);
    layout->addWidget(m_labels[1]);
    layout->addWidget(m_gauges[0]);
    layout->addSpacing(6);
    layout->addWidget(m_labels[2]);
    layout->addWidget(m_labels[3]);
    layout->addWidget(m_gauges[1]);
    layout->addSpacing(6);
    layout->addWidget(m_labels[4]);
    layout->addWidget(m_labels[5]);
    auto *counts = new QHBoxLayout;
    counts->addWidget(m_labels[6], 1);
    counts->addWidget(m_labels[7], 1);
    layout->addLayout(counts);
    layout->addSpacing(6);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    layout->addLayout(buttons);

    reset();
    setFixedSize(460, sizeHint().height());
}

void ProgressWindow::reset()
{
    for (int i = 0; i < 8; ++i)
        m_labels[i]->setText(QString::fromUtf8(kInitialTexts[i]));
    setGauge(1, 0, 0);
    setGauge(2, 0, 0);
}

void ProgressWindow::requestCancel()
{
    if (m_work)
        m_work->request();
}

void ProgressWindow::setLine(ProgressLine line, const QString &text)
{
    const int i = int(line) - 1;
    if (i < 0 || i >= 8)
        return;
    QLabel *label = m_labels[i];
    if (label->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) {
        label->setToolTip(text);
        label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, width() - 30));
    } else {
        label->setText(text);
    }
}

QString ProgressWindow::line(ProgressLine line) const
{
    const int i = int(line) - 1;
    if (i < 0 || i >= 8)
        return QString();
    const QLabel *label = m_labels[i];
    return label->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored ? label->toolTip() : label->text();
}

int ProgressWindow::percentOf(qint64 progress, qint64 maximum)
{
    if (maximum <= 0 || progress <= 0)
        return 0;
    return int(std::min<qint64>(100, progress * 100 / maximum));
}

void ProgressWindow::setGauge(int gauge, qint64 progress, qint64 maximum)
{
    if (gauge < 1 || gauge > 2)
        return;
    m_gauges[gauge - 1]->setValue(percentOf(progress, maximum));
}

int ProgressWindow::percent(int gauge) const
{
    return gauge >= 1 && gauge <= 2 ? m_gauges[gauge - 1]->value() : 0;
}

void ProgressWindow::showEvent(QShowEvent *event)
{
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void ProgressWindow::reject()
{
    if (m_closeHides)
        hide();
    else
        requestCancel();
}
