#include "EntryListModel.h"

#include "archivers/ListingText.h"

#include <algorithm>
#include <numeric>

namespace salvo {

EntryListModel::EntryListModel(QObject *parent) : QAbstractTableModel(parent) {}

void EntryListModel::reset(const QString &typeTag)
{
    beginResetModel();
    m_typeTag = typeTag;
    m_sortColumn = -1;
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_order.clear();
    m_order.shrink_to_fit();
    endResetModel();
}

void EntryListModel::append(const QVector<ListedEntry> &entries)
{
    if (entries.isEmpty())
        return;
    const int first = static_cast<int>(m_order.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(entries.size()) - 1);
    for (const ListedEntry &e : entries) {
        m_order.push_back(static_cast<int>(m_entries.size()));
        m_entries.push_back(e);
    }
    endInsertRows();
}

QString EntryListModel::entryName(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return at(row).name;
}

QStringList EntryListModel::entryNames() const
{
    QStringList names;
    names.reserve(static_cast<qsizetype>(m_entries.size()));
    for (const ListedEntry &e : m_entries)
        names << e.name;
    return names;
}

void EntryListModel::sortBy(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    resort();
}

void EntryListModel::resort()
{
    if (!isSorted())
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> entryOf;
    for (const QModelIndex &i : before)
        entryOf.push_back(m_order[static_cast<size_t>(i.row())]);
    sortOrderOfRows();
    std::vector<int> rowOf(m_entries.size());
    for (size_t r = 0; r < m_order.size(); ++r)
        rowOf[static_cast<size_t>(m_order[r])] = static_cast<int>(r);
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i)
        after << index(rowOf[static_cast<size_t>(entryOf[static_cast<size_t>(i)])], before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void EntryListModel::sortOrderOfRows()
{
    std::iota(m_order.begin(), m_order.end(), 0);
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    if (m_sortColumn == NameColumn) {
        std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) {
            const int c = QString::compare(m_entries[static_cast<size_t>(a)].name,
                                           m_entries[static_cast<size_t>(b)].name, Qt::CaseInsensitive);
            return descending ? c > 0 : c < 0;
        });
        return;
    }
    std::vector<qint64> keys(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const ListValues v = listValues(m_entries[i].toComponentEntry(), m_typeTag);
        switch (m_sortColumn) {
        case DateColumn: keys[i] = v.date; break;
        case OriginalSizeColumn: keys[i] = v.originalSize; break;
        case CompressedSizeColumn: keys[i] = v.compressedSize; break;
        default: keys[i] = v.ratioTenths; break;
        }
    }
    std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) {
        const qint64 x = keys[static_cast<size_t>(a)], y = keys[static_cast<size_t>(b)];
        return descending ? x > y : x < y;
    });
}

int EntryListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_order.size());
}

int EntryListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString EntryListModel::readableName(const QString &name)
{
    QString shown = name;
    for (QChar &c : shown) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode()); // the control pictures: "␊" for a line break
        else if (c.unicode() == 0x7f)
            c = QChar(0x2421);
    }
    return shown;
}

QVariant EntryListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == NameColumn || index.column() == DateColumn
            ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
            : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const ListedEntry &e = at(index.row());
    if (index.column() == NameColumn && m_typeTag != QLatin1String("BEL"))
        return readableName(e.name);
    const ListRow row = listRow(e.toComponentEntry(), m_typeTag);
    switch (index.column()) {
    case NameColumn: return row.name;
    case DateColumn: return row.date;
    case OriginalSizeColumn: return row.originalSize;
    case CompressedSizeColumn: return row.compressedSize;
    default: return row.ratio;
    }
}

QVariant EntryListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const kHeaders[] = {"FileName", "Date", "OriginalSize", "CompressionSize", "Ratio"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kHeaders[section]) : QVariant();
}

} // namespace salvo
