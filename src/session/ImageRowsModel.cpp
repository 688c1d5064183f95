#include "ImageRowsModel.h"

#include <algorithm>

namespace orv {

ImageRowsModel::ImageRowsModel(const QString &transNo, QObject *parent) : QAbstractTableModel(parent), m_transNo(transNo) {}

const QStringList &ImageRowsModel::headers()
{
    static const QStringList h{QStringLiteral("Status"),        QStringLiteral("Type"),   QStringLiteral("FileName"),
                               QStringLiteral("Server"),        QStringLiteral("Folder Server"),
                               QStringLiteral("FileID"),        QStringLiteral("FileDir")};
    return h;
}

int ImageRowsModel::widthOf(int column)
{
    static constexpr int widths[ColumnCount]{1100, 1300, 2000, 1100, 1800, 1100, 1800};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

int ImageRowsModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : count(); }
int ImageRowsModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant ImageRowsModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= count())
        return {};
    return m_rows[index.row()].row.cells().value(index.column());
}

QVariant ImageRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal)
        return headers().value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

QList<ImageRow> ImageRowsModel::rows() const
{
    QList<ImageRow> all;
    all.reserve(m_rows.size());
    for (const Entry &e : m_rows)
        all << e.row;
    return all;
}

QList<ImageRow> ImageRowsModel::rowsSince(quint64 mark) const
{
    QList<ImageRow> since;
    for (const Entry &e : m_rows)
        if (e.serial >= mark)
            since << e.row;
    return since;
}

qsizetype ImageRowsModel::countWithStatus(const QString &status) const
{
    return std::count_if(m_rows.cbegin(), m_rows.cend(), [&](const Entry &e) { return e.row.status == status; });
}

void ImageRowsModel::append(const ImageRow &row)
{
    beginInsertRows({}, count(), count());
    m_rows.append({row, m_next++});
    endInsertRows();
}

void ImageRowsModel::append(const QList<ImageRow> &rows)
{
    if (rows.isEmpty())
        return;
    beginInsertRows({}, count(), count() + int(rows.size()) - 1);
    for (const ImageRow &r : rows)
        m_rows.append({r, m_next++});
    endInsertRows();
}

void ImageRowsModel::removeAt(int index)
{
    if (index < 0 || index >= count())
        return;
    beginRemoveRows({}, index, index);
    m_rows.removeAt(index);
    endRemoveRows();
}

void ImageRowsModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void ImageRowsModel::reload(const QList<ImageRow> &saved, quint64 keepNewFrom)
{
    QList<Entry> kept;
    for (const Entry &e : std::as_const(m_rows))
        if (e.serial >= keepNewFrom && e.row.status == kStatusNew)
            kept << e;
    beginResetModel();
    m_rows.clear();
    for (const ImageRow &r : saved)
        m_rows.append({r, m_next++});
    for (const Entry &e : std::as_const(kept))
        m_rows.append({e.row, m_next++});
    endResetModel();
}

} // namespace orv
