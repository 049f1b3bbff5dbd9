// SPDX-License-Identifier: GPL-3.0-or-later
// The two database dialogs: the access editor of a job's entry and the chooser of the database restore.
#pragma once

#include "jobs/tauftrag.h"

#include <QDialog>
#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

/**
 * The access inputs of one database entry, shared by both dialogs: "Beschreibung", "Server",
 * "Datenbank", "Port" (optional), the login box (editor only), "Benutzer", "Kennwort" (masked)
 * and the encryption box. Nothing is validated: every text is taken as typed.
 */
class DatabaseAccessFields : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DatabaseAccessFields)

public:
    enum class Kind {
        Editor, ///< every input, the login box and the editor's longer server hint
        Chooser ///< no name input, no login box
    };

    explicit DatabaseAccessFields(Kind kind, QWidget *parent = nullptr);

    /// Fills every input; the login box is ticked exactly when DB_Login is "ja".
    void setEntry(const TODBC_DB &entry);
    /// The inputs as typed: DB_Login "ja" or "nein", DB_TLS "ja" when ticked.
    TODBC_DB entry() const;
    /// Empties the texts and unticks the boxes.
    void clear();
    /// Enables or disables every input (their texts stay); the login rule still holds for user and password.
    void setInputsEnabled(bool enabled);

private:
    void applyLoginRule();

    Kind m_kind;
    bool m_inputsEnabled = true;
    QString m_tlsOff; ///< what an unticked encryption box stores: the entry's own "not required" text
    QLineEdit *m_name;
    QLineEdit *m_host;
    QLineEdit *m_database;
    QLineEdit *m_port;
    QCheckBox *m_login = nullptr;
    QLineEdit *m_user;
    QLineEdit *m_password;
    QCheckBox *m_tls;
};

/**
 * "Datenbankzugriff bearbeiten": the access data of one entry of a job. The caller sets the
 * caption (newCaption() or editCaption()) and the entry, shows it modally and, on OK
 * ("&Speichern"), reads entry() back.
 */
class DatabaseAccessDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DatabaseAccessDialog)

public:
    explicit DatabaseAccessDialog(QWidget *parent = nullptr);

    static QString newCaption(); ///< "Neue Datenbankverbindung"
    static QString editCaption(); ///< "Datenbankverbindung bearbeiten"

    void setEntry(const TODBC_DB &entry);
    TODBC_DB entry() const;
    DatabaseAccessFields *fields() const
    {
        return m_fields;
    }

private:
    DatabaseAccessFields *m_fields;
};

/**
 * "Datenbank auswählen": before a saved database is written back, the user picks one of the
 * job's entries (or types the access data after ticking "Zugang manuell bearbeiten"). Meant
 * to be kept for the whole program: the box and the enabled state of the inputs stay from one
 * use to the next. Usage: setWarning(), setPresetName(), fill(job), exec(), then access().
 */
class DatabaseChooserDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DatabaseChooserDialog)

public:
    explicit DatabaseChooserDialog(QWidget *parent = nullptr);

    /// The bold warning text at the top.
    void setWarning(const QString &text);
    /// The entry to preselect at the next fill (the database being restored).
    void setPresetName(const QString &name);
    QString presetName() const
    {
        return m_presetName;
    }

    /**
     * Lists the names of the job's database entries in entry order (none for nullptr), selects
     * the one equal to presetName() (none when no name matches) and fills the inputs from it.
     */
    void fill(const TAuftrag *job);
    /// Fills the inputs from the entry of that name, or empties them when the job has none.
    void selectEntry(const QString &name);

    /// The access data as the inputs hold them (DB_Name, DB_Host, DB_DBName, DB_Port, DB_User, DB_Pass, DB_TLS).
    TODBC_DB access() const;

    bool manualEdit() const;
    void setManualEdit(bool on);

    DatabaseAccessFields *fields() const
    {
        return m_fields;
    }

private:
    QLabel *m_warning;
    QComboBox *m_choice;
    QCheckBox *m_manual;
    DatabaseAccessFields *m_fields;
    QList<TODBC_DB> m_entries;
    QString m_presetName;
};
