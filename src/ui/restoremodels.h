// SPDX-License-Identifier: GPL-3.0-or-later
// The restore window's tree of sets and folders and its file list, as item models over the selection model.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>

#include <vector>

class RestoreModel;

/// The four state images of the tree (SetNode::State); rows use the first two.
namespace StateImages
{
QIcon icon(int state);
/// The state an icon of the tree or list stands for (the Qt::UserRole of every index).
constexpr int StateRole = Qt::UserRole + 1;
} // namespace StateImages

/**
 * The sets and their folders: one column, the node's text with its state image. It holds no
 * state of its own; after the selection model changed, nodesChanged() repaints the nodes whose
 * state is not what it was.
 */
class SetTreeModel : public QAbstractItemModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SetTreeModel)

public:
    explicit SetTreeModel(RestoreModel &model, QObject *parent = nullptr);

    /// Before and after the selection model is refilled.
    void beginRefill();
    void endRefill();

    /// The node states as they are now, to be handed to nodesChanged() after a change.
    std::vector<int> states() const;
    /// Tells the views about every node whose state differs from before.
    void nodesChanged(const std::vector<int> &before);

    QModelIndex indexOf(int node) const;
    static int nodeOf(const QModelIndex &index);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    RestoreModel &m_model;
    bool m_refilling = false;
};

/**
 * The files of one folder node: "Name" with the tick image, "Größe", "Datum", sorted by name.
 * It keeps only which records are its rows; their texts and ticks come from the records.
 */
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileListModel)

public:
    explicit FileListModel(RestoreModel &model, QObject *parent = nullptr);

    /// Shows the files of node (-1: none).
    void setNode(int node);
    int node() const
    {
        return m_node;
    }
    int recordAt(int row) const;
    /// The ticks of every row may have changed.
    void ticksChanged();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    RestoreModel &m_model;
    int m_node = -1;
    QList<int> m_records;
};
