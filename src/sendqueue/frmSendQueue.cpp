#include "frmSendQueue.h"

#include "core/CoreRoutines.h"
#include "SendQueueModel.h"
#include "core/WindowHelpers.h"
#include "outside/Prompter.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &holder = windowInstance<frmSendQueue>;
} // namespace

frmSendQueue *frmSendQueue::instance()
{
    auto &w = holder();
    if (!w)
        w = new frmSendQueue();
    return w;
}

frmSendQueue *frmSendQueue::existing() { return holder(); }

frmSendQueue::frmSendQueue()
{
    setObjectName(QStringLiteral("frmSendQueue"));
    setWindowTitle(QStringLiteral("Send Queue"));
    m_model = new SendQueueModel(this);
    auto *layout = new QVBoxLayout(this);
    grdQueue = new QTableView(this);
    grdQueue->setObjectName(QStringLiteral("grdQueue"));
    grdQueue->setModel(m_model);
    grdQueue->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdQueue->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grdQueue->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdQueue->setAlternatingRowColors(true);
    grdQueue->verticalHeader()->hide();
    grdQueue->verticalHeader()->setDefaultSectionSize(grdQueue->fontMetrics().height() + 6);
    grdQueue->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(grdQueue, 1);

    auto *bottom = new QHBoxLayout;
    lblCounts = new QLabel(this);
    lblCounts->setObjectName(QStringLiteral("lblCounts"));
    bottom->addWidget(lblCounts, 1);
    cmdRetry = namedControl<QPushButton>(this, "cmdRetry", QStringLiteral("&Retry"));
    cmdRemove = namedControl<QPushButton>(this, "cmdRemove", QStringLiteral("Re&move"));
    cmdRefresh = namedControl<QPushButton>(this, "cmdRefresh", QStringLiteral("Re&fresh"));
    cmdClose = namedControl<QPushButton>(this, "cmdClose", QStringLiteral("&Close"));
    for (QPushButton *b : {cmdRetry, cmdRemove, cmdRefresh, cmdClose})
        bottom->addWidget(b);
    layout->addLayout(bottom);

    connect(cmdRetry, &QPushButton::clicked, this, [this] { m_model->retry(selectedIds()); });
    connect(cmdRemove, &QPushButton::clicked, this, [this] {
        const QList<qint64> ids = selectedIds();
        if (ids.isEmpty())
            return;
        if (msgBox(this, QStringLiteral("Remove %1 image(s) from the send queue? They will not be sent.").arg(ids.size()),
                   Prompter::Icon::Question, QString(), Prompter::Yes | Prompter::No)
            == Prompter::Yes)
            m_model->remove(ids);
    });
    connect(cmdRefresh, &QPushButton::clicked, m_model, &SendQueueModel::refresh);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_model, &SendQueueModel::refreshed, this, &frmSendQueue::showCounts);
    connect(m_model, &SendQueueModel::refused, this, [this](const QString &m) { msgBox(this, m, Prompter::Icon::Warning); });
    resize(1180, 420);
    RestoreWindow(this);
}

void frmSendQueue::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_model->refresh();
}

QList<qint64> frmSendQueue::selectedIds() const
{
    QList<qint64> ids;
    for (const QModelIndex &i : grdQueue->selectionModel()->selectedRows())
        ids << m_model->entry(i.row()).id;
    return ids;
}

void frmSendQueue::showCounts()
{
    const QMap<QString, int> c = m_model->counts();
    QStringList parts;
    for (const QString &s : {QueueState::Queued, QueueState::Sent, QueueState::Committed, QueueState::Failed, QueueState::TimedOut})
        parts << QStringLiteral("%1 %2").arg(c.value(s)).arg(s);
    lblCounts->setText(parts.join(QStringLiteral(", ")));
    grdQueue->resizeColumnsToContents();
}

} // namespace orv
