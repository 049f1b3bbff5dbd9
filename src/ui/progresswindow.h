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
 * gauges; the cancel button only requests a cancel of the work it is given (setCancel),
 * which reads it at its next check (pressing it again before then changes nothing). Closing the window while a run is
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

    /// The work whose cancel the button requests; nullptr while none is under way.
    void setCancel(RunCancel *cancel)
    {
        m_work = cancel;
    }
    void requestCancel();
    /// The work under way was asked to cancel and has not yet asked "really?".
    bool cancelRequested() const
    {
        return m_work && m_work->requested();
    }

    /// The texts and gauges of a new window (at the start of each run).
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
    RunCancel *m_work = nullptr;
    bool m_closeHides = false;
};
