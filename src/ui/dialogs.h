// SPDX-License-Identifier: GPL-3.0-or-later
// The small windows: login for a database, the info box, the scripts-folder chooser, the help window.
#pragma once

#include <QDialog>

class QLineEdit;
class QTableWidget;
class QTextBrowser;

/// Asks for a database's user name and password ("ja" in a job's DBLogin).
class LoginDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoginDialog)

public:
    LoginDialog(const QString &caption, const QString &text, QWidget *parent = nullptr);

    void setCredentials(const QString &user, const QString &password);
    QString user() const;
    QString password() const;

    /// Shows the dialog (or takes the test script's next credentials); false when cancelled.
    static bool ask(QWidget *parent, const QString &caption, const QString &text, QString *user, QString *password);

private:
    QLineEdit *m_user;
    QLineEdit *m_password;
};

/// "Info": program icon, product name, maker, and the five rows of the version data.
class InfoBox : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InfoBox)

public:
    explicit InfoBox(QWidget *parent = nullptr);

    /// The rows of the version table: label and value.
    static QList<QPair<QString, QString>> versionRows();
};

/// "Einstellungen vornehmen": where the job files are to be kept, taken at the next start.
class ScriptsFolderDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScriptsFolderDialog)

public:
    explicit ScriptsFolderDialog(QWidget *parent = nullptr);

    QString folder() const;

protected:
    void accept() override;

private:
    QLineEdit *m_folder;
};

/// "Temporärer Ordner": where a job makes its archives and dumps (the job editor's "&Optionen").
class TempFolderDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TempFolderDialog)

public:
    explicit TempFolderDialog(const QString &tempPath, QWidget *parent = nullptr);

    /// The folder as entered; the caller stores it in temp_pfad on OK only.
    QString folder() const;

private:
    QLineEdit *m_folder;
};

/// "Trevalo 3 - Hilfe": the help pages below the scripts base folder.
class HelpWindow : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpWindow)

public:
    explicit HelpWindow(const QString &page, QWidget *parent = nullptr);

    /// "<base>/Doku/index.htm".
    static QString indexPage(const QString &scriptsBaseFolder);

private:
    QTextBrowser *m_browser;
};
