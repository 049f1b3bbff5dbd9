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
#include <QRegularExpression>
#include <QSaveFile>

#include <optional>

namespace {

const QString kVersion = QStringLiteral("Version");
const QString kSettings = QStringLiteral("Einstellungen");
const QDateTime kNoDate(QDate(1899, 12, 29), QTime(0, 0));

// Fields of section "Einstellungen" in the order they are written. The kind decides how the
// file reads and writes a value and which values a user may set (trevalo-cli "set").
struct Field {
    enum Kind {
        Text,         ///< one line
        Required,     ///< one line that must not be empty: an empty one ends a numbered list
        Flag,         ///< "1" or "0"
        StartTime,    ///< "hh:nn"
        Number,       ///< a port, 1 to 65535
        DbPort,       ///< a port as text, 1 to 65535, or empty for the standard port 3306
        Security,     ///< "keine", "STARTTLS" or "SSL/TLS"
        YesNo,        ///< "ja" or "nein"
        Tls,          ///< "ja", or empty and then not written
        Password,     ///< plain in memory, encoded in the file
        Kept,         ///< kept by the program (runs), not set by hand
        OptionalText, ///< kept by the program, written only when not empty
        NextStart,    ///< kept by the program (the schedule)
    };
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
    {"letzter_start", Field::Kept, &TAuftrag::letzter_start},
    {"letzte_meldung", Field::Kept, &TAuftrag::letzte_meldung},
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
    {"email_security", Field::Security, &TAuftrag::email_security, nullptr, false, "keine"},
    {"email_smtp_user", Field::Text, &TAuftrag::email_smtp_user},
    {"email_smtp_pass", Field::Password, &TAuftrag::email_smtp_pass},
};

// The numbered keys of one source, "<prefix><n>" in their own section each, in write order.
struct SourceField {
    const char *section;
    const char *prefix;
    Field::Kind kind;
    QString TQuelle::*text = nullptr;
    bool TQuelle::*flag = nullptr;
    bool flagDefault = false;
    const char *textDefault = "";
};

const SourceField kSourceFields[] = {
    {"Verzeichnisse", "Verz", Field::Required, &TQuelle::Verz},
    {"Filter", "Filter", Field::Text, &TQuelle::Filter, nullptr, false, "*.*"},
    {"SubDirs", "SubDir", Field::Flag, nullptr, &TQuelle::SubDir, true},
};

// The numbered keys of one database, likewise.
struct DatabaseField {
    const char *section;
    const char *prefix;
    Field::Kind kind;
    QString TODBC_DB::*text;
    const char *textDefault = "";
};

const DatabaseField kDatabaseFields[] = {
    {"DB_Name", "DB", Field::Required, &TODBC_DB::DB_Name},
    {"DB_Login", "DBLogin", Field::YesNo, &TODBC_DB::DB_Login},
    {"DB_User", "User", Field::Text, &TODBC_DB::DB_User},
    {"DB_Pass", "Pass", Field::Password, &TODBC_DB::DB_Pass},
    {"DB_Host", "Host", Field::Text, &TODBC_DB::DB_Host},
    {"DB_Port", "Port", Field::DbPort, &TODBC_DB::DB_Port, "3306"},
    {"DB_DBName", "DBNAME", Field::Text, &TODBC_DB::DB_DBName},
    // Only where it is asked for, so that job files without it stay as they were.
    {"DB_TLS", "TLS", Field::Tls, &TODBC_DB::DB_TLS},
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

QString entryKey(const char *prefix, qsizetype n)
{
    return QString::fromLatin1(prefix) + QString::number(n);
}

// A text value as the reader takes it: passwords come decoded.
QString readText(const IniDocument &ini, const QString &section, const QString &key, Field::Kind kind,
                 const char *textDefault)
{
    const QString value = ini.value(section, key, QString::fromLatin1(textDefault));
    return kind == Field::Password ? decodePassword(value) : value;
}

void readFields(TAuftrag &job, const IniDocument &ini)
{
    job.BackupVersion = ini.value(kVersion, QStringLiteral("BackupVersion"), QString());
    qint64 status = 0;
    job.Status = parseInteger(ini.value(kVersion, QStringLiteral("Status"), QString()), &status) ? int(status) : 0;

    for (const Field &f : kFields) {
        const QString key = QString::fromLatin1(f.key);
        switch (f.kind) {
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
        case Field::Number: {
            qint64 n = 0;
            job.*f.number = parseInteger(ini.value(kSettings, key, QString()), &n) ? int(n) : f.numberDefault;
            break;
        }
        default:
            job.*f.text = readText(ini, kSettings, key, f.kind, f.textDefault);
            break;
        }
    }

    job.sources.clear();
    for (int n = 1;; ++n) {
        TQuelle q;
        for (const SourceField &f : kSourceFields) {
            const QString section = QString::fromLatin1(f.section);
            if (f.flag)
                q.*f.flag = readFlag(ini, section, entryKey(f.prefix, n), f.flagDefault);
            else
                q.*f.text = readText(ini, section, entryKey(f.prefix, n), f.kind, f.textDefault);
        }
        if (q.Verz.isEmpty())
            break;
        job.sources.append(q);
    }

    job.databases.clear();
    for (int n = 1;; ++n) {
        TODBC_DB db;
        for (const DatabaseField &f : kDatabaseFields)
            db.*f.text = readText(ini, QString::fromLatin1(f.section), entryKey(f.prefix, n), f.kind, f.textDefault);
        if (db.DB_Name.isEmpty())
            break;
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
        default:
            put(kSettings, key, job.*f.text);
            break;
        }
    }

    for (qsizetype i = 0; i < job.sources.size(); ++i) {
        const TQuelle &q = job.sources[i];
        for (const SourceField &f : kSourceFields)
            put(QString::fromLatin1(f.section), entryKey(f.prefix, i + 1), f.flag ? flagText(q.*f.flag) : q.*f.text);
    }
    for (qsizetype i = 0; i < job.databases.size(); ++i) {
        const TODBC_DB &db = job.databases[i];
        for (const DatabaseField &f : kDatabaseFields) {
            const QString &value = db.*f.text;
            if (f.kind == Field::Tls && value.isEmpty())
                continue;
            put(QString::fromLatin1(f.section), entryKey(f.prefix, i + 1),
                f.kind == Field::Password ? password(value) : value);
        }
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

namespace {

// Where a key name of the job file points.
struct KeyRef {
    enum Where { Unknown, Version, Setting, Source, Database } where = Unknown;
    QString name; ///< as the file writes it
    Field::Kind kind = Field::Kept;
    const Field *field = nullptr;
    const SourceField *source = nullptr;
    const DatabaseField *database = nullptr;
    qsizetype entry = 0; ///< from 1
};

KeyRef findKey(const QString &name)
{
    KeyRef ref;
    for (const char *key : {"BackupVersion", "Letzte_Aenderung", "Status"}) {
        if (name.compare(QLatin1String(key), Qt::CaseInsensitive) == 0) {
            ref.where = KeyRef::Version;
            ref.name = QString::fromLatin1(key);
            return ref;
        }
    }
    for (const Field &f : kFields) {
        if (name.compare(QLatin1String(f.key), Qt::CaseInsensitive) == 0) {
            ref.where = KeyRef::Setting;
            ref.name = QString::fromLatin1(f.key);
            ref.kind = f.kind;
            ref.field = &f;
            return ref;
        }
    }
    // Numbered keys as the file numbers them: from 1, without leading zeros.
    static const QRegularExpression numbered(QStringLiteral("^(\\D+)([1-9]\\d{0,8})$"));
    const QRegularExpressionMatch m = numbered.match(name);
    if (!m.hasMatch())
        return ref;
    const QString prefix = m.captured(1);
    ref.entry = m.captured(2).toLongLong();
    for (const SourceField &f : kSourceFields) {
        if (prefix.compare(QLatin1String(f.prefix), Qt::CaseInsensitive) == 0) {
            ref.where = KeyRef::Source;
            ref.name = entryKey(f.prefix, ref.entry);
            ref.kind = f.kind;
            ref.source = &f;
            return ref;
        }
    }
    for (const DatabaseField &f : kDatabaseFields) {
        if (prefix.compare(QLatin1String(f.prefix), Qt::CaseInsensitive) == 0) {
            ref.where = KeyRef::Database;
            ref.name = entryKey(f.prefix, ref.entry);
            ref.kind = f.kind;
            ref.database = &f;
            return ref;
        }
    }
    return ref;
}

// The value as the file is to hold it, or an empty optional with *errorMessage set.
std::optional<QString> checkedValue(const QString &key, Field::Kind kind, const QString &text, QString *errorMessage)
{
    const auto refuse = [&](const QString &message) -> std::optional<QString> {
        if (errorMessage)
            *errorMessage = message;
        return std::nullopt;
    };
    const auto invalid = [&](const QString &allowed) {
        return refuse(QStringLiteral("Ungültiger Wert \"%1\" für \"%2\": %3").arg(text, key, allowed));
    };
    if (text.contains(u'\n') || text.contains(u'\r'))
        return refuse(QStringLiteral("Der Wert für \"%1\" darf keinen Zeilenumbruch enthalten.").arg(key));
    // The reader cuts longer values: a longer path would silently name another folder.
    if (text.size() > IniDocument::kMaxValueLength)
        return refuse(QStringLiteral("Der Wert für \"%1\" ist länger als %2 Zeichen.")
                          .arg(key, QString::number(IniDocument::kMaxValueLength)));

    switch (kind) {
    case Field::Text:
    case Field::Password:
        return text;
    case Field::Required:
        if (text.isEmpty())
            return refuse(QStringLiteral("Der Wert für \"%1\" darf nicht leer sein.").arg(key));
        return text;
    case Field::Flag:
        if (text != QLatin1String("0") && text != QLatin1String("1"))
            return invalid(QStringLiteral("erlaubt sind 1 (ja) und 0 (nein)."));
        return text;
    case Field::StartTime: {
        static const QRegularExpression time(QStringLiteral("^(\\d{1,2}):(\\d\\d)$"));
        const QRegularExpressionMatch m = time.match(text);
        if (!m.hasMatch() || m.captured(1).toInt() > 23 || m.captured(2).toInt() > 59)
            return invalid(QStringLiteral("erwartet wird eine Uhrzeit HH:MM von 00:00 bis 23:59."));
        return QStringLiteral("%1:%2").arg(m.captured(1).toInt(), 2, 10, QLatin1Char('0')).arg(m.captured(2));
    }
    case Field::DbPort:
        if (text.isEmpty())
            return text;
        Q_FALLTHROUGH();
    case Field::Number: {
        static const QRegularExpression digits(QStringLiteral("^\\d{1,5}$"));
        const int port = text.toInt();
        if (!digits.match(text).hasMatch() || port < 1 || port > 65535)
            return invalid(QStringLiteral("erlaubt ist eine Zahl von 1 bis 65535."));
        return QString::number(port);
    }
    case Field::Security:
        for (const char *word : {"keine", "STARTTLS", "SSL/TLS"}) {
            if (text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0)
                return QString::fromLatin1(word);
        }
        return invalid(QStringLiteral("erlaubt sind keine, STARTTLS und SSL/TLS."));
    case Field::YesNo:
    case Field::Tls:
        if (text.compare(QLatin1String("ja"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("ja");
        if (text.compare(QLatin1String("nein"), Qt::CaseInsensitive) == 0)
            return kind == Field::Tls ? QString() : QStringLiteral("nein"); // no TLS: no line, as before
        return invalid(QStringLiteral("erlaubt sind ja und nein."));
    case Field::Kept:
    case Field::OptionalText:
    case Field::NextStart:
        break;
    }
    return refuse(
        QStringLiteral("Der Schlüssel \"%1\" wird vom Programm geführt und kann nicht gesetzt werden.").arg(key));
}

} // namespace

bool isJobFilePasswordKey(const QString &key)
{
    return findKey(key).kind == Field::Password;
}

bool setJobFileValue(TAuftrag &job, const QString &key, const QString &text, QString *errorMessage)
{
    const KeyRef ref = findKey(key);
    if (ref.where == KeyRef::Unknown) {
        if (errorMessage)
            *errorMessage = QStringLiteral("Unbekannter Schlüssel \"%1\".").arg(key);
        return false;
    }
    const std::optional<QString> value
        = checkedValue(ref.name, ref.where == KeyRef::Version ? Field::Kept : ref.kind, text, errorMessage);
    if (!value)
        return false;
    const auto missingEntry = [&](const QString &what) {
        if (errorMessage)
            *errorMessage = QStringLiteral("Der Auftrag hat %1 Nr. %2 (\"%3\").")
                                .arg(what, QString::number(ref.entry), ref.name);
        return false;
    };

    switch (ref.where) {
    case KeyRef::Setting:
        if (ref.field->flag)
            job.*ref.field->flag = *value == QLatin1String("1");
        else if (ref.field->number)
            job.*ref.field->number = value->toInt();
        else
            job.*ref.field->text = *value;
        return true;
    case KeyRef::Source: {
        if (ref.entry > job.sources.size())
            return missingEntry(QStringLiteral("keinen Ordner"));
        TQuelle &q = job.sources[ref.entry - 1];
        if (ref.source->flag)
            q.*ref.source->flag = *value == QLatin1String("1");
        else
            q.*ref.source->text = *value;
        return true;
    }
    case KeyRef::Database:
        if (ref.entry > job.databases.size())
            return missingEntry(QStringLiteral("keine Datenbank"));
        job.databases[ref.entry - 1].*ref.database->text = *value;
        return true;
    case KeyRef::Unknown:
    case KeyRef::Version:
        break;
    }
    return false;
}
