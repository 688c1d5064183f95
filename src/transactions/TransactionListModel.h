#pragma once

#include "TransactionStore.h"

#include "core/PagedRowsModel.h"

#include <QSet>

namespace orv {

// The transaction list: the rows of the list statement, fetched as the view needs them.
class TransactionListModel : public PagedRowsModel
{
    Q_OBJECT
public:
    static constexpr int ColumnCount = 13;

    explicit TransactionListModel(QObject *parent = nullptr);

    // Runs the statement and fetches the first rows; throws orv::Error when it fails
    // (the list is then empty). The statement's order must be total (it ends with a unique
    // column) and it must begin with "SELECT ": on a database server each part read again
    // skips the transaction numbers already listed. The connection must outlive the rows.
    void search(Connection &db, const Statement &statement);
    void clear();

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QString text(int row, int column) const;
    static QString header(int column);
    // Column widths of the grid in twips.
    static int widthTwips(int column);

protected:
    // The rows whose transaction number is not listed yet, now counted as listed (rows come or
    // go between two parts: counting would skip or repeat them).
    QList<QStringList> unlisted(QList<QStringList> part, qsizetype listed) override;

private:
    QSet<QString> m_listed; // transaction numbers listed, when read in parts
};

} // namespace orv
