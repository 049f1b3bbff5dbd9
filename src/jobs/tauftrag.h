// SPDX-License-Identifier: GPL-3.0-or-later
// One backup job ("Auftrag") with its sources and databases.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

/// One source folder of a job.
struct TQuelle {
    QString Verz;   ///< folder path, with or without a trailing separator
    QString Filter; ///< file masks separated by ';', e.g. "*.doc;*.xls"
    bool SubDir = false;
};

/// One database of a job.
struct TODBC_DB {
    QString DB_Name;  ///< label shown to the user (the ODBC data source name in "2.0" jobs)
    QString DB_Login; ///< "ja": ask for user and password at connect; "nein": use the stored ones
    QString DB_User;
    QString DB_Pass; ///< plain in memory, encoded in the job file
    QString DB_Host;
    QString DB_Port;
    QString DB_DBName;
    QString DB_TLS; ///< "ja": the connection must be encrypted (TLS is used whenever the server offers it)
};

/**
 * A backup job as held in memory. Created empty (every string empty, every flag false);
 * loadJob() fills it from "<scripts folder>/<fileStem>.scr" with the reader's defaults.
 */
class TAuftrag
{
public:
    QString fileStem; ///< job file name without ".scr"
    QString Name;
    QString Ziel;
    QString BackupVersion;
    QString Zuletzt_Ausgefuehrt;
    bool Gesamtsicherung = false;
    bool fehler_anzeigen = false;
    bool Start_Meldung = false;
    QString temp_pfad;
    bool Proto = false;
    QString proto_pfad;
    bool proto_nach_sicherung_anzeigen = false;
    bool proto_ausfuehrlich = false;
    bool proto_loeschen = false;
    bool proto_drucken = false;
    bool logErrorsArmed = false; ///< not stored: a failed log write may still be reported in this run
    bool ueberschreiben = false;
    bool pruefe_platz = false;
    bool backup_ok_anzeigen = false;
    bool autostart = false;
    QString startzeit;
    QString Drucker;
    bool mon = false;
    bool die = false;
    bool mit = false;
    bool don = false;
    bool fre = false;
    bool sam = false;
    bool son = false;
    bool runterfahren = false;
    bool cd_auswerfen = false;
    bool hintergrundBackup = false;
    bool komprimieren = false;
    QString start_after_backup;
    QString start_after_backup_param;
    bool start_after_backup_wait = false;
    QString start_before_backup;
    QString start_before_backup_param;
    bool start_before_backup_wait = false;
    /// Next scheduled start; invalid means none computed (stored as 29.12.1899).
    QDateTime next_start;
    bool lost_backup_confirm = false;
    bool lost_backup_autobackup = false;
    bool lost_backup_nobackup = false;
    QList<TQuelle> sources;
    QList<TODBC_DB> databases;
    QString letzter_start;
    QString letzte_meldung;
    int Status = 0;
    bool email = false;
    bool email_mapi = false;
    bool email_bei_fehler = false;
    QString email_empfaenger;
    QString email_sender;
    QString email_subject;
    QString email_server;
    bool email_pop3_login = false;
    QString email_pop3_user;
    QString email_pop3_pass;
    // For mail servers that want a port of their own, encryption and a login (not in old job files).
    int email_port = 0;
    QString email_security; ///< "keine", "STARTTLS" or "SSL/TLS"
    QString email_smtp_user;
    QString email_smtp_pass; ///< plain in memory, encoded in the job file

    /// Folder of the job file (the scripts folder), set when the job is created for a list.
    QString scriptsFolder;

    /// "<scripts folder>/<fileStem>.scr".
    QString filePath() const;

    /// Where the job's runs make their work files: temp_pfad, or the system's temporary folder; ends with a separator.
    QString tempFolder() const;

    /// The weekday flag of a Qt day of week (1 = Monday ... 7 = Sunday).
    bool runsOnWeekday(int qtDayOfWeek) const;
};
