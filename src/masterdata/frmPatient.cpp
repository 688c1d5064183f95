#include "frmPatient.h"

#include "MasterDataStore.h"
#include "PickerHelpers.h"

#include "core/SharedState.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &patientHolder = windowInstance<frmPatient>;
auto &addHolder = windowInstance<frmPatient_Add>;
auto &editHolder = windowInstance<frmPatient_Edit>;

void researchRegister()
{
    if (frmPatient *w = frmPatient::loaded())
        w->Search();
}
} // namespace

frmPatient *frmPatient::instance()
{
    auto &w = patientHolder();
    if (!w)
        w = new frmPatient();
    return w;
}

frmPatient *frmPatient::loaded()
{
    return patientHolder();
}

frmPatient::frmPatient()
{
    setObjectName(QStringLiteral("frmPatient"));
    setWindowTitle(QStringLiteral(" Patients "));
    txtSearch = upperEdit(this, "txtSearch");
    btnSearch = namedControl(this, "btnSearch", QStringLiteral("&Search"));
    m_model = new GridModel({QString(), QStringLiteral("Patient ID"), QStringLiteral("Last Name"), QStringLiteral("First Name"),
                             QStringLiteral("Middle Name")},
                            true, this);
    auto *list = new QGroupBox(QStringLiteral(" List of Patients "), this);
    fgridUser = makeGrid(list, "fgridUser", m_model);
    btnAdd = namedControl(this, "btnAdd", QStringLiteral("&Add New"));
    btnEdit = namedControl(this, "btnEdit", QStringLiteral("&Edit"));
    btnDelete = namedControl(this, "btnDelete", QStringLiteral("&Delete"));
    btnClose = namedControl(this, "btnClose", QStringLiteral("&Close"));
    for (QPushButton *b : {btnSearch, btnAdd, btnEdit, btnDelete, btnClose})
        b->setAutoDefault(false);

    auto *outer = new QVBoxLayout(this);
    auto *search = new QHBoxLayout;
    search->addWidget(new QLabel(QStringLiteral("Last Name:"), this));
    search->addWidget(txtSearch, 1);
    search->addWidget(btnSearch);
    outer->addLayout(search);
    auto *ll = new QVBoxLayout(list);
    ll->addWidget(fgridUser);
    outer->addWidget(list, 1);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {btnAdd, btnEdit, btnDelete})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    outer->addLayout(buttons);
    setColumnWidths(fgridUser, {0, 1500, 1900, 1900, 1900});
    resize(560, 420);

    connect(btnSearch, &QPushButton::clicked, this, &frmPatient::Search);
    onEnter(txtSearch, [this] { Search(); });
    connect(btnAdd, &QPushButton::clicked, this, [this] {
        frmPatient_Add *add = frmPatient_Add::instance();
        add->reset();
        showModalThen(this, add, [] {});
    });
    connect(btnEdit, &QPushButton::clicked, this, &frmPatient::editClicked);
    connect(fgridUser, &QTableView::doubleClicked, this, &frmPatient::editClicked);
    onEnter(fgridUser, [this] { editClicked(); });
    connect(btnDelete, &QPushButton::clicked, this, &frmPatient::deleteClicked);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
}

void frmPatient::Search()
{
    if (fillGrid(this, fgridUser, m_model, PatientStore::registerSearch(txtSearch->text().trimmed()), state().db()))
        fgridUser->setEnabled(true);
    setColumnWidths(fgridUser, {0, 1500, 1900, 1900, 1900});
}

QString frmPatient::selectedId() const
{
    return m_model->text(currentRow(fgridUser), 1).trimmed();
}

void frmPatient::editClicked()
{
    const QString id = selectedId();
    if (id.isEmpty()) {
        msgBox(this, QStringLiteral("No record to edit!"), Prompter::Icon::Critical);
        return;
    }
    frmPatient_Edit *edit = frmPatient_Edit::instance();
    if (edit->loadPatient(id))
        showModalThen(this, edit, [] {});
}

void frmPatient::deleteClicked()
{
    const QString id = selectedId();
    if (id.isEmpty()) {
        msgBox(this, QStringLiteral("No record to delete!"), Prompter::Icon::Critical);
        return;
    }
    guarded(this, [&] {
        Connection &db = state().db();
        if (PatientStore::hasTransactions(db, id)) {
            msgBox(this, QStringLiteral("Record selected cannot be deleted because it is linked to another record!"),
                   Prompter::Icon::Critical);
            return;
        }
        if (msgBox(this, QStringLiteral("Selected Patient will be deleted.  Are you sure?"), Prompter::Icon::Question, QString(),
                   Prompter::Yes | Prompter::No)
            != Prompter::Yes)
            return;
        PatientStore::remove(db, id);
        Search();
    });
}

PatientForm::PatientForm(const QString &caption)
{
    setWindowTitle(caption);
    txtEmpID = upperEdit(this, "txtEmpID");
    txtFName = upperEdit(this, "txtFName");
    txtMName = upperEdit(this, "txtMName");
    txtLName = upperEdit(this, "txtLName");
    dtBDate = namedControl<QDateEdit>(this, "dtBDate");
    dtBDate->setDisplayFormat(QStringLiteral("MM/dd/yyyy"));
    dtBDate->setCalendarPopup(true);
    dtBDate->setDate(QDate::currentDate());
    optMale = namedControl<QRadioButton>(this, "optMale", QStringLiteral("&Male"));
    optFemale = namedControl<QRadioButton>(this, "optFemale", QStringLiteral("&Female"));
    optMale->setChecked(true);
}

void PatientForm::layOut(QWidget *idExtra, const QList<QPushButton *> &buttons)
{
    auto *outer = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    auto row = [&](int r, const QString &label, QWidget *w, QWidget *extra = nullptr) {
        grid->addWidget(new QLabel(label, this), r, 0);
        grid->addWidget(w, r, 1);
        if (extra)
            grid->addWidget(extra, r, 2);
    };
    row(0, QStringLiteral("Patient ID:"), txtEmpID, idExtra);
    row(1, QStringLiteral("First Name:"), txtFName);
    row(2, QStringLiteral("Middle Name:"), txtMName);
    row(3, QStringLiteral("Last Name:"), txtLName);
    row(4, QStringLiteral("Birth Date:"), dtBDate);
    auto *sex = new QWidget(this);
    auto *sl = new QHBoxLayout(sex);
    sl->setContentsMargins(0, 0, 0, 0);
    sl->addWidget(optMale);
    sl->addWidget(optFemale);
    sl->addStretch();
    row(5, QStringLiteral("Sex:"), sex);
    grid->setColumnStretch(1, 1);
    outer->addLayout(grid);
    auto *bl = new QHBoxLayout;
    bl->addStretch();
    for (QPushButton *b : buttons) {
        b->setAutoDefault(false);
        bl->addWidget(b);
    }
    outer->addLayout(bl);
    resize(420, 260);
}

bool PatientForm::namesGiven()
{
    const std::pair<QLineEdit *, const char *> names[] = {{txtFName, "First Name is required!"},
                                                          {txtMName, "Middle Name is required!"},
                                                          {txtLName, "Last Name is required!"}};
    for (auto [edit, message] : names) {
        if (!RequireText(edit->text().trimmed(), QLatin1String(message))) {
            edit->setFocus();
            return false;
        }
    }
    return true;
}

QString PatientForm::sex() const
{
    return optFemale->isChecked() ? QStringLiteral("F") : QStringLiteral("M");
}

QString PatientForm::birthDate() const
{
    return dtBDate->date().toString(QStringLiteral("MM/dd/yyyy"));
}

frmPatient_Add *frmPatient_Add::instance()
{
    auto &w = addHolder();
    if (!w)
        w = new frmPatient_Add();
    return w;
}

frmPatient_Add *frmPatient_Add::loaded()
{
    return addHolder();
}

frmPatient_Add::frmPatient_Add() : PatientForm(QStringLiteral(" Add New Patient "))
{
    setObjectName(QStringLiteral("frmPatient_Add"));
    btnRefresh = namedControl(this, "btnRefresh", QStringLiteral("&Generate"));
    btnAdd = namedControl(this, "btnAdd", QStringLiteral("&Add"));
    btnCancel = namedControl(this, "btnCancel", QStringLiteral("&Cancel"));
    btnRefresh->setAutoDefault(false);
    layOut(btnRefresh, {btnAdd, btnCancel});
    connect(btnRefresh, &QPushButton::clicked, this, &frmPatient_Add::generateClicked);
    connect(btnAdd, &QPushButton::clicked, this, &frmPatient_Add::addClicked);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Enter moves along the form.
    const std::pair<QWidget *, QWidget *> order[] = {{txtEmpID, txtLName}, {txtFName, txtMName}, {txtMName, txtLName},
                                                     {txtLName, dtBDate},  {dtBDate, optMale},   {optMale, btnAdd},
                                                     {optFemale, btnAdd}};
    for (auto [from, to] : order)
        onEnter(from, [to] { to->setFocus(); });
}

void frmPatient_Add::reset()
{
    for (QLineEdit *e : {txtEmpID, txtFName, txtMName, txtLName})
        e->clear();
    dtBDate->setDate(QDate::currentDate());
    optMale->setChecked(true);
}

void frmPatient_Add::generateClicked()
{
    guarded(this, [this] {
        txtEmpID->setText(PatientStore::nextId(state().db()));
        txtFName->setFocus();
    });
}

void frmPatient_Add::addClicked()
{
    if (!RequireText(txtEmpID->text().trimmed(), QStringLiteral("Patient ID is required!")) || !namesGiven())
        return;
    guarded(this, [this] {
        Connection &db = state().db();
        if (PatientStore::idExists(db, txtEmpID->text())) {
            msgBox(this, QStringLiteral("Patient ID already exist!") + QLatin1Char('\n') + QStringLiteral("Please click on refresh to get the latest ID."),
                   Prompter::Icon::Critical);
            return;
        }
        PatientStore::add(db, {txtEmpID->text(), txtFName->text(), txtMName->text(), txtLName->text(), birthDate(), sex(), QString()},
                          state().CurrentUser.UserID());
        accept();
        researchRegister();
    });
}

frmPatient_Edit *frmPatient_Edit::instance()
{
    auto &w = editHolder();
    if (!w)
        w = new frmPatient_Edit();
    return w;
}

frmPatient_Edit *frmPatient_Edit::loaded()
{
    return editHolder();
}

frmPatient_Edit::frmPatient_Edit() : PatientForm(QStringLiteral(" Edit Patient "))
{
    setObjectName(QStringLiteral("frmPatient_Edit"));
    txtEmpID->setReadOnly(true);
    btnUpdate = namedControl(this, "btnUpdate", QStringLiteral("&Update"));
    btnCancel = namedControl(this, "btnCancel", QStringLiteral("&Cancel"));
    layOut(nullptr, {btnUpdate, btnCancel});
    connect(btnUpdate, &QPushButton::clicked, this, &frmPatient_Edit::updateClicked);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool frmPatient_Edit::loadPatient(const QString &id)
{
    std::optional<PatientStore::Patient> p;
    try {
        p = PatientStore::load(state().db(), id);
    } catch (const std::exception &e) {
        msgBox(this, describe(e));
        return false;
    }
    if (!p) {
        msgBox(this, QStringLiteral("Patient ID not found!"), Prompter::Icon::Critical);
        return false;
    }
    txtEmpID->setText(id);
    txtFName->setText(p->first);
    txtMName->setText(p->middle);
    txtLName->setText(p->last);
    const QDate birth = QDate::fromString(p->birthDate, QStringLiteral("MM/dd/yyyy"));
    dtBDate->setDate(birth.isValid() ? birth : QDate::currentDate());
    (p->sex == QLatin1String("F") ? optFemale : optMale)->setChecked(true);
    return true;
}

void frmPatient_Edit::updateClicked()
{
    if (!namesGiven())
        return;
    guarded(this, [this] {
        const QString id = txtEmpID->text();
        PatientStore::update(state().db(), {id, txtFName->text(), txtMName->text(), txtLName->text(), birthDate(), sex(), QString()},
                             state().CurrentUser.UserID());
        msgBox(this, id + QStringLiteral(" successfully updated!"), Prompter::Icon::Information);
        accept();
        researchRegister();
    });
}

} // namespace orv
