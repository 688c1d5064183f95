#pragma once

#include "SendQueue.h"

#include <QAbstractTableModel>

namespace orv {

// The send queue of this workstation as the status window shows it: one row per entry, newest
// first. refresh() reads the queue on a job of the session (never on the GUI thread) and
// replaces the rows when the read ends; the model follows the background sender on its own.
class SendQueueModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Queued, Exam, Image, Archive, State, Attempts, NextAttempt, Status, Instance, ColumnCount };
    explicit SendQueueModel(QObject *parent = nullptr);
    // The kind of the jobs that read the queue for the view.
    static QString jobKind() { return QStringLiteral("send queue view"); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const QueueEntry &entry(int row) const { return m_entries.at(row); }
    // Counts by state, e.g. {"queued": 3, "sent": 10}.
    QMap<QString, int> counts() const;

    void refresh();
    // Queues the entries again / removes them (jobs of the session); the message of the first
    // refusal goes to `refused`, then the model refreshes and the sender is woken.
    void retry(const QList<qint64> &ids);
    void remove(const QList<qint64> &ids);

signals:
    void refreshed();
    void refused(const QString &message);

private:
    void change(const QList<qint64> &ids, bool retry);
    void setEntries(QList<QueueEntry> entries);
    QList<QueueEntry> m_entries;
    bool m_reading = false;
    bool m_again = false;
};

} // namespace orv
