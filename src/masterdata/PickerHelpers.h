#pragma once

#include "GridModel.h"

#include "core/CoreRoutines.h"
#include "core/WindowHelpers.h"

#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>

#include <initializer_list>

namespace orv {

// A grid bound to a GridModel: whole rows selected, read-only, rows fetched as it scrolls.
inline QTableView *makeGrid(QWidget *parent, const char *name, GridModel *model)
{
    auto *view = new QTableView(parent);
    view->setObjectName(QLatin1String(name));
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->setAlternatingRowColors(true);
    view->horizontalHeader()->setStretchLastSection(false);
    watchViewHeight(view, model);
    return view;
}

// Column widths in twips; a width of 0 hides the column.
inline void setColumnWidths(QTableView *view, const QList<int> &twips)
{
    int column = 0;
    for (int w : twips) {
        view->setColumnHidden(column, w == 0);
        if (w > 0)
            view->setColumnWidth(column, twipsToPixels(w));
        ++column;
    }
}

// The search idiom of the lists: rows found enable the grid (current row: the first); nothing
// found leaves a disabled two-row grid. A failure shows the database's description, leaves the
// grid empty and disabled, and returns false.
inline bool fillGrid(QWidget *window, QTableView *view, GridModel *model, const ListQuery &query, Connection &db)
{
    bool found = false;
    try {
        WaitCursor wait;
        found = model->search(db, query);
    } catch (const std::exception &e) {
        model->showEmpty();
        view->setEnabled(false);
        msgBox(window, describe(e));
        return false;
    }
    if (!found)
        model->showEmpty();
    view->setEnabled(found);
    if (found)
        view->setCurrentIndex(model->index(0, view->isColumnHidden(0) ? 1 : 0));
    return found;
}

// The current row of a grid, -1 when none.
inline int currentRow(QTableView *view)
{
    const QModelIndex i = view->currentIndex();
    return i.isValid() ? i.row() : -1;
}

// Shows a picker modal and calls `then` once after it closes (its public values are read there).
template<typename Dialog, typename Fn>
void showModalThen(QObject *context, Dialog *dialog, Fn then)
{
    dialog->setWindowModality(Qt::ApplicationModal);
    QObject::connect(dialog, &QDialog::finished, context, [then](int) { then(); }, Qt::SingleShotConnection);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

// Calls `fn` for Enter (or Return) typed into `watched`.
class EnterKey : public QObject
{
public:
    EnterKey(QWidget *watched, std::function<void()> fn) : QObject(watched), m_fn(std::move(fn))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                m_fn();
                return true;
            }
        }
        return false;
    }

private:
    std::function<void()> m_fn;
};

inline void onEnter(QWidget *watched, std::function<void()> fn)
{
    new EnterKey(watched, std::move(fn));
}

// A line edit whose typed letters become upper case.
inline QLineEdit *upperEdit(QWidget *parent, const char *name)
{
    auto *e = namedControl<QLineEdit>(parent, name);
    installKeyFilter(e, KeyFilter::UpperCase);
    return e;
}

} // namespace orv
