#include "SendQueueModel.h"

#include "session/ExamSession.h"
#include "SendQueueRunner.h"
#include "core/SharedState.h"
#include "outside/Error.h"

#include <QBrush>
#include <QDateTime>
#include <QFileInfo>
#include <QPointer>

namespace orv {

namespace {
QString when(qint64 ms)
{
    return ms <= 0 ? QString() : QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("MM/dd/yyyy hh:mm:ss"));
}
} // namespace

SendQueueModel::SendQueueModel(QObject *parent) : QAbstractTableModel(parent)
{
    connect(&SendQueueRunner::instance(), &SendQueueRunner::changed, this, &SendQueueModel::refresh);
}

int SendQueueModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_entries.size()); }

int SendQueueModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant SendQueueModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const QueueEntry &e = m_entries.at(index.row());
    if (role == Qt::ForegroundRole && index.column() == State) {
        if (e.state == QueueState::Failed || e.state == QueueState::TimedOut)
            return QBrush(Qt::darkRed);
        if (e.state == QueueState::Committed)
            return QBrush(Qt::darkGreen);
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (Column(index.column())) {
    case Queued: return when(e.queuedAt);
    case Exam: return e.transNo;
    case Image:
        // A step message shows what it tells: "Procedure step IN PROGRESS (N-CREATE)".
        if (!e.service.isEmpty())
            return QStringLiteral("Procedure step %1 (%2)").arg(e.label, e.service);
        return role == Qt::ToolTipRole ? e.sourcePath : QFileInfo(e.sourcePath).fileName();
    case Archive: return QStringLiteral("%1@%2:%3").arg(e.peer.calledAe, e.peer.host).arg(e.peer.port);
    case State:
        if (e.state == QueueState::Sent && e.commit)
            return e.commitUid.isEmpty() ? QStringLiteral("sent, to be committed") : QStringLiteral("sent, commitment asked");
        return e.state;
    case Attempts: return e.attempts;
    case NextAttempt: return e.state == QueueState::Queued ? when(e.nextAttempt) : QString();
    case Status: return e.lastStatus;
    case Instance: return e.sopInstance;
    case ColumnCount: break;
    }
    return {};
}

QVariant SendQueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList names{QStringLiteral("Queued"), QStringLiteral("Exam"), QStringLiteral("Image"),
                                   QStringLiteral("Archive"), QStringLiteral("State"), QStringLiteral("Attempts"),
                                   QStringLiteral("Next attempt"), QStringLiteral("Last status"), QStringLiteral("SOP Instance UID")};
    return names.value(section);
}

QMap<QString, int> SendQueueModel::counts() const
{
    QMap<QString, int> c;
    for (const QueueEntry &e : m_entries)
        ++c[e.state];
    return c;
}

void SendQueueModel::refresh()
{
    if (m_reading) {
        m_again = true;
        return;
    }
    m_reading = true;
    m_again = false;
    ConnectionConfig config;
    try {
        config = state().db().config();
    } catch (const std::exception &) {
        m_reading = false;
        return; // no database: nothing to show
    }
    auto read = std::make_shared<QList<QueueEntry>>();
    auto problem = std::make_shared<QString>();
    QPointer<SendQueueModel> self(this);
    JobOptions options;
    options.exclusive = false;
    options.lane = jobKind();
    options.durable = true;
    options.durable = true;
    session().jobs().start(
        QString(), jobKind(),
        [config, read, problem](JobContext &) {
            try {
                auto db = Connection::open(config);
                *read = SendQueue(*db).entries();
            } catch (const std::exception &e) {
                *problem = describe(e);
            }
        },
        [self, read, problem] {
            if (!self)
                return;
            self->m_reading = false;
            if (!problem->isEmpty())
                emit self->refused(*problem);
            else
                self->setEntries(*read);
            if (self->m_again)
                self->refresh();
        },
        options);
}

void SendQueueModel::setEntries(QList<QueueEntry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
    emit refreshed();
}

void SendQueueModel::retry(const QList<qint64> &ids) { change(ids, true); }

void SendQueueModel::remove(const QList<qint64> &ids) { change(ids, false); }

void SendQueueModel::change(const QList<qint64> &ids, bool retry)
{
    if (ids.isEmpty())
        return;
    const ConnectionConfig config = state().db().config();
    auto problem = std::make_shared<QString>();
    QPointer<SendQueueModel> self(this);
    JobOptions options;
    options.exclusive = false;
    options.lane = jobKind();
    session().jobs().start(
        QString(), jobKind(),
        [config, ids, retry, problem](JobContext &) {
            auto db = Connection::open(config);
            SendQueue queue(*db);
            for (qint64 id : ids) {
                try {
                    retry ? queue.retry(id) : queue.remove(id);
                } catch (const std::exception &e) {
                    if (problem->isEmpty())
                        *problem = describe(e);
                }
            }
        },
        [self, problem, retry] {
            if (!self)
                return;
            if (!problem->isEmpty())
                emit self->refused(*problem);
            if (retry)
                SendQueueRunner::instance().kick();
            self->refresh();
        },
        options);
}

} // namespace orv
