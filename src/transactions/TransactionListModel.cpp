#include "TransactionListModel.h"

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

TransactionListModel::TransactionListModel(QObject *parent) : PagedRowsModel(parent) {}

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
    forget();
    endResetModel();
}

void TransactionListModel::search(Connection &db, const Statement &statement)
{
    read(db, statement.sql, statement.params);
}

int TransactionListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TransactionListModel::text(int row, int column) const
{
    return field(row, column);
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

} // namespace orv
