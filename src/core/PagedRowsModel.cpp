#include "PagedRowsModel.h"

#include "outside/Error.h"

#include <limits>

namespace orv {

namespace {
const QLatin1String select("SELECT ");
// Each read of a server asks for this many times more rows than the one before.
constexpr int TopGrowth = 8;
} // namespace

QString PagedRowsModel::field(int row, int field) const
{
    if (row < 0 || row >= m_rows.size() || field < 0 || field >= m_rows[row].size())
        return {};
    return m_rows[row][field];
}

int PagedRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

void PagedRowsModel::forget()
{
    m_cursor.reset();
    m_db = nullptr;
    m_sql.clear();
    m_params.clear();
    m_top = 0;
    m_cutAtTop = false;
    m_fields.clear();
    m_rows.clear();
}

QList<QStringList> PagedRowsModel::unlisted(QList<QStringList> part, qsizetype listed)
{
    part.remove(0, std::min(part.size(), listed));
    return part;
}

QList<QStringList> PagedRowsModel::readFirst(int top)
{
    const QString sql = top > 0 ? QStringLiteral("SELECT TOP %1 ").arg(top) + m_sql.mid(select.size()) : m_sql;
    auto cursor = m_db->openCursor(sql, m_params);
    m_fields = cursor->columns();
    QList<QStringList> rows;
    while (cursor->fetch(FetchSize, rows)) {
    }
    m_top = top;
    m_cutAtTop = top > 0 && rows.size() == top;
    return rows;
}

void PagedRowsModel::read(Connection &db, const QString &sql, const QVariantList &params)
{
    beginResetModel();
    forget();
    endResetModel();
    QList<QStringList> first;
    const QString trimmed = sql.trimmed();
    try {
        if (db.backend() != Backend::SQLite && trimmed.startsWith(select, Qt::CaseInsensitive)) {
            m_db = &db;
            m_sql = trimmed;
            m_params = params;
            first = unlisted(readFirst(FetchSize), 0);
        } else {
            auto cursor = db.openCursor(sql, params);
            m_fields = cursor->columns();
            cursor->fetch(FetchSize, first);
            m_cursor = std::move(cursor);
        }
    } catch (const Error &) {
        beginResetModel();
        forget();
        endResetModel();
        throw;
    }
    beginResetModel();
    m_rows = std::move(first);
    endResetModel();
}

bool PagedRowsModel::canFetchMore(const QModelIndex &parent) const
{
    if (parent.isValid())
        return false;
    if (m_db)
        return m_cutAtTop;
    return m_cursor && !m_cursor->atEnd();
}

void PagedRowsModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    QList<QStringList> more;
    try {
        if (m_db) {
            // Read again, further, and keep the rows not listed yet.
            const int top = m_top > std::numeric_limits<int>::max() / TopGrowth ? 0 : m_top * TopGrowth;
            more = unlisted(readFirst(top), m_rows.size());
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
