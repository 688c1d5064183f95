#pragma once

#include "TransactionStore.h"

#include <QAbstractTableModel>

#include <memory>

namespace orv {

// The transaction list: the rows of the list statement, fetched as the view needs them, so that
// a search returning a million rows shows its first screen at once.
class TransactionListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int ColumnCount = 13;
    static constexpr int FetchSize = 200;

    explicit TransactionListModel(QObject *parent = nullptr);

    // Runs the statement and fetches the first rows; throws orv::Error when it fails
    // (the list is then empty).
    void search(Connection &db, const Statement &statement);
    void clear();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    QString text(int row, int column) const;
    static QString header(int column);
    // Column widths of the grid in twips.
    static int widthTwips(int column);

signals:
    void fetchFailed(const QString &description);

private:
    std::unique_ptr<Cursor> m_cursor;
    QList<QStringList> m_rows;
};

} // namespace orv
