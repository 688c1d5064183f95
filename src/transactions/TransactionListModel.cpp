#include "TransactionListModel.h"

#include "outside/Error.h"

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

void TransactionListModel::clear()
{
    beginResetModel();
    m_cursor.reset();
    m_rows.clear();
    endResetModel();
}

void TransactionListModel::search(Connection &db, const Statement &statement)
{
    clear();
    auto cursor = db.openCursor(statement.sql, statement.params);
    QList<QStringList> first;
    cursor->fetch(FetchSize, first);
    beginResetModel();
    m_cursor = std::move(cursor);
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
    return !parent.isValid() && m_cursor && !m_cursor->atEnd();
}

void TransactionListModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    QList<QStringList> more;
    try {
        m_cursor->fetch(FetchSize, more);
    } catch (const Error &e) {
        m_cursor.reset();
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
