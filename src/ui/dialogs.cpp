// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialogs.h"

#include "app/startup.h"
#include "platform/filesystem.h"
#include "platform/settingsstore.h"
#include "ui/folderchooser.h"
#include "ui/prompt.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace
{
const QString kMakerPage = QStringLiteral("https://www.trevalo.example/");
} // namespace

LoginDialog::LoginDialog(const QString &caption, const QString &text, QWidget *parent)
    : QDialog(parent)
    , m_user(new QLineEdit(this))
    , m_password(new QLineEdit(this))
{
    setObjectName(QStringLiteral("loginDialog"));
    setWindowTitle(caption.isEmpty() ? QStringLiteral("Anmeldung") : caption);
    m_user->setObjectName(QStringLiteral("loginUserEdit"));
    m_password->setObjectName(QStringLiteral("loginPasswordEdit"));
    m_password->setEchoMode(QLineEdit::Password);

    auto *label = new QLabel(text, this);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Benutzername:"), m_user);
    form->addRow(QStringLiteral("&Passwort:"), m_password);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resize(360, sizeHint().height());
}

void LoginDialog::setCredentials(const QString &user, const QString &password)
{
    m_user->setText(user);
    m_password->setText(password);
    (user.isEmpty() ? m_user : m_password)->setFocus();
}

QString LoginDialog::user() const
{
    return m_user->text();
}

QString LoginDialog::password() const
{
    return m_password->text();
}

bool LoginDialog::ask(QWidget *parent, const QString &caption, const QString &text, QString *user, QString *password)
{
    if (Prompt::Script *script = Prompt::script()) {
        script->credentialPrompts.append(caption + u'|' + text);
        if (script->credentials.isEmpty())
            return false;
        const auto c = script->credentials.takeFirst();
        *user = c.first;
        *password = c.second;
        return true;
    }
    LoginDialog dialog(caption, text, parent);
    dialog.setCredentials(*user, *password);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *user = dialog.user();
    *password = dialog.password();
    return true;
}

InfoBox::InfoBox(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("infoBox"));
    setWindowTitle(QStringLiteral("Info"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto *icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/trevalo.svg")).pixmap(64, 64));
    auto *product = new QLabel(QStringLiteral("Trevalo 3"), this);
    product->setObjectName(QStringLiteral("productLabel"));
    QFont big = product->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    product->setFont(big);
    auto *version = new QLabel(QStringLiteral("Version 3.01 vom 26.1.2004"), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    auto *maker = new QLabel(QStringLiteral("<a href=\"%1\">Halvesto-Produkte</a>").arg(kMakerPage), this);
    maker->setObjectName(QStringLiteral("makerLabel"));
    maker->setOpenExternalLinks(true);

    auto *table = new QTableWidget(0, 2, this);
    table->setObjectName(QStringLiteral("versionTable"));
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setFocusPolicy(Qt::NoFocus);
    table->horizontalHeader()->setStretchLastSection(true);
    for (const auto &row : versionRows()) {
        const int r = table->rowCount();
        table->insertRow(r);
        table->setItem(r, 0, new QTableWidgetItem(row.first));
        table->setItem(r, 1, new QTableWidgetItem(row.second));
    }
    table->resizeColumnToContents(0);
    table->setColumnWidth(0, table->columnWidth(0) + 12);
    table->setFixedHeight(table->verticalHeader()->length() + 2 * table->frameWidth());

    auto *close = new QPushButton(QStringLiteral("OK"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *head = new QHBoxLayout;
    head->addWidget(icon);
    auto *names = new QVBoxLayout;
    names->addWidget(product);
    names->addWidget(version);
    names->addWidget(maker);
    head->addLayout(names, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(table);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(close);
    layout->addLayout(bottom);
    resize(400, sizeHint().height());
}

QList<QPair<QString, QString>> InfoBox::versionRows()
{
    return {
        { QStringLiteral("Dateiversion"), Startup::programVersion() },
        { QStringLiteral("Dateibeschreibung"), QStringLiteral("Trevalo Datensicherung") },
        { QStringLiteral("Produktversion"), Startup::programVersion().section(u'.', 0, 1) },
        { QStringLiteral("Produktname"), QStringLiteral("Trevalo 3") },
        { QStringLiteral("Copyright"), QStringLiteral("Copyright © Halvesto-Produkte") },
    };
}

ScriptsFolderDialog::ScriptsFolderDialog(QWidget *parent)
    : QDialog(parent)
    , m_folder(new QLineEdit(this))
{
    setObjectName(QStringLiteral("scriptsFolderDialog"));
    setWindowTitle(QStringLiteral("Einstellungen vornehmen"));
    auto *text
        = new QLabel(QStringLiteral("Bitte geben Sie einen Ordner an, in dem Ihre Aufträge gespeichert werden können. "
                                    "Für diesen Ordner benötigen Sie eine Schreibberechtigung."),
            this);
    text->setWordWrap(true);
    m_folder->setObjectName(QStringLiteral("folderEdit"));
    m_folder->setText(QDir::toNativeSeparators(Platform::userProfileFolder() + QStringLiteral("/Trevalo")));
    auto *browse = new QPushButton(QStringLiteral("..."), this);
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setFixedWidth(32);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen
            = QFileDialog::getExistingDirectory(this, QStringLiteral("Ordner auswählen"), m_folder->text());
        if (!chosen.isEmpty())
            m_folder->setText(QDir::toNativeSeparators(chosen));
    });
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *row = new QHBoxLayout;
    row->addWidget(m_folder, 1);
    row->addWidget(browse);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(row);
    layout->addLayout(bottom);
    resize(440, sizeHint().height());
}

QString ScriptsFolderDialog::folder() const
{
    return QDir::fromNativeSeparators(m_folder->text().trimmed());
}

void ScriptsFolderDialog::accept()
{
    auto settings = SettingsStore::programSettings();
    settings->setValue(SettingsStore::kScriptsValue, folder());
    settings->sync();
    QDialog::accept();
}

TempFolderDialog::TempFolderDialog(const QString &tempPath, QWidget *parent)
    : QDialog(parent)
    , m_folder(new QLineEdit(QDir::toNativeSeparators(tempPath), this))
{
    setObjectName(QStringLiteral("tempFolderDialog"));
    setWindowTitle(QStringLiteral("Temporärer Ordner"));
    auto *label = new QLabel(QStringLiteral("Ordner für temporäre Daten "), this);
    m_folder->setObjectName(QStringLiteral("tempFolderEdit"));
    m_folder->setToolTip(QStringLiteral(
        "Geben Sie den Ordner an, in dem die Archive temporär angelegt werden können. In diesm Ordner soltle "
        "ausreichend "
        "Speicherplatz verfügbar sein. Der Benutzer muss für diesen Ordner eine Schreibberechtigung besitzen."));
    label->setBuddy(m_folder);
    auto *browse = new QPushButton(QStringLiteral("..."), this);
    browse->setObjectName(QStringLiteral("browseButton"));
    browse->setToolTip(QStringLiteral("Ziellaufwerk und Pfad auswählen"));
    browse->setFixedWidth(32);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen
            = browseForFolder(this, QStringLiteral("Bitte den Zielordner festlegen:"), m_folder->text());
        if (!chosen.isEmpty())
            m_folder->setText(QDir::toNativeSeparators(chosen));
    });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addWidget(m_folder, 1);
    row->addWidget(browse);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(row);
    layout->addWidget(buttons);
    resize(420, sizeHint().height());
}

QString TempFolderDialog::folder() const
{
    return QDir::fromNativeSeparators(m_folder->text().trimmed());
}

HelpWindow::HelpWindow(const QString &page, QWidget *parent)
    : QDialog(parent, Qt::Window)
    , m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("Trevalo 3 - Hilfe"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_browser->setObjectName(QStringLiteral("helpBrowser"));
    m_browser->setOpenExternalLinks(true);
    m_browser->setSource(QUrl::fromLocalFile(page));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(760, 560);
}

QString HelpWindow::indexPage(const QString &scriptsBaseFolder)
{
    return Platform::withTrailingSeparator(scriptsBaseFolder) + QStringLiteral("Doku/index.htm");
}
