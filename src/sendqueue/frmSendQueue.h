#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTableView;

namespace orv {

class SendQueueModel;

// The send queue window ("Send Queue"): what this workstation has queued for the archive and
// what became of it (queued, sent, committed, failed, timed out), with the last status of each
// image; "Retry" queues failed or timed-out images again, "Remove" takes images off the queue.
// A view of SendQueueModel; one instance per run, closing only hides it.
class frmSendQueue : public QWidget
{
    Q_OBJECT
public:
    static frmSendQueue *instance();
    static frmSendQueue *existing();

    SendQueueModel *model() const { return m_model; }

    QTableView *grdQueue = nullptr;
    QLabel *lblCounts = nullptr;
    QPushButton *cmdRetry = nullptr, *cmdRemove = nullptr, *cmdRefresh = nullptr, *cmdClose = nullptr;

protected:
    void showEvent(QShowEvent *event) override;

private:
    frmSendQueue();
    QList<qint64> selectedIds() const;
    void showCounts();
    SendQueueModel *m_model = nullptr;
};

} // namespace orv
