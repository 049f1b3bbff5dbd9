// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/jobfile.h"

#include "jobs/germanformat.h"
#include "jobs/password.h"
#include "jobs/tauftrag.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "platform/inifile.h"
#include "platform/odbcsources.h"
#include "platform/textcodec.h"
#include "jobs/nextstart.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString kVersion = QStringLiteral("Version");
const QString kSettings = QStringLiteral("Einstellungen");
const QDateTime kNoDate(QDate(1899, 12, 29), QTime(0, 0));

// Fields of section "Einstellungen" in the order they are written.
struct Field {
    enum Kind { Text, Flag, OptionalText, StartTime, NextStart, Password, Number };
    const char *key;
    Kind kind;
    QString TAuftrag::*text = nullptr;
    bool TAuftrag::*flag = nullptr;
    bool flagDefault = false;
    const char *textDefault = "";
    int TAuftrag::*number = nullptr;
    int numberDefault = 0;
};

const Field kFields[] = {
    {"Name", Field::Text, &TAuftrag::Name},
    {"Ziel", Field::Text, &TAuftrag::Ziel},
    {"Zuletzt_Ausgefuehrt", Field::OptionalText, &TAuftrag::Zuletzt_Ausgefuehrt},
    {"Gesamtsicherung", Field::Flag, nullptr, &TAuftrag::Gesamtsicherung, true},
    {"fehler_anzeigen", Field::Flag, nullptr, &TAuftrag::fehler_anzeigen, true},
    {"temp_pfad", Field::Text, &TAuftrag::temp_pfad},
    {"proto", Field::Flag, nullptr, &TAuftrag::Proto, true},
    {"proto_pfad", Field::Text, &TAuftrag::proto_pfad},
    {"Drucker", Field::Text, &TAuftrag::Drucker},
    {"proto_nach_sicherung_anzeigen", Field::Flag, nullptr, &TAuftrag::proto_nach_sicherung_anzeigen},
    {"proto_ausfuehrlich", Field::Flag, nullptr, &TAuftrag::proto_ausfuehrlich},
    {"proto_loeschen", Field::Flag, nullptr, &TAuftrag::proto_loeschen},
    {"proto_drucken", Field::Flag, nullptr, &TAuftrag::proto_drucken},
    {"ueberschreiben", Field::Flag, nullptr, &TAuftrag::ueberschreiben},
    {"pruefe_platz", Field::Flag, nullptr, &TAuftrag::pruefe_platz},
    {"backup_ok_anzeigen", Field::Flag, nullptr, &TAuftrag::backup_ok_anzeigen, true},
    {"autostart", Field::Flag, nullptr, &TAuftrag::autostart},
    {"startzeit", Field::StartTime, &TAuftrag::startzeit},
    {"mon", Field::Flag, nullptr, &TAuftrag::mon, true},
    {"die", Field::Flag, nullptr, &TAuftrag::die, true},
    {"mit", Field::Flag, nullptr, &TAuftrag::mit, true},
    {"don", Field::Flag, nullptr, &TAuftrag::don, true},
    {"fre", Field::Flag, nullptr, &TAuftrag::fre, true},
    {"sam", Field::Flag, nullptr, &TAuftrag::sam, true},
    {"son", Field::Flag, nullptr, &TAuftrag::son, true},
    {"Start_Meldung", Field::Flag, nullptr, &TAuftrag::Start_Meldung, true},
    {"letzter_start", Field::Text, &TAuftrag::letzter_start},
    {"letzte_meldung", Field::Text, &TAuftrag::letzte_meldung},
    {"runterfahren", Field::Flag, nullptr, &TAuftrag::runterfahren},
    {"cd_auswerfen", Field::Flag, nullptr, &TAuftrag::cd_auswerfen},
    {"hintergrundBackup", Field::Flag, nullptr, &TAuftrag::hintergrundBackup},
    {"komprimieren", Field::Flag, nullptr, &TAuftrag::komprimieren},
    {"start_after_backup", Field::Text, &TAuftrag::start_after_backup},
    {"start_after_backup_param", Field::Text, &TAuftrag::start_after_backup_param},
    {"start_after_backup_wait", Field::Flag, nullptr, &TAuftrag::start_after_backup_wait, true},
    {"start_before_backup", Field::Text, &TAuftrag::start_before_backup},
    {"start_before_backup_param", Field::Text, &TAuftrag::start_before_backup_param},
    {"start_before_backup_wait", Field::Flag, nullptr, &TAuftrag::start_before_backup_wait, true},
    {"next_start", Field::NextStart},
    {"lost_backup_confirm", Field::Flag, nullptr, &TAuftrag::lost_backup_confirm, true},
    {"lost_backup_autobackup", Field::Flag, nullptr, &TAuftrag::lost_backup_autobackup},
    {"lost_backup_nobackup", Field::Flag, nullptr, &TAuftrag::lost_backup_nobackup},
    {"email", Field::Flag, nullptr, &TAuftrag::email},
    {"email_mapi", Field::Flag, nullptr, &TAuftrag::email_mapi},
    {"email_bei_fehler", Field::Flag, nullptr, &TAuftrag::email_bei_fehler},
    {"email_empfaenger", Field::Text, &TAuftrag::email_empfaenger, nullptr, false, "empfaenger@example.com"},
    {"email_server", Field::Text, &TAuftrag::email_server, nullptr, false, "smtp.example.com"},
    {"email_sender", Field::Text, &TAuftrag::email_sender, nullptr, false, "Trevalo"},
    {"email_subject", Field::Text, &TAuftrag::email_subject, nullptr, false, "Protokoll"},
    {"email_pop3_login", Field::Flag, nullptr, &TAuftrag::email_pop3_login},
    {"email_pop3_user", Field::Text, &TAuftrag::email_pop3_user},
    {"email_pop3_pass", Field::Password, &TAuftrag::email_pop3_pass},
    // Written after the keys every older reader knows; such a reader skips them.
    {"email_port", Field::Number, nullptr, nullptr, false, "", &TAuftrag::email_port, 25},
    {"email_security", Field::Text, &TAuftrag::email_security, nullptr, false, "keine"},
    {"email_smtp_user", Field::Text, &TAuftrag::email_smtp_user},
    {"email_smtp_pass", Field::Password, &TAuftrag::email_smtp_pass},
};

// Whole numbers as job files have always held them: optional blanks and sign, decimal digits, or '$'/'0x' and hex digits.
bool parseInteger(const QString &text, qint64 *value)
{
    QString s = text.trimmed();
    bool ok = false;
    qint64 v = 0;
    if (s.startsWith(u'$') || s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = s.mid(s.startsWith(u'$') ? 1 : 2).toLongLong(&ok, 16);
    else
        v = s.toLongLong(&ok, 10);
    if (ok)
        *value = v;
    return ok;
}

bool readFlag(const IniDocument &ini, const QString &section, const QString &key, bool defaultValue)
{
    bool found = false;
    const QString v = ini.value(section, key, &found);
    qint64 n = 0;
    if (!found || !parseInteger(v, &n))
        return defaultValue;
    return n != 0;
}

QString flagText(bool v)
{
    return v ? QStringLiteral("1") : QStringLiteral("0");
}

void readFields(TAuftrag &job, const IniDocument &ini)
{
    job.BackupVersion = ini.value(kVersion, QStringLiteral("BackupVersion"), QString());
    qint64 status = 0;
    job.Status = parseInteger(ini.value(kVersion, QStringLiteral("Status"), QString()), &status) ? int(status) : 0;

    for (const Field &f : kFields) {
        const QString key = QString::fromLatin1(f.key);
        switch (f.kind) {
        case Field::Text:
        case Field::OptionalText:
            job.*f.text = ini.value(kSettings, key, QString::fromLatin1(f.textDefault));
            break;
        case Field::Flag:
            job.*f.flag = readFlag(ini, kSettings, key, f.flagDefault);
            break;
        case Field::StartTime: // autostart comes first in the table
            job.startzeit = job.autostart ? ini.value(kSettings, key, QString()) : QString();
            break;
        case Field::NextStart: {
            const QDateTime dt = GermanFormat::parseDateTimeValue(ini.value(kSettings, key, QString()));
            job.next_start = dt == kNoDate ? QDateTime() : dt;
            if (!job.next_start.isValid() && job.autostart)
                computeNextStart(job); // a failure leaves it unset, as it was
            break;
        }
        case Field::Password:
            job.*f.text = decodePassword(ini.value(kSettings, key, QString()));
            break;
        case Field::Number: {
            qint64 n = 0;
            job.*f.number = parseInteger(ini.value(kSettings, key, QString()), &n) ? int(n) : f.numberDefault;
            break;
        }
        }
    }

    job.sources.clear();
    for (int n = 1;; ++n) {
        const QString num = QString::number(n);
        TQuelle q;
        q.Verz = ini.value(QStringLiteral("Verzeichnisse"), QStringLiteral("Verz") + num, QString());
        q.Filter = ini.value(QStringLiteral("Filter"), QStringLiteral("Filter") + num, QStringLiteral("*.*"));
        q.SubDir = readFlag(ini, QStringLiteral("SubDirs"), QStringLiteral("SubDir") + num, true);
        if (q.Verz.isEmpty())
            break;
        job.sources.append(q);
    }

    job.databases.clear();
    for (int n = 1;; ++n) {
        const QString num = QString::number(n);
        TODBC_DB db;
        db.DB_Name = ini.value(QStringLiteral("DB_Name"), QStringLiteral("DB") + num, QString());
        if (db.DB_Name.isEmpty())
            break;
        db.DB_Login = ini.value(QStringLiteral("DB_Login"), QStringLiteral("DBLogin") + num, QString());
        db.DB_User = ini.value(QStringLiteral("DB_User"), QStringLiteral("User") + num, QString());
        db.DB_Pass = decodePassword(ini.value(QStringLiteral("DB_Pass"), QStringLiteral("Pass") + num, QString()));
        db.DB_Host = ini.value(QStringLiteral("DB_Host"), QStringLiteral("Host") + num, QString());
        db.DB_Port = ini.value(QStringLiteral("DB_Port"), QStringLiteral("Port") + num, QStringLiteral("3306"));
        db.DB_DBName = ini.value(QStringLiteral("DB_DBName"), QStringLiteral("DBNAME") + num, QString());
        db.DB_TLS = ini.value(QStringLiteral("DB_TLS"), QStringLiteral("TLS") + num, QString());
        job.databases.append(db);
    }
}

void upgradeOdbcEntries(TAuftrag &job)
{
    for (TODBC_DB &db : job.databases) {
        const std::optional<OdbcSource> s = findOdbcSource(db.DB_Name);
        db.DB_DBName = s ? s->database : QString();
        db.DB_Pass = s ? s->password : QString();
        db.DB_Host = s ? s->server : QString();
        db.DB_User = s ? s->user : QString();
        db.DB_Port = s ? s->port : QString();
    }
}

} // namespace

bool loadJob(TAuftrag &job, QString *errorMessage)
{
    QByteArray bytes;
    bool readable = true;
    // Only a regular file is read: a pipe would block the program, a folder has nothing to read.
    if (Platform::statPath(job.filePath()).kind == Platform::FileStat::File) {
        QFile file(job.filePath());
        readable = file.open(QIODevice::ReadOnly);
        if (readable) {
            bytes = file.readAll();
            readable = file.error() == QFileDevice::NoError;
        }
    }
    // An unreadable file loads as defaults, like a missing one, so the job is still usable.
    readFields(job, IniDocument::fromBytes(readable ? bytes : QByteArray()));
    if (job.BackupVersion == QLatin1String("2.0")) {
        upgradeOdbcEntries(job);
        job.BackupVersion = QStringLiteral("3");
    }
    if (!readable) {
        if (errorMessage)
            *errorMessage = QStringLiteral("Fehler beim Laden des Auftrages %1 aufgetreten.").arg(job.Name);
        return false;
    }
    return true;
}

QList<JobFileEntry> jobFileEntries(const TAuftrag &job, bool maskPasswords)
{
    QList<JobFileEntry> w;
    const auto put = [&w](const QString &section, const QString &key, const QString &value) {
        w.append({section, key, value});
    };
    const auto password = [maskPasswords](const QString &plain) {
        if (maskPasswords)
            return plain.isEmpty() ? QString() : QStringLiteral("*****");
        return encodePassword(plain);
    };
    put(kVersion, QStringLiteral("BackupVersion"), job.BackupVersion);
    put(kVersion, QStringLiteral("Letzte_Aenderung"), GermanFormat::shortDate(Clock::now().date()));
    put(kVersion, QStringLiteral("Status"), QString::number(job.Status));

    for (const Field &f : kFields) {
        const QString key = QString::fromLatin1(f.key);
        switch (f.kind) {
        case Field::OptionalText:
            if (!(job.*f.text).isEmpty())
                put(kSettings, key, job.*f.text);
            break;
        case Field::Text:
        case Field::StartTime:
            put(kSettings, key, job.*f.text);
            break;
        case Field::Flag:
            put(kSettings, key, flagText(job.*f.flag));
            break;
        case Field::NextStart:
            put(kSettings, key, GermanFormat::dateTimeValue(job.next_start.isValid() ? job.next_start : kNoDate));
            break;
        case Field::Password:
            put(kSettings, key, password(job.*f.text));
            break;
        case Field::Number:
            put(kSettings, key, QString::number(job.*f.number));
            break;
        }
    }

    for (qsizetype i = 0; i < job.sources.size(); ++i) {
        const QString num = QString::number(i + 1);
        const TQuelle &q = job.sources[i];
        put(QStringLiteral("Verzeichnisse"), QStringLiteral("Verz") + num, q.Verz);
        put(QStringLiteral("Filter"), QStringLiteral("Filter") + num, q.Filter);
        put(QStringLiteral("SubDirs"), QStringLiteral("SubDir") + num, flagText(q.SubDir));
    }
    for (qsizetype i = 0; i < job.databases.size(); ++i) {
        const QString num = QString::number(i + 1);
        const TODBC_DB &db = job.databases[i];
        put(QStringLiteral("DB_Name"), QStringLiteral("DB") + num, db.DB_Name);
        put(QStringLiteral("DB_Login"), QStringLiteral("DBLogin") + num, db.DB_Login);
        put(QStringLiteral("DB_User"), QStringLiteral("User") + num, db.DB_User);
        put(QStringLiteral("DB_Pass"), QStringLiteral("Pass") + num, password(db.DB_Pass));
        put(QStringLiteral("DB_Host"), QStringLiteral("Host") + num, db.DB_Host);
        put(QStringLiteral("DB_Port"), QStringLiteral("Port") + num, db.DB_Port);
        put(QStringLiteral("DB_DBName"), QStringLiteral("DBNAME") + num, db.DB_DBName);
        // Only where it is asked for, so that job files without it stay as they were.
        if (!db.DB_TLS.isEmpty())
            put(QStringLiteral("DB_TLS"), QStringLiteral("TLS") + num, db.DB_TLS);
    }
    return w;
}

QByteArray jobFileBytes(const TAuftrag &job)
{
    IniWriter writer;
    for (const JobFileEntry &e : jobFileEntries(job, false))
        writer.write(e.section, e.key, e.value);
    return TextCodec::encodeFileText(writer.text());
}

bool saveJob(TAuftrag &job, QString *errorMessage)
{
    if (job.autostart)
        computeNextStart(job);
    const QByteArray bytes = jobFileBytes(job);

    // Unbuffered, so that a full disk fails the write itself: a buffered QSaveFile can lose
    // the error at commit and put an empty file in place of the old one.
    QSaveFile file(job.filePath());
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (ok) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ok = file.write(bytes) == bytes.size() && file.commit();
    }
    if (!ok) {
        file.cancelWriting();
        if (errorMessage)
            *errorMessage = QStringLiteral("Fehler beim Speichern des Auftrages %1 aufgetreten.").arg(job.Name);
    }
    return ok;
}

bool markStarted(TAuftrag &job, QString *errorMessage)
{
    job.Status = 1;
    return saveJob(job, errorMessage);
}

bool setLastMessage(TAuftrag &job, const QString &text, QString *errorMessage)
{
    job.letzte_meldung = text;
    return saveJob(job, errorMessage);
}

bool finishJob(TAuftrag &job, const std::function<void(const QString &fileStem)> &handOver, QString *errorMessage)
{
    if (handOver)
        handOver(job.fileStem);
    return saveJob(job, errorMessage);
}
