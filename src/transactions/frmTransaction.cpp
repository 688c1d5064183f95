#include "frmTransaction.h"

#include "core/Audit.h"
#include "ExamEditing.h"
#include "ResultReport.h"
#include "TransactionStore.h"
#include "frmReport.h"

#include "core/CoreRoutines.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/WindowHelpers.h"
#include "core/frmServer.h"
#include "core/DicomNodes.h"
#include "acquisition/frmAcquire.h"
#include "acquisition/frmAcquireImage.h"
#include "acquisition/frmAcquireImageCapStill.h"
#include "dicomnet/frmWorklistQuery.h"
#include "imagestore/ProcedureSteps.h"
#include "imagestore/ctlImageList.h"
#include "outside/dicom/ProcedureStep.h"
#include "masterdata/StaffPickers.h"
#include "masterdata/frmExamCoded.h"
#include "masterdata/frmExams.h"
#include "masterdata/frmSelectPatient.h"
#include "outside/Error.h"
#include "outside/Prompter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orv {

using F = OpenTransaction::Field;

namespace {
auto &holder = windowInstance<frmTransaction>;

} // namespace

frmTransaction *frmTransaction::instance()
{
    auto &w = holder();
    if (!w) {
        w = new frmTransaction();
        w->loadRoutine();
    }
    return w;
}

frmTransaction *frmTransaction::loaded()
{
    return holder();
}

frmTransaction::frmTransaction()
{
    setObjectName(QStringLiteral("frmTransaction"));
    setWindowTitle(QStringLiteral("Transaction"));
    setAttribute(Qt::WA_DeleteOnClose);
    openTransaction().clear();
    session().beginExam();
    buildLayout();
    // Hidden when the window loads: a loaded transaction does not show them.
    btnRefresh->hide();
    btnPatient->hide();
    cmdWorklist->hide();
    fraInt->setEnabled(false);
    SetSaved(false);
    // An exam that holds images keeps its number and patient: its rows follow its number, and a
    // send writes the exam's patient into what it sends.
    connect(&session(), &ExamSession::openRowsChanged, this, &frmTransaction::watchRows);
    watchRows(session().openRows());
    // The worklist fills the open transaction and asks for these steps of the editor.
    QPointer<frmTransaction> self(this);
    openTransaction().setEditorSteps({[self] {
                                          if (self)
                                              self->NewTranDefault();
                                      },
                                      [self](F field) {
                                          if (!self)
                                              return;
                                          if (field == F::DocID)
                                              self->txtDocID_LostFocus();
                                          else if (field == F::ExamId)
                                              self->txtExamId_LostFocus();
                                          else if (field == F::RadId)
                                              self->txtRadId_LostFocus();
                                          else if (field == F::TechID)
                                              self->txtTechID_LostFocus();
                                      },
                                      [self](int next) {
                                          if (!self)
                                              return next;
                                          try {
                                              return TransactionStore::issueSeriesNumber(state().db(), self->txtTransNo->text(), next);
                                          } catch (const Error &e) {
                                              AddLog(QStringLiteral("Cannot issue a series number: ") + e.description());
                                              return next;
                                          }
                                      }});
}

void frmTransaction::bind(QLineEdit *edit, F field)
{
    edit->setObjectName(OpenTransaction::controlName(field));
    edit->setText(openTransaction().value(field));
    connect(edit, &QLineEdit::textChanged, this, [field](const QString &t) { openTransaction().setValue(field, t); });
    connect(&openTransaction(), &OpenTransaction::changed, edit, [edit, field](F f, const QString &v) {
        if (f == field && edit->text() != v)
            edit->setText(v);
    });
}

void frmTransaction::buildLayout()
{
    auto edit = [this](F field, KeyFilter *filter = nullptr, bool readOnly = false) {
        auto *e = new QLineEdit(this);
        bind(e, field);
        if (filter)
            installKeyFilter(e, *filter);
        e->setReadOnly(readOnly);
        return e;
    };
    KeyFilter digits = KeyFilter::DigitsOnly;
    KeyFilter upper = KeyFilter::UpperCase;
    txtTransNo = edit(F::TransNo, &upper);
    txtPatientID = edit(F::PatientID, &digits);
    txtHospNum = edit(F::HospNum, &upper, true);
    txtExamType = edit(F::ExamType, &upper);
    txtFileNo = edit(F::FileNo, &upper);
    txtExamId = edit(F::ExamId, &upper);
    txtExamName = edit(F::ExamName, nullptr, true);
    txtDocID = edit(F::DocID, &digits);
    txtDocName = edit(F::DocName, nullptr, true);
    txtRadId = edit(F::RadId, &digits);
    txtRadName = edit(F::RadName, nullptr, true);
    txtTechID = edit(F::TechID, &digits);
    txtTechnologist = edit(F::Technologist, nullptr, true);
    txtUserId = edit(F::UserId, &upper);
    txtTransDate = edit(F::TransDate);
    txtStudyUID = edit(F::StudyUID);
    txtSeriesUID = edit(F::SeriesUID);
    txtSeriesNum = edit(F::SeriesNum);
    txtImgNum = edit(F::ImgNum);
    // The patient block is filled by the patient picker and on load, never typed.
    txtLName = edit(F::LName, nullptr, true);
    txtFName = edit(F::FName, nullptr, true);
    txtMName = edit(F::MName, nullptr, true);
    txtGender = edit(F::Gender, nullptr, true);
    txtBDate = edit(F::BDate, nullptr, true);
    txtIntBy = edit(F::IntBy, nullptr, true);

    auto button = [this](const char *name, const QString &caption) { return namedControl(this, name, caption); };
    cmdSaveTrans = button("cmdSaveTrans", QStringLiteral("&Save"));
    btnRefresh = button("btnRefresh", QStringLiteral("generate"));
    btnCancel = button("btnCancel", QStringLiteral("Close"));
    cmdCaptureImage[0] = button("cmdCaptureImage_0", QStringLiteral("Capture Image DirectShow"));
    cmdCaptureImage[1] = button("cmdCaptureImage_1", QStringLiteral("Capture Image Internal Card"));
    btnProceed = button("btnProceed", QStringLiteral("Capture Video"));
    cmdWorklist = button("cmdWorklist", QStringLiteral("&Worklist Patient"));
    btnPatient = button("btnPatient", QStringLiteral("&Select Patient"));
    btnDocID = button("btnDocID", QStringLiteral("..."));
    btnRad = button("btnRad", QStringLiteral("..."));
    btnTechID = button("btnTechID", QStringLiteral("..."));
    btnExamID = button("btnExamID", QStringLiteral("..."));
    cmdCoded = button("cmdCoded", QStringLiteral("&Coded Interpret."));
    cmdSave = button("cmdSave", QStringLiteral("Save &Interpretation"));
    cmdSavePrint = button("cmdSavePrint", QStringLiteral("Save / &Print"));
    cmdEndExam = button("cmdEndExam", QStringLiteral("End E&xam..."));
    cmdEndExam->setToolTip(QStringLiteral("Tell the department that this exam is completed or discontinued"));
    for (QPushButton *b : {btnDocID, btnRad, btnTechID, btnExamID})
        b->setFixedWidth(28);
    lblSaved = new QLabel(QStringLiteral("(Saved)"), this);
    lblSaved->setObjectName(QStringLiteral("lblSaved"));
    lblSaved->setStyleSheet(QStringLiteral("color: #1a7f37; font-weight: bold;"));
    lblStep = new QLabel(this);
    lblStep->setObjectName(QStringLiteral("lblStep"));

    auto *outer = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    int row = 0;
    auto label = [this](const QString &text) { return new QLabel(text, this); };
    auto pair = [&](int r, int col, const QString &text, QWidget *w, int span = 1) {
        grid->addWidget(label(text), r, col);
        grid->addWidget(w, r, col + 1, 1, span);
    };
    auto withButton = [this](QWidget *a, QWidget *b, QWidget *c = nullptr) {
        auto *box = new QWidget(this);
        auto *h = new QHBoxLayout(box);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(a);
        h->addWidget(b);
        if (c)
            h->addWidget(c, 2);
        return box;
    };
    pair(row, 0, QStringLiteral("Accession #:"), withButton(txtTransNo, btnRefresh));
    pair(row++, 2, QStringLiteral("Trans Date:"), txtTransDate);
    pair(row, 0, QStringLiteral("Registration Number:"), withButton(txtPatientID, btnPatient));
    pair(row++, 2, QStringLiteral("Hosp Num:"), withButton(txtHospNum, cmdWorklist));
    pair(row, 0, QStringLiteral("Last Name:"), txtLName);
    pair(row++, 2, QStringLiteral("First Name:"), txtFName);
    pair(row, 0, QStringLiteral("Middle Name:"), txtMName);
    auto *genderBirth = new QWidget(this);
    auto *gb = new QHBoxLayout(genderBirth);
    gb->setContentsMargins(0, 0, 0, 0);
    gb->addWidget(txtGender, 1);
    gb->addWidget(label(QStringLiteral("Birth Date:")));
    gb->addWidget(txtBDate, 2);
    pair(row++, 2, QStringLiteral("Gender:"), genderBirth);
    pair(row, 0, QStringLiteral("Modality:"), txtExamType);
    pair(row++, 2, QStringLiteral("File No:"), txtFileNo);
    pair(row++, 0, QStringLiteral("Exam:"), withButton(txtExamId, btnExamID, txtExamName), 3);
    pair(row++, 0, QStringLiteral("Ref. Doctor:"), withButton(txtDocID, btnDocID, txtDocName), 3);
    pair(row++, 0, QStringLiteral("Technologist:"), withButton(txtTechID, btnTechID, txtTechnologist), 3);
    pair(row, 0, QStringLiteral("User ID:"), txtUserId);
    pair(row++, 2, QStringLiteral("Study UID:"), txtStudyUID);
    pair(row, 0, QStringLiteral("Series Num:"), txtSeriesNum);
    pair(row++, 2, QStringLiteral("Series UID:"), txtSeriesUID);
    pair(row++, 0, QStringLiteral("Image Num:"), txtImgNum);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 2);
    outer->addLayout(grid);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdSaveTrans);
    buttons->addWidget(lblSaved);
    buttons->addStretch();
    buttons->addWidget(lblStep);
    buttons->addWidget(cmdEndExam);
    buttons->addWidget(cmdCaptureImage[0]);
    buttons->addWidget(cmdCaptureImage[1]);
    buttons->addWidget(btnProceed);
    buttons->addWidget(btnCancel);
    outer->addLayout(buttons);

    tabMain = new QTabWidget(this);
    tabMain->setObjectName(QStringLiteral("tabMain"));
    ctlImageList1 = ctlImageList::instance();
    ctlImageList1->setParent(tabMain);
    tabMain->addTab(ctlImageList1, QStringLiteral("Images"));
    auto *report = new QWidget(tabMain);
    auto *rl = new QVBoxLayout(report);
    auto *rad = new QHBoxLayout;
    auto *lblRad = label(QStringLiteral("&Radiologist:"));
    lblRad->setBuddy(txtRadId); // Alt+R focuses the id; the "&" is a mnemonic, not a letter shown
    rad->addWidget(lblRad);
    rad->addWidget(txtRadId);
    rad->addWidget(btnRad);
    rad->addWidget(txtRadName, 2);
    rl->addLayout(rad);
    fraInt = new QGroupBox(QStringLiteral("Interpretation"), report);
    fraInt->setObjectName(QStringLiteral("fraInt"));
    auto *il = new QVBoxLayout(fraInt);
    txtInterpret = new QPlainTextEdit(fraInt);
    txtInterpret->setObjectName(QStringLiteral("txtInterpret"));
    il->addWidget(txtInterpret, 1);
    il->addWidget(txtIntBy);
    auto *ib = new QHBoxLayout;
    ib->addWidget(cmdCoded);
    ib->addStretch();
    ib->addWidget(cmdSave);
    ib->addWidget(cmdSavePrint);
    il->addLayout(ib);
    rl->addWidget(fraInt, 1);
    tabMain->addTab(report, QStringLiteral("Report"));
    outer->addWidget(tabMain, 1);
    connect(txtInterpret, &QPlainTextEdit::textChanged, this,
            [this] { openTransaction().setValue(F::Interpret, txtInterpret->toPlainText()); });
    connect(&openTransaction(), &OpenTransaction::changed, txtInterpret, [this](F f, const QString &v) {
        if (f == F::Interpret && txtInterpret->toPlainText() != v)
            txtInterpret->setPlainText(v);
    });

    connect(cmdSaveTrans, &QPushButton::clicked, this, &frmTransaction::saveClicked);
    connect(btnRefresh, &QPushButton::clicked, this, &frmTransaction::generateClicked);
    connect(btnCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdCaptureImage[0], &QPushButton::clicked, this, [this] { captureImageClicked(0); });
    connect(cmdCaptureImage[1], &QPushButton::clicked, this, [this] { captureImageClicked(1); });
    connect(btnProceed, &QPushButton::clicked, this, &frmTransaction::captureVideoClicked);
    connect(cmdWorklist, &QPushButton::clicked, this, [] {
        frmWorklistQuery *w = frmWorklistQuery::instance();
        w->setWindowModality(Qt::ApplicationModal);
        w->show();
    });
    connect(btnDocID, &QPushButton::clicked, this, &frmTransaction::pickDoctor);
    connect(btnRad, &QPushButton::clicked, this, &frmTransaction::pickRadiologist);
    connect(btnTechID, &QPushButton::clicked, this, &frmTransaction::pickTechnologist);
    connect(btnExamID, &QPushButton::clicked, this, &frmTransaction::pickExam);
    connect(btnPatient, &QPushButton::clicked, this, &frmTransaction::pickPatient);
    connect(cmdCoded, &QPushButton::clicked, this, &frmTransaction::pickCodedInterpretation);
    connect(cmdEndExam, &QPushButton::clicked, this, &frmTransaction::endExamClicked);
    // The exam's performed procedure step starts with its first image and shows its state here.
    connect(&session(), &ExamSession::imagesAdded, this, &beginProcedureStep);
    const auto showStep = [this](const QString &state) {
        lblStep->setText(state.isEmpty() ? QString() : QStringLiteral("Procedure step: ") + state);
        lblStep->setVisible(!state.isEmpty());
        cmdEndExam->setVisible(dicomNodes().procedureStepsOn() || !state.isEmpty());
        cmdEndExam->setEnabled(state == StepState::InProgress);
    };
    connect(&openTransaction(), &OpenTransaction::changed, this, [showStep](F f, const QString &v) {
        if (f == F::StepState)
            showStep(v);
    });
    showStep(openTransaction().value(F::StepState));
    connect(cmdSave, &QPushButton::clicked, this, [this] {
        if (!SaveInterpretation())
            return;
        msgBox(this, QStringLiteral("Interpretation saved. by: ") + state().CurrentUser.UserID() + QStringLiteral(" (")
                         + QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy")) + QLatin1Char(')'));
        ArchiveResult();
    });
    connect(cmdSavePrint, &QPushButton::clicked, this, [this] {
        if (!SaveInterpretation())
            return;
        frmReport::printAndArchiveResult(this);
    });
    for (QLineEdit *e : {txtDocID, txtExamId, txtFileNo, txtTechID})
        connect(e, &QLineEdit::textEdited, this, [this] { SetSaved(false); });
    connect(txtPatientID, &QLineEdit::textChanged, this, [this](const QString &t) {
        if (t.trimmed().isEmpty())
            ClearPatient();
    });
    for (QWidget *w : std::initializer_list<QWidget *>{txtPatientID, txtFileNo, txtExamId, txtDocID, txtTechID, txtRadId, btnRefresh})
        w->installEventFilter(this);
    resize(900, 720);
}

void frmTransaction::loadRoutine()
{
    RestoreWindow(this);
    DefaultRadiologist();
    show();
    raise();
    QApplication::processEvents();
}

void frmTransaction::DefaultRadiologist()
{
    if (txtRadId->text().isEmpty()) {
        txtRadId->setText(state().UserDoctorId);
        txtRadName->setText(state().UserDoctorName);
    }
}

void frmTransaction::watchRows(ImageRowsModel *rows)
{
    for (const QMetaObject::Connection &c : std::as_const(m_rowsWatch))
        disconnect(c);
    m_rowsWatch.clear();
    const auto update = [this, rows = QPointer<ImageRowsModel>(rows)] {
        const bool imaged = rows && rows->count() > 0;
        txtTransNo->setReadOnly(imaged);
        txtPatientID->setReadOnly(imaged);
    };
    if (rows)
        m_rowsWatch = {connect(rows, &QAbstractItemModel::rowsInserted, this, update),
                       connect(rows, &QAbstractItemModel::rowsRemoved, this, update),
                       connect(rows, &QAbstractItemModel::modelReset, this, update)};
    update();
}

void frmTransaction::NewTransaction()
{
    session().beginExam();
    NewTranDefault();
    txtExamType->setText(settings().read(apps::Orvaline, QStringLiteral("Main"), QStringLiteral("AcquireModalityCode"), QStringLiteral("US")));
    loadRoutine();
}

void frmTransaction::NewTranDefault()
{
    ExamEditing::newDefaults(openTransaction(), state().LoginComponent ? state().LoginComponent->EmployeeCode() : QString());
    btnRefresh->setVisible(true);
    btnPatient->setVisible(true);
    cmdWorklist->setVisible(true);
    txtTechID_LostFocus();
    txtSeriesNum->setText(QStringLiteral("0"));
    openTransaction().NewSeries(false); // a new exam: no stored series to go on from
}

void frmTransaction::NewSeries()
{
    openTransaction().NewSeries();
}

QString frmTransaction::GetPatName() const
{
    return openTransaction().GetPatName();
}

QString frmTransaction::NextTransNo()
{
    return TransactionStore::NextTransNo(state().db());
}

void frmTransaction::generateClicked()
{
    guarded(this, [this] { txtTransNo->setText(NextTransNo()); });
}

void frmTransaction::LoadTransaction(const QString &transNo)
{
    // Another exam begins only once it is found: a number not found, or a read that fails, leaves
    // the exam shown as it was, its rows and viewer images included.
    if (transNo.isEmpty())
        session().beginExam();
    if (!transNo.isEmpty()) {
        bool found = false;
        try {
            Connection &db = state().db();
            RecordSet rs = TransactionStore::load(db, transNo);
            found = !rs.isEmpty();
            if (rs.isEmpty()) {
                msgBox(this, QStringLiteral("Transaction No. not found!"), Prompter::Icon::Critical);
            } else {
                session().beginExam();
                ExamEditing::read(db, openTransaction(), transNo, rs);
                txtExamId_LostFocus();
                RefreshDocs();
                // The register knows the person by the registration number, the hospital master
                // by the hospital number.
                FillPatient(state().chkUseHospPat == 1 ? txtHospNum->text() : txtPatientID->text());
                // Frames captured now go into a series of their own after every series issued.
                txtSeriesNum->setText(QStringLiteral("0"));
                NewSeries();
                auditTrail().patientRecord('R', examSubject(openTransaction().record()));
            }
        } catch (const Error &e) {
            msgBox(this, e.description());
        }
        // The list follows the number even when a lookup above failed; a number not found leaves
        // the exam shown as it was.
        WaitCursor wait;
        if (found)
            ctlImageList1->LoadImages();
    }
    SetSaved(true);
    loadRoutine();
}

void frmTransaction::RefreshDocs()
{
    txtRadId_LostFocus();
    txtDocID_LostFocus();
    txtTechID_LostFocus();
}

void frmTransaction::FillPatient(const QString &key)
{
    if (!ExamEditing::fillPatient(state().db(), openTransaction(), key, state().chkUseHospPat))
        msgBox(this, QStringLiteral("Transaction No. not found!"), Prompter::Icon::Critical);
}

void frmTransaction::ClearPatient()
{
    for (QLineEdit *e : {txtPatientID, txtFName, txtMName, txtLName, txtBDate, txtGender})
        e->clear();
}

bool frmTransaction::ValidateTransaction()
{
    const QString missing = ExamEditing::missingRequired(openTransaction());
    if (!missing.isEmpty())
        msgBox(nullptr, missing, Prompter::Icon::Critical);
    return missing.isEmpty();
}

bool frmTransaction::SaveTrans()
{
    try {
        TransactionStore::save(state().db(), openTransaction());
    } catch (const Error &e) {
        AddLog(QStringLiteral("Cannot save, check field sizes.") + e.description());
        return false;
    }
    QApplication::beep();
    SetSaved(true);
    return true;
}

void frmTransaction::SetSaved(bool saved)
{
    m_saved = saved;
    if (saved)
        fraInt->setEnabled(true);
    lblSaved->setVisible(saved);
    cmdSaveTrans->setEnabled(!saved);
}

void frmTransaction::saveClicked()
{
    const bool saved = ValidateTransaction() && SaveTrans();
    SetSaved(false);
    // "&Save" stays enabled; "(Saved)" tells that this save worked, until a field changes.
    lblSaved->setVisible(saved);
}

void frmTransaction::captureImageClicked(int index)
{
    if (state().Server_Name.isEmpty() || state().Server_Folder.isEmpty()) {
        msgBox(this, QStringLiteral("specify capture folder"));
        frmServer *server = frmServer::instance();
        server->show();
        server->raise();
    }
    WaitCursor wait;
    if (!ValidateTransaction() || !SaveTrans())
        return;
    NewSeries();
    btnRefresh->setEnabled(false);
    btnPatient->setEnabled(false);
    cmdWorklist->setEnabled(false);
    if (index == 0)
        showInFront(frmAcquireImageCapStill::instance());
    else
        showInFront(frmAcquireImage::instance());
}

void frmTransaction::captureVideoClicked()
{
    WaitCursor wait;
    if (!ValidateTransaction() || !SaveTrans())
        return;
    btnRefresh->setEnabled(false);
    btnPatient->setEnabled(false);
    cmdWorklist->setEnabled(false); // as for stills: the exam's patient is fixed once it captures
    showInFront(frmAcquire::instance());
}

// A failed lookup shows the database's description and leaves the fields as they were.
void frmTransaction::lookup(F id)
{
    guarded(this, [id] { ExamEditing::lookUp(state().db(), openTransaction(), id); });
}

void frmTransaction::txtDocID_LostFocus()
{
    lookup(F::DocID);
}

void frmTransaction::txtRadId_LostFocus()
{
    lookup(F::RadId);
}

void frmTransaction::txtTechID_LostFocus()
{
    lookup(F::TechID);
}

void frmTransaction::txtExamId_LostFocus()
{
    lookup(F::ExamId);
}

// The pickers: each shown modal; its choice arrives when it closes.
void frmTransaction::pickDoctor()
{
    frmSelectDoc::pick(this, [this](const std::optional<DoctorChoice> &doc) {
        if (!doc) {
            txtDocID->setFocus();
            return;
        }
        txtDocID->setText(doc->code);
        txtDocName->setText(doc->name);
        txtTechID->setFocus();
    });
}

void frmTransaction::pickRadiologist()
{
    frmSelectRad::pick(this, [this](const std::optional<DoctorChoice> &rad) {
        if (!rad) {
            txtRadId->setFocus();
            return;
        }
        txtRadId->setText(rad->code);
        txtRadName->setText(rad->name);
        cmdSave->setFocus();
    });
}

void frmTransaction::pickTechnologist()
{
    frmSelectTech::pick(this, [this](const std::optional<TechnologistChoice> &tech) {
        if (!tech) {
            txtTechID->setFocus();
            return;
        }
        txtTechID->setText(tech->id);
        txtTechnologist->setText(tech->fullName());
    });
}

void frmTransaction::pickExam()
{
    frmExams::pick(this, txtExamType->text(), [this](const std::optional<ExamChoice> &exam) {
        if (!exam) {
            txtExamId->setFocus();
            return;
        }
        txtExamId->setText(exam->id);
        txtExamName->setText(exam->name);
        txtDocID->setFocus();
    });
}

void frmTransaction::pickPatient()
{
    frmSelectPatient::pick(this, state().chkUseHospPat != 1 ? 1 : 0, [this](const std::optional<PatientChoice> &p) {
        if (!p)
            return;
        txtHospNum->setText(p->hospNum);
        txtPatientID->setText(p->patientId);
        txtBDate->setText(p->birthDate);
        txtLName->setText(p->lastName);
        txtFName->setText(p->firstName);
        txtMName->setText(p->middleName);
        txtGender->setText(p->sex);
        txtFileNo->setFocus();
    });
}

void frmTransaction::pickCodedInterpretation()
{
    const CodedFilter filter{txtExamId->text(), txtExamName->text(), txtRadId->text(), txtRadName->text()};
    frmExamCoded::pick(this, filter, [this](const std::optional<QString> &text) {
        if (!text) {
            txtInterpret->setFocus();
            return;
        }
        txtInterpret->setPlainText(*text);
        cmdSave->setFocus();
    });
}

bool frmTransaction::SaveInterpretation()
{
    const QString text = txtInterpret->toPlainText();
    if (!RequireText(text.trimmed(), QStringLiteral("Interpretation is required!")))
        return false;
    try {
        if (!TransactionStore::saveInterpretation(state().db(), txtTransNo->text(), text, txtRadId->text(),
                                                  state().CurrentUser.UserID(), QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy")))) {
            // The text stays in the editor: the operator saves the exam, then the interpretation.
            msgBox(this,
                   QStringLiteral("The interpretation is not saved: no exam with the Accession # \"%1\" is stored. Save the exam "
                                  "first, then save the interpretation again.")
                       .arg(txtTransNo->text()),
                   Prompter::Icon::Critical);
            return false;
        }
    } catch (const Error &e) {
        msgBox(this, e.description(), Prompter::Icon::Critical);
        return false;
    }
    return true;
}

void frmTransaction::endExamClicked()
{
    const QString transNo = openTransaction().value(F::TransNo);
    QStringList items{QStringLiteral("Completed")};
    const auto reasons = dicom::discontinuationReasons();
    for (const auto &r : reasons)
        items << QStringLiteral("Discontinued: ") + r.second;
    const std::optional<int> chosen = Prompter::instance().choice(
        this, QStringLiteral("How did the exam \"%1\" end?").arg(transNo), QStringLiteral("End Exam"), items);
    if (!chosen || *chosen < 0)
        return;
    const bool completed = *chosen == 0;
    cmdEndExam->setEnabled(false);
    QPointer<frmTransaction> self(this);
    endProcedureStep(transNo, completed, completed ? QPair<QString, QString>() : reasons.value(*chosen - 1), [self](const QString &error) {
        if (!error.isEmpty() && self) {
            self->cmdEndExam->setEnabled(openTransaction().value(F::StepState) == StepState::InProgress);
            msgBox(self, error, Prompter::Icon::Critical);
        }
    });
}

void frmTransaction::PrintResult(const QString &title)
{
    frmReport::printResult(title, this);
}

void frmTransaction::ArchiveResult(std::optional<Report> report)
{
    ResultReport::archive(this, std::move(report));
}

bool frmTransaction::tabOrEnter(QObject *field)
{
    struct Route
    {
        QLineEdit *field;
        void (frmTransaction::*picker)(); // opened when the field is empty; nullptr: move on
        QWidget *next;
    };
    const Route routes[] = {
        {txtPatientID, &frmTransaction::pickPatient, txtFileNo}, {txtFileNo, nullptr, txtExamId},
        {txtExamId, &frmTransaction::pickExam, txtDocID},        {txtDocID, &frmTransaction::pickDoctor, txtTechID},
        {txtTechID, &frmTransaction::pickTechnologist, btnProceed}, {txtRadId, &frmTransaction::pickRadiologist, txtInterpret},
    };
    for (const Route &r : routes) {
        if (r.field != field)
            continue;
        if (r.field->text().trimmed().isEmpty() && r.picker) {
            (this->*r.picker)();
            return true;
        }
        if (r.next)
            r.next->setFocus(Qt::TabFocusReason);
        return true;
    }
    return false;
}

bool frmTransaction::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (watched == btnRefresh && enter) {
            generateClicked();
            txtFileNo->setFocus();
            return true;
        }
        if ((enter || key == Qt::Key_Tab) && tabOrEnter(watched))
            return true;
    } else if (event->type() == QEvent::FocusOut) {
        if (watched == txtDocID)
            txtDocID_LostFocus();
        else if (watched == txtExamId)
            txtExamId_LostFocus();
        else if (watched == txtTechID)
            txtTechID_LostFocus();
        else if (watched == txtRadId)
            txtRadId_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

void frmTransaction::closeEvent(QCloseEvent *event)
{
    // Pictures not saved to the server stay in the temporary folder and are listed again when
    // the exam is opened; the operator is told before the editor closes on them (not while a
    // save or import of the exam runs: it goes on and reports its own outcome).
    const qsizetype unsaved =
        session().jobs().isBusy(session().openTransNo()) ? 0 : session().openRows()->countWithStatus(kStatusNew);
    if (unsaved > 0
        && msgBox(this,
                  QStringLiteral("%1 image(s) of this exam are not saved to the server. They wait in the temporary folder and are "
                                 "listed again when the exam is opened.\n\nClose the exam anyway?")
                      .arg(unsaved),
                  Prompter::Icon::Question, QString(), Prompter::Yes | Prompter::No)
               != Prompter::Yes) {
        event->ignore();
        return;
    }
    SaveWindow(this);
    event->accept();
}

} // namespace orv
