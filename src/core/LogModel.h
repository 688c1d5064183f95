#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace orv {

// The log of this run: one row per line, in the order the lines arrived. append() may be called
// from any thread; a line appended on another thread is handed to the thread the model lives on
// (the GUI thread), so the lines of one thread arrive in the order they were appended. Rows
// change, and every signal is emitted, only on the model's thread.
class LogModel : public QAbstractListModel
{
    Q_OBJECT
public:
    // The model lives on the application's thread, whichever thread creates it.
    explicit LogModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void append(const QString &line);
    // Model thread only.
    QStringList lines() const { return m_lines; }
    void clear();

signals:
    // Emitted after the line's row was inserted.
    void lineAdded(const QString &line);

private:
    void insertLine(const QString &line);

    QStringList m_lines;
};

} // namespace orv
