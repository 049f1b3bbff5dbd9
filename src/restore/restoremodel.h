// SPDX-License-Identifier: GPL-3.0-or-later
// The backup sets found in a folder: their folder tree, the files that can be restored, the selection.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <vector>

/**
 * One thing that can be selected for restore: a file of a copied set, an entry of an archive
 * of a compressed set, an empty folder of a set (folder set, no name), or a part of a set
 * that cannot be read (damage set): an archive (name: the archive's) or a folder that
 * cannot be listed (folder set). A damaged part is selected like a file so that a restore
 * of its folder reports it instead of passing over it.
 */
struct RestoreRecord {
    int node = -1; ///< the folder node that holds the file (for a folder record: the folder's own node)
    QString name; ///< file name (for an archive entry: the entry name)
    QDateTime date; ///< modification time, in UTC (for an archive entry: its day at 00:00 local time)
    qint64 size = 0; ///< bytes (for an archive entry: uncompressed)
    uint mode = 0; ///< permission bits as listed (for an archive entry: those of the archive)
    QString
        relativeFolder; ///< below the backup folder, beginning with the set folder: "B-T01071226-Buchhaltung/C/Daten/"
    QString archiveName; ///< the archive in relativeFolder that holds the entry ("Archive.zip" in any case)
    QString damage; ///< why this part of the set cannot be read, naming it; empty for what can be restored
    bool selected = false;
    bool fromArchive = false;
    bool folder = false; ///< the record stands for the folder relativeFolder itself

    /// A file or archive entry, as opposed to an empty folder or a damaged part.
    bool isFile() const
    {
        return !folder && damage.isEmpty();
    }
};

/// One folder of the tree; the top-level nodes are the sets.
struct SetNode {
    /// Selection states shown by the node's image.
    enum State { NoneSelected = 0, AllSelected = 1, PartlySelected = 2, NothingToSelect = 3 };

    QString text; ///< as the tree shows it (bytes of a name that are no text as "\xNN")
    QString folderName; ///< the folder's own name
    QString relativeFolder; ///< below the backup folder, ends with '/'
    int parent = -1;
    int row = 0; ///< the place among the parent's children (among the sets for a set)
    int level = 0; ///< 0 for a set, 1 for a drive, server, database or the root folder
    QList<int> children;
    QList<int> records;
    int state = NoneSelected;

    // Sets only.
    int setType = 0; ///< 1 to 4, from the type code B-T01 .. B-T04
    QString jobName;
    QDateTime setDate;
};

/// One row of the file list of a folder node.
struct RestoreRow {
    int record = -1;
    QString name; ///< readable: bytes that are no text as "\xNN"
    QString size; ///< "12 kB" from 1000 bytes on, else "999 Byte"
    QString date; ///< short date
    int image = 0; ///< 1 when selected
    QString damage; ///< for a part of the set that cannot be read: what and why (size and date are empty)
};

/**
 * The sets of one backup folder as the restore dialog shows them: a tree of set and folder
 * nodes, the restorable files of each folder, and their tri-state selection. Filled by
 * scanBackupFolder() (setfinder.h); the selection lives in the records, the node states
 * only show it. The restore walk (restorewalk.h) takes the selected records.
 */
class RestoreModel
{
public:
    void clear();

    /// The folder that was scanned, ending with '/'.
    QString backupFolder() const
    {
        return m_backupFolder;
    }
    void setBackupFolder(const QString &folder);

    /// " Vorhandene Sicherungen", with " - " + the job filter once a set was found.
    QString groupCaption() const
    {
        return m_groupCaption;
    }
    void setGroupCaption(const QString &caption)
    {
        m_groupCaption = caption;
    }
    int setsFound() const
    {
        return m_setsFound;
    }

    const std::vector<SetNode> &nodes() const
    {
        return m_nodes;
    }
    const SetNode &node(int index) const
    {
        return m_nodes[size_t(index)];
    }
    /// The set nodes in the order they were found.
    const QList<int> &topLevel() const
    {
        return m_topLevel;
    }
    const std::vector<RestoreRecord> &records() const
    {
        return m_records;
    }
    const RestoreRecord &record(int index) const
    {
        return m_records[size_t(index)];
    }

    /// Adds a node below parent (-1 for a set) and returns its index.
    int addNode(const SetNode &node);
    /// Adds a record to its folder node and returns its index.
    int addRecord(RestoreRecord record);
    /// Forgets the last nodes and records added, so that only the first nodeCount and recordCount stay.
    void truncate(size_t nodeCount, size_t recordCount);
    void countSet()
    {
        ++m_setsFound;
    }

    // Selection.

    /// A click on a node's image: state 0 selects everything below the node, any other state unselects it.
    void toggleNode(int node);
    /// A click on a row: toggles the record and shows the change in the tree.
    void toggleRecord(int record);
    /// Selects or unselects many records (of any folders) and shows the change in the tree once.
    void setRecordsSelected(const QList<int> &records, bool selected);
    /// Selects or unselects one record and shows the change in the tree.
    void setRecordSelected(int record, bool selected);
    /// Selects or unselects every record at and below node.
    void setNewStatus(int node, bool selected);
    /// The state of node from its own records and the states of its direct children.
    void checknodes(int node);
    /// Recomputes the states of every ancestor of node.
    void setNewUpperNodeStatus(int node);
    /**
     * Counts the selected files and their bytes for the status bar text it returns, and
     * remembers for the restore button how many records are selected (empty folders and
     * damaged parts included, since a restore of them does something too).
     */
    QString updateStatusBar();
    /// The count the restore button looks at; 100 until the first selection change.
    int selectedCount() const
    {
        return m_selectedCount;
    }

    /// The file list of node, sorted by name: its files and damaged parts; an empty folder has no row.
    QList<RestoreRow> rows(int node) const;
    /// The records of rows(node), in the same order, without making their texts.
    QList<int> rowRecords(int node) const;
    /// The row of one record as the file list shows it.
    RestoreRow row(int record) const;

    // Places.

    /// The relative folder without its set folder: "C/Daten/", "_srv/ablage/", "-kunden/", "root/home/anna/".
    static QString savedPlace(const QString &relativeFolder);
    /**
     * A saved place as users know it: "C:\Daten\", "\\srv\ablage\", "/home/anna/" and
     * "Datenbank: kunden" for a database folder.
     */
    static QString placeText(const QString &savedPlace);

private:
    QString m_backupFolder;
    QString m_groupCaption;
    int m_setsFound = 0;
    int m_selectedCount = 100;
    std::vector<SetNode> m_nodes;
    QList<int> m_topLevel;
    std::vector<RestoreRecord> m_records;
};
