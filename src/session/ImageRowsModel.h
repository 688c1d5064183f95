#pragma once

#include "ImageRow.h"

#include <QAbstractTableModel>
#include <QList>

namespace orv {

// The image rows of one transaction, as the image list's grid shows them: seven columns
// (Status, Type, FileName, Server, Folder Server, FileID, FileDir). Rows are 0-based here; the
// grid numbers them from 1 below its header. GUI thread only.
class ImageRowsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColStatus, ColType, ColFileName, ColServer, ColServerFolder, ColFileId, ColFileDir, ColumnCount };

    explicit ImageRowsModel(const QString &transNo, QObject *parent = nullptr);

    QString transNo() const { return m_transNo; }
    void setTransNo(const QString &transNo) { m_transNo = transNo; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    int count() const { return int(m_rows.size()); }
    ImageRow row(int index) const { return index >= 0 && index < count() ? m_rows[index].row : ImageRow(); }
    QList<ImageRow> rows() const;
    qsizetype countWithStatus(const QString &status) const;
    void append(const ImageRow &row);
    void append(const QList<ImageRow> &rows);
    void removeAt(int index);
    void clear();

    // A mark of the rows present now: rows appended later compare greater.
    quint64 mark() const { return m_next; }
    // Rows appended at or after `mark`.
    QList<ImageRow> rowsSince(quint64 mark) const;
    // Rebuilds the rows from `saved`, then appends again the New rows appended at or after
    // `keepNewFrom` (they were not part of what the saved rows reflect).
    void reload(const QList<ImageRow> &saved, quint64 keepNewFrom = ~quint64(0));

    static const QStringList &headers();
    // Column widths in twips.
    static int widthOf(int column);

private:
    struct Entry
    {
        ImageRow row;
        quint64 serial;
    };
    QString m_transNo;
    QList<Entry> m_rows;
    quint64 m_next = 1;
};

} // namespace orv
