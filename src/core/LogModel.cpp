#include "LogModel.h"

#include <QCoreApplication>
#include <QThread>

namespace orv {

LogModel::LogModel(QObject *parent) : QAbstractListModel(parent)
{
    if (!parent)
        if (const QCoreApplication *app = QCoreApplication::instance())
            moveToThread(app->thread());
}

int LogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant LogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_lines.size() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return m_lines.at(index.row());
}

void LogModel::append(const QString &line)
{
    if (QThread::currentThread() == thread())
        insertLine(line);
    else
        QMetaObject::invokeMethod(this, [this, line] { insertLine(line); }, Qt::QueuedConnection);
}

void LogModel::clear()
{
    if (m_lines.isEmpty())
        return;
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

void LogModel::insertLine(const QString &line)
{
    const int row = int(m_lines.size());
    beginInsertRows(QModelIndex(), row, row);
    m_lines.append(line);
    endInsertRows();
    emit lineAdded(line);
}

} // namespace orv
