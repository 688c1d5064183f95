#include "ExamSession.h"

#include "core/SharedState.h"
#include "outside/Prompter.h"

#include <memory>

namespace orv {

ExamSession::ExamSession(QObject *parent) : QObject(parent)
{
    connect(&m_transaction, &OpenTransaction::changed, this, [this](OpenTransaction::Field f, const QString &v) {
        if (f == OpenTransaction::TransNo)
            transNoChanged(v);
    });
    connect(&m_jobs, &JobRunner::jobFinished, this, [this] { prune(); });
}

ExamSession::~ExamSession()
{
    m_jobs.shutDown();
}

ImageRowsModel *ExamSession::rows(const QString &transNo)
{
    ImageRowsModel *&m = m_rows[transNo];
    if (!m) {
        m = new ImageRowsModel(transNo, this);
        ImageRowsModel *model = m;
        connect(model, &QAbstractItemModel::rowsInserted, this, [this, model](const QModelIndex &, int first, int last) {
            for (int i = first; i <= last; ++i)
                if (model->row(i).status == kStatusNew) {
                    emit imagesAdded(model->transNo());
                    return;
                }
        });
    }
    return m;
}

void ExamSession::addImageRow(const QString &transNo, const ImageRow &row)
{
    const bool trace = state().MaintenanceMode;
    if (trace) {
        msgBox(nullptr, QStringLiteral("A"));
        msgBox(nullptr, row.cells().join(QLatin1String(" -- ")));
    }
    rows(transNo)->append(row);
    if (trace)
        msgBox(nullptr, QStringLiteral("b"));
}

void ExamSession::beginExam()
{
    m_images.clear();
    m_openRows = nullptr;
    // The number of the exam being opened is set next; until then the rows are those of its
    // current number, started afresh.
    const QString no = openTransNo();
    if (!m_jobs.hasJobs(no))
        rows(no)->clear();
    m_openRows = rows(no);
    emit openRowsChanged(m_openRows);
}

void ExamSession::transNoChanged(const QString &transNo)
{
    ImageRowsModel *current = m_openRows;
    ImageRowsModel *target = m_rows.value(transNo);
    const bool targetHasWork = target && m_jobs.hasJobs(transNo);
    if (current && current->transNo() != transNo && !m_jobs.hasJobs(current->transNo()) && !targetHasWork) {
        // The rows follow the number as it is typed or generated.
        m_rows.remove(current->transNo());
        if (target && target != current)
            target->deleteLater();
        current->setTransNo(transNo);
        m_rows.insert(transNo, current);
    } else {
        current = rows(transNo);
    }
    m_openRows = current;
    prune();
    emit openRowsChanged(current);
}

void ExamSession::prune()
{
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (it.value() != m_openRows && !m_jobs.hasJobs(it.key())) {
            it.value()->deleteLater();
            it = m_rows.erase(it);
        } else {
            ++it;
        }
    }
}

QStringList ExamSession::unfinishedWork() const
{
    QStringList lines;
    const QStringList kinds = m_jobs.runningKinds(false);
    if (!kinds.isEmpty())
        lines << QStringLiteral("Background work is running: %1.").arg(kinds.join(QStringLiteral(", ")));
    QStringList numbers = m_rows.keys();
    numbers.sort();
    for (const QString &no : std::as_const(numbers)) {
        const qsizetype unsaved = m_rows.value(no)->countWithStatus(kStatusNew);
        if (unsaved > 0)
            lines << QStringLiteral("Exam %1 has %2 new image(s) not saved.").arg(no.isEmpty() ? QStringLiteral("(no number)") : no)
                         .arg(unsaved);
    }
    return lines;
}

void ExamSession::appendImportLog(const QString &transNo, const QString &text)
{
    emit importLogAppended(transNo, text);
}

namespace {
std::unique_ptr<ExamSession> &holder()
{
    static std::unique_ptr<ExamSession> s;
    return s;
}
} // namespace

ExamSession &session()
{
    auto &s = holder();
    if (!s)
        s = std::make_unique<ExamSession>();
    return *s;
}

void resetSession()
{
    holder().reset();
}

} // namespace orv
