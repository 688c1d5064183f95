#include "TransactionListModel.h"

#include "outside/Error.h"

#include <limits>

namespace orv {

namespace {
struct Column
{
    int twips;
    const char *header;
};
const Column columns[TransactionListModel::ColumnCount] = {
    {900, "Trans. Id."}, {1200, "Trans. No."}, {700, "Modality"}, {1200, "Patient ID"}, {1200, "HospNum"},
    {2000, "Last Name"}, {2000, "First Name"}, {2000, "Middle Name"}, {1200, "Birth Date"}, {1700, "Sex"},
    {1300, "Exam"}, {2200, "StudyDate"}, {1200, "FileNo"},
};
} // namespace

TransactionListModel::TransactionListModel(QObject *parent) : QAbstractTableModel(parent) {}

QString TransactionListModel::header(int column)
{
    return QString::fromLatin1(columns[column].header);
}

int TransactionListModel::widthTwips(int column)
{
    return columns[column].twips;
}

namespace {
const QLatin1String select("SELECT ");
// Each read of a server asks for this many times more rows than the one before.
constexpr int TopGrowth = 8;
} // namespace

void TransactionListModel::clear()
{
    beginResetModel();
    m_cursor.reset();
    m_db = nullptr;
    m_statement = {};
    m_top = 0;
    m_cutAtTop = false;
    m_listed.clear();
    m_rows.clear();
    endResetModel();
}

QList<QStringList> TransactionListModel::readFirst(int top)
{
    const QString sql = top > 0 ? QStringLiteral("SELECT TOP %1 ").arg(top) + m_statement.sql.mid(select.size()) : m_statement.sql;
    auto cursor = m_db->openCursor(sql, m_statement.params);
    QList<QStringList> rows;
    while (cursor->fetch(FetchSize, rows)) {
    }
    m_top = top;
    m_cutAtTop = top > 0 && rows.size() == top;
    return rows;
}

QList<QStringList> TransactionListModel::unlisted(QList<QStringList> rows)
{
    QList<QStringList> out;
    for (QStringList &row : rows) {
        if (m_listed.contains(row.value(1)))
            continue;
        m_listed.insert(row.value(1));
        out << std::move(row);
    }
    return out;
}

void TransactionListModel::search(Connection &db, const Statement &statement)
{
    clear();
    // A server plans a read for its whole result and so sorts every row before it sends the
    // first; asked for the first rows only, it reads them in index order. Each read is taken
    // whole at once, so that other statements on the connection cannot cut it short. SQLite
    // hands rows out as it finds them, through one read left open.
    QList<QStringList> first;
    if (db.backend() != Backend::SQLite && statement.sql.startsWith(select, Qt::CaseInsensitive)) {
        m_db = &db;
        m_statement = statement;
        try {
            first = unlisted(readFirst(FetchSize));
        } catch (const Error &) {
            clear();
            throw;
        }
    } else {
        auto cursor = db.openCursor(statement.sql, statement.params);
        cursor->fetch(FetchSize, first);
        m_cursor = std::move(cursor);
    }
    beginResetModel();
    m_rows = std::move(first);
    endResetModel();
}

int TransactionListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TransactionListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TransactionListModel::text(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_rows[row].size())
        return {};
    return m_rows[row][column];
}

QVariant TransactionListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return text(index.row(), index.column());
}

QVariant TransactionListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return header(section);
}

bool TransactionListModel::canFetchMore(const QModelIndex &parent) const
{
    if (parent.isValid())
        return false;
    if (m_db)
        return m_cutAtTop;
    return m_cursor && !m_cursor->atEnd();
}

void TransactionListModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    QList<QStringList> more;
    try {
        if (m_db) {
            // Read again, further: the read repeats the rows listed (and only those, unless rows
            // came or went in between), which are skipped by number.
            const int top = m_top > std::numeric_limits<int>::max() / TopGrowth ? 0 : m_top * TopGrowth;
            more = unlisted(readFirst(top));
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
