#pragma once

#include "MasterDataStore.h"

#include "core/PagedRowsModel.h"

#include <QStringList>

namespace orv {

// The rows of a list read, bound to a grid and fetched as the grid needs them, so that a search
// over a large table shows its first screen at once. With a leading blank column the fields
// fill the columns from 1 (column 0 is the grid's hidden fixed column). A grid with headers for
// fewer columns than the read returns shows the extra fields under their field names.
class GridModel : public PagedRowsModel
{
    Q_OBJECT
public:
    GridModel(QStringList headers, bool leadingBlank, QObject *parent = nullptr);

    // Runs the read and fetches its first rows; returns false when it found nothing. Throws
    // orv::Error when it fails (the list is then empty).
    bool search(Connection &db, const ListQuery &query);
    void clear();
    // One blank row: the two-row grid (headers and an empty line) of a search that found nothing.
    void showEmpty();

    QString text(int row, int column) const;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QStringList m_headers;
    bool m_leadingBlank;
};

} // namespace orv
