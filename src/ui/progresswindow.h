// SPDX-License-Identifier: GPL-3.0-or-later
// The progress window "Kopieren": the lines, two gauges and the cancel button of a run.
#pragma once

#include "engine/runhost.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

/**
 * One window for the program's whole life, hidden at start. The run writes its lines and
 * gauges; the cancel button only sets cancelRequested(), which the run reads at its next
 * check (pressing it again before then changes nothing). Closing the window while a run is
 * shown in the foreground is a cancel request too; a background run's window just hides.
 */
class ProgressWindow : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgressWindow)

public:
    explicit ProgressWindow(QWidget *parent = nullptr);

    void setLine(ProgressLine line, const QString &text);
    QString line(ProgressLine line) const;
    /// gauge 1 or 2; shows progress * 100 / maximum, truncated (0 while the maximum is 0).
    void setGauge(int gauge, qint64 progress, qint64 maximum);
    int percent(int gauge) const;

    bool cancelRequested() const
    {
        return m_cancelRequested;
    }
    void setCancelRequested(bool requested)
    {
        m_cancelRequested = requested;
    }

    /// The texts and gauges of a new window, the cancel request cleared (at the start of each run).
    void reset();
    /// Whether closing the window only hides it (a background run) or asks to cancel the run.
    void setCloseHides(bool hides)
    {
        m_closeHides = hides;
    }

    static int percentOf(qint64 progress, qint64 maximum);

protected:
    void showEvent(QShowEvent *event) override;
    void reject() override;

private:
    QLabel *m_labels[8] = {};
    QProgressBar *m_gauges[2] = {};
    QPushButton *m_cancel = nullptr;
    bool m_cancelRequested = false;
    bool m_closeHides = false;
};
