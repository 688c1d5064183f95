#pragma once

#include "outside/Connection.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <memory>

namespace orv {

// Text rows of a read, fetched as a view needs them, so that a read returning a million rows
// shows its first screen at once. On SQLite one read stays open and hands rows out as it finds
// them. A server plans a read for its whole result and sorts every row before it sends the
// first; asked for its first rows only, it reads them in index order: there a read beginning
// with "SELECT " is taken whole in growing first parts ("SELECT TOP n"), each skipping the rows
// already listed, so other statements on the connection cannot cut it short. Such a read must
// have a total order. The connection must outlive the rows.
class PagedRowsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int FetchSize = 200;

    using QAbstractTableModel::QAbstractTableModel;

    // The read's text of row `row`, field `field`; "" outside the rows.
    QString field(int row, int field) const;
    // The read's column names.
    const QStringList &fields() const { return m_fields; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    void fetchFailed(const QString &description);

protected:
    // Runs the read and takes its first rows (replacing the rows); throws orv::Error when it
    // fails, the rows then empty.
    void read(Connection &db, const QString &sql, const QVariantList &params);
    // Forgets the read and the rows (inside a model reset).
    void forget();
    QList<QStringList> &rows() { return m_rows; }
    // Of a part read again from the start, the rows not listed yet. Default: those past the
    // `listed` first ones (the order is total).
    virtual QList<QStringList> unlisted(QList<QStringList> part, qsizetype listed);

private:
    // The read's first `top` rows, read whole.
    QList<QStringList> readFirst(int top);

    std::unique_ptr<Cursor> m_cursor; // SQLite, or a read that is not a SELECT: the open read
    Connection *m_db = nullptr;       // a server: read in growing first parts
    QString m_sql;
    QVariantList m_params;
    int m_top = 0;                    // the last part's row limit
    bool m_cutAtTop = false;          // the last part ended at its limit: there may be more
    QStringList m_fields;
    QList<QStringList> m_rows;
};

} // namespace orv
