#include "frmSelectPatient.h"

#include "MasterDataStore.h"
#include "PickerHelpers.h"
#include "frmPatient.h"

#include "core/SharedState.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &holder = windowInstance<frmSelectPatient>;
} // namespace

frmSelectPatient *frmSelectPatient::instance()
{
    auto &w = holder();
    if (!w)
        w = new frmSelectPatient();
    return w;
}

frmSelectPatient *frmSelectPatient::loaded()
{
    return holder();
}

frmSelectPatient::frmSelectPatient()
{
    setObjectName(QStringLiteral("frmSelectPatient"));
    setWindowTitle(QStringLiteral(" Patients "));
    txtSearch = upperEdit(this, "txtSearch");
    btnSearch = namedControl(this, "btnSearch", QStringLiteral("&Search"));
    m_model = new GridModel({QStringLiteral("HospNum"), QStringLiteral("RegNum"), QStringLiteral("Last Name"), QStringLiteral("First Name"),
                             QStringLiteral("Middle Name"), QStringLiteral("Birth Date"), QStringLiteral("Sex")},
                            false, this);
    fgridUser = makeGrid(this, "fgridUser", m_model);
    fraPatType = namedControl<QGroupBox>(this, "fraPatType");
    fraPatType->setTitle(QStringLiteral("Pat Type"));
    optIN = namedControl<QRadioButton>(fraPatType, "optIN", QStringLiteral("&In-patient"));
    optOut = namedControl<QRadioButton>(fraPatType, "optOut", QStringLiteral("&Out-patient"));
    optIN->setChecked(true);
    btnSelect = namedControl(this, "btnSelect", QStringLiteral("S&elect"));
    cmdNewPat = namedControl(this, "cmdNewPat", QStringLiteral("&Add Patient"));
    btnClose = namedControl(this, "btnClose", QStringLiteral("&Close"));
    for (QPushButton *b : {btnSearch, btnSelect, cmdNewPat, btnClose})
        b->setAutoDefault(false);

    // The grid fills the window; the command frame keeps to the right edge.
    auto *outer = new QHBoxLayout(this);
    auto *left = new QVBoxLayout;
    auto *search = new QHBoxLayout;
    search->addWidget(new QLabel(QStringLiteral("Last Name:"), this));
    search->addWidget(txtSearch, 1);
    search->addWidget(btnSearch);
    left->addLayout(search);
    left->addWidget(fgridUser, 1);
    left->addSpacing(twipsToPixels(500));
    outer->addLayout(left, 1);
    outer->addSpacing(twipsToPixels(400));
    auto *cmd = new QVBoxLayout;
    auto *pt = new QVBoxLayout(fraPatType);
    pt->addWidget(optIN);
    pt->addWidget(optOut);
    cmd->addWidget(fraPatType);
    cmd->addWidget(btnSelect);
    cmd->addWidget(cmdNewPat);
    cmd->addStretch();
    cmd->addWidget(btnClose);
    outer->addLayout(cmd);
    outer->setContentsMargins(8, 8, twipsToPixels(200), 8);
    setColumns();
    resize(980, 460);

    connect(btnSearch, &QPushButton::clicked, this, &frmSelectPatient::Search);
    onEnter(txtSearch, [this] { Search(); });
    connect(btnSelect, &QPushButton::clicked, this, &frmSelectPatient::selectClicked);
    connect(fgridUser, &QTableView::doubleClicked, this, &frmSelectPatient::selectClicked);
    onEnter(fgridUser, [this] { selectClicked(); });
    connect(cmdNewPat, &QPushButton::clicked, this, [this] {
        frmPatient_Add *add = frmPatient_Add::instance();
        add->reset();
        showModalThen(this, add, [] {});
    });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void frmSelectPatient::setColumns()
{
    setColumnWidths(fgridUser, {1300, 1300, 2500, 2500, 2000, 1500, 1000});
}

void frmSelectPatient::pick(QWidget *parent, int source, PickDone<PatientChoice> done)
{
    frmSelectPatient *w = instance();
    w->prepare(source);
    showModalThen(parent ? static_cast<QObject *>(parent) : w, w, [w, done] { done(w->m_choice); });
}

void frmSelectPatient::prepare(int source)
{
    PatSource = source;
    m_choice.reset();
    // Opens empty: a previous search's rows and selection would let Enter pick that patient again.
    txtSearch->clear();
    m_model->showEmpty();
    fgridUser->setEnabled(false);
    txtSearch->setFocus();
    fraPatType->setVisible(source != 1);
    RestoreWindow(this);
}

void frmSelectPatient::Search()
{
    m_searchedType = optIN->isChecked() ? QStringLiteral("I") : QStringLiteral("O");
    guarded(this, [this] {
        Connection &db = state().db();
        const ListQuery q = PatientStore::pickerSearch(db.backend(), PatSource, m_searchedType.at(0), txtSearch->text().trimmed());
        if (fillGrid(this, fgridUser, m_model, q, db))
            fgridUser->setFocus();
    });
    setColumns();
}

void frmSelectPatient::selectClicked()
{
    const int row = currentRow(fgridUser);
    if (row < 0 || !fgridUser->isEnabled() || m_model->text(row, 1).isEmpty())
        return;
    m_choice = PatientChoice{m_model->text(row, 0), m_model->text(row, 1), m_model->text(row, 2), m_model->text(row, 3),
                             m_model->text(row, 4), m_model->text(row, 5), m_model->text(row, 6), m_searchedType};
    close();
}

void frmSelectPatient::closeEvent(QCloseEvent *event)
{
    SaveWindow(this);
    QDialog::closeEvent(event);
}

} // namespace orv
