#pragma once

#include "TransactionStore.h"

#include "core/PagedRowsModel.h"

namespace orv {

// The transaction list: the rows of the list statement, fetched as the view needs them.
class TransactionListModel : public PagedRowsModel
{
    Q_OBJECT
public:
    static constexpr int ColumnCount = 13;

    explicit TransactionListModel(QObject *parent = nullptr);

    // Runs the statement and fetches the first rows; throws orv::Error when it fails
    // (the list is then empty). The connection must outlive the rows.
    void search(Connection &db, const Statement &statement);
    void clear();

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QString text(int row, int column) const;
    static QString header(int column);
    // Column widths of the grid in twips.
    static int widthTwips(int column);
};

} // namespace orv
