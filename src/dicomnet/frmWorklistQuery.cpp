#include "frmWorklistQuery.h"

#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "core/SharedState.h"
#include "core/WindowHelpers.h"

#include <QCloseEvent>
#include <QDate>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &holder = windowInstance<frmWorklistQuery>;
} // namespace

frmWorklistQuery *frmWorklistQuery::instance()
{
    auto &w = holder();
    if (!w)
        w = new frmWorklistQuery();
    return w;
}

frmWorklistQuery *frmWorklistQuery::loaded() { return holder(); }

frmWorklistQuery::frmWorklistQuery()
{
    setObjectName(QStringLiteral("frmWorklistQuery"));
    setWindowTitle(QStringLiteral("Worklist Query"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::Dialog);
    m_model = new WorklistModel(this);
    m_query = new WorklistQuery(this);
    buildLayout();
    txtBranchCode->setText(dicomNodes().value(DicomNodes::txtBranchCode));
    StudyDate->setText(QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy")));
    fraVerify->hide();

    connect(m_query, &WorklistQuery::answered, m_model, &WorklistModel::append);
    connect(m_query, &WorklistQuery::finished, this, [this](int count) {
        searchEnded();
        Text1->setText(count == 0 ? QStringLiteral("No results found") : QString());
    });
    connect(m_query, &WorklistQuery::failed, this, [this](const QString &why) {
        searchEnded();
        msgBox(this, why);
    });
    connect(RunMWL, &QPushButton::clicked, this, &frmWorklistQuery::search);
    // Enter in any search field searches, as "&Search" does.
    for (QLineEdit *e : {PatientName, PatientID, StudyDate, Modality, txtAccessionNumber})
        connect(e, &QLineEdit::returnPressed, this, &frmWorklistQuery::search);
    connect(cmdSelect, &QPushButton::clicked, this, &frmWorklistQuery::choose);
    connect(Grid1, &QTableView::doubleClicked, this, &frmWorklistQuery::choose);
    connect(cmdNo, &QPushButton::clicked, this, &frmWorklistQuery::hideVerify);
    // The Verify frame shows one answer: another row current takes it away.
    connect(Grid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { hideVerify(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { hideVerify(); });
    connect(cmdYes, &QPushButton::clicked, this, &frmWorklistQuery::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    RestoreWindow(this);
}

void frmWorklistQuery::buildLayout()
{
    auto edit = [](const char *name, QWidget *parent) { return namedControl<QLineEdit>(parent, name); };
    auto button = [](const char *name, const QString &caption, QWidget *parent) { return namedControl(parent, name, caption); };
    auto *outer = new QVBoxLayout(this);
    SSTab = new QTabWidget(this);
    SSTab->setObjectName(QStringLiteral("SSTab"));
    outer->addWidget(SSTab);

    auto *query = new QWidget(SSTab);
    PatientName = edit("PatientName", query);
    PatientID = edit("PatientID", query);
    StudyDate = edit("StudyDate", query);
    Modality = edit("Modality", query);
    txtAccessionNumber = edit("txtAccessionNumber", query);
    for (QLineEdit *e : {PatientName, PatientID, Modality, txtAccessionNumber})
        installKeyFilter(e, KeyFilter::UpperCase);
    RunMWL = button("RunMWL", QStringLiteral("&Search"), query);
    RunMWL->setDefault(true);
    auto *fields = new QGridLayout;
    auto label = [&](const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text, query);
        l->setBuddy(buddy);
        return l;
    };
    fields->addWidget(label(QStringLiteral("Patient &Name:"), PatientName), 0, 0);
    fields->addWidget(PatientName, 0, 1);
    fields->addWidget(label(QStringLiteral("Patient ID:"), PatientID), 0, 2);
    fields->addWidget(PatientID, 0, 3);
    fields->addWidget(label(QStringLiteral("&Accession #:"), txtAccessionNumber), 0, 4);
    fields->addWidget(txtAccessionNumber, 0, 5);
    fields->addWidget(label(QStringLiteral("StudyDate:"), StudyDate), 1, 0);
    fields->addWidget(StudyDate, 1, 1);
    fields->addWidget(label(QStringLiteral("Modality:"), Modality), 1, 2);
    fields->addWidget(Modality, 1, 3);
    fields->addWidget(new QLabel(QStringLiteral("*=wildcard"), query), 1, 4);
    fields->addWidget(RunMWL, 1, 5);
    fields->setColumnStretch(1, 2);
    fields->setColumnStretch(3, 1);
    fields->setColumnStretch(5, 1);

    Grid1 = namedControl<QTableView>(query, "Grid1");
    Grid1->setModel(m_model);
    Grid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid1->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid1->verticalHeader()->hide();
    Grid1->verticalHeader()->setDefaultSectionSize(Grid1->fontMetrics().height() + 6);
    Grid1->horizontalHeader()->setHighlightSections(false);
    const QList<int> widths = WorklistModel::widthsInTwips();
    for (int c = 0; c < widths.size(); ++c)
        Grid1->setColumnWidth(c, twipsToPixels(widths.at(c)));
    Grid1->setColumnHidden(11, true);

    Text1 = edit("Text1", query);
    Text1->setReadOnly(true);
    cmdSelect = button("cmdSelect", QStringLiteral("S&elect"), query);
    cmdCancel = button("cmdCancel", QStringLiteral("Cancel"), query);

    fraVerify = namedControl<QGroupBox>(query, "fraVerify");
    fraVerify->setTitle(QStringLiteral("Verify"));
    txtVPatID = edit("txtVPatID", fraVerify);
    txtVPatLastName = edit("txtVPatLastName", fraVerify);
    txtVPatFirstName = edit("txtVPatFirstName", fraVerify);
    txtVPatMiddleName = edit("txtVPatMiddleName", fraVerify);
    txtPatVBirthdate = edit("txtPatVBirthdate", fraVerify);
    txtVPatSex = edit("txtVPatSex", fraVerify);
    // The entry is taken as the provider sent it: the frame shows it, it does not edit it.
    for (QLineEdit *e : {txtVPatID, txtVPatLastName, txtVPatFirstName, txtVPatMiddleName, txtPatVBirthdate, txtVPatSex})
        e->setReadOnly(true);
    cmdYes = button("cmdYes", QStringLiteral("&Yes"), fraVerify);
    cmdNo = button("cmdNo", QStringLiteral("&No"), fraVerify);
    auto *verify = new QGridLayout(fraVerify);
    const std::pair<const char *, QLineEdit *> rows[] = {
        {"Patient ID:", txtVPatID},         {"Last Name:", txtVPatLastName}, {"First Name:", txtVPatFirstName},
        {"Middle Name:", txtVPatMiddleName}, {"BirthDate:", txtPatVBirthdate}, {"Sex:", txtVPatSex},
    };
    for (int i = 0; i < 6; ++i) {
        verify->addWidget(new QLabel(QLatin1String(rows[i].first), fraVerify), i / 3, (i % 3) * 2);
        verify->addWidget(rows[i].second, i / 3, (i % 3) * 2 + 1);
    }
    auto *yesNo = new QHBoxLayout;
    yesNo->addStretch();
    yesNo->addWidget(cmdYes);
    yesNo->addWidget(cmdNo);
    verify->addLayout(yesNo, 2, 0, 1, 6);

    auto *page = new QVBoxLayout(query);
    page->addLayout(fields);
    page->addWidget(Grid1, 1);
    page->addWidget(Text1);
    page->addWidget(fraVerify);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdSelect);
    buttons->addWidget(cmdCancel);
    page->addLayout(buttons);
    SSTab->addTab(query, QStringLiteral("Query"));

    auto *settingsPage = new QWidget(SSTab);
    txtBranchCode = edit("txtBranchCode", settingsPage);
    auto *form = new QFormLayout(settingsPage);
    form->addRow(QStringLiteral("Branch Code:"), txtBranchCode);
    SSTab->addTab(settingsPage, QStringLiteral("Settings"));
    resize(1000, 560);
}

void frmWorklistQuery::search()
{
    hideVerify();
    m_model->clear();
    setCursor(Qt::BusyCursor);
    m_query->start({PatientName->text(), PatientID->text(), StudyDate->text(), Modality->text(), txtAccessionNumber->text(),
                    txtBranchCode->text()});
}

void frmWorklistQuery::searchEnded() { unsetCursor(); }

void frmWorklistQuery::choose()
{
    const QModelIndex current = Grid1->currentIndex();
    if (!current.isValid() || !Grid1->selectionModel()->isRowSelected(current.row(), {}))
        return;
    m_verified = m_model->answer(current.row());
    const WorklistPatient p = WorklistPatient::from(*m_verified);
    txtVPatID->setText(p.patientId);
    txtVPatLastName->setText(p.lastName);
    txtVPatFirstName->setText(p.firstName);
    txtVPatMiddleName->setText(p.middleName);
    txtPatVBirthdate->setText(p.birthDate);
    txtVPatSex->setText(p.sex);
    fraVerify->show();
    cmdYes->setFocus();
}

void frmWorklistQuery::hideVerify()
{
    fraVerify->hide();
    m_verified.reset();
}

void frmWorklistQuery::accept()
{
    // Exactly the entry the operator verified, whatever row is current now.
    if (!m_verified || !fraVerify->isVisible())
        return;
    const WorklistAnswer answer = *m_verified;
    const auto sameAsRegistered = [this, &answer](const PatientStore::Patient &r) {
        return msgBox(this,
                      QStringLiteral("The register holds %1, born %2, as number %3, without a hospital number.\n\n"
                                     "Is this the patient of the worklist entry (Patient ID %4)?")
                          .arg(shownPersonName(r.last, r.first, r.middle), r.birthDate, r.id,
                               answer.cell(WorklistAnswer::PatientId)),
                      Prompter::Icon::Question, QString(), Prompter::Yes | Prompter::No)
            == Prompter::Yes;
    };
    WorklistAccept::Result result = WorklistAccept::Result::Accepted;
    try {
        result = WorklistAccept::accept(state().db(), answer, WorklistPatient::from(answer), state().CurrentUser.UserID(),
                                        openTransaction(), useWorklistStudyUid(), sameAsRegistered);
    } catch (const std::exception &e) {
        msgBox(this, describe(e), Prompter::Icon::Critical);
        return;
    }
    if (result == WorklistAccept::Result::DifferentName) {
        msgBox(this, QStringLiteral("Patient ID already exists with a different name."));
        return;
    }
    if (result == WorklistAccept::Result::DifferentBirthDate) {
        msgBox(this, QStringLiteral("Patient ID already exists with a different birth date."));
        return;
    }
    hideVerify();
    close();
}

void frmWorklistQuery::closeEvent(QCloseEvent *event)
{
    m_query->cancel();
    SaveWindow(this);
    event->accept();
}

} // namespace orv
