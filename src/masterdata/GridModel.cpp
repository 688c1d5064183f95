#include "GridModel.h"

namespace orv {

GridModel::GridModel(QStringList headers, bool leadingBlank, QObject *parent)
    : PagedRowsModel(parent), m_headers(std::move(headers)), m_leadingBlank(leadingBlank)
{
}

void GridModel::clear()
{
    beginResetModel();
    forget();
    endResetModel();
}

void GridModel::showEmpty()
{
    beginResetModel();
    forget();
    hold({QStringList()});
    endResetModel();
}

bool GridModel::search(Connection &db, const ListQuery &query)
{
    read(db, query.sql, query.params);
    return rowCount() > 0;
}

QString GridModel::text(int row, int column) const
{
    return field(row, m_leadingBlank ? column - 1 : column);
}

int GridModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return std::max(int(m_headers.size()), int(fields().size()) + (m_leadingBlank ? 1 : 0));
}

QVariant GridModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return text(index.row(), index.column());
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section < m_headers.size())
        return m_headers.at(section);
    const int field = section - (m_leadingBlank ? 1 : 0);
    return field >= 0 && field < fields().size() ? fields().at(field) : QString();
}

} // namespace orv
