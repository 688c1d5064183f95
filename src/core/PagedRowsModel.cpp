#include "PagedRowsModel.h"

#include "outside/Error.h"

#include <QEvent>
#include <QHeaderView>
#include <QPointer>
#include <QTableView>

namespace orv {

PagedRowsModel::~PagedRowsModel()
{
    forget();
    m_ownDb.reset();
}

QString PagedRowsModel::field(int row, int field) const
{
    // The parts held are a cache of the read: filling it does not change what the model shows.
    const QStringList *r = const_cast<PagedRowsModel *>(this)->rowAt(row);
    return r ? r->value(field) : QString();
}

int PagedRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_known;
}

void PagedRowsModel::setVisibleRows(int rows)
{
    // Parts of the former size stay until they are dropped in turn.
    m_visible = std::max(1, rows);
}

int PagedRowsModel::heldRows() const
{
    int held = 0;
    for (const Part &p : m_parts)
        held += int(p.rows.size());
    return held;
}

void PagedRowsModel::stopReading()
{
    // The cursor before the connection it lives on.
    m_scroll.reset();
    m_cursor.reset();
    m_cursorDb = nullptr;
    m_cursorPos = 0;
    m_atEnd = true;
}

void PagedRowsModel::readFailed()
{
    stopReading();
    m_ownDb.reset(); // perhaps lost: the next search opens another
}

void PagedRowsModel::forget()
{
    stopReading();
    m_sql.clear();
    m_params.clear();
    m_known = 0;
    m_fields.clear();
    m_parts.clear();
}

void PagedRowsModel::hold(QList<QStringList> rows)
{
    m_known = int(rows.size());
    m_parts = {Part{0, std::move(rows)}};
}

QList<QStringList> PagedRowsModel::readRows(int first, int count)
{
    if (m_scroll)
        return m_scroll->rows(first, count);
    if (first < m_cursorPos) {
        // Rows behind the forward read (scrolled back up past the parts held): the read runs
        // anew and steps over every row before them without making their text, so going back
        // to row n costs a read of n rows.
        m_cursor = m_cursorDb->openCursor(m_sql, m_params);
        m_cursorPos = 0;
    }
    m_cursorPos += m_cursor->skip(first - m_cursorPos);
    QList<QStringList> rows;
    m_cursor->fetch(count, rows);
    m_cursorPos += rows.size();
    return rows;
}

void PagedRowsModel::read(Connection &db, const QString &sql, const QVariantList &params)
{
    beginResetModel();
    forget();
    endResetModel();
    QList<QStringList> first;
    try {
        Connection *on = &db;
        if (db.backend() != Backend::SQLite) {
            // The read's own connection stays open from one search to the next: opening one
            // took longer than a search's first screen.
            if (m_ownDbOf != &db)
                m_ownDb.reset();
            if (!m_ownDb) {
                try {
                    m_ownDb = Connection::open(db.config());
                    m_ownDbOf = &db;
                } catch (const Error &) {
                    // Read on the shared connection instead (see the class comment).
                }
            }
            if (m_ownDb)
                on = m_ownDb.get();
        }
        if (db.backend() == Backend::PostgreSQL) {
            m_scroll = on->openScrollCursor(sql, params, m_ownDb != nullptr);
        } else {
            m_cursor = on->openCursor(sql, params);
            m_cursorDb = on;
            m_fields = m_cursor->columns();
        }
        m_sql = sql;
        m_params = params;
        first = readRows(0, partSize());
        if (m_scroll)
            m_fields = m_scroll->columns();
    } catch (const Error &) {
        beginResetModel();
        forget();
        readFailed();
        endResetModel();
        throw;
    }
    beginResetModel();
    m_atEnd = first.size() < partSize();
    hold(std::move(first));
    endResetModel();
}

void PagedRowsModel::keep(Part part, int near)
{
    // A budget of rows rather than of parts: a part cut short by a part held beside it (the
    // view's height changed in between) leaves room for another.
    const auto distance = [near](const Part &p) {
        return near < p.first ? p.first - near : near - (p.first + int(p.rows.size()) - 1);
    };
    int held = heldRows();
    while (!m_parts.isEmpty() && held + part.rows.size() > MaxParts * partSize()) {
        qsizetype farthest = 0;
        for (qsizetype i = 1; i < m_parts.size(); ++i)
            if (distance(m_parts[i]) > distance(m_parts[farthest]))
                farthest = i;
        held -= int(m_parts[farthest].rows.size());
        m_parts.removeAt(farthest);
    }
    m_parts.append(std::move(part));
}

const QStringList *PagedRowsModel::rowAt(int row)
{
    if (row < 0 || row >= m_known)
        return nullptr;
    const auto held = [this, row]() -> const QStringList * {
        for (const Part &p : std::as_const(m_parts))
            if (row >= p.first && row < p.first + p.rows.size())
                return &p.rows[row - p.first];
        return nullptr;
    };
    if (const QStringList *r = held())
        return r;
    if (!m_scroll && !m_cursor)
        return nullptr;
    // The row's part, shortened where it would overlap a part held.
    int first = row - row % partSize();
    int end = std::min(first + partSize(), m_known);
    for (const Part &p : std::as_const(m_parts)) {
        const int pastEnd = p.first + int(p.rows.size());
        if (pastEnd <= row && pastEnd > first)
            first = pastEnd;
        if (p.first > row && p.first < end)
            end = p.first;
    }
    if (m_cursor && first < m_cursorPos && m_cursorPos <= row)
        first = int(m_cursorPos);
    QList<QStringList> rows;
    try {
        rows = readRows(first, end - first);
    } catch (const Error &e) {
        // Asked while the view paints: the message waits for the paint to end.
        readFailed();
        QMetaObject::invokeMethod(this, [this, d = e.description()] { emit fetchFailed(d); }, Qt::QueuedConnection);
        return nullptr;
    }
    if (rows.size() <= row - first)
        return nullptr; // the read found fewer rows than before (it was read anew)
    keep(Part{first, std::move(rows)}, row);
    return held();
}

bool PagedRowsModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_atEnd;
}

void PagedRowsModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    // Up to the next multiple of the part size, where rowAt() cuts its parts.
    const int count = partSize() - m_known % partSize();
    QList<QStringList> more;
    try {
        more = readRows(m_known, count);
    } catch (const Error &e) {
        readFailed();
        emit fetchFailed(e.description());
        return;
    }
    m_atEnd = more.size() < count;
    if (more.isEmpty())
        return;
    const int first = m_known;
    beginInsertRows(QModelIndex(), first, first + int(more.size()) - 1);
    m_known += int(more.size());
    keep(Part{first, std::move(more)}, first);
    endInsertRows();
}

namespace {
// Tells the model the rows its view shows at each resize of the view's viewport.
class ViewHeightWatch : public QObject
{
public:
    ViewHeightWatch(QTableView *view, PagedRowsModel *model) : QObject(view->viewport()), m_view(view), m_model(model)
    {
        view->viewport()->installEventFilter(this);
        tell();
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            tell();
        return false;
    }

private:
    void tell()
    {
        const int height = m_view->viewport()->height();
        const int rowHeight = std::max(1, m_view->verticalHeader()->defaultSectionSize());
        // Rows cut at the top and at the bottom count as shown.
        if (m_model && height > 0)
            m_model->setVisibleRows((height - 1) / rowHeight + 2);
    }

    QTableView *m_view;
    QPointer<PagedRowsModel> m_model;
};
} // namespace

void watchViewHeight(QTableView *view, PagedRowsModel *model)
{
    new ViewHeightWatch(view, model);
}

} // namespace orv
