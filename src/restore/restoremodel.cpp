// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restoremodel.h"

#include "engine/setlayout.h"
#include "jobs/germanformat.h"
#include "platform/filesystem.h"

#include <algorithm>

void RestoreModel::clear()
{
    m_backupFolder.clear();
    m_groupCaption.clear();
    m_setsFound = 0;
    m_nodes.clear();
    m_topLevel.clear();
    m_records.clear();
}

void RestoreModel::setBackupFolder(const QString &folder)
{
    m_backupFolder = folder;
    if (!m_backupFolder.isEmpty() && !m_backupFolder.endsWith(u'/'))
        m_backupFolder += u'/';
}

int RestoreModel::addNode(const SetNode &node)
{
    const int index = int(m_nodes.size());
    m_nodes.push_back(node);
    QList<int> &siblings = node.parent < 0 ? m_topLevel : m_nodes[size_t(node.parent)].children;
    m_nodes.back().row = int(siblings.size());
    siblings.append(index);
    return index;
}

int RestoreModel::addRecord(RestoreRecord record)
{
    const int index = int(m_records.size());
    m_nodes[size_t(record.node)].records.append(index);
    m_records.push_back(std::move(record));
    return index;
}

void RestoreModel::truncate(size_t nodeCount, size_t recordCount)
{
    const int nodes = int(std::min(nodeCount, m_nodes.size()));
    const int records = int(std::min(recordCount, m_records.size()));
    m_nodes.resize(size_t(nodes));
    m_records.resize(size_t(records));
    const auto dropped = [](int limit) { return [limit](int i) { return i >= limit; }; };
    m_topLevel.removeIf(dropped(nodes));
    for (SetNode &n : m_nodes) {
        n.children.removeIf(dropped(nodes));
        n.records.removeIf(dropped(records));
    }
    m_setsFound = int(m_topLevel.size());
}

void RestoreModel::toggleNode(int node)
{
    setNewStatus(node, m_nodes[size_t(node)].state == SetNode::NoneSelected);
    setNewUpperNodeStatus(node);
    updateStatusBar();
}

void RestoreModel::toggleRecord(int record)
{
    setRecordSelected(record, !m_records[size_t(record)].selected);
    updateStatusBar();
}

void RestoreModel::setRecordSelected(int record, bool selected)
{
    RestoreRecord &r = m_records[size_t(record)];
    r.selected = selected;
    checknodes(r.node);
    setNewUpperNodeStatus(r.node);
}

void RestoreModel::setRecordsSelected(const QList<int> &records, bool selected)
{
    // Each folder is counted once, however many of its files changed: a list of 100,000 rows stays quick.
    QList<int> folders;
    for (int record : records) {
        RestoreRecord &r = m_records[size_t(record)];
        r.selected = selected;
        if (folders.isEmpty() || folders.last() != r.node)
            folders.append(r.node);
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (int node : std::as_const(folders)) {
        checknodes(node);
        setNewUpperNodeStatus(node);
    }
}

void RestoreModel::setNewStatus(int node, bool selected)
{
    const QList<int> children = m_nodes[size_t(node)].children;
    for (int child : children)
        setNewStatus(child, selected);
    for (int r : m_nodes[size_t(node)].records)
        m_records[size_t(r)].selected = selected;
    checknodes(node);
}

void RestoreModel::checknodes(int node)
{
    SetNode &n = m_nodes[size_t(node)];
    bool anySelected = false;
    bool anyUnselected = false;
    for (int r : n.records) {
        if (m_records[size_t(r)].selected)
            anySelected = true;
        else
            anyUnselected = true;
    }
    for (int child : n.children) {
        switch (m_nodes[size_t(child)].state) {
        case SetNode::NoneSelected:
            anyUnselected = true;
            break;
        case SetNode::AllSelected:
            anySelected = true;
            break;
        case SetNode::PartlySelected:
            anySelected = anyUnselected = true;
            break;
        default:
            break;
        }
    }
    if (anySelected && anyUnselected)
        n.state = SetNode::PartlySelected;
    else if (anySelected)
        n.state = SetNode::AllSelected;
    else if (anyUnselected)
        n.state = SetNode::NoneSelected;
    else
        n.state = SetNode::NothingToSelect;
}

void RestoreModel::setNewUpperNodeStatus(int node)
{
    // Each ancestor counts its own files too: a folder that holds files besides its subfolders
    // must not show "everything selected" while its own files would be left out of the restore.
    for (int up = m_nodes[size_t(node)].parent; up >= 0; up = m_nodes[size_t(up)].parent)
        checknodes(up);
}

QString RestoreModel::updateStatusBar()
{
    int count = 0;
    qint64 bytes = 0;
    int selected = 0;
    for (const RestoreRecord &r : m_records) {
        if (!r.selected)
            continue;
        ++selected;
        if (r.isFile()) {
            ++count;
            bytes += r.size;
        }
    }
    m_selectedCount = selected;
    return QStringLiteral(" gewählte Dateien: ") + QString::number(count) + QStringLiteral(" Dateien entsprechen ")
        + GermanFormat::decimal(double(bytes) / 1000.0, 0) + QStringLiteral(" kB.");
}

QList<RestoreRow> RestoreModel::rows(int node) const
{
    QList<RestoreRow> rows;
    for (int record : rowRecords(node))
        rows.append(row(record));
    return rows;
}

QList<int> RestoreModel::rowRecords(int node) const
{
    // The shown names are made once, not in every comparison: a folder may hold 100,000 files.
    std::vector<std::pair<QString, int>> named;
    named.reserve(size_t(m_nodes[size_t(node)].records.size()));
    for (int index : m_nodes[size_t(node)].records) {
        const RestoreRecord &r = m_records[size_t(index)];
        if (r.folder && r.damage.isEmpty())
            continue;
        named.emplace_back(Platform::displayPath(r.name), index);
    }
    std::stable_sort(named.begin(), named.end(), [](const auto &a, const auto &b) {
        const int c = a.first.compare(b.first, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.first < b.first;
    });
    QList<int> records;
    records.reserve(qsizetype(named.size()));
    for (const auto &n : named)
        records.append(n.second);
    return records;
}

RestoreRow RestoreModel::row(int record) const
{
    const RestoreRecord &r = m_records[size_t(record)];
    RestoreRow row;
    row.record = record;
    row.name = Platform::displayPath(r.name);
    row.image = r.selected ? 1 : 0;
    row.damage = r.damage;
    if (r.damage.isEmpty()) {
        row.size = r.size >= 1000 ? GermanFormat::decimal(double(r.size) / 1000.0, 0) + QStringLiteral(" kB")
                                  : QString::number(r.size) + QStringLiteral(" Byte");
        row.date = GermanFormat::shortDate(r.date.toLocalTime().date());
    }
    return row;
}

QString RestoreModel::savedPlace(const QString &relativeFolder)
{
    const qsizetype slash = relativeFolder.indexOf(u'/');
    return slash < 0 ? QString() : relativeFolder.mid(slash + 1);
}

QString RestoreModel::placeText(const QString &savedPlace)
{
    const qsizetype slash = savedPlace.indexOf(u'/');
    const QString first = slash < 0 ? savedPlace : savedPlace.left(slash);
    const QString rest = slash < 0 ? QString() : savedPlace.mid(slash + 1);
    if (first.isEmpty())
        return QString();
    if (first == SetLayout::kRootFolder)
        return u'/' + rest;
    if (first.startsWith(u'-'))
        return QStringLiteral("Datenbank: ") + first.mid(1) + (rest.isEmpty() ? QString() : u'/' + rest);
    QString windows;
    if (first.startsWith(u'_'))
        windows = QStringLiteral("\\\\") + first.mid(1) + u'\\' + rest;
    else if (first.size() == 1)
        windows = first + QStringLiteral(":\\") + rest;
    else
        windows = first + u'\\' + rest;
    windows.replace(u'/', u'\\');
    return windows;
}
