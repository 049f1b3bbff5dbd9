// SPDX-License-Identifier: GPL-3.0-or-later
// "eMail Optionen": how the log of a job is mailed, with a test mail.
#pragma once

#include "mail/logmail.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TAuftrag;

/**
 * The mail settings of one job. Each job editor owns its own dialog: load() when the editor
 * fills, store() when it stores, so open editors never see each other's settings. Modal,
 * closed by "&Schließen" (there is no cancel: what is entered stays for the editor's store).
 * "Testen" sends "Hier steht später das Protokoll." with the values as entered.
 */
class MailOptionsDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailOptionsDialog)

public:
    explicit MailOptionsDialog(QWidget *parent = nullptr);

    /// The job's mail keys into the controls.
    void load(const TAuftrag &job);
    /// The controls into the job's mail keys (email itself is the editor's box).
    void store(TAuftrag &job) const;
    /// The values as the test mail and a run would use them.
    LogMail::Settings settings() const;

    /// Sends the test mail and shows its result ("Testen").
    void sendTestMail();

    /// Time limits and certificates of the test mail (tests trust their server's certificate).
    void setMailOptions(const LogMail::Options &options)
    {
        m_mailOptions = options;
    }

    /// The security words of the job file, in the order the list offers them.
    static QStringList securityTexts();

private:
    void applyEnabling();
    void securityChanged(int index);

    LogMail::Options m_mailOptions;
    int m_securityIndex = 0;
    QCheckBox *m_mapi;
    QCheckBox *m_onlyOnErrors;
    QLineEdit *m_recipient;
    QLineEdit *m_server;
    QSpinBox *m_port;
    QComboBox *m_security;
    QLineEdit *m_smtpUser;
    QLineEdit *m_smtpPassword;
    QLineEdit *m_sender;
    QLineEdit *m_subject;
    QCheckBox *m_pop3Login;
    QLineEdit *m_pop3User;
    QLineEdit *m_pop3Password;
    QPushButton *m_test;
};
