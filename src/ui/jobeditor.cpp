// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/jobeditor.h"

#include "engine/runlog.h"
#include "jobs/jobstore.h"
#include "jobs/tauftraege.h"
#include "platform/systemactions.h"
#include "ui/dialogs.h"
#include "ui/jobeditorpages.h"
#include "ui/mailoptionsdialog.h"
#include "ui/prompt.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace
{

const QString kCaptionPrefix = QStringLiteral("Eigenschaften von ");

} // namespace

QString unusedJobStem(const TAuftraege &jobs)
{
    for (int n = 0;; ++n) {
        const QString stem = QString::number(n);
        if (!jobs.findJobByStem(stem)
            && !QFileInfo::exists(jobs.scriptsFolder() + u'/' + stem + QStringLiteral(".scr")))
            return stem;
    }
}

JobEditor::JobEditor(TAuftraege &jobs, TAuftrag &job, Mode mode, const Environment &environment, QWidget *parent)
    : QDialog(parent)
    , m_jobs(jobs)
    , m_stem(job.fileStem)
    , m_mode(mode)
    , m_env(environment)
    , m_tabs(new QTabWidget(this))
    , m_general(new GeneralPage(m_tabs))
    , m_files(new FilesPage(m_tabs))
    , m_databases(new DatabasesPage(m_tabs))
    , m_target(new TargetPage(m_tabs))
    , m_schedule(new SchedulePage(m_tabs))
    , m_log(new LogPage(m_tabs))
    , m_misc(new MiscPage(environment.actions ? *environment.actions : SystemActions::system(), m_tabs))
    , m_mail(new MailOptionsDialog(this))
{
    // The main window finds its open editors by this name (to close them when it goes to the tray).
    setObjectName(QStringLiteral("jobEditor"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Einstellungen"));
    m_tabs->setObjectName(QStringLiteral("pages"));
    // Seven tabs side by side, none behind a scroll arrow.
    m_tabs->setUsesScrollButtons(false);
    m_tabs->addTab(m_general, QStringLiteral("Auftrag"));
    m_tabs->addTab(m_files, QStringLiteral("Dateien"));
    m_tabs->addTab(m_databases, QStringLiteral("Datenbanken"));
    m_tabs->addTab(m_target, QStringLiteral("Ziel"));
    m_tabs->addTab(m_schedule, QStringLiteral("Zeitplan"));
    m_tabs->addTab(m_log, QStringLiteral("Protokoll"));
    m_tabs->addTab(m_misc, QStringLiteral("Sonstiges"));

    auto *save = new QPushButton(QStringLiteral("S&peichern"), this);
    save->setObjectName(QStringLiteral("saveButton"));
    save->setDefault(true);
    auto *cancelButton = new QPushButton(QStringLiteral("&Abbrechen"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(save, &QPushButton::clicked, this, &JobEditor::store);
    connect(cancelButton, &QPushButton::clicked, this, &JobEditor::cancel);

    connect(m_general, &GeneralPage::nameEdited, this, [this](const QString &name) {
        setWindowTitle(kCaptionPrefix + name);
    });
    connect(m_general, &GeneralPage::switchesChanged, this, &JobEditor::applyPageVisibility);
    connect(m_general, &GeneralPage::tempFolderRequested, this, &JobEditor::editTempFolder);
    connect(m_log, &LogPage::editLogRequested, this, &JobEditor::editLog);
    connect(m_log, &LogPage::printerRequested, this, &JobEditor::choosePrinter);
    connect(m_log, &LogPage::mailOptionsRequested, this, &JobEditor::openMailOptions);

    // Ins and Del act on the list of the page shown, wherever the focus is on it.
    for (const Qt::Key key : { Qt::Key_Insert, Qt::Key_Delete }) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setEnabled(false);
        connect(shortcut, &QShortcut::activated, this, [this, key] { listKey(key); });
        connect(m_tabs, &QTabWidget::currentChanged, shortcut, [shortcut](int index) {
            shortcut->setEnabled(index == FilesTab || index == DatabasesTab);
        });
    }

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);

    fill(job);
    // 419 x 440, larger only where this desktop's font needs more room.
    const QSize hint = sizeHint();
    setFixedSize(std::max(419, hint.width()), std::max(440, hint.height()));
}

TAuftrag *JobEditor::job() const
{
    return m_jobs.findJobByStem(m_stem);
}

void JobEditor::fill(const TAuftrag &job)
{
    m_general->load(job);
    m_files->load(job);
    m_databases->load(job);
    m_target->load(job);
    m_schedule->load(job);
    m_log->load(job);
    m_misc->load(job);
    m_mail->load(job);
    setWindowTitle(kCaptionPrefix + job.Name);
    applyPageVisibility();
}

// Hidden pages keep their controls and values; they are stored all the same.
void JobEditor::applyPageVisibility()
{
    m_tabs->setTabVisible(ScheduleTab, m_general->scheduled());
    m_tabs->setTabVisible(LogTab, m_general->logged());
}

void JobEditor::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_files->setColumnWidths();
    m_databases->setColumnWidths();
}

void JobEditor::listKey(Qt::Key key)
{
    const bool insert = key == Qt::Key_Insert;
    if (m_tabs->currentIndex() == FilesTab)
        insert ? m_files->addSource() : m_files->removeSource();
    else if (m_tabs->currentIndex() == DatabasesTab)
        insert ? m_databases->addDatabase() : m_databases->removeDatabase();
}

TAuftrag JobEditor::editedJob() const
{
    const TAuftrag *current = job();
    TAuftrag edited = current ? *current : TAuftrag();
    m_general->apply(edited);
    m_files->apply(edited);
    m_databases->apply(edited);
    m_target->apply(edited);
    m_schedule->apply(edited);
    m_log->apply(edited);
    m_misc->apply(edited);
    m_mail->store(edited);
    return edited;
}

bool JobEditor::store()
{
    if (m_finished)
        return false;
    TAuftrag *target = job();
    if (!target) {
        // The job left the list while the editor was open: what was entered is not lost.
        target = m_jobs.addNewJob(m_stem);
    }
    if (m_env.jobRunning && m_env.jobRunning(*target)) {
        Prompt::message(this,
            QStringLiteral("Der Auftrag \"%1\" wird gerade ausgeführt. Bitte speichern Sie Ihre Änderungen, "
                           "wenn er beendet ist.")
                .arg(target->Name));
        return false;
    }
    const TAuftrag edited = editedJob();
    QString time;
    if (!edited.Name.isEmpty() && edited.autostart && (!m_schedule->startTime(&time) || time.isEmpty())) {
        Prompt::message(this,
            QStringLiteral("Bitte geben Sie eine gültige Startzeit ein: Stunden von 0 bis 23 und Minuten von 0 bis "
                           "59, zum Beispiel 09:05."));
        m_tabs->setCurrentIndex(ScheduleTab);
        m_schedule->startTimeEdit()->setFocus();
        return false;
    }
    // A file of this number made elsewhere since the job was created is not overwritten.
    if (m_mode == Mode::New && QFileInfo::exists(target->filePath())) {
        target->fileStem = unusedJobStem(m_jobs);
        m_stem = target->fileStem;
    }
    QString error;
    if (!storeJob(m_jobs, *target, edited, &error)) {
        Prompt::message(this, error);
        if (target->Name.isEmpty() || edited.Name.isEmpty())
            m_general->nameEdit()->setFocus();
        return false;
    }
    m_finished = true;
    m_mode = Mode::Edit;
    if (m_env.stored)
        m_env.stored(*target);
    accept();
    return true;
}

void JobEditor::cancel()
{
    if (m_finished)
        return;
    m_finished = true;
    // By its number: another new job of another editor may carry the same name.
    if (m_mode == Mode::New)
        m_jobs.removeJobByStem(m_stem);
    QDialog::reject();
}

void JobEditor::reject()
{
    // Closed from outside (the main window going to the tray) while one of its dialogs waits for
    // the user: that dialog ends first, and the editor once the code that opened it has returned.
    bool dialogOpen = false;
    for (QDialog *dialog : findChildren<QDialog *>()) {
        if (dialog->isVisible() && dialog->isModal()) {
            dialog->reject();
            dialogOpen = true;
        }
    }
    if (dialogOpen) {
        QTimer::singleShot(0, this, &JobEditor::cancel);
        return;
    }
    cancel();
}

// "&Optionen": the temporary folder goes into the job at once, as the old editor did.
void JobEditor::editTempFolder()
{
    TAuftrag *target = job();
    TempFolderDialog dialog(target ? target->temp_pfad : QString(), this);
    if (dialog.exec() == QDialog::Accepted && target)
        target->temp_pfad = dialog.folder();
}

// "&Drucker": the printer chosen goes into the job at once; a cancel keeps the job's printer.
void JobEditor::choosePrinter()
{
    TAuftrag *target = job();
    QPrinter printer;
    if (target && !target->Drucker.isEmpty())
        printer.setPrinterName(target->Drucker);
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("printDialog"));
    if (dialog.exec() == QDialog::Accepted && target)
        target->Drucker = printer.printerName();
}

void JobEditor::editLog()
{
    // The log of the folder in the field, found as the run finds it (the job's own place when empty).
    const TAuftrag *current = job();
    TAuftrag probe;
    probe.fileStem = m_stem;
    probe.scriptsFolder = current ? current->scriptsFolder : m_jobs.scriptsFolder();
    probe.proto_pfad = m_log->logFolder();
    const QString logFile = RunLog::logFilePath(probe);
    if (!QFileInfo(logFile).isFile()) {
        Prompt::message(this, QStringLiteral("Es wurde kein Protokoll gefunden."));
        return;
    }
    if (m_env.viewLog)
        m_env.viewLog(logFile);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(logFile));
}

void JobEditor::openMailOptions()
{
    m_mail->exec();
}
