// SPDX-License-Identifier: GPL-3.0-or-later
// The two progress windows of the restore window: reading the sets, and restoring.
#pragma once

#include "engine/runhost.h"
#include "restore/setfinder.h"
#include "ui/widgetrunhost.h"

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

/**
 * "Verzeichnisliste erstellen", shown while the sets are read: the folder being read, the
 * number of sets found and one memo line per set. Its "&Abbruch" button (or closing it) asks
 * the scan to stop. It blocks the restore window while it is shown.
 */
class ScanProgressWindow : public QDialog, public ScanProgress
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScanProgressWindow)

public:
    explicit ScanProgressWindow(QWidget *parent = nullptr);

    /// Empties the memo and the lines, clears the cancel request and shows the window.
    void begin();

    QString folderLine() const
    {
        return m_folderText;
    }
    QString foundText() const;
    QStringList memo() const;

    void setFolderLine(const QString &text) override;
    void setFoundText(const QString &text) override;
    void appendLine(const QString &text) override;
    void appendToLastLine(const QString &text) override;
    void processEvents() override;
    bool cancelRequested() override
    {
        return m_cancelRequested;
    }

protected:
    void reject() override;

private:
    QLabel *m_folder;
    QLabel *m_found;
    QPlainTextEdit *m_memo;
    QPushButton *m_cancel;
    QString m_folderText;
    bool m_cancelRequested = false;
};

/**
 * "Fortschritt der Wiederherstellung": the item being restored, a gauge and "&Abbruch", which
 * only requests a cancel of the restore under way, read after every record. It blocks the restore
 * window while it is shown.
 */
class RestoreProgressWindow : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RestoreProgressWindow)

public:
    explicit RestoreProgressWindow(QWidget *parent = nullptr);

    void setItemLine(const QString &text);
    QString itemLine() const
    {
        return m_itemText;
    }
    void setGauge(qint64 progress, qint64 maximum);
    int percent() const;
    /// The restore whose cancel the button requests; nullptr while none is under way.
    void setCancel(RunCancel *cancel)
    {
        m_work = cancel;
    }
    void requestCancel();
    bool cancelRequested() const
    {
        return m_work && m_work->requested();
    }
    /// Empty line, gauge at 0.
    void reset();

protected:
    void reject() override;

private:
    QLabel *m_item;
    QProgressBar *m_gauge;
    QPushButton *m_cancel;
    QString m_itemText;
    RunCancel *m_work = nullptr;
};

/**
 * The restore's user side in the restore window: questions and messages as message boxes over
 * the progress window (or the restore window), the item line and gauge of the progress
 * window, its cancel button. Pending events are handled at most every 20 ms, which keeps the
 * window alive without costing more than the restore of many small files.
 */
class RestoreRunHost : public DialogRunHost
{
public:
    RestoreRunHost(QWidget &window, RestoreProgressWindow &progress);

    void setProgressLine(ProgressLine line, const QString &text) override;
    void setGauge(int gauge, qint64 progress, qint64 maximum) override;
    void setCancel(RunCancel *cancel) override;
    void processEvents() override;

protected:
    QWidget *dialogParent() const override;

private:
    QWidget &m_window;
    RestoreProgressWindow &m_progress;
    QElapsedTimer m_sinceEvents;
};
