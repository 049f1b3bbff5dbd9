// SPDX-License-Identifier: GPL-3.0-or-later
// The seven pages of the job editor, each filling its controls from a job and writing them back.
#pragma once

#include "jobs/tauftrag.h"

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QToolButton;
class SystemActions;

/// One page: load() fills every control from the job, apply() writes every control back.
class JobEditorPage : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(JobEditorPage)

public:
    using QWidget::QWidget;

    virtual void load(const TAuftrag &job) = 0;
    virtual void apply(TAuftrag &job) const = 0;
};

/// "Auftrag": name, full or changed files, compression, scheduling and logging switches, messages.
class GeneralPage : public JobEditorPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GeneralPage)

public:
    explicit GeneralPage(QWidget *parent = nullptr);

    void load(const TAuftrag &job) override;
    void apply(TAuftrag &job) const override;

    QLineEdit *nameEdit() const
    {
        return m_name;
    }
    bool scheduled() const;
    bool logged() const;

signals:
    /// The name field was left: the caption follows it.
    void nameEdited(const QString &name);
    /// "&Optionen": the temporary folder.
    void tempFolderRequested();
    /// Compression, scheduling or logging was clicked.
    void switchesChanged();

private:
    void applyEnabling();

    QLineEdit *m_name;
    QRadioButton *m_full;
    QRadioButton *m_changedOnly;
    QCheckBox *m_compress;
    QPushButton *m_tempOptions;
    QCheckBox *m_autostart;
    QCheckBox *m_log;
    QRadioButton *m_showErrors;
    QRadioButton *m_logErrors;
    QCheckBox *m_startMessage;
    QCheckBox *m_successMessage;
};

/// "Dateien": the source folders, sorted by path, with add, change and remove.
class FilesPage : public JobEditorPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FilesPage)

public:
    explicit FilesPage(QWidget *parent = nullptr);

    void load(const TAuftrag &job) override;
    /// The rows in display order (the store reverses them).
    void apply(TAuftrag &job) const override;

    /// The column widths of a freshly shown editor.
    void setColumnWidths();
    void addSource();
    void changeSource();
    void removeSource();
    QTableWidget *list() const
    {
        return m_list;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<TQuelle> rows() const;
    /// Shows the rows in the one order the program sorts sources by; selects the row of `select`.
    void setRows(const QList<TQuelle> &rows, int select = -1);

    QTableWidget *m_list;
};

/// "Datenbanken": the MySQL databases with add, edit, remove and the connection test.
class DatabasesPage : public JobEditorPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DatabasesPage)

public:
    explicit DatabasesPage(QWidget *parent = nullptr);

    void load(const TAuftrag &job) override;
    /// The rows in display order (the store reverses them).
    void apply(TAuftrag &job) const override;

    /// The column widths of a freshly shown editor.
    void setColumnWidths();
    void addDatabase();
    void editDatabase();
    void removeDatabase();
    /// "Verbindung testen" for the selected row: a connect of at most 5 seconds, then its result.
    void testConnection();
    QTableWidget *list() const
    {
        return m_list;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TODBC_DB row(int r) const;
    void setRow(int r, const TODBC_DB &db);

    QTableWidget *m_list;
};

/// "Ziel": the target folder and the two target options.
class TargetPage : public JobEditorPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TargetPage)

public:
    explicit TargetPage(QWidget *parent = nullptr);

    void load(const TAuftrag &job) override;
    void apply(TAuftrag &job) const override;

private:
    QLineEdit *m_target;
    QCheckBox *m_checkSpace;
    QCheckBox *m_overwrite;
};

/// "Zeitplan": start time, weekdays and what happens to a missed run.
class SchedulePage : public JobEditorPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SchedulePage)

public:
    explicit SchedulePage(QWidget *parent = nullptr);

    void load(const TAuftrag &job) override;
    void apply(TAuftrag &job) const override;

    /// The start time as stored: "hh:mm", or empty for an empty field; false for an incomplete or
    /// impossible time ("25:00").
    bool startTime(QString *value) const;
    QLineEdit *startTimeEdit() const
    {
        return m_startTime;
    }

private:
    QLineEdit *m_startTime;
    QCheckBox *m_days[7];
    QRadioButton *m_ask;
    QRadioButton *m_catchUp;
    QRadioButton *m_skip;
};

/// "Protokoll": log folder, log options, printing and mail.
class LogPage : public JobEditorPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogPage)

public:
    explicit LogPage(QWidget *parent = nullptr);

    void load(const TAuftrag &job) override;
    void apply(TAuftrag &job) const override;

    QString logFolder() const;

signals:
    /// "Protkolldatei editieren".
    void editLogRequested();
    /// "&Drucker".
    void printerRequested();
    /// "Op&tionen" of the mail.
    void mailOptionsRequested();

private:
    void applyEnabling();

    QLineEdit *m_folder;
    QCheckBox *m_detailed;
    QCheckBox *m_showAfter;
    QCheckBox *m_clearBefore;
    QCheckBox *m_print;
    QPushButton *m_printer;
    QCheckBox *m_mail;
    QPushButton *m_mailOptions;
};

/// "Sonstiges": the programs before and after a run, shutdown, background run and eject.
class MiscPage : public JobEditorPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MiscPage)

public:
    /// actions starts the programs of the two "Testen" buttons.
    MiscPage(SystemActions &actions, QWidget *parent = nullptr);

    void load(const TAuftrag &job) override;
    void apply(TAuftrag &job) const override;

    /// "Bitte Anwendung auswählen", preset with start; an empty text when cancelled.
    static QString chooseProgram(QWidget *parent, const QString &start);

private:
    struct ProgramGroup {
        QLineEdit *program = nullptr;
        QLineEdit *parameters = nullptr;
        QCheckBox *wait = nullptr;
    };
    QWidget *makeGroup(ProgramGroup &group,
        const char *prefix,
        const QString &title,
        const QString &testText,
        const QString &waitHint);

    SystemActions &m_actions;
    ProgramGroup m_before;
    ProgramGroup m_after;
    QCheckBox *m_shutdown;
    QCheckBox *m_background;
    QCheckBox *m_eject;
};

/// The hints of the editor break lines with "\r\n", as the old tool tips did.
QString editorHint(const QString &text);
