#pragma once

#include "outside/Connection.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <algorithm>
#include <memory>

class QTableView;

namespace orv {

// Text rows of a read, fetched as a view needs them, so that a read returning millions of rows
// shows its first screen at once and never holds more than the rows near the screen.
// rowCount() counts the rows known so far and grows as the view fetches more (canFetchMore,
// fetchMore). The text of a row is held only while the row lies in one of the parts last asked
// for, at most MaxParts parts' worth of rows. A part is as large as keeps the rows held under
// twice the rows the view shows (v, visibleRows()): floor((2v - 1) / 3), and never under v / 2,
// so that the rows on screen fit in two parts when the view reaches the last row and asks for
// the next part, and in three anywhere (3 * part < 2 * v for v > 3). The larger the part, the
// fewer reads a scroll through the list takes. Asking for a row not held reads its part at
// once, dropping the parts farthest from it.
// How parts are read:
//  - SQLite: one forward read on the connection hands out the parts in order; a part behind it is
//    read by running the read anew and passing over the rows before the part.
//  - PostgreSQL: a scrollable cursor on a connection of the model's own, in a read-only
//    transaction, so that no other statement of the workstation can cut it short; the rows are
//    those of the moment of the search. When that connection cannot be opened, a cursor held
//    on the given connection (its server computes the whole result when the search starts).
//  - SQL Server: a forward read on a connection of the model's own (on the given one when that
//    fails), read anew for a part behind it, as on SQLite.
// The given connection must outlive the read.
class PagedRowsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The rows shown by a view that never told its height.
    static constexpr int DefaultVisibleRows = 40;
    static constexpr int MaxParts = 3;

    using QAbstractTableModel::QAbstractTableModel;
    ~PagedRowsModel() override;

    // The read's text of row `row`, field `field`; "" outside the rows. Reads the row's part
    // when it is not held.
    QString field(int row, int field) const;
    // The read's column names.
    const QStringList &fields() const { return m_fields; }

    // The most rows the view shows at once, partial rows included (watchViewHeight()).
    void setVisibleRows(int rows);
    int visibleRows() const { return m_visible; }
    int partSize() const { return std::max((m_visible + 1) / 2, (2 * m_visible - 1) / 3); }
    // The rows whose text is held now.
    int heldRows() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    // A read failed after the search; the rows not held then read as "".
    void fetchFailed(const QString &description);

protected:
    // Runs the read and takes its first part (replacing the rows); throws orv::Error when it
    // fails, the rows then empty.
    void read(Connection &db, const QString &sql, const QVariantList &params);
    // Forgets the read and the rows (inside a model reset).
    void forget();
    // Holds `rows` as the whole result, without a read (inside a model reset, after forget()).
    void hold(QList<QStringList> rows);

private:
    struct Part
    {
        int first = 0;
        QList<QStringList> rows;
    };
    const QStringList *rowAt(int row);
    QList<QStringList> readRows(int first, int count);
    void keep(Part part, int near);
    void stopReading();
    // After a failed read: stops it and lets the own connection go.
    void readFailed();

    std::unique_ptr<Connection> m_ownDb;    // a server: the reads' own connection, kept between searches
    const Connection *m_ownDbOf = nullptr;  // the connection m_ownDb was opened beside
    std::unique_ptr<ScrollCursor> m_scroll; // PostgreSQL
    std::unique_ptr<Cursor> m_cursor;       // SQLite, SQL Server: the forward read
    Connection *m_cursorDb = nullptr;       // where the forward read runs
    QString m_sql;
    QVariantList m_params;
    qint64 m_cursorPos = 0; // rows the forward read has passed
    int m_known = 0;
    bool m_atEnd = true;
    int m_visible = DefaultVisibleRows;
    QStringList m_fields;
    QList<Part> m_parts;
};

// Tells `model` how many rows `view` shows, now and whenever the view's viewport is resized.
void watchViewHeight(QTableView *view, PagedRowsModel *model);

} // namespace orv
