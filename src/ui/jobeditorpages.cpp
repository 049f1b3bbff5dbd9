// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/jobeditorpages.h"

#include "db/tmysqldatabase.h"
#include "jobs/jobstore.h"
#include "jobs/nextstart.h"
#include "platform/systemactions.h"
#include "ui/databasedialogs.h"
#include "ui/dialogs.h"
#include "ui/folderchooser.h"
#include "ui/prompt.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{

const QString kYes = QStringLiteral("ja");
const QString kNo = QStringLiteral("nein");
constexpr int kSubDirRole = Qt::UserRole;
constexpr int kTlsRole = Qt::UserRole + 1;
// Seconds the connection test may wait for the server, for the connect and for each answer of the login.
constexpr int kConnectionTestSeconds = 5;

enum DatabaseColumn { DbName, DbHost, DbDatabase, DbPort, DbLogin, DbUser, DbPassword, DbColumns };

QIcon icon(const QString &name)
{
    return QIcon(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
}

QCheckBox *makeCheck(QWidget *parent, const char *name, const QString &text, const QString &hint)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setToolTip(editorHint(hint));
    return box;
}

QRadioButton *makeRadio(QWidget *parent, const char *name, const QString &text, const QString &hint)
{
    auto *radio = new QRadioButton(text, parent);
    radio->setObjectName(QString::fromLatin1(name));
    radio->setToolTip(editorHint(hint));
    return radio;
}

QToolButton *makeToolButton(QWidget *parent, const char *name, const QString &iconName, const QString &hint)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(icon(iconName));
    button->setIconSize(QSize(20, 20));
    button->setAutoRaise(true);
    button->setToolTip(hint);
    return button;
}

// The "..." button beside a path field.
QPushButton *makeBrowseButton(QWidget *parent, const char *name, const QString &hint)
{
    auto *button = new QPushButton(QStringLiteral("..."), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setFixedWidth(32);
    return button;
}

QTableWidget *makeList(QWidget *parent, const char *name, const QStringList &headers)
{
    auto *list = new QTableWidget(0, int(headers.size()), parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setHorizontalHeaderLabels(headers);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setHighlightSections(false);
    list->horizontalHeader()->setSectionsClickable(false);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setWordWrap(false);
    list->setIconSize(QSize(16, 16));
    return list;
}

// A space or a double click on the list changes the selected row; Qt's own handling of the space would only select.
bool isSpace(QEvent *event)
{
    return event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space
        && static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier;
}

int selectedRow(const QTableWidget *list)
{
    const QList<QTableWidgetSelectionRange> ranges = list->selectedRanges();
    return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

} // namespace

QString editorHint(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return t;
}

// ---------------------------------------------------------------------------------------------- Auftrag

GeneralPage::GeneralPage(QWidget *parent)
    : JobEditorPage(parent)
    , m_name(new QLineEdit(this))
    , m_full(makeRadio(this,
          "fullBackupRadio",
          QStringLiteral("&Gesamtsicherung"),
          QStringLiteral("Bei einer Gesamtsicherung werden immer alle Dateien gesichert, \r\ndie von Ihnen unter der "
                         "Registerkarte \"Dateien\" ausgewählt wurden.")))
    , m_changedOnly(makeRadio(this,
          "changedOnlyRadio",
          QStringLiteral("&Nur geänderte Dateien sichern"),
          QStringLiteral("Bei dieser Sicherungsmethode werden nur die Dateien gesichert, \r\ndie sich seit der letzten "
                         "Datensicherung geändert haben (Archivattribut gesetzt)")))
    , m_compress(makeCheck(this,
          "compressCheckBox",
          QStringLiteral("Dateien &komprimieren (weniger Platzverbrauch)"),
          QStringLiteral("Sie sollten die Datensicherung grundsätzlich komprimieren. Das spart \r\nPlatz auf dem "
                         "Zieldatenträger, kostet allerdings auch etwas Rechenzeit.")))
    , m_tempOptions(new QPushButton(QStringLiteral("&Optionen"), this))
    , m_autostart(makeCheck(this,
          "autostartCheckBox",
          QStringLiteral("Automatischer Start mittels &Vorgabezeit"),
          QStringLiteral("Aktivieren Sie dieses Kontrollkästchen, wenn Sie diesen Auftrag \r\nautomatisch starten "
                         "möchten. Die Registerkarte \"Zeitplan\" wird damit aktiviert.")))
    , m_log(makeCheck(this,
          "logCheckBox",
          QStringLiteral("Auftrag protoko&llieren"),
          QStringLiteral("Soll Trevalo ein Protokoll erstellen. Sie können die Protokolldatei \r\nund Optionen zur "
                         "Protokollierung auf der Registerkarte \"Protokoll\" vornehmen.")))
    , m_showErrors(makeRadio(this,
          "showErrorsRadio",
          QStringLiteral("&Fehler sofort anzeigen"),
          QStringLiteral("Alle Fehler werden sofort angezeigt.")))
    , m_logErrors(makeRadio(this,
          "logErrorsRadio",
          QStringLiteral("F&ehler nicht anzeigen (nur protokollieren)"),
          QStringLiteral("Die Fehler werden nicht angezeigt, sondern nur protokolliert. \r\nNutzen sie diese Option "
                         "für automatische Backup´s.")))
    , m_startMessage(makeCheck(this,
          "startMessageCheckBox",
          QStringLiteral("Bestätigung beim Start &des Sicherungsdurchganges anzeigen"),
          QStringLiteral("Wenn aktiviert, wird eine Meldung vor dem Start des Backup angezeigt. \r\nSie können dann "
                         "das Sicherungsmedium einlegen.")))
    , m_successMessage(makeCheck(this,
          "successMessageCheckBox",
          QStringLiteral("Bestätigung &über erfolgreichen Sicherungsdurchgang anzeigen"),
          QStringLiteral("Zeigt eine Abschlussmeldung nach dem Sicherungsvorgang an.")))
{
    setObjectName(QStringLiteral("generalPage"));
    m_name->setObjectName(QStringLiteral("nameEdit"));
    m_name->setToolTip(QStringLiteral("Tragen sie hier die Bezeichnung Ihres Sicherungsauftrages ein"));
    m_tempOptions->setObjectName(QStringLiteral("tempOptionsButton"));
    m_tempOptions->setToolTip(
        QStringLiteral("Wählen Sie hier den temporären Ordner, in dem die einzelnen Archive zuerst erstellt werden."));
    auto *nameLabel = new QLabel(QStringLiteral("&Bezeichnung"), this);
    nameLabel->setBuddy(m_name);

    // Two pairs of radio buttons on one page: each pair is a group of its own.
    auto *method = new QButtonGroup(this);
    method->addButton(m_full);
    method->addButton(m_changedOnly);
    auto *errors = new QButtonGroup(this);
    errors->addButton(m_showErrors);
    errors->addButton(m_logErrors);

    connect(m_name, &QLineEdit::editingFinished, this, [this] { emit nameEdited(m_name->text()); });
    connect(m_tempOptions, &QPushButton::clicked, this, &GeneralPage::tempFolderRequested);
    for (QCheckBox *box : { m_compress, m_autostart, m_log }) {
        connect(box, &QCheckBox::toggled, this, [this] {
            applyEnabling();
            emit switchesChanged();
        });
    }

    auto *compressRow = new QHBoxLayout;
    compressRow->addWidget(m_compress);
    compressRow->addStretch();
    compressRow->addWidget(m_tempOptions);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(nameLabel);
    layout->addWidget(m_name);
    layout->addSpacing(6);
    layout->addWidget(m_full);
    layout->addWidget(m_changedOnly);
    layout->addSpacing(6);
    layout->addLayout(compressRow);
    layout->addWidget(m_autostart);
    layout->addWidget(m_log);
    layout->addSpacing(6);
    layout->addWidget(m_showErrors);
    layout->addWidget(m_logErrors);
    layout->addSpacing(6);
    layout->addWidget(m_startMessage);
    layout->addWidget(m_successMessage);
    layout->addStretch();
}

void GeneralPage::load(const TAuftrag &job)
{
    m_name->setText(job.Name);
    (job.Gesamtsicherung ? m_full : m_changedOnly)->setChecked(true);
    m_compress->setChecked(job.komprimieren);
    m_autostart->setChecked(job.autostart);
    m_log->setChecked(job.Proto);
    (job.fehler_anzeigen ? m_showErrors : m_logErrors)->setChecked(true);
    m_startMessage->setChecked(job.Start_Meldung);
    m_successMessage->setChecked(job.backup_ok_anzeigen);
    applyEnabling();
}

void GeneralPage::apply(TAuftrag &job) const
{
    job.Name = m_name->text();
    job.Gesamtsicherung = m_full->isChecked();
    job.komprimieren = m_compress->isChecked();
    job.autostart = m_autostart->isChecked();
    job.Proto = m_log->isChecked();
    job.fehler_anzeigen = m_showErrors->isChecked();
    job.Start_Meldung = m_startMessage->isChecked();
    job.backup_ok_anzeigen = m_successMessage->isChecked();
}

bool GeneralPage::scheduled() const
{
    return m_autostart->isChecked();
}

bool GeneralPage::logged() const
{
    return m_log->isChecked();
}

void GeneralPage::applyEnabling()
{
    m_tempOptions->setEnabled(m_compress->isChecked());
}

// ---------------------------------------------------------------------------------------------- Dateien

FilesPage::FilesPage(QWidget *parent)
    : JobEditorPage(parent)
    , m_list(makeList(this, "sourceList", { QStringLiteral("Ordner"), QStringLiteral("Filter") }))
{
    setObjectName(QStringLiteral("filesPage"));
    m_list->setToolTip(editorHint(QStringLiteral(
        "Diese Liste enthält aller Ordner, die gesichert werden. \r\n\r\nEin grünes Häckchen vor dem Ordnernamen "
        "bedeutet, dass auch die Unterordner mit gesichert werden. \r\n\r\nDie Symbole zum hinzufügen, ändern und "
        "entfernen der Ordner finden Sie rechts oben.")));
    setColumnWidths();
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->installEventFilter(this);
    connect(m_list, &QTableWidget::cellDoubleClicked, this, &FilesPage::changeSource);

    QToolButton *add = makeToolButton(
        this, "addSourceButton", QStringLiteral("add"), QStringLiteral("Neuen Ordner auswählen (Einf)"));
    QToolButton *change = makeToolButton(this,
        "changeSourceButton",
        QStringLiteral("edit"),
        QStringLiteral("ausgewählten Ordner ändern. (Doppelklick)"));
    QToolButton *remove = makeToolButton(this,
        "removeSourceButton",
        QStringLiteral("remove"),
        QStringLiteral("Ordner aus Sicherungsliste entfernen (Entf)"));
    connect(add, &QToolButton::clicked, this, &FilesPage::addSource);
    connect(change, &QToolButton::clicked, this, &FilesPage::changeSource);
    connect(remove, &QToolButton::clicked, this, &FilesPage::removeSource);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(add);
    buttons->addWidget(change);
    buttons->addWidget(remove);

    const auto legendEntry = [this](const QString &iconName, const QString &text) {
        auto *line = new QHBoxLayout;
        auto *picture = new QLabel(this);
        picture->setPixmap(icon(iconName).pixmap(16, 16));
        line->addWidget(picture);
        line->addWidget(new QLabel(text, this), 1);
        return line;
    };
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_list, 1);
    layout->addLayout(legendEntry(QStringLiteral("subdirs"), QStringLiteral("Unterordner mit einbeziehen")));
    layout->addLayout(
        legendEntry(QStringLiteral("nosubdirs"), QStringLiteral("Unterordner nicht in Sicherung einbeziehen")));
}

void FilesPage::setColumnWidths()
{
    m_list->setColumnWidth(0, 333);
    m_list->setColumnWidth(1, 66);
}

void FilesPage::load(const TAuftrag &job)
{
    setRows(sourceRows(job));
}

void FilesPage::apply(TAuftrag &job) const
{
    job.sources = rows();
}

QList<TQuelle> FilesPage::rows() const
{
    QList<TQuelle> result;
    for (int r = 0; r < m_list->rowCount(); ++r) {
        TQuelle q;
        q.Verz = m_list->item(r, 0)->text();
        q.Filter = m_list->item(r, 1)->text();
        q.SubDir = m_list->item(r, 0)->data(kSubDirRole).toBool();
        result.append(q);
    }
    return result;
}

void FilesPage::setRows(const QList<TQuelle> &rows, int select)
{
    // The rows keep the order the core sorts sources by, so editor and command line show the same.
    // (It takes a job's stored order, the rows reversed; so rows of one folder keep their order here.)
    TAuftrag sorted;
    sorted.sources = QList<TQuelle>(rows.crbegin(), rows.crend());
    const QList<TQuelle> ordered = select >= 0 ? sourceRows(sorted) : rows;
    int selectRow = -1;
    m_list->setRowCount(0);
    for (const TQuelle &q : ordered) {
        const int r = m_list->rowCount();
        m_list->insertRow(r);
        auto *folder
            = new QTableWidgetItem(icon(q.SubDir ? QStringLiteral("subdirs") : QStringLiteral("nosubdirs")), q.Verz);
        folder->setData(kSubDirRole, q.SubDir);
        m_list->setItem(r, 0, folder);
        m_list->setItem(r, 1, new QTableWidgetItem(q.Filter));
        if (select >= 0 && selectRow < 0 && q.Verz == rows.at(select).Verz && q.Filter == rows.at(select).Filter
            && q.SubDir == rows.at(select).SubDir)
            selectRow = r;
    }
    if (selectRow >= 0) {
        m_list->selectRow(selectRow);
        m_list->setCurrentCell(selectRow, 0);
    }
}

void FilesPage::addSource()
{
    const std::optional<SourceChoice> choice = chooseSource(window(), SourceChoice());
    if (!choice)
        return;
    QList<TQuelle> all = rows();
    all.append({ choice->folder, choice->filter, choice->subfolders });
    setRows(all, int(all.size()) - 1);
    m_list->setFocus();
}

void FilesPage::changeSource()
{
    const int r = selectedRow(m_list);
    if (r < 0)
        return;
    QList<TQuelle> all = rows();
    const TQuelle &old = all.at(r);
    SourceChoice preset;
    preset.folder = old.Verz;
    preset.filter = old.Filter;
    preset.subfolders = old.SubDir;
    const std::optional<SourceChoice> choice = chooseSource(window(), preset);
    if (choice) {
        all[r]
            = { choice->folder, choice->filter.isEmpty() ? QStringLiteral("*.*") : choice->filter, choice->subfolders };
        setRows(all, r);
    }
    m_list->setFocus();
}

void FilesPage::removeSource()
{
    const int r = selectedRow(m_list);
    if (r >= 0)
        m_list->removeRow(r);
}

bool FilesPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && isSpace(event)) {
        changeSource();
        return true;
    }
    return JobEditorPage::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------- Datenbanken

DatabasesPage::DatabasesPage(QWidget *parent)
    : JobEditorPage(parent)
    , m_list(makeList(this,
          "databaseList",
          { QStringLiteral("Bezeichnung"),
              QStringLiteral("Server"),
              QStringLiteral("Datenbank"),
              QStringLiteral("Port"),
              QStringLiteral("man. Login"),
              QString(),
              QString() }))
{
    setObjectName(QStringLiteral("databasesPage"));
    m_list->setToolTip(editorHint(QStringLiteral(
        "Diese Liste enthält aller Datenbankverbindungen, die gesichert werden. \r\n\r\nEs können ausschließlich "
        "MySQL Datenbank gesichert werden.  \r\n\r\nDie Symbole zum hinzufügen, ändern und entfernen der Ordner "
        "finden Sie rechts oben.")));
    setColumnWidths();
    // User and password travel with the row but are never drawn.
    m_list->setColumnHidden(DbUser, true);
    m_list->setColumnHidden(DbPassword, true);
    m_list->horizontalHeader()->setStretchLastSection(false);
    m_list->installEventFilter(this);
    connect(m_list, &QTableWidget::cellDoubleClicked, this, &DatabasesPage::editDatabase);

    auto *note = new QLabel(QStringLiteral("Es können nur MySQL Datenbanken gesichert werden."), this);
    QToolButton *add = makeToolButton(this,
        "addDatabaseButton",
        QStringLiteral("dbadd"),
        QStringLiteral("Neue Datenbankverbingung hinzufügen (Einf.)"));
    QToolButton *edit = makeToolButton(this,
        "editDatabaseButton",
        QStringLiteral("dbedit"),
        QStringLiteral("ausgewählte Datenbankverbingung bearbeiten (Doppelklick)"));
    QToolButton *remove = makeToolButton(this,
        "removeDatabaseButton",
        QStringLiteral("dbremove"),
        QStringLiteral("Datenbank aus Liste entfernen (ENTF)"));
    auto *test = new QPushButton(QStringLiteral("Verbindung testen"), this);
    test->setObjectName(QStringLiteral("testConnectionButton"));
    test->setToolTip(QStringLiteral("Klicken Sie hier, um die ausgewählte Datenbankverbindung zu testen."));
    connect(add, &QToolButton::clicked, this, &DatabasesPage::addDatabase);
    connect(edit, &QToolButton::clicked, this, &DatabasesPage::editDatabase);
    connect(remove, &QToolButton::clicked, this, &DatabasesPage::removeDatabase);
    connect(test, &QPushButton::clicked, this, &DatabasesPage::testConnection);

    auto *top = new QHBoxLayout;
    top->addWidget(note, 1);
    top->addWidget(add);
    top->addWidget(edit);
    top->addWidget(remove);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(test);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    layout->addLayout(bottom);
}

void DatabasesPage::setColumnWidths()
{
    // The widths of the old dialog, wider only where a heading or a port number would not fit in this font.
    const int widths[] = { 90, 110, 80, 35, 65 };
    const QFontMetrics metrics = m_list->horizontalHeader()->fontMetrics();
    for (int c = 0; c < 5; ++c) {
        int needed = metrics.horizontalAdvance(m_list->horizontalHeaderItem(c)->text()) + 16;
        if (c == DbPort)
            needed = std::max(needed, m_list->fontMetrics().horizontalAdvance(QStringLiteral("65535")) + 12);
        m_list->setColumnWidth(c, std::max(widths[c], needed));
    }
}

void DatabasesPage::load(const TAuftrag &job)
{
    m_list->setRowCount(0);
    for (const TODBC_DB &db : databaseRows(job)) {
        m_list->insertRow(m_list->rowCount());
        setRow(m_list->rowCount() - 1, db);
    }
}

void DatabasesPage::apply(TAuftrag &job) const
{
    job.databases.clear();
    for (int r = 0; r < m_list->rowCount(); ++r)
        job.databases.append(row(r));
}

TODBC_DB DatabasesPage::row(int r) const
{
    const auto cell = [&](int c) { return m_list->item(r, c)->text(); };
    TODBC_DB db;
    db.DB_Name = cell(DbName);
    db.DB_Host = cell(DbHost);
    db.DB_DBName = cell(DbDatabase);
    db.DB_Port = cell(DbPort);
    db.DB_Login = cell(DbLogin);
    db.DB_User = cell(DbUser);
    db.DB_Pass = cell(DbPassword);
    db.DB_TLS = m_list->item(r, DbName)->data(kTlsRole).toString();
    return db;
}

void DatabasesPage::setRow(int r, const TODBC_DB &db)
{
    const QString cells[DbColumns]
        = { db.DB_Name, db.DB_Host, db.DB_DBName, db.DB_Port, db.DB_Login, db.DB_User, db.DB_Pass };
    for (int c = 0; c < DbColumns; ++c)
        m_list->setItem(r, c, new QTableWidgetItem(cells[c]));
    m_list->item(r, DbName)->setData(kTlsRole, db.DB_TLS);
}

void DatabasesPage::addDatabase()
{
    DatabaseAccessDialog dialog(window());
    dialog.setWindowTitle(DatabaseAccessDialog::newCaption());
    dialog.setEntry(TODBC_DB());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int r = m_list->rowCount();
    m_list->insertRow(r);
    setRow(r, dialog.entry());
    m_list->selectRow(r);
}

void DatabasesPage::editDatabase()
{
    const int r = selectedRow(m_list);
    if (r < 0)
        return;
    DatabaseAccessDialog dialog(window());
    dialog.setWindowTitle(DatabaseAccessDialog::editCaption());
    dialog.setEntry(row(r));
    if (dialog.exec() == QDialog::Accepted)
        setRow(r, dialog.entry());
}

void DatabasesPage::removeDatabase()
{
    const int r = selectedRow(m_list);
    if (r >= 0)
        m_list->removeRow(r);
}

void DatabasesPage::testConnection()
{
    const int r = selectedRow(m_list);
    if (r < 0) {
        Prompt::message(window(), QStringLiteral("Bitte wählen Sie eine Datenbankverbindung in der Liste aus."));
        return;
    }
    const TODBC_DB entry = row(r);
    TmySQLDatabase db;
    db.setConnectionTimeout(kConnectionTestSeconds);
    db.setIoTimeout(kConnectionTestSeconds);
    db.setReadOnly(true);
    db.setConnectOptions(entry.DB_TLS == kYes ? TmySQLDatabase::coRequireTls : 0);
    db.setDatabaseName(entry.DB_DBName);
    db.setHost(entry.DB_Host);
    // The port as the dump takes it: a cell that is no port number means 3306.
    bool portOk = false;
    const int port = entry.DB_Port.trimmed().toInt(&portOk);
    db.setPort(portOk && port > 0 && port <= 65535 ? port : 3306);
    db.setLoginPrompt(entry.DB_Login == kYes);
    QWidget *owner = window();
    db.setLoginPromptHandler([owner](const QString &database, QString *userName, QString *password) {
        userName->clear();
        password->clear();
        return LoginDialog::ask(
            owner, MySqlLoginTexts::caption(), MySqlLoginTexts::databaseLabel() + u' ' + database, userName, password);
    });
    db.setUserName(entry.DB_User);
    db.setUserPassword(entry.DB_Pass);

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool connected = db.open();
    QApplication::restoreOverrideCursor();
    if (connected) {
        Prompt::message(owner, QStringLiteral("Der Verbindungstest war erfolgreich"));
        db.close();
        return;
    }
    Prompt::message(owner,
        QStringLiteral("Der Verbindungstest war erfolglos. Folgender Fehler wurde gemeldet: \r\r") + db.errorString());
}

bool DatabasesPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && isSpace(event)) {
        editDatabase();
        return true;
    }
    return JobEditorPage::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------- Ziel

TargetPage::TargetPage(QWidget *parent)
    : JobEditorPage(parent)
    , m_target(new QLineEdit(this))
    , m_checkSpace(makeCheck(this,
          "checkSpaceCheckBox",
          QStringLiteral("&Überprüfung des verfügbaren Speicherplatzes durchführen"),
          QStringLiteral("Aktivieren Sie dieses Kontrollkästchen, wenn vor jedem Sicherungsdurchgang der erforderliche "
                         "Platz geprüft werden soll. Achtung: Bei einer komprimierten Datensicherung kann der Platz "
                         "nicht verlässlich vorhergesagt werden.")))
    , m_overwrite(makeCheck(this,
          "overwriteCheckBox",
          QStringLiteral("Altes &Backup überschreiben (Nur bei Gesamtsicherung empfohlen)"),
          QStringLiteral("Aktivieren Sie das Kontrollkästchen, wenn das letzte Backup überschrieben werden soll. "
                         "\r\n\r\nDas spart Platz auf dem Zielmedium. Bei inkrementellen Backups (Siehe erste \r\n"
                         "Registerkarte) gehen dabei jedoch u.U. Daten verloren.")))
{
    setObjectName(QStringLiteral("targetPage"));
    m_target->setObjectName(QStringLiteral("targetEdit"));
    m_target->setToolTip(
        QStringLiteral("Geben Sie hier den Ordner an, in dem das Backup gespeichert wird. Das kann ein lokaler Ordner, "
                       "Netzwerkordner oder ein anderes Laufwerk sein."));
    auto *label = new QLabel(QStringLiteral("&Zielpfad"), this);
    label->setBuddy(m_target);
    QPushButton *browse
        = makeBrowseButton(this, "targetBrowseButton", QStringLiteral("Ziellaufwerk und Pfad auswählen"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen
            = browseForFolder(window(), QStringLiteral("Bitte den Zielordner festlegen:"), m_target->text());
        if (!chosen.isEmpty())
            m_target->setText(chosen);
    });

    auto *row = new QHBoxLayout;
    row->addWidget(m_target, 1);
    row->addWidget(browse);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(row);
    layout->addSpacing(10);
    layout->addWidget(m_checkSpace);
    layout->addWidget(m_overwrite);
    layout->addStretch();
}

void TargetPage::load(const TAuftrag &job)
{
    m_target->setText(job.Ziel);
    m_checkSpace->setChecked(job.pruefe_platz);
    m_overwrite->setChecked(job.ueberschreiben);
}

void TargetPage::apply(TAuftrag &job) const
{
    job.Ziel = m_target->text();
    job.pruefe_platz = m_checkSpace->isChecked();
    job.ueberschreiben = m_overwrite->isChecked();
}

// ---------------------------------------------------------------------------------------------- Zeitplan

SchedulePage::SchedulePage(QWidget *parent)
    : JobEditorPage(parent)
    , m_startTime(new QLineEdit(this))
{
    setObjectName(QStringLiteral("schedulePage"));
    m_startTime->setObjectName(QStringLiteral("startTimeEdit"));
    // An optional and a required hour digit, ":", two required minute digits ("9:05" and "09:05" alike).
    m_startTime->setInputMask(QStringLiteral("90:99;_"));
    m_startTime->setToolTip(
        QStringLiteral("Geben Sie hier die Startzeit an, zu der die Datensicherung beginnen soll."));
    m_startTime->setFixedWidth(m_startTime->fontMetrics().horizontalAdvance(QStringLiteral("00:00")) + 20);
    auto *timeLabel = new QLabel(QStringLiteral("S&tartzeit"), this);
    timeLabel->setBuddy(m_startTime);

    const char *names[7] = { "mondayCheckBox",
        "tuesdayCheckBox",
        "wednesdayCheckBox",
        "thursdayCheckBox",
        "fridayCheckBox",
        "saturdayCheckBox",
        "sundayCheckBox" };
    const QString texts[7] = { QStringLiteral("&Montag"),
        QStringLiteral("&Dienstag"),
        QStringLiteral("M&ittwoch"),
        QStringLiteral("D&onnerstag"),
        QStringLiteral("&Freitag"),
        QStringLiteral("Sa&mstag"),
        QStringLiteral("So&nntag") };
    const QString dayHint
        = QStringLiteral("Wählen Sie die Wochentage, an denen Trevalo diesen Auftrag automatisch starten soll.");
    for (int d = 0; d < 7; ++d)
        m_days[d] = makeCheck(this, names[d], texts[d], dayHint);

    auto *daily = new QGroupBox(QStringLiteral(" Täglich "), this);
    auto *dailyGrid = new QGridLayout(daily);
    auto *timeRow = new QHBoxLayout;
    timeRow->addWidget(timeLabel);
    timeRow->addWidget(m_startTime);
    timeRow->addStretch();
    dailyGrid->addLayout(timeRow, 0, 0, 1, 3);
    for (int d = 0; d < 7; ++d)
        dailyGrid->addWidget(m_days[d], 1 + d / 3, d % 3);

    m_ask = makeRadio(this,
        "askMissedRadio",
        QStringLiteral("&Beim Benutzer nachfragen"),
        QStringLiteral("Es wird nachgefragt, ob Sie die Sicherung nachholen möchten, oder beim nächsten geplanten "
                       "Start ausführen wollen."));
    m_catchUp = makeRadio(this,
        "catchUpMissedRadio",
        QStringLiteral("Backup ohne Nachfrage nachholen"),
        QStringLiteral("Die Datensicherung wird automatisch ohne Nachfragen sofort nachgeholt."));
    m_skip = makeRadio(this,
        "skipMissedRadio",
        QStringLiteral("keine Nachfrage - Backup NICHT nachholen"),
        QStringLiteral("Die Datensicherung wird nicht nachgeholt, sondern erst zum nächsten  geplanten Termin."));
    auto *missed = new QGroupBox(QStringLiteral(" Verpasste Datensicherungen "), this);
    auto *missedLayout = new QVBoxLayout(missed);
    missedLayout->addWidget(
        new QLabel(QStringLiteral("Falls Ihr Computer zur geplanten Zeit ausgeschaltet war, erkennt Trevalo"), missed));
    missedLayout->addWidget(
        new QLabel(QStringLiteral("das beim nächsten Programmstart. Wie soll Trevalo dann reagieren:"), missed));
    missedLayout->addWidget(m_ask);
    missedLayout->addWidget(m_catchUp);
    missedLayout->addWidget(m_skip);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(daily);
    layout->addWidget(missed);
    layout->addStretch();
}

void SchedulePage::load(const TAuftrag &job)
{
    // A time of the old form " 9:05" shows as 9:05; one that cannot be read stays as it is.
    int hour = 0;
    int minute = 0;
    if (!job.startzeit.trimmed().isEmpty() && parseStartTime(job.startzeit, &hour, &minute))
        m_startTime->setText(
            QStringLiteral("%1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0')));
    else
        m_startTime->setText(job.startzeit);
    const bool days[7] = { job.mon, job.die, job.mit, job.don, job.fre, job.sam, job.son };
    for (int d = 0; d < 7; ++d)
        m_days[d]->setChecked(days[d]);
    // The three flags as they stand; the group shows none ticked when none of them is.
    for (QRadioButton *r : { m_ask, m_catchUp, m_skip })
        r->setAutoExclusive(false);
    m_ask->setChecked(job.lost_backup_confirm);
    m_catchUp->setChecked(job.lost_backup_autobackup);
    m_skip->setChecked(job.lost_backup_nobackup);
    for (QRadioButton *r : { m_ask, m_catchUp, m_skip })
        r->setAutoExclusive(true);
}

void SchedulePage::apply(TAuftrag &job) const
{
    QString time;
    // An incomplete time is stored as entered; the store refuses it while the job is scheduled.
    job.startzeit = startTime(&time) ? time : m_startTime->text();
    bool *days[7] = { &job.mon, &job.die, &job.mit, &job.don, &job.fre, &job.sam, &job.son };
    for (int d = 0; d < 7; ++d)
        *days[d] = m_days[d]->isChecked();
    job.lost_backup_confirm = m_ask->isChecked();
    job.lost_backup_autobackup = m_catchUp->isChecked();
    job.lost_backup_nobackup = m_skip->isChecked();
}

bool SchedulePage::startTime(QString *value) const
{
    // The mask leaves out its blanks: an empty field reads ":".
    const QString text = m_startTime->text();
    if (text == QLatin1String(":") || text.trimmed().isEmpty()) {
        value->clear();
        return true;
    }
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,2})\\s*:(\\d{2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    const int hour = m.captured(1).toInt();
    const int minute = m.captured(2).toInt();
    if (hour > 23 || minute > 59)
        return false;
    *value = QStringLiteral("%1:%2").arg(hour, 2, 10, QLatin1Char('0')).arg(minute, 2, 10, QLatin1Char('0'));
    return true;
}

// ---------------------------------------------------------------------------------------------- Protokoll

LogPage::LogPage(QWidget *parent)
    : JobEditorPage(parent)
    , m_folder(new QLineEdit(this))
    , m_detailed(makeCheck(this,
          "detailedLogCheckBox",
          QStringLiteral("Ausführliches Protokoll &erzeugen"),
          QStringLiteral("Beim ausführlichen Protokoll wird jede Datei, die gesichert wird protokolliert. Ansonsten "
                         "wird nur der Ordner protokolliert bzw. mit welcher Datei ein Problem aufgetreten ist.")))
    , m_showAfter(makeCheck(this,
          "showLogCheckBox",
          QStringLiteral("Protokolldatei &nach Sicherung anzeigen"),
          QStringLiteral("Zeigt das Protokoll nach dem Sicherungslauf im Texteditor an.")))
    , m_clearBefore(makeCheck(this,
          "clearLogCheckBox",
          QStringLiteral("Protokoll &vor Sicherungsdurchgang löschen"),
          QStringLiteral("Wenn aktiviert, wird vor jedem neuen Sicherungsdurchgang das Protokoll gelöscht. \r\nDies "
                         "ist z.B. sinnvoll, wenn sie das Protokoll per EMail verschicken möchten.")))
    , m_print(makeCheck(this,
          "printLogCheckBox",
          QStringLiteral("P&rotokoll nach Sicherungsdurchgang ausdrucken"),
          QStringLiteral("Druckt das Protokoll an den eingerichteten Drucker aus.")))
    , m_printer(new QPushButton(QStringLiteral("&Drucker"), this))
    , m_mail(makeCheck(this,
          "mailLogCheckBox",
          QStringLiteral("Protokoll als e&Mail verschicken"),
          QStringLiteral("Das Protokoll wird per EMail verschickt. \r\nSinnvoll, wenn Sie Trevalo auf einem PC "
                         "ausführen, der beispielsweise in einem anderem Raum/Gebäude steht.")))
    , m_mailOptions(new QPushButton(QStringLiteral("Op&tionen"), this))
{
    setObjectName(QStringLiteral("logPage"));
    m_folder->setObjectName(QStringLiteral("logFolderEdit"));
    m_folder->setToolTip(
        QStringLiteral("Geben Sie hier den Ordner für die Protokolldatei an (ohne Dateinamen f. Protokoll)"));
    auto *label = new QLabel(QStringLiteral("&Ordner für Protokolldatei:"), this);
    label->setBuddy(m_folder);
    auto *choose = new QPushButton(QStringLiteral("Protokolldatei auswählen"), this);
    choose->setObjectName(QStringLiteral("logFolderBrowseButton"));
    auto *edit = new QPushButton(QStringLiteral("Protkolldatei editieren"), this);
    edit->setObjectName(QStringLiteral("editLogButton"));
    m_printer->setObjectName(QStringLiteral("printerButton"));
    m_mailOptions->setObjectName(QStringLiteral("mailOptionsButton"));

    connect(choose, &QPushButton::clicked, this, [this] {
        const QString chosen
            = browseForFolder(window(), QStringLiteral("Bitte den Ordner festlegen:"), m_folder->text());
        if (!chosen.isEmpty())
            m_folder->setText(chosen);
    });
    connect(edit, &QPushButton::clicked, this, &LogPage::editLogRequested);
    connect(m_printer, &QPushButton::clicked, this, &LogPage::printerRequested);
    connect(m_mailOptions, &QPushButton::clicked, this, &LogPage::mailOptionsRequested);
    connect(m_print, &QCheckBox::toggled, this, &LogPage::applyEnabling);
    connect(m_mail, &QCheckBox::toggled, this, &LogPage::applyEnabling);

    auto *fileButtons = new QHBoxLayout;
    fileButtons->addWidget(choose);
    fileButtons->addWidget(edit);
    fileButtons->addStretch();
    auto *printRow = new QHBoxLayout;
    printRow->addWidget(m_print);
    printRow->addStretch();
    printRow->addWidget(m_printer);
    auto *mailRow = new QHBoxLayout;
    mailRow->addWidget(m_mail);
    mailRow->addStretch();
    mailRow->addWidget(m_mailOptions);
    // The two buttons on the right are equally wide.
    const int width = std::max(m_printer->sizeHint().width(), m_mailOptions->sizeHint().width());
    m_printer->setMinimumWidth(width);
    m_mailOptions->setMinimumWidth(width);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_folder);
    layout->addLayout(fileButtons);
    layout->addSpacing(8);
    layout->addWidget(m_detailed);
    layout->addWidget(m_showAfter);
    layout->addWidget(m_clearBefore);
    layout->addSpacing(8);
    layout->addLayout(printRow);
    layout->addLayout(mailRow);
    layout->addStretch();
}

void LogPage::load(const TAuftrag &job)
{
    m_folder->setText(job.proto_pfad);
    m_detailed->setChecked(job.proto_ausfuehrlich);
    m_showAfter->setChecked(job.proto_nach_sicherung_anzeigen);
    m_clearBefore->setChecked(job.proto_loeschen);
    m_print->setChecked(job.proto_drucken);
    m_mail->setChecked(job.email);
    applyEnabling();
}

void LogPage::apply(TAuftrag &job) const
{
    job.proto_pfad = m_folder->text();
    job.proto_ausfuehrlich = m_detailed->isChecked();
    job.proto_nach_sicherung_anzeigen = m_showAfter->isChecked();
    job.proto_loeschen = m_clearBefore->isChecked();
    job.proto_drucken = m_print->isChecked();
    job.email = m_mail->isChecked();
}

QString LogPage::logFolder() const
{
    return m_folder->text();
}

void LogPage::applyEnabling()
{
    m_printer->setEnabled(m_print->isChecked());
    m_mailOptions->setEnabled(m_mail->isChecked());
}

// ---------------------------------------------------------------------------------------------- Sonstiges

MiscPage::MiscPage(SystemActions &actions, QWidget *parent)
    : JobEditorPage(parent)
    , m_actions(actions)
    , m_shutdown(makeCheck(this,
          "shutdownCheckBox",
          QStringLiteral("&Computer nach erfolgreichem Backup herunterfahren"),
          QStringLiteral("Nach erfolgreichem Backup wird der Computer ausgeschaltet.")))
    , m_background(makeCheck(this,
          "backgroundCheckBox",
          QStringLiteral("&Backup im Hintergrund ausführen"),
          QStringLiteral("Das Backup wird im Hintergrund, d.h. ohne Meldungen ausgeführt. Fehlermeldungen werden, "
                         "falls eingestellt trotzdem angezeigt.")))
    , m_eject(makeCheck(this,
          "ejectCheckBox",
          QStringLiteral("CD &nach erfolgreichem Backup auswerfen"),
          QStringLiteral("Öffnet die CD Schublade.")))
{
    setObjectName(QStringLiteral("miscPage"));
    QWidget *before = makeGroup(m_before,
        "before",
        QStringLiteral(" &Dieses Programm VOR Backup aufrufen "),
        QStringLiteral("&Testen"),
        QStringLiteral("Wenn aktiviert, wartet Trevalo bis das Programm beendet wurde, bevor die Datensicherung "
                       "fortgesetzt wird."));
    QWidget *after = makeGroup(m_after,
        "after",
        QStringLiteral(" &Dieses Programm NACH erfolgreichem Backup aufrufen "),
        QStringLiteral("T&esten"),
        QStringLiteral("Wenn aktiviert, wartet Trevalo bis das Programm beendet wurde, bevor die Datensicherung "
                       "beendet wird. (Wartet auch, wenn der Computer anschließend autom. heruntergefahren wird)"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(before);
    layout->addWidget(after);
    layout->addWidget(m_shutdown);
    layout->addWidget(m_background);
    layout->addWidget(m_eject);
    layout->addStretch();
}

QWidget *MiscPage::makeGroup(
    ProgramGroup &group, const char *prefix, const QString &title, const QString &testText, const QString &waitHint)
{
    const auto name = [prefix](const char *what) { return QString::fromLatin1(prefix) + QString::fromLatin1(what); };
    auto *box = new QGroupBox(title, this);
    box->setObjectName(name("ProgramGroup"));
    group.program = new QLineEdit(box);
    group.program->setObjectName(name("ProgramEdit"));
    group.program->setToolTip(QStringLiteral("Wählen Sie hier das Programm aus."));
    group.parameters = new QLineEdit(box);
    group.parameters->setObjectName(name("ParametersEdit"));
    group.parameters->setToolTip(QStringLiteral("Geben Sie hier eventuell benötigte Paramter an."));
    group.wait = new QCheckBox(QStringLiteral("Warte bis Programm beendet wurde"), box);
    group.wait->setObjectName(name("WaitCheckBox"));
    group.wait->setToolTip(waitHint);
    QPushButton *file = makeBrowseButton(box, qPrintable(name("ProgramButton")), QStringLiteral("Datei auswählen"));
    auto *test = new QPushButton(testText, box);
    test->setObjectName(name("TestButton"));
    // The box's mnemonic goes to the program field.
    box->setFocusProxy(group.program);

    QLineEdit *program = group.program;
    QLineEdit *parameters = group.parameters;
    QCheckBox *wait = group.wait;
    connect(file, &QPushButton::clicked, this, [this, program] {
        const QString chosen = chooseProgram(window(), program->text());
        if (!chosen.isEmpty())
            program->setText(chosen);
    });
    connect(test, &QPushButton::clicked, this, [this, program, parameters, wait] {
        const QString path = program->text();
        if (m_actions.startProgram(path, parameters->text(), wait->isChecked())) {
            Prompt::message(window(), QStringLiteral("Test beendet."));
            return;
        }
        // A run says nothing about a program that does not start; the test is there to find out.
        Prompt::message(window(),
            QStringLiteral("Das Programm \"%1\" konnte nicht gestartet werden.\r\rTest beendet.")
                .arg(QDir::toNativeSeparators(path)));
    });

    auto *grid = new QGridLayout(box);
    grid->addWidget(group.program, 0, 0, 1, 2);
    grid->addWidget(file, 0, 2);
    auto *parameterLabel = new QLabel(QStringLiteral("Parameter"), box);
    parameterLabel->setBuddy(group.parameters);
    grid->addWidget(parameterLabel, 1, 0);
    grid->addWidget(group.parameters, 1, 1, 1, 2);
    grid->addWidget(group.wait, 2, 0, 1, 2);
    grid->addWidget(test, 2, 2, Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    return box;
}

void MiscPage::load(const TAuftrag &job)
{
    m_before.program->setText(job.start_before_backup);
    m_before.parameters->setText(job.start_before_backup_param);
    m_before.wait->setChecked(job.start_before_backup_wait);
    m_after.program->setText(job.start_after_backup);
    m_after.parameters->setText(job.start_after_backup_param);
    m_after.wait->setChecked(job.start_after_backup_wait);
    m_shutdown->setChecked(job.runterfahren);
    m_background->setChecked(job.hintergrundBackup);
    m_eject->setChecked(job.cd_auswerfen);
}

void MiscPage::apply(TAuftrag &job) const
{
    job.start_before_backup = m_before.program->text();
    job.start_before_backup_param = m_before.parameters->text();
    job.start_before_backup_wait = m_before.wait->isChecked();
    job.start_after_backup = m_after.program->text();
    job.start_after_backup_param = m_after.parameters->text();
    job.start_after_backup_wait = m_after.wait->isChecked();
    job.runterfahren = m_shutdown->isChecked();
    job.hintergrundBackup = m_background->isChecked();
    job.cd_auswerfen = m_eject->isChecked();
}

QString MiscPage::chooseProgram(QWidget *parent, const QString &start)
{
    QFileDialog dialog(parent, QStringLiteral("Bitte Anwendung auswählen"));
    dialog.setObjectName(QStringLiteral("programFileDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString applications = QStringLiteral("Anwendnungen (*.exe *.com *.bat)");
    const QString all = QStringLiteral("Alle Dateien (*)");
    dialog.setNameFilters({ applications, all });
#ifdef Q_OS_WIN
    dialog.selectNameFilter(applications);
#else
    // Programs here have no file name extension: the dialog opens on all files.
    dialog.selectNameFilter(all);
#endif
    if (!start.isEmpty()) {
        const QFileInfo info(start);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}
