#pragma once
// The rows of the content viewer: one per archive entry, five columns (name,
// date, original size, compressed size, ratio). Rows are kept as numbers and
// formatted only when shown, so a list of 100,000 entries stays small and
// fills in batches. Sorting is by the values the rows show: names as text,
// the date by time, sizes and the ratio by number ("-" before everything).
#include "app/ArchiveListing.h"

#include <QAbstractTableModel>

#include <vector>

namespace salvo {

class EntryListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, DateColumn, OriginalSizeColumn, CompressedSizeColumn, RatioColumn, ColumnCount };

    explicit EntryListModel(QObject *parent = nullptr);

    // Empties the list; `typeTag` formats the rows that follow.
    void reset(const QString &typeTag);
    void append(const QVector<ListedEntry> &entries);

    // The entry name of a row as stored in the archive (not as shown).
    QString entryName(int row) const;
    QStringList entryNames() const;

    // Sorts by a column. Rows that arrive later go to the end until resort().
    void sortBy(int column, Qt::SortOrder order);
    void resort();
    bool isSorted() const { return m_sortColumn >= 0; }
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // A name as the list shows it: control characters as visible symbols.
    static QString readableName(const QString &name);

private:
    const ListedEntry &at(int row) const { return m_entries[m_order[static_cast<size_t>(row)]]; }
    void sortOrderOfRows();

    QString m_typeTag;
    std::vector<ListedEntry> m_entries;
    std::vector<int> m_order; // row -> entry
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

} // namespace salvo
