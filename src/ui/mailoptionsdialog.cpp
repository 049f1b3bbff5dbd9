// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mailoptionsdialog.h"

#include "jobs/tauftrag.h"
#include "ui/prompt.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace
{

// The port each security mode is usually served on; a port left at one of them follows the mode.
constexpr int kStandardPorts[] = { 25, 587, 465 };

QLineEdit *makeEdit(QWidget *parent, const char *name, const QString &hint, bool password = false)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(hint);
    if (password) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
    return edit;
}

} // namespace

QStringList MailOptionsDialog::securityTexts()
{
    return { QStringLiteral("keine"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS") };
}

MailOptionsDialog::MailOptionsDialog(QWidget *parent)
    : QDialog(parent)
    , m_mapi(new QCheckBox(QStringLiteral("Versand über MAPI (MS Exchange)"), this))
    , m_onlyOnErrors(new QCheckBox(QStringLiteral("Versand nur bei aufgetretenen Fehlern"), this))
    , m_recipient(makeEdit(this,
          "recipientEdit",
          QStringLiteral("Geben Sie hier die EMail Adresse an, an die das Protokoll versendet werden soll.")))
    , m_server(makeEdit(this,
          "serverEdit",
          QStringLiteral("Geben Sie hier den SMTP Server an, über den die eMail verschickt wird. "
                         "Beispiel: mail.firma.example")))
    , m_port(new QSpinBox(this))
    , m_security(new QComboBox(this))
    , m_smtpUser(makeEdit(this,
          "smtpUserEdit",
          QStringLiteral("Geben Sie hier den Benutzernamen an, mit dem Sie sich beim SMTP Server anmelden. "
                         "Bleibt das Feld leer, wird ohne Anmeldung versendet.")))
    , m_smtpPassword(makeEdit(
          this, "smtpPasswordEdit", QStringLiteral("Geben Sie hier das Kennwort für den SMTP Server an."), true))
    , m_sender(makeEdit(this,
          "senderEdit",
          QStringLiteral("Geben Sie hier den Absender der eMail an. "
                         "Beispiel: Trevalo <sicherung@firma.example>")))
    , m_subject(makeEdit(this, "subjectEdit", QStringLiteral("Geben Sie hier die Betreffzeile ein.")))
    , m_pop3Login(new QCheckBox(QStringLiteral("Bei Postausgangsserver vorher anmelden (Spamschutz)"), this))
    , m_pop3User(
          makeEdit(this, "pop3UserEdit", QStringLiteral("Geben Sie hier die Benutzernamen für Ihr Postfach ein.")))
    , m_pop3Password(
          makeEdit(this, "pop3PasswordEdit", QStringLiteral("Geben Sie hier das Kennwort für Ihr Postfach ein."), true))
    , m_test(new QPushButton(QStringLiteral("Testen"), this))
{
    setObjectName(QStringLiteral("mailOptionsDialog"));
    setWindowTitle(QStringLiteral("eMail Optionen"));
    // A test mail must not keep the dialog waiting for a server that does not answer.
    m_mailOptions.connectTimeoutMs = 15000;
    m_mailOptions.readTimeoutMs = 30000;
    m_mailOptions.systemMailTimeoutMs = 30000;

    m_mapi->setObjectName(QStringLiteral("mapiCheckBox"));
    m_mapi->setToolTip(QStringLiteral("Aktivieren Sie das Kästchen, wenn Sie die Mail per Mapi (z.B. Exchange Server) "
                                      "verschicken möchten. Dazu muss auf ihrem PC Mapi eingerichtet sein."));
    m_onlyOnErrors->setObjectName(QStringLiteral("onlyOnErrorsCheckBox"));
    m_onlyOnErrors->setToolTip(QStringLiteral("Verschicke das Protokoll nur, wenn kritische Fehler aufgetreten sind."));
    m_port->setObjectName(QStringLiteral("portSpinBox"));
    m_port->setRange(1, 65535);
    m_port->setToolTip(QStringLiteral("Das Port des SMTP Servers: 25 ohne Verschlüsselung, meist 587 mit STARTTLS "
                                      "und 465 mit SSL/TLS."));
    m_security->setObjectName(QStringLiteral("securityComboBox"));
    m_security->addItems(securityTexts());
    m_security->setToolTip(QStringLiteral("Wählen Sie hier, ob die Verbindung zum SMTP Server verschlüsselt wird."));
    m_pop3Login->setObjectName(QStringLiteral("pop3LoginCheckBox"));
    m_pop3Login->setToolTip(QStringLiteral(
        "Um Spam zu vermeiden, müssen sie das EMail Programm unter Umständen vorher beim Server anmelden."));
    m_test->setObjectName(QStringLiteral("testButton"));
    m_test->setToolTip(QStringLiteral("Es wird eine Test-eMail versandt"));
    auto *close = new QPushButton(QStringLiteral("&Schließen"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);

    connect(m_mapi, &QCheckBox::toggled, this, &MailOptionsDialog::applyEnabling);
    connect(m_pop3Login, &QCheckBox::toggled, this, &MailOptionsDialog::applyEnabling);
    connect(m_security, &QComboBox::currentIndexChanged, this, &MailOptionsDialog::securityChanged);
    connect(m_test, &QPushButton::clicked, this, &MailOptionsDialog::sendTestMail);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *grid = new QGridLayout;
    int row = 0;
    const auto addRow = [&](const QString &text, QWidget *input) {
        auto *label = new QLabel(text, this);
        label->setBuddy(input);
        grid->addWidget(label, row, 0);
        grid->addWidget(input, row, 1);
        ++row;
    };
    addRow(QStringLiteral("Empfänger"), m_recipient);
    addRow(QStringLiteral("SMTP Server"), m_server);
    auto *portRow = new QWidget(this);
    auto *portLine = new QHBoxLayout(portRow);
    portLine->setContentsMargins(0, 0, 0, 0);
    portLine->addWidget(m_port);
    auto *securityLabel = new QLabel(QStringLiteral("Verschlüsselung"), this);
    securityLabel->setBuddy(m_security);
    portLine->addSpacing(12);
    portLine->addWidget(securityLabel);
    portLine->addWidget(m_security);
    portLine->addStretch();
    addRow(QStringLiteral("Port"), portRow);
    addRow(QStringLiteral("SMTP Benutzer"), m_smtpUser);
    addRow(QStringLiteral("SMTP Kennwort"), m_smtpPassword);
    addRow(QStringLiteral("Absender"), m_sender);
    addRow(QStringLiteral("Subject"), m_subject);
    grid->setColumnStretch(1, 1);

    auto *pop3 = new QGroupBox(this);
    auto *pop3Grid = new QGridLayout(pop3);
    pop3Grid->addWidget(m_pop3Login, 0, 0, 1, 2);
    auto *userLabel = new QLabel(QStringLiteral("Benutzer"), pop3);
    userLabel->setBuddy(m_pop3User);
    auto *passwordLabel = new QLabel(QStringLiteral("Kennwort"), pop3);
    passwordLabel->setBuddy(m_pop3Password);
    pop3Grid->addWidget(userLabel, 1, 0);
    pop3Grid->addWidget(m_pop3User, 1, 1);
    pop3Grid->addWidget(passwordLabel, 2, 0);
    pop3Grid->addWidget(m_pop3Password, 2, 1);
    pop3Grid->setColumnStretch(1, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_test);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_mapi);
    layout->addWidget(m_onlyOnErrors);
    layout->addLayout(grid);
    layout->addWidget(pop3);
    layout->addStretch();
    layout->addLayout(buttons);
    resize(440, sizeHint().height());
    applyEnabling();
}

void MailOptionsDialog::load(const TAuftrag &job)
{
    m_mapi->setChecked(job.email_mapi);
    m_onlyOnErrors->setChecked(job.email_bei_fehler);
    m_recipient->setText(job.email_empfaenger);
    m_server->setText(job.email_server);
    {
        // The job's own port stays, whatever its security mode would usually use. The list
        // offers the modes in the order of T_TcpIp::Security.
        const QSignalBlocker block(m_security);
        m_securityIndex = int(LogMail::Settings::securityFromText(job.email_security));
        m_security->setCurrentIndex(m_securityIndex);
    }
    m_port->setValue(LogMail::Settings::fromJob(job).port);
    m_smtpUser->setText(job.email_smtp_user);
    m_smtpPassword->setText(job.email_smtp_pass);
    m_sender->setText(job.email_sender);
    m_subject->setText(job.email_subject);
    m_pop3Login->setChecked(job.email_pop3_login);
    m_pop3User->setText(job.email_pop3_user);
    m_pop3Password->setText(job.email_pop3_pass);
    applyEnabling();
}

void MailOptionsDialog::store(TAuftrag &job) const
{
    job.email_mapi = m_mapi->isChecked();
    job.email_bei_fehler = m_onlyOnErrors->isChecked();
    job.email_empfaenger = m_recipient->text();
    job.email_server = m_server->text();
    job.email_port = m_port->value();
    job.email_security = m_security->currentText();
    job.email_smtp_user = m_smtpUser->text();
    job.email_smtp_pass = m_smtpPassword->text();
    job.email_sender = m_sender->text();
    job.email_subject = m_subject->text();
    job.email_pop3_login = m_pop3Login->isChecked();
    job.email_pop3_user = m_pop3User->text();
    job.email_pop3_pass = m_pop3Password->text();
}

LogMail::Settings MailOptionsDialog::settings() const
{
    TAuftrag job;
    store(job);
    return LogMail::Settings::fromJob(job);
}

// Checking MAPI turns the SMTP inputs off; the POP3 box runs the same handler and changes nothing else.
void MailOptionsDialog::applyEnabling()
{
    const bool smtp = !m_mapi->isChecked();
    for (QWidget *w :
        std::initializer_list<QWidget *> { m_server, m_port, m_security, m_smtpUser, m_smtpPassword, m_sender })
        w->setEnabled(smtp);
}

void MailOptionsDialog::securityChanged(int index)
{
    if (m_securityIndex >= 0 && m_securityIndex < 3 && index >= 0 && index < 3
        && m_port->value() == kStandardPorts[m_securityIndex])
        m_port->setValue(kStandardPorts[index]);
    m_securityIndex = index;
}

void MailOptionsDialog::sendTestMail()
{
    m_test->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    LogMail::Options options = m_mailOptions;
    // The window keeps drawing while the server is awaited; clicks wait until the test is over.
    if (!options.idle)
        options.idle = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    const LogMail::TestResult result = LogMail::sendTestMail(settings(), options);
    QApplication::restoreOverrideCursor();
    m_test->setEnabled(true);

    Question q;
    q.text = result.text;
    q.caption = windowTitle();
    q.icon = result.ok ? Icon::Information : Icon::Error;
    q.buttons = result.closeDialog ? Answer::Cancel : Answer::Ok;
    q.unattended = result.closeDialog ? Answer::Cancel : Answer::Ok;
    Prompt::ask(this, q);
    if (result.closeDialog)
        accept();
}
