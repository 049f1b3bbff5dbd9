// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/restoremodels.h"

#include "restore/restoremodel.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <map>

namespace StateImages
{

namespace
{

// A box 16 pixels wide: empty, ticked, partly ticked (a filled square), nothing to tick (grey, no mark).
QPixmap draw(int state)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(1.5, 1.5, 13, 13);
    const bool none = state == SetNode::NothingToSelect;
    p.setPen(QPen(none ? QColor(170, 170, 170) : QColor(80, 80, 80), 1));
    p.setBrush(none ? QColor(225, 225, 225) : QColor(Qt::white));
    p.drawRoundedRect(box, 2, 2);
    if (state == SetNode::AllSelected) {
        QPainterPath tick;
        tick.moveTo(4.2, 8.2);
        tick.lineTo(6.8, 11.0);
        tick.lineTo(11.8, 4.8);
        p.setPen(QPen(QColor(20, 110, 40), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    } else if (state == SetNode::PartlySelected) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 90, 160));
        p.drawRect(QRectF(4.5, 4.5, 7, 7));
    }
    return pixmap;
}

} // namespace

QIcon icon(int state)
{
    static const QIcon icons[4] = { QIcon(draw(0)), QIcon(draw(1)), QIcon(draw(2)), QIcon(draw(3)) };
    return state >= 0 && state < 4 ? icons[state] : QIcon();
}

} // namespace StateImages

SetTreeModel::SetTreeModel(RestoreModel &model, QObject *parent)
    : QAbstractItemModel(parent)
    , m_model(model)
{
}

void SetTreeModel::beginRefill()
{
    beginResetModel();
    // The views may paint while the scan fills the model: until it is done they see nothing.
    m_refilling = true;
}

void SetTreeModel::endRefill()
{
    m_refilling = false;
    endResetModel();
}

std::vector<int> SetTreeModel::states() const
{
    std::vector<int> states;
    states.reserve(m_model.nodes().size());
    for (const SetNode &n : m_model.nodes())
        states.push_back(n.state);
    return states;
}

void SetTreeModel::nodesChanged(const std::vector<int> &before)
{
    if (m_refilling || before.size() != m_model.nodes().size())
        return;
    // One signal per parent for the rows that changed there, not one per node.
    std::map<int, std::pair<int, int>> ranges;
    for (size_t i = 0; i < before.size(); ++i) {
        const SetNode &n = m_model.node(int(i));
        if (n.state == before[i])
            continue;
        auto it = ranges.find(n.parent);
        if (it == ranges.end())
            ranges.emplace(n.parent, std::make_pair(n.row, n.row));
        else
            it->second = { std::min(it->second.first, n.row), std::max(it->second.second, n.row) };
    }
    for (const auto &[parent, range] : ranges) {
        const QModelIndex p = parent < 0 ? QModelIndex() : indexOf(parent);
        emit dataChanged(index(range.first, 0, p), index(range.second, 0, p), { Qt::DecorationRole, StateImages::StateRole });
    }
}

QModelIndex SetTreeModel::indexOf(int node) const
{
    if (m_refilling || node < 0 || size_t(node) >= m_model.nodes().size())
        return QModelIndex();
    return createIndex(m_model.node(node).row, 0, quintptr(node));
}

int SetTreeModel::nodeOf(const QModelIndex &index)
{
    return index.isValid() ? int(index.internalId()) : -1;
}

QModelIndex SetTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (m_refilling || column != 0 || row < 0)
        return QModelIndex();
    const QList<int> &rows = parent.isValid() ? m_model.node(nodeOf(parent)).children : m_model.topLevel();
    if (row >= rows.size())
        return QModelIndex();
    return createIndex(row, 0, quintptr(rows.at(row)));
}

QModelIndex SetTreeModel::parent(const QModelIndex &child) const
{
    if (m_refilling || !child.isValid())
        return QModelIndex();
    return indexOf(m_model.node(nodeOf(child)).parent);
}

int SetTreeModel::rowCount(const QModelIndex &parent) const
{
    if (m_refilling)
        return 0;
    if (!parent.isValid())
        return int(m_model.topLevel().size());
    return parent.column() == 0 ? int(m_model.node(nodeOf(parent)).children.size()) : 0;
}

int SetTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant SetTreeModel::data(const QModelIndex &index, int role) const
{
    if (m_refilling || !index.isValid())
        return QVariant();
    const SetNode &n = m_model.node(nodeOf(index));
    switch (role) {
    case Qt::DisplayRole:
        return n.text;
    case Qt::DecorationRole:
        return StateImages::icon(n.state);
    case StateImages::StateRole:
        return n.state;
    case Qt::ToolTipRole:
        return n.level == 0 ? QString() : RestoreModel::placeText(RestoreModel::savedPlace(n.relativeFolder));
    default:
        return QVariant();
    }
}

FileListModel::FileListModel(RestoreModel &model, QObject *parent)
    : QAbstractTableModel(parent)
    , m_model(model)
{
}

void FileListModel::setNode(int node)
{
    beginResetModel();
    m_node = node;
    m_records = node >= 0 ? m_model.rowRecords(node) : QList<int>();
    endResetModel();
}

int FileListModel::recordAt(int row) const
{
    return row >= 0 && row < m_records.size() ? m_records.at(row) : -1;
}

void FileListModel::ticksChanged()
{
    if (!m_records.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_records.size()) - 1, 0), { Qt::DecorationRole, StateImages::StateRole });
}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_records.size());
}

int FileListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    const int record = recordAt(index.row());
    if (record < 0)
        return QVariant();
    const RestoreRecord &r = m_model.record(record);
    if (index.column() == 0 && (role == Qt::DecorationRole || role == StateImages::StateRole)) {
        const int state = r.selected ? 1 : 0;
        return role == StateImages::StateRole ? QVariant(state) : QVariant(StateImages::icon(state));
    }
    if (role == Qt::ToolTipRole)
        return r.damage.isEmpty() ? QVariant() : QVariant(r.damage);
    if (role == Qt::TextAlignmentRole && index.column() == 1)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    const RestoreRow row = m_model.row(record);
    switch (index.column()) {
    case 0:
        return row.name;
    case 1:
        return row.damage.isEmpty() ? row.size : QStringLiteral("beschädigt");
    case 2:
        return row.date;
    default:
        return QVariant();
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0:
        return QStringLiteral("Name");
    case 1:
        return QStringLiteral("Größe");
    case 2:
        return QStringLiteral("Datum");
    default:
        return QVariant();
    }
}
