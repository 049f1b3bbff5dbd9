// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/databasedialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

const QString kYes = QStringLiteral("ja");
const QString kNo = QStringLiteral("nein");
const QString kServerHint = QStringLiteral("Geben Sie hier den Datenbankserver ein.");

QLineEdit *makeEdit(QWidget *parent, const char *name, const QString &hint)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(hint);
    return edit;
}

} // namespace

DatabaseAccessFields::DatabaseAccessFields(Kind kind, QWidget *parent)
    : QWidget(parent)
    , m_kind(kind)
    , m_name(makeEdit(this,
          "dbNameEdit",
          QStringLiteral("Geben Sie hier eine Bezeichnung an. Diese Bezeichnung wird nur für Sie zur Darstellung "
                         "benutzt, ist also frei wählbar.")))
    , m_host(makeEdit(this, "dbHostEdit", kServerHint))
    , m_database(makeEdit(this,
          "dbDatabaseEdit",
          QStringLiteral("Geben Sie hier den Namen der zu sichernden Datenbank an. Ein Datenbankserver kann mehrere "
                         "Datenbanken verwalten. Im allgemeinen hat ein Server jedoch nur eine Datenbank.")))
    , m_port(makeEdit(this,
          "dbPortEdit",
          QStringLiteral("Geben Sie hier das Port des Datenbankservers an. Falls das Port 3306 (Standard) ist, können "
                         "Sie dieses Eingabefeld leer lassen.")))
    , m_user(makeEdit(this, "dbUserEdit", QStringLiteral("Geben Sie hier den Benutzernamen der Datenbank an.")))
    , m_password(
          makeEdit(this, "dbPasswordEdit", QStringLiteral("Geben Sie hier das Kennwort für diesen Benutzer an.")))
    , m_tls(new QCheckBox(QStringLiteral("Verbindung verschlüsseln (TLS)"), this))
{
    setObjectName(QStringLiteral("databaseAccessFields"));
    m_password->setEchoMode(QLineEdit::Password);
    // The password shows as "*", whatever the style's own mask character.
    m_password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    m_tls->setObjectName(QStringLiteral("dbTlsCheckBox"));
    m_tls->setToolTip(QStringLiteral("Aktivieren Sie dieses Kontrollkästchen, wenn die Verbindung zur Datenbank "
                                     "verschlüsselt sein muss. Bietet der Server keine Verschlüsselung an, "
                                     "kommt keine Verbindung zustande."));
    if (kind == Kind::Editor) {
        m_host->setToolTip(kServerHint
            + QStringLiteral("\n\nSie können sowohl die IP Adresse als auch den Namen angeben.\n\n"
                             "Beispiel:  \"192.168.0.10\" oder \"datenbank.firma.example\""));
        m_login = new QCheckBox(QStringLiteral("Logindaten (Kennwort/Benutzer) immer abfragen"), this);
        m_login->setObjectName(QStringLiteral("dbLoginCheckBox"));
        m_login->setToolTip(QStringLiteral("Aktivieren Sie dieses Kontrollkästchen, wenn Sie die Zugangsdaten bei "
                                           "jedem Verbindungsaufbau mit der Datenbank manuell eingeben möchten."));
        connect(m_login, &QCheckBox::toggled, this, &DatabaseAccessFields::applyLoginRule);
    }

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    const auto addRow = [&](const QString &text, QWidget *input, QWidget *after = nullptr) {
        auto *label = new QLabel(text, this);
        label->setBuddy(input);
        grid->addWidget(label, row, 0);
        if (after) {
            auto *line = new QHBoxLayout;
            line->addWidget(input);
            line->addWidget(after);
            line->addStretch();
            grid->addLayout(line, row, 1);
        } else {
            grid->addWidget(input, row, 1);
        }
        ++row;
        return label;
    };
    QLabel *nameLabel = addRow(QStringLiteral("Beschreibung"), m_name);
    if (kind == Kind::Chooser) {
        nameLabel->hide();
        m_name->hide();
    }
    addRow(QStringLiteral("Server"), m_host);
    addRow(QStringLiteral("Datenbank"), m_database);
    m_port->setMaximumWidth(m_port->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    addRow(QStringLiteral("Port"), m_port, new QLabel(QStringLiteral("(optional)"), this));
    if (m_login)
        grid->addWidget(m_login, row++, 0, 1, 2);
    addRow(QStringLiteral("Benutzer"), m_user);
    addRow(QStringLiteral("Kennwort"), m_password);
    grid->addWidget(m_tls, row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
}

void DatabaseAccessFields::setEntry(const TODBC_DB &entry)
{
    m_name->setText(entry.DB_Name);
    m_host->setText(entry.DB_Host);
    m_database->setText(entry.DB_DBName);
    m_port->setText(entry.DB_Port);
    m_user->setText(entry.DB_User);
    m_password->setText(entry.DB_Pass);
    if (m_login)
        m_login->setChecked(entry.DB_Login == kYes);
    m_tls->setChecked(entry.DB_TLS == kYes);
    m_tlsOff = entry.DB_TLS == kYes ? QString() : entry.DB_TLS;
    applyLoginRule();
}

TODBC_DB DatabaseAccessFields::entry() const
{
    TODBC_DB e;
    e.DB_Name = m_name->text();
    e.DB_Host = m_host->text();
    e.DB_DBName = m_database->text();
    e.DB_Port = m_port->text();
    e.DB_Login = m_login && m_login->isChecked() ? kYes : kNo;
    e.DB_User = m_user->text();
    e.DB_Pass = m_password->text();
    e.DB_TLS = m_tls->isChecked() ? kYes : m_tlsOff;
    return e;
}

void DatabaseAccessFields::clear()
{
    setEntry(TODBC_DB());
}

void DatabaseAccessFields::setInputsEnabled(bool enabled)
{
    m_inputsEnabled = enabled;
    for (QWidget *w : std::initializer_list<QWidget *> { m_name, m_host, m_database, m_port, m_tls })
        w->setEnabled(enabled);
    if (m_login)
        m_login->setEnabled(enabled);
    applyLoginRule();
}

// With the login asked at every connect, the stored user and password are not used; their texts stay.
void DatabaseAccessFields::applyLoginRule()
{
    const bool credentials = m_inputsEnabled && !(m_login && m_login->isChecked());
    m_user->setEnabled(credentials);
    m_password->setEnabled(credentials);
}

DatabaseAccessDialog::DatabaseAccessDialog(QWidget *parent)
    : QDialog(parent)
    , m_fields(new DatabaseAccessFields(DatabaseAccessFields::Kind::Editor, this))
{
    setObjectName(QStringLiteral("databaseAccessDialog"));
    setWindowTitle(QStringLiteral("Datenbankzugriff bearbeiten"));
    auto *save = new QPushButton(QStringLiteral("&Speichern"), this);
    save->setObjectName(QStringLiteral("saveButton"));
    save->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("&Abbrechen"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(save, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_fields);
    layout->addStretch();
    layout->addLayout(buttons);
    resize(380, sizeHint().height());
}

QString DatabaseAccessDialog::newCaption()
{
    return QStringLiteral("Neue Datenbankverbindung");
}

QString DatabaseAccessDialog::editCaption()
{
    return QStringLiteral("Datenbankverbindung bearbeiten");
}

void DatabaseAccessDialog::setEntry(const TODBC_DB &entry)
{
    m_fields->setEntry(entry);
}

TODBC_DB DatabaseAccessDialog::entry() const
{
    return m_fields->entry();
}

DatabaseChooserDialog::DatabaseChooserDialog(QWidget *parent)
    : QDialog(parent)
    , m_warning(new QLabel(this))
    , m_choice(new QComboBox(this))
    , m_manual(new QCheckBox(QStringLiteral("Zugang manuell bearbeiten"), this))
    , m_fields(new DatabaseAccessFields(DatabaseAccessFields::Kind::Chooser, this))
{
    setObjectName(QStringLiteral("databaseChooserDialog"));
    setWindowTitle(QStringLiteral("Datenbank auswählen"));
    m_warning->setObjectName(QStringLiteral("warningLabel"));
    m_warning->setWordWrap(true);
    m_warning->setTextFormat(Qt::PlainText);
    QFont bold = m_warning->font();
    bold.setBold(true);
    m_warning->setFont(bold);
    m_choice->setObjectName(QStringLiteral("dbChoiceCombo"));
    m_choice->setEditable(false);
    m_choice->setToolTip(QStringLiteral("Wählen Sie hier eine Datenbankverbindung aus."));
    m_manual->setObjectName(QStringLiteral("manualEditCheckBox"));
    m_manual->setToolTip(QStringLiteral("Möchten Sie in eine Datenbank zurücksichern, die noch nicht im "
                                        "Backupauftrag eingerichtet wurde, aktivieren Sie dieses Kontrollkästchen."));
    auto *choiceLabel = new QLabel(QStringLiteral("Datenbankverbindung"), this);
    choiceLabel->setBuddy(m_choice);
    connect(m_choice, &QComboBox::currentTextChanged, this, &DatabaseChooserDialog::selectEntry);
    connect(m_manual, &QCheckBox::toggled, m_fields, &DatabaseAccessFields::setInputsEnabled);
    // A chosen entry is used as stored unless the user asks to edit it.
    m_fields->setInputsEnabled(false);

    auto *start = new QPushButton(QStringLiteral("&Starten"), this);
    start->setObjectName(QStringLiteral("startButton"));
    start->setToolTip(QStringLiteral("Datenbank zurücksichern"));
    start->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("&Abbrechen"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(start, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *choiceRow = new QHBoxLayout;
    choiceRow->addWidget(choiceLabel);
    choiceRow->addWidget(m_choice, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(start);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_warning);
    layout->addLayout(choiceRow);
    layout->addWidget(m_manual);
    layout->addWidget(m_fields);
    layout->addStretch();
    layout->addLayout(buttons);
    resize(420, sizeHint().height());
}

void DatabaseChooserDialog::setWarning(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(u'\r', u'\n');
    m_warning->setText(t);
}

void DatabaseChooserDialog::setPresetName(const QString &name)
{
    m_presetName = name;
}

void DatabaseChooserDialog::fill(const TAuftrag *job)
{
    m_entries = job ? job->databases : QList<TODBC_DB>();
    {
        const QSignalBlocker block(m_choice);
        m_choice->clear();
        for (const TODBC_DB &db : std::as_const(m_entries))
            m_choice->addItem(db.DB_Name);
        m_choice->setCurrentIndex(m_choice->findText(m_presetName, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    selectEntry(m_choice->currentText());
}

void DatabaseChooserDialog::selectEntry(const QString &name)
{
    m_fields->clear();
    if (m_choice->currentIndex() < 0)
        return;
    for (const TODBC_DB &db : std::as_const(m_entries)) {
        if (db.DB_Name == name) {
            m_fields->setEntry(db);
            return;
        }
    }
}

TODBC_DB DatabaseChooserDialog::access() const
{
    return m_fields->entry();
}

bool DatabaseChooserDialog::manualEdit() const
{
    return m_manual->isChecked();
}

void DatabaseChooserDialog::setManualEdit(bool on)
{
    m_manual->setChecked(on);
}
