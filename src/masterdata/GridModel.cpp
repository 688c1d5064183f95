#include "GridModel.h"

#include "outside/Error.h"

#include <limits>

namespace orv {

namespace {
const QLatin1String select("SELECT ");
constexpr int TopGrowth = 8;
} // namespace

GridModel::GridModel(QStringList headers, bool leadingBlank, QObject *parent)
    : QAbstractTableModel(parent), m_headers(std::move(headers)), m_leadingBlank(leadingBlank)
{
}

void GridModel::clear()
{
    beginResetModel();
    m_cursor.reset();
    m_db = nullptr;
    m_query = {};
    m_top = 0;
    m_more = false;
    m_rows.clear();
    m_fields.clear();
    endResetModel();
}

void GridModel::showEmpty()
{
    clear();
    beginResetModel();
    m_rows << QStringList();
    endResetModel();
}

QList<QStringList> GridModel::readFirst(int top)
{
    const QString sql = top > 0 ? QStringLiteral("SELECT TOP %1 ").arg(top) + m_query.sql.mid(select.size()) : m_query.sql;
    auto cursor = m_db->openCursor(sql, m_query.params);
    m_fields = cursor->columns();
    QList<QStringList> rows;
    while (cursor->fetch(FetchSize, rows)) {
    }
    m_top = top;
    m_more = top > 0 && rows.size() == top;
    return rows;
}

bool GridModel::search(Connection &db, const ListQuery &query)
{
    clear();
    QList<QStringList> first;
    ListQuery q = query;
    q.sql = q.sql.trimmed();
    try {
        if (db.backend() != Backend::SQLite && q.sql.startsWith(select, Qt::CaseInsensitive)) {
            // A server plans for the whole result unless asked for its first rows only.
            m_db = &db;
            m_query = q;
            first = readFirst(FetchSize);
        } else {
            auto cursor = db.openCursor(q.sql, q.params);
            m_fields = cursor->columns();
            cursor->fetch(FetchSize, first);
            m_cursor = std::move(cursor);
        }
    } catch (const Error &) {
        clear();
        throw;
    }
    beginResetModel();
    m_rows = std::move(first);
    endResetModel();
    return !m_rows.isEmpty();
}

QString GridModel::text(int row, int column) const
{
    if (m_leadingBlank)
        --column;
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_rows[row].size())
        return {};
    return m_rows[row][column];
}

int GridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int GridModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return std::max(int(m_headers.size()), int(m_fields.size()) + (m_leadingBlank ? 1 : 0));
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
    return field >= 0 && field < m_fields.size() ? m_fields.at(field) : QString();
}

bool GridModel::canFetchMore(const QModelIndex &parent) const
{
    if (parent.isValid())
        return false;
    if (m_db)
        return m_more;
    return m_cursor && !m_cursor->atEnd();
}

void GridModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    QList<QStringList> more;
    try {
        if (m_db) {
            // Read again, further, and keep the rows past those listed: the order is total.
            const int top = m_top > std::numeric_limits<int>::max() / TopGrowth ? 0 : m_top * TopGrowth;
            more = readFirst(top);
            more.remove(0, std::min(more.size(), m_rows.size()));
        } else {
            m_cursor->fetch(FetchSize, more);
        }
    } catch (const Error &e) {
        m_cursor.reset();
        m_db = nullptr;
        emit fetchFailed(e.description());
        return;
    }
    if (more.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size() + more.size() - 1));
    m_rows.append(more);
    endInsertRows();
}

} // namespace orv
