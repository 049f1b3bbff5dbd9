// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/setfinder.h"

#include "engine/filetree.h"
#include "engine/setlayout.h"
#include "engine/ziparchive.h"
#include "jobs/germanformat.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "restore/restoremodel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>

#include <algorithm>

void ScanProgress::setFolderLine(const QString &)
{
}

void ScanProgress::setFoundText(const QString &)
{
}

void ScanProgress::appendLine(const QString &)
{
}

void ScanProgress::appendToLastLine(const QString &)
{
}

void ScanProgress::processEvents()
{
}

bool ScanProgress::cancelRequested()
{
    return false;
}

namespace
{

ScanProgress s_silent;

// A window stays alive when it handles its events at least every 200 ms; this leaves room for one slow entry.
constexpr qint64 kKeepAliveMs = 50;

// In UTC: a local time costs the C library a look at the time-zone file for every one of 100,000 files.
// The file list shows it in local time.
QDateTime fromNs(qint64 ns)
{
    return QDateTime::fromMSecsSinceEpoch(ns / 1000000, Qt::UTC);
}

// Two-digit years fall into the hundred years that begin fifty years ago.
int fullYear(int yy)
{
    const int pivot = Clock::now().date().year() - 50;
    int year = pivot / 100 * 100 + yy;
    if (year < pivot)
        year += 100;
    return year;
}

bool allDigits(const QString &text)
{
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return !text.isEmpty();
}

struct SetName {
    int type = 0;
    QString jobName;
    QDateTime date;
};

// Reads a set folder name; false for a folder that is no set.
bool parseSetName(const QString &dir, const QString &name, SetName *set)
{
    if (name.size() < 6 || !allDigits(name.mid(3, 2)))
        return false;
    set->type = name.mid(3, 2).toInt();
    // Only the four set types are read; anything else would be listed with the wrong layout.
    if (set->type < 1 || set->type > 4)
        return false;
    if (name.size() > 12 && name[11] == u'-') {
        const QString yymmdd = name.mid(5, 6);
        if (!allDigits(yymmdd))
            return false;
        const QDate date(fullYear(yymmdd.left(2).toInt()), yymmdd.mid(2, 2).toInt(), yymmdd.mid(4, 2).toInt());
        if (!date.isValid())
            return false;
        set->date = QDateTime(date, QTime(0, 0));
        set->jobName = name.mid(12);
        return true;
    }
    const Platform::FileStat marker = Platform::statPath(dir + u'/' + SetLayout::kFixedSetMarker);
    if (marker.kind != Platform::FileStat::File)
        return false;
    set->date = fromNs(marker.mtimeNs);
    set->jobName = name.mid(6);
    return true;
}

QString typeSuffix(int type)
{
    switch (type) {
    case 1:
        return QStringLiteral(" (Gesamtsicherung)");
    case 2:
        return QStringLiteral(" (inkrementelle Sicherung)");
    case 3:
        return QStringLiteral(" (Komprimierte Gesamtsicherung)");
    case 4:
        return QStringLiteral(" (Komprimierte inkrementelle Sicherung)");
    default:
        return QString();
    }
}

QString levelOneText(const QString &name)
{
    if (name.startsWith(u'_'))
        return QStringLiteral("Netzwerkumgebung: ") + name.mid(1);
    if (name.startsWith(u'-'))
        return QStringLiteral("Datenbank: ") + name.mid(1);
    if (name == SetLayout::kRootFolder)
        return QStringLiteral("/");
    return name.left(1) + QStringLiteral(":\\");
}

class Scanner
{
public:
    Scanner(RestoreModel &model, ScanProgress &progress, bool fileDetails)
        : m_model(model)
        , m_progress(progress)
        , m_detail(fileDetails ? Platform::ListDetail::Everything : Platform::ListDetail::Kinds)
    {
        m_sinceKeepAlive.start();
    }

    bool stopped() const
    {
        return m_stopped;
    }

    // Handles the window's events when it is time; true when the user asked to stop.
    bool keepAlive()
    {
        if (!m_stopped && m_sinceKeepAlive.elapsed() >= kKeepAliveMs) {
            m_progress.processEvents();
            m_sinceKeepAlive.restart();
            m_stopped = m_progress.cancelRequested();
        }
        return m_stopped;
    }

    // After a set: the window is handled in any case.
    void setDone()
    {
        m_progress.processEvents();
        m_sinceKeepAlive.restart();
        m_stopped = m_progress.cancelRequested();
    }

    // Lists the folder of node; its entries are at level.
    void scanFolder(const QString &relativeFolder, int level, int parent, int setType)
    {
        if (keepAlive())
            return;
        std::vector<FileTree::Entry> entries;
        QString reason;
        if (!FileTree::listDirectory(m_model.backupFolder() + relativeFolder,
                &entries,
                &reason,
                m_detail,
                [this] { keepAlive(); })) {
            // What the folder holds is unknown; a record of its own makes a restore of it report that.
            RestoreRecord r;
            r.node = parent;
            r.relativeFolder = relativeFolder;
            r.folder = true;
            r.damage = QStringLiteral("Der Ordner %1 kann nicht gelesen werden: %2")
                           .arg(shown(m_model.backupFolder() + relativeFolder), reason);
            m_model.addRecord(r);
            return;
        }
        for (const FileTree::Entry &e : entries) {
            if (keepAlive())
                return;
            // Sets hold no links; one found there is not followed, so a walk cannot leave the set or loop.
            if (e.isLink)
                continue;
            if (e.kind == Platform::FileStat::Directory) {
                ++m_folders;
                m_progress.setFolderLine(Platform::displayPath(e.name));
                SetNode node;
                const QString shownName = Platform::displayPath(e.name);
                node.text = level == 1 ? levelOneText(shownName) : shownName;
                node.folderName = e.name;
                node.relativeFolder = relativeFolder + e.name + u'/';
                node.parent = parent;
                node.level = level;
                const int index = m_model.addNode(node);
                scanFolder(node.relativeFolder, level + 1, index, setType);
                addIfEmpty(index, e);
            } else if (e.kind == Platform::FileStat::File && level >= 2) {
                addFile(relativeFolder, parent, setType, e);
            }
        }
    }

private:
    static QString shown(const QString &path)
    {
        return Platform::displayPath(QDir::toNativeSeparators(path));
    }

    // A saved folder that holds nothing is restored as a folder. The drive, server and root
    // folders only carry the places below them, and database folders hold dumps, not folders.
    void addIfEmpty(int index, const FileTree::Entry &e)
    {
        const SetNode &node = m_model.node(index);
        if (node.level < 2 || !node.children.isEmpty() || !node.records.isEmpty()
            || RestoreModel::savedPlace(node.relativeFolder).startsWith(u'-'))
            return;
        RestoreRecord r;
        r.node = index;
        r.relativeFolder = node.relativeFolder;
        r.folder = true;
        r.date = statDate(e);
        r.mode = e.stat.mode;
        m_model.addRecord(r);
    }

    void addFile(const QString &relativeFolder, int node, int setType, const FileTree::Entry &e)
    {
        RestoreRecord r;
        r.node = node;
        r.relativeFolder = relativeFolder;
        r.mode = e.stat.mode;
        if (setType == 3 || setType == 4) {
            r.fromArchive = true;
            r.archiveName = e.name;
            QList<TZippedFile> entries;
            QString error;
            if (!listArchive(m_model.backupFolder() + relativeFolder + e.name, &entries, &error)) {
                // A damaged archive is a part of the set whose files cannot come back; it is listed as such.
                r.name = e.name;
                r.date = statDate(e);
                r.damage = error;
                m_model.addRecord(r);
                return;
            }
            for (const TZippedFile &z : entries) {
                r.name = z.name;
                r.date = dayStart(z.date);
                r.size = qint64(z.uncompressedSize);
                m_model.addRecord(r);
            }
            return;
        }
        r.name = e.name;
        r.date = statDate(e);
        r.size = e.stat.size;
        m_model.addRecord(std::move(r));
    }

    // Without details the entry carries no time: the date stays unknown rather than 1970.
    QDateTime statDate(const FileTree::Entry &e) const
    {
        return m_detail == Platform::ListDetail::Everything ? fromNs(e.stat.mtimeNs) : QDateTime();
    }

    // The local start of a day, made once per day: archives date their many entries by the day.
    QDateTime dayStart(QDate day)
    {
        auto it = m_days.constFind(day);
        if (it == m_days.cend())
            it = m_days.insert(day, QDateTime(day, QTime(0, 0)));
        return *it;
    }

    RestoreModel &m_model;
    ScanProgress &m_progress;
    const Platform::ListDetail m_detail;
    QHash<QDate, QDateTime> m_days;
    QElapsedTimer m_sinceKeepAlive;
    bool m_stopped = false;
    int m_folders = 0;
};

} // namespace

bool scanBackupFolder(RestoreModel *model,
    const QString &backupFolder,
    const QString &jobFilter,
    ScanProgress *progress,
    QString *error,
    bool *cancelled,
    bool fileDetails)
{
    ScanProgress &show = progress ? *progress : s_silent;
    if (cancelled)
        *cancelled = false;
    model->clear();
    model->setBackupFolder(QDir::fromNativeSeparators(backupFolder));
    model->setGroupCaption(QStringLiteral(" Vorhandene Sicherungen "));

    std::vector<FileTree::Entry> entries;
    QString reason;
    if (!FileTree::listDirectory(model->backupFolder(), &entries, &reason)) {
        if (error)
            *error = QStringLiteral("Der Ordner %1 kann nicht gelesen werden: %2")
                         .arg(Platform::displayPath(QDir::toNativeSeparators(backupFolder)), reason);
        return false;
    }
    Scanner scanner(*model, show, fileDetails);
    for (const FileTree::Entry &e : entries) {
        if (scanner.keepAlive())
            break;
        if (e.isLink || e.kind != Platform::FileStat::Directory)
            continue;
        SetName set;
        if (!parseSetName(model->backupFolder() + e.name, e.name, &set))
            continue;
        // A set folder holds the job name with its separators mapped.
        if (!jobFilter.isEmpty() && set.jobName != SetLayout::nameInFolder(jobFilter))
            continue;

        model->countSet();
        SetNode node;
        node.text
            = Platform::displayPath(set.jobName) + QStringLiteral(" vom ") + GermanFormat::shortDate(set.date.date());
        node.folderName = e.name;
        node.relativeFolder = e.name + u'/';
        node.setType = set.type;
        node.jobName = set.jobName;
        node.setDate = set.date;
        const size_t nodesBefore = model->nodes().size();
        show.setFoundText(QStringLiteral("Gefundene Datensicherungen: ") + QString::number(model->setsFound()));
        show.appendLine(node.text + QStringLiteral(" .."));
        node.text += typeSuffix(set.type);
        const int index = model->addNode(node);
        model->setGroupCaption(QStringLiteral(" Vorhandene Sicherungen - ") + jobFilter + u' ');
        const size_t recordsBefore = model->records().size();
        scanner.scanFolder(node.relativeFolder, 1, index, set.type);
        if (scanner.stopped()) {
            // Half a set would look whole in the tree: it goes, the sets read before it stay.
            model->truncate(nodesBefore, recordsBefore);
            show.appendToLastLine(QStringLiteral("abgebrochen"));
            show.setFoundText(QStringLiteral("Gefundene Datensicherungen: ") + QString::number(model->setsFound()));
            break;
        }
        const bool damaged = std::any_of(model->records().begin() + std::ptrdiff_t(recordsBefore),
            model->records().end(),
            [](const RestoreRecord &r) { return !r.damage.isEmpty(); });
        show.setFolderLine(node.text);
        // "ok" only for a set that could be read in full.
        show.appendToLastLine(damaged ? QStringLiteral("beschädigt") : QStringLiteral("ok"));
        scanner.setDone();
    }
    if (model->topLevel().isEmpty())
        model->setGroupCaption(QStringLiteral(" Vorhandene Sicherungen "));
    if (cancelled)
        *cancelled = scanner.stopped();
    return true;
}
