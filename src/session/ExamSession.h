#pragma once

#include "ImageRowsModel.h"
#include "ImageSetModel.h"
#include "JobRunner.h"
#include "OpenTransaction.h"

#include <QHash>
#include <QObject>
#include <QPointer>

namespace orv {

// What the operator works on, beneath the windows: the open transaction, the image rows of each
// transaction, the viewer's image set and the runner of background work. Windows show these
// models and call the session's domain classes; a job delivers its results to the rows of the
// transaction it was started for (while that transaction is open, also to the viewer's image
// set), never to whatever a window shows. GUI thread only.
//
// Rows models live while their transaction is open or has work running; the rows of the open
// exam follow its number while it is edited.
class ExamSession : public QObject
{
    Q_OBJECT
public:
    explicit ExamSession(QObject *parent = nullptr);
    ~ExamSession() override;

    OpenTransaction &transaction() { return m_transaction; }
    QString openTransNo() const { return m_transaction.value(OpenTransaction::TransNo); }
    bool isOpen(const QString &transNo) const { return openTransNo() == transNo; }

    // The rows of a transaction, created empty on first use.
    ImageRowsModel *rows(const QString &transNo);
    // The rows of the open transaction.
    ImageRowsModel *openRows() { return rows(openTransNo()); }
    // The rows of a transaction if the session holds them, else nullptr.
    ImageRowsModel *existingRows(const QString &transNo) const { return m_rows.value(transNo); }
    // Appends a row to a transaction's rows: the one way a captured, imported or listed file
    // enters a list. While "Maintenance Mode" is on it traces the row ("A", the seven values
    // joined by " -- ", "b").
    void addImageRow(const QString &transNo, const ImageRow &row);

    ImageSetModel &images() { return m_images; }
    JobRunner &jobs() { return m_jobs; }

    // Another exam is being opened in the editor (a new or a loaded transaction): its rows start
    // afresh (unless work of that number is running) and the viewer's image set is emptied.
    void beginExam();

    // What ending the program now would cut short or lose, one line each: background work
    // running (durable jobs excepted: the send queue keeps what its passes and reads have not
    // done) and New rows not saved. Empty when nothing is.
    QStringList unfinishedWork() const;

    // Lines of a running folder import, for the list that shows the transaction.
    void appendImportLog(const QString &transNo, const QString &text);

signals:
    // The open transaction's rows are now `model` (the number changed or another exam opened).
    void openRowsChanged(orv::ImageRowsModel *model);
    void importLogAppended(const QString &transNo, const QString &text);
    // New rows (captured or imported images) were added to the transaction's list.
    void imagesAdded(const QString &transNo);

private:
    void transNoChanged(const QString &transNo);
    void prune();

    OpenTransaction m_transaction;
    ImageSetModel m_images;
    JobRunner m_jobs;
    QHash<QString, ImageRowsModel *> m_rows;
    QPointer<ImageRowsModel> m_openRows;
};

// The session of this run.
ExamSession &session();
// Ends the session of this run (waits for its work); the next session() starts a new one. Tests.
void resetSession();

} // namespace orv
