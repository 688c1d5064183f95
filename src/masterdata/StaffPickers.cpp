#include "StaffPickers.h"

#include "MasterDataStore.h"
#include "PickerHelpers.h"

#include "core/SharedState.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &docHolder = windowInstance<frmSelectDoc>;
auto &radHolder = windowInstance<frmSelectRad>;
auto &techHolder = windowInstance<frmSelectTech>;
} // namespace

StaffPicker::StaffPicker(const char *name, const QString &caption, const QString &listCaption, const char *gridName,
                         QStringList headers, QList<int> widths)
    : m_widths(std::move(widths))
{
    setObjectName(QLatin1String(name));
    setWindowTitle(caption);
    txtSearch = upperEdit(this, "txtSearch");
    btnSearch = namedControl(this, "btnSearch", QStringLiteral("&Search"));
    m_model = new GridModel(std::move(headers), true, this);
    auto *list = new QGroupBox(listCaption, this);
    grid = makeGrid(list, gridName, m_model);
    btnSelect = namedControl(this, "btnSelect", QStringLiteral("Select"));
    btnClose = namedControl(this, "btnClose", QStringLiteral("&Close"));
    for (QPushButton *b : {btnSearch, btnSelect, btnClose})
        b->setAutoDefault(false);

    auto *outer = new QVBoxLayout(this);
    auto *search = new QHBoxLayout;
    search->addWidget(new QLabel(QStringLiteral("Last Name:"), this));
    search->addWidget(txtSearch, 1);
    search->addWidget(btnSearch);
    outer->addLayout(search);
    auto *middle = new QHBoxLayout;
    auto *ll = new QVBoxLayout(list);
    ll->addWidget(grid);
    middle->addWidget(list, 1);
    m_commands = new QWidget(this);
    auto *cl = new QVBoxLayout(m_commands);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->addWidget(btnSelect);
    cl->addStretch();
    cl->addWidget(btnClose);
    middle->addWidget(m_commands);
    outer->addLayout(middle, 1);

    connect(btnSearch, &QPushButton::clicked, this, [this] {
        Search();
        if (grid->isEnabled())
            grid->setFocus();
    });
    connect(btnSelect, &QPushButton::clicked, this, &StaffPicker::selectClicked);
    connect(grid, &QTableView::doubleClicked, this, &StaffPicker::selectClicked);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    txtSearch->installEventFilter(this);
    grid->installEventFilter(this);
    setColumnWidths(grid, m_widths);
}

void StaffPicker::Search()
{
    const bool found = fillGrid(this, grid, m_model, m_query(), state().db());
    if (m_selectFollowsRows)
        btnSelect->setEnabled(found);
    setColumnWidths(grid, m_widths);
}

void StaffPicker::prepare()
{
    forget();
    txtSearch->clear();
    Search();
}

void StaffPicker::showPick(QWidget *parent, std::function<void()> then)
{
    prepare();
    showModalThen(parent ? static_cast<QObject *>(parent) : this, this, std::move(then));
}

void StaffPicker::selectClicked()
{
    const int row = currentRow(grid);
    if (row < 0 || !grid->isEnabled())
        return;
    if (!store(row))
        return;
    close();
}

bool StaffPicker::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (watched == txtSearch && enter) {
            Search();
            return true;
        }
        if (watched == grid && enter) {
            selectClicked();
            return true;
        }
        if (key == Qt::Key_Down && m_downMovesToGrid && watched == txtSearch && grid->isEnabled()) {
            grid->setFocus();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

frmSelectDoc *frmSelectDoc::instance()
{
    auto &w = docHolder();
    if (!w)
        w = new frmSelectDoc();
    return w;
}

frmSelectDoc *frmSelectDoc::loaded()
{
    return docHolder();
}

void frmSelectDoc::pick(QWidget *parent, PickDone<DoctorChoice> done)
{
    frmSelectDoc *w = instance();
    w->showPick(parent, [w, done] { done(w->m_choice); });
}

frmSelectDoc::frmSelectDoc()
    : StaffPicker("frmSelectDoc", QStringLiteral(" Select Doctor "), QStringLiteral(" List of Doctors "), "fgridDoc",
                  {QString(), QStringLiteral("Full Name"), QStringLiteral("Code")}, {0, 5100, 1200})
{
    fgridDoc = grid;
    m_downMovesToGrid = true;
    m_query = [this] { return StaffStore::doctorSearch(txtSearch->text().trimmed()); };
    resize(560, 420);
}

bool frmSelectDoc::store(int row)
{
    m_choice = DoctorChoice{m_model->text(row, 2), m_model->text(row, 1)};
    return true;
}

bool frmSelectDoc::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && (watched == txtSearch || watched == grid)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Escape) {
            close();
            return true;
        }
    }
    return StaffPicker::eventFilter(watched, event);
}

frmSelectRad *frmSelectRad::instance()
{
    auto &w = radHolder();
    if (!w)
        w = new frmSelectRad();
    return w;
}

frmSelectRad *frmSelectRad::loaded()
{
    return radHolder();
}

void frmSelectRad::pick(QWidget *parent, PickDone<DoctorChoice> done)
{
    frmSelectRad *w = instance();
    w->showPick(parent, [w, done] { done(w->m_choice); });
}

frmSelectRad::frmSelectRad()
    : StaffPicker("frmSelectRad", QStringLiteral(" Select Radiologist "), QString(), "fgridUser",
                  {QString(), QStringLiteral("Full Name"), QStringLiteral("Code")}, {0, 5100, 1200})
{
    fgridUser = grid;
    m_downMovesToGrid = true;
    chkAllDoctors = namedControl<QCheckBox>(this, "chkAllDoctors", QStringLiteral("&Radiologist Only"));
    chkAllDoctors->setChecked(true);
    static_cast<QVBoxLayout *>(m_commands->layout())->insertWidget(0, chkAllDoctors);
    m_query = [this] { return StaffStore::radiologistSearch(txtSearch->text().trimmed(), chkAllDoctors->isChecked()); };
    resize(600, 420);
}

bool frmSelectRad::store(int row)
{
    m_choice = DoctorChoice{m_model->text(row, 2), m_model->text(row, 1)};
    return true;
}

frmSelectTech *frmSelectTech::instance()
{
    auto &w = techHolder();
    if (!w)
        w = new frmSelectTech();
    return w;
}

frmSelectTech *frmSelectTech::loaded()
{
    return techHolder();
}

void frmSelectTech::pick(QWidget *parent, PickDone<TechnologistChoice> done)
{
    frmSelectTech *w = instance();
    w->showPick(parent, [w, done] { done(w->m_choice); });
}

frmSelectTech::frmSelectTech()
    : StaffPicker("frmSelectTech", QStringLiteral(" Technologist "), QStringLiteral(" List of Technologists "), "fgridUser",
                  {QString(), QStringLiteral("User ID"), QStringLiteral("Last Name"), QStringLiteral("First Name"),
                   QStringLiteral("Middle Name")},
                  {0, 1200, 1700, 1700, 1700})
{
    fgridUser = grid;
    m_selectFollowsRows = false;
    m_query = [this] { return StaffStore::technologistSearch(txtSearch->text().trimmed()); };
    txtExamIDAdd = upperEdit(this, "txtExamIDAdd");
    txtExamNameLast = upperEdit(this, "txtExamNameLast");
    txtExamNameFirst = upperEdit(this, "txtExamNameFirst");
    txtExamNameMiddle = upperEdit(this, "txtExamNameMiddle");
    cmdAdd = namedControl(this, "cmdAdd", QStringLiteral("&Add"));
    cmdUpdate = namedControl(this, "cmdUpdate", QStringLiteral("&Update"));
    cmdAdd->setAutoDefault(false);
    cmdUpdate->setAutoDefault(false);
    auto *edit = new QGridLayout;
    const std::pair<const char *, QLineEdit *> fields[] = {{"UserID", txtExamIDAdd},
                                                          {"Last Name", txtExamNameLast},
                                                          {"First Name", txtExamNameFirst},
                                                          {"Middle Name", txtExamNameMiddle}};
    int column = 0;
    for (auto [label, e] : fields) {
        edit->addWidget(new QLabel(QLatin1String(label), this), 0, column);
        edit->addWidget(e, 1, column++);
    }
    edit->addWidget(cmdAdd, 1, column++);
    edit->addWidget(cmdUpdate, 1, column);
    static_cast<QVBoxLayout *>(layout())->addLayout(edit);
    resize(720, 460);
    connect(grid, &QTableView::clicked, this, &frmSelectTech::rowClicked);
    connect(cmdAdd, &QPushButton::clicked, this, [this] {
        guarded(this, [this] {
            StaffStore::addTechnologist(state().db(), txtExamIDAdd->text(), txtExamNameLast->text(), txtExamNameFirst->text(),
                                        txtExamNameMiddle->text());
            Search();
        });
    });
    connect(cmdUpdate, &QPushButton::clicked, this, [this] {
        guarded(this, [this] {
            StaffStore::updateTechnologist(state().db(), txtExamIDAdd->text(), txtExamNameLast->text(), txtExamNameFirst->text(),
                                           txtExamNameMiddle->text());
            Search();
        });
    });
}

void frmSelectTech::rowClicked()
{
    const int row = currentRow(grid);
    if (row < 0)
        return;
    txtExamIDAdd->setText(m_model->text(row, 1));
    txtExamNameLast->setText(m_model->text(row, 2));
    txtExamNameFirst->setText(m_model->text(row, 3));
    txtExamNameMiddle->setText(m_model->text(row, 4));
}

bool frmSelectTech::store(int row)
{
    // A whole-number id is handed back as its number ("0012" as "12"); any other id (the
    // department's login codes, "T01") as it is stored, so that every listed technologist can be
    // chosen and the editor finds it again.
    bool numeric = false;
    const QString id = m_model->text(row, 1).trimmed();
    const qlonglong n = id.toLongLong(&numeric);
    m_choice = TechnologistChoice{numeric ? QString::number(n) : id, m_model->text(row, 2), m_model->text(row, 3),
                                  m_model->text(row, 4)};
    return true;
}

} // namespace orv
