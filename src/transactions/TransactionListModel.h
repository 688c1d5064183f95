#pragma once

#include "TransactionStore.h"

#include <QAbstractTableModel>

#include <QSet>

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
    // (the list is then empty). The statement's order must be total (it ends with a unique
    // column) and it must begin with "SELECT ": on a database server it is read in growing
    // first parts ("SELECT TOP n"), each skipping the transaction numbers already listed.
    // The connection must outlive the list's rows.
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
    // The statement's first `top` rows (every row when 0), read whole.
    QList<QStringList> readFirst(int top);
    // The rows whose transaction number is not listed yet, now counted as listed.
    QList<QStringList> unlisted(QList<QStringList> rows);

    std::unique_ptr<Cursor> m_cursor; // SQLite: the open read
    Connection *m_db = nullptr;       // a server: read in growing first parts
    Statement m_statement;
    int m_top = 0;                    // the last part's row limit; 0: it was the whole result
    bool m_cutAtTop = false;          // the last part ended at its limit: there may be more
    QSet<QString> m_listed;           // transaction numbers listed, when read in parts
    QList<QStringList> m_rows;
};

} // namespace orv
