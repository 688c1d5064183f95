#pragma once

#include "MasterDataStore.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <memory>

namespace orv {

// The rows of a list read, bound to a grid and fetched as the grid needs them, so that a search
// over a large table shows its first screen at once. With a leading blank column the fields
// fill the columns from 1 (column 0 is the grid's hidden fixed column). A grid with headers for
// fewer columns than the read returns shows the extra fields under their field names.
class GridModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int FetchSize = 200;

    GridModel(QStringList headers, bool leadingBlank, QObject *parent = nullptr);

    // Runs the read and fetches its first rows; returns false when it found nothing. Throws
    // orv::Error when it fails (the list is then empty). A read beginning with "SELECT " must
    // have a total order: on a database server it is read in growing first parts.
    bool search(Connection &db, const ListQuery &query);
    void clear();
    // One blank row: the two-row grid (headers and an empty line) of a search that found nothing.
    void showEmpty();

    QString text(int row, int column) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    void fetchFailed(const QString &description);

private:
    QList<QStringList> readFirst(int top);

    QStringList m_headers;
    QStringList m_fields;
    bool m_leadingBlank;
    std::unique_ptr<Cursor> m_cursor; // SQLite, or a read that is not a SELECT
    Connection *m_db = nullptr;       // a server, read in growing first parts
    ListQuery m_query;
    int m_top = 0;
    bool m_more = false;
    QList<QStringList> m_rows;
};

} // namespace orv
