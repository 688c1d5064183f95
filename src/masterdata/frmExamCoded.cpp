#include "frmExamCoded.h"

#include "MasterDataStore.h"
#include "PickerHelpers.h"
#include "StaffPickers.h"
#include "frmExams.h"

#include "core/SharedState.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &codedHolder = windowInstance<frmExamCoded>;
auto &addHolder = windowInstance<frmExamCode_Add>;
auto &editHolder = windowInstance<frmExamCode_Edit>;
const QList<int> widths = {0, 0, 1000, 1500, 1500, 6000};

void refreshCoded()
{
    if (frmExamCoded *w = frmExamCoded::loaded())
        w->fgridExam_refresh();
}

// Whole numbers other than 0 name a radiologist.
bool isRadiologistId(const QString &text)
{
    bool numeric = false;
    const double n = text.trimmed().toDouble(&numeric);
    return numeric && n != 0;
}
} // namespace

frmExamCoded *frmExamCoded::instance()
{
    auto &w = codedHolder();
    if (!w)
        w = new frmExamCoded();
    return w;
}

frmExamCoded *frmExamCoded::loaded()
{
    return codedHolder();
}

frmExamCoded::frmExamCoded()
{
    setObjectName(QStringLiteral("frmExamCoded"));
    setWindowTitle(QStringLiteral("Coded Interpretations"));
    txtSearch = upperEdit(this, "txtSearch");
    txtExamCode = upperEdit(this, "txtExamCode");
    txtUserId = namedControl<QLineEdit>(this, "txtUserId");
    installKeyFilter(txtUserId, KeyFilter::DigitsOnly);
    txtFullName = namedControl<QLineEdit>(this, "txtFullName");
    txtFullName->setReadOnly(true);
    btnSearch = namedControl(this, "btnSearch", QStringLiteral("S&earch"));
    cmdExam = namedControl(this, "cmdExam", QStringLiteral("Exam"));
    cmdRad = namedControl(this, "cmdRad", QStringLiteral("Radiologist"));
    m_model = new GridModel({QString(), QStringLiteral("ExamCode No"), QStringLiteral("Exam ID"), QStringLiteral("Exam Name"),
                             QStringLiteral("Radiologist"), QStringLiteral("Exam_Code")},
                            true, this);
    fgridExam = makeGrid(this, "fgridExam", m_model);
    fgridExam->setWordWrap(false);
    btnAdd = namedControl(this, "btnAdd", QStringLiteral("&Add New"));
    btnEdit = namedControl(this, "btnEdit", QStringLiteral("&Edit"));
    btnDelete = namedControl(this, "btnDelete", QStringLiteral("&Delete"));
    btnSelect = namedControl(this, "btnSelect", QStringLiteral("S&elect"));
    btnClose = namedControl(this, "btnClose", QStringLiteral("&Close"));
    for (QPushButton *b : {btnSearch, cmdExam, cmdRad, btnAdd, btnEdit, btnDelete, btnSelect, btnClose})
        b->setAutoDefault(false);

    auto *outer = new QVBoxLayout(this);
    auto *filters = new QGridLayout;
    filters->addWidget(new QLabel(QStringLiteral("Exam:"), this), 0, 0);
    filters->addWidget(txtExamCode, 0, 1);
    filters->addWidget(txtSearch, 0, 2);
    filters->addWidget(cmdExam, 0, 3);
    filters->addWidget(new QLabel(QStringLiteral("Radiologist:"), this), 1, 0);
    filters->addWidget(txtUserId, 1, 1);
    filters->addWidget(txtFullName, 1, 2);
    filters->addWidget(cmdRad, 1, 3);
    filters->addWidget(btnSearch, 0, 4, 2, 1);
    filters->setColumnStretch(2, 1);
    outer->addLayout(filters);
    outer->addWidget(fgridExam, 1);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {btnAdd, btnEdit, btnDelete})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(btnSelect);
    buttons->addWidget(btnClose);
    outer->addLayout(buttons);
    setColumnWidths(fgridExam, widths);
    resize(900, 480);

    txtUserId->installEventFilter(this);
    connect(btnSearch, &QPushButton::clicked, this, &frmExamCoded::fgridExam_refresh);
    connect(btnSelect, &QPushButton::clicked, this, &frmExamCoded::selectClicked);
    connect(fgridExam, &QTableView::doubleClicked, this, [this] {
        if (btnSelect->isVisible())
            selectClicked();
    });
    connect(btnClose, &QPushButton::clicked, this, [this] {
        m_choice.reset();
        close();
    });
    connect(btnDelete, &QPushButton::clicked, this, &frmExamCoded::deleteClicked);
    connect(btnEdit, &QPushButton::clicked, this, &frmExamCoded::editClicked);
    connect(btnAdd, &QPushButton::clicked, this, [this] {
        frmExamCode_Add *add = frmExamCode_Add::instance();
        add->prepare(txtExamCode->text(), txtUserId->text(), txtFullName->text());
        showModalThen(this, add, [] {});
    });
    connect(cmdRad, &QPushButton::clicked, this, [this] {
        frmSelectRad::pick(this, [this](const std::optional<DoctorChoice> &rad) {
            if (!rad)
                return;
            txtUserId->setText(rad->code);
            txtFullName->setText(rad->name);
            fgridExam_refresh();
        });
    });
    connect(cmdExam, &QPushButton::clicked, this, [this] {
        frmExams::pick(this, std::nullopt, [this](const std::optional<ExamChoice> &exam) {
            if (!exam)
                return;
            txtExamCode->setText(exam->id);
            txtSearch->setText(exam->name);
        });
    });
}

void frmExamCoded::pick(QWidget *parent, const CodedFilter &filter, PickDone<QString> done)
{
    frmExamCoded *w = instance();
    w->txtExamCode->setText(filter.examCode);
    w->txtSearch->setText(filter.examName);
    w->txtUserId->setText(filter.radId);
    w->txtFullName->setText(filter.radName);
    w->m_choice.reset();
    w->btnSelect->setVisible(true);
    w->fgridExam_refresh();
    showModalThen(parent ? static_cast<QObject *>(parent) : w, w, [w, done] { done(w->m_choice); });
}

void frmExamCoded::fgridExam_refresh()
{
    const ListQuery q = ExamStore::codedSearch(state().UsePacsDBExamCodes == 1, state().AcquireModalityCode,
                                               txtSearch->text().trimmed(), txtUserId->text().trimmed());
    if (fillGrid(this, fgridExam, m_model, q, state().db()))
        fgridExam->setFocus();
    setColumnWidths(fgridExam, widths);
}

void frmExamCoded::txtUserId_LostFocus()
{
    if (txtUserId->text().trimmed().isEmpty()) {
        txtFullName->clear();
        return;
    }
    guarded(this, [this] {
        const auto name = StaffStore::doctorName(state().db(), txtUserId->text(), true);
        txtFullName->setText(name.value_or(QString()));
    });
}

bool frmExamCoded::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtUserId && event->type() == QEvent::FocusOut)
        txtUserId_LostFocus();
    return QDialog::eventFilter(watched, event);
}

QString frmExamCoded::currentExamCodeId() const
{
    return fgridExam->isEnabled() ? m_model->text(currentRow(fgridExam), 1) : QString();
}

void frmExamCoded::selectClicked()
{
    const QString id = currentExamCodeId();
    guarded(this, [&] {
        m_choice = id.isEmpty() ? QString() : ExamStore::examCodeText(state().db(), id);
        close();
    });
}

void frmExamCoded::deleteClicked()
{
    const QString id = currentExamCodeId();
    if (msgBox(this, QStringLiteral("Selected Exam Code will be deleted.  Are you sure?"), Prompter::Icon::Question, QString(),
               Prompter::Yes | Prompter::No)
        != Prompter::Yes)
        return;
    guarded(this, [&] {
        ExamStore::deleteExamCode(state().db(), id);
        fgridExam_refresh();
    });
}

void frmExamCoded::editClicked()
{
    const QString id = currentExamCodeId();
    if (id.isEmpty()) {
        msgBox(this, QStringLiteral("No record to edit!"), Prompter::Icon::Critical);
        return;
    }
    frmExamCode_Edit *edit = frmExamCode_Edit::instance();
    if (edit->loadExamCode(id))
        showModalThen(this, edit, [] {});
}

ExamCodeForm::ExamCodeForm(const char *name, const QString &caption, const char *actionName, const QString &actionCaption)
{
    setObjectName(QLatin1String(name));
    setWindowTitle(caption);
    txtExamId = upperEdit(this, "txtExamId");
    txtExamName = namedControl<QLineEdit>(this, "txtExamName");
    txtExamName->setReadOnly(true);
    txtRadId = namedControl<QLineEdit>(this, "txtRadId");
    installKeyFilter(txtRadId, KeyFilter::DigitsOnly);
    txtRadName = namedControl<QLineEdit>(this, "txtRadName");
    txtRadName->setReadOnly(true);
    txtDesc = namedControl<QPlainTextEdit>(this, "txtDesc");
    cmdExam = namedControl(this, "cmdExam", QStringLiteral("Exam"));
    cmdRad = namedControl(this, "cmdRad", QStringLiteral("Radiologist"));
    m_action = namedControl(this, actionName, actionCaption);
    btnCancel = namedControl(this, "btnCancel", QStringLiteral("&Cancel"));
    for (QPushButton *b : {cmdExam, cmdRad, m_action, btnCancel})
        b->setAutoDefault(false);

    auto *outer = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Exam ID:"), this), 0, 0);
    grid->addWidget(txtExamId, 0, 1);
    grid->addWidget(txtExamName, 0, 2);
    grid->addWidget(cmdExam, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Radiologist:"), this), 1, 0);
    grid->addWidget(txtRadId, 1, 1);
    grid->addWidget(txtRadName, 1, 2);
    grid->addWidget(cmdRad, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Exam Code:"), this), 2, 0, Qt::AlignTop);
    grid->addWidget(txtDesc, 2, 1, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);
    outer->addLayout(grid, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_action);
    buttons->addWidget(btnCancel);
    outer->addLayout(buttons);
    resize(640, 380);

    txtExamId->installEventFilter(this);
    txtRadId->installEventFilter(this);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdExam, &QPushButton::clicked, this, [this] {
        frmExams::pick(this, std::nullopt, [this](const std::optional<ExamChoice> &exam) {
            if (!exam) {
                txtExamId->setFocus();
                return;
            }
            txtExamId->setText(exam->id);
            txtExamName->setText(exam->name);
            txtDesc->setFocus();
        });
    });
    connect(cmdRad, &QPushButton::clicked, this, [this] {
        frmSelectRad::pick(this, [this](const std::optional<DoctorChoice> &rad) {
            if (!rad) {
                txtRadId->setFocus();
                return;
            }
            txtRadId->setText(rad->code);
            txtRadName->setText(rad->name);
            m_action->setFocus();
        });
    });
}

void ExamCodeForm::txtExamId_LostFocus()
{
    guarded(this, [this] { txtExamName->setText(ExamStore::examName(state().db(), txtExamId->text()).value_or(QString())); });
}

void ExamCodeForm::txtRadId_LostFocus()
{
    guarded(this, [this] {
        txtRadName->setText(txtRadId->text().trimmed().isEmpty()
                                ? QString()
                                : StaffStore::doctorName(state().db(), txtRadId->text(), false).value_or(QString()));
    });
}

bool ExamCodeForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == txtExamId)
            txtExamId_LostFocus();
        else if (watched == txtRadId)
            txtRadId_LostFocus();
    }
    return QDialog::eventFilter(watched, event);
}

frmExamCode_Add *frmExamCode_Add::instance()
{
    auto &w = addHolder();
    if (!w)
        w = new frmExamCode_Add();
    return w;
}

frmExamCode_Add *frmExamCode_Add::loaded()
{
    return addHolder();
}

frmExamCode_Add::frmExamCode_Add()
    : ExamCodeForm("frmExamCode_Add", QStringLiteral(" Add New Exam Code"), "btnAdd", QStringLiteral("&Add"))
{
    btnAdd = m_action;
    connect(btnAdd, &QPushButton::clicked, this, &frmExamCode_Add::addClicked);
}

void frmExamCode_Add::prepare(const QString &examId, const QString &radId, const QString &radName)
{
    txtExamId->setText(examId);
    txtRadId->setText(radId);
    txtRadName->setText(radName);
    txtDesc->clear();
    txtExamName->clear();
    txtExamId_LostFocus();
}

void frmExamCode_Add::addClicked()
{
    if (!RequireText(txtExamId->text().trimmed(), QStringLiteral("Exam ID is required!"))
        || !RequireText(txtDesc->toPlainText(), QStringLiteral("Exam Code is required!")))
        return;
    const QString rad = isRadiologistId(txtRadId->text()) ? txtRadId->text() : QString();
    guarded(this, [&] {
        ExamStore::addExamCode(state().db(), txtExamId->text(), txtDesc->toPlainText(), rad, state().CurrentUser.UserID());
        accept();
        refreshCoded();
    });
}

frmExamCode_Edit *frmExamCode_Edit::instance()
{
    auto &w = editHolder();
    if (!w)
        w = new frmExamCode_Edit();
    return w;
}

frmExamCode_Edit *frmExamCode_Edit::loaded()
{
    return editHolder();
}

frmExamCode_Edit::frmExamCode_Edit()
    : ExamCodeForm("frmExamCode_Edit", QStringLiteral(" Edit Exam Code"), "btnUpdate", QStringLiteral("&Update"))
{
    btnUpdate = m_action;
    // Exam and radiologist are shown, not changed.
    for (QWidget *w : std::initializer_list<QWidget *>{txtExamId, txtRadId, cmdExam, cmdRad})
        w->setEnabled(false);
    connect(btnUpdate, &QPushButton::clicked, this, &frmExamCode_Edit::updateClicked);
}

bool frmExamCode_Edit::loadExamCode(const QString &examCodeId)
{
    m_examCodeId = examCodeId;
    std::optional<ExamStore::ExamCode> code;
    try {
        code = ExamStore::loadExamCode(state().db(), m_examCodeId);
    } catch (const std::exception &e) {
        msgBox(this, describe(e));
        return false;
    }
    if (!code) {
        msgBox(this, QStringLiteral("ExamCode not found!"), Prompter::Icon::Critical);
        return false;
    }
    txtExamId->setText(code->examId);
    txtDesc->setPlainText(code->text);
    txtRadId->setText(code->radiologistId);
    txtExamId_LostFocus();
    txtRadId_LostFocus();
    return true;
}

void frmExamCode_Edit::updateClicked()
{
    guarded(this, [this] {
        ExamStore::updateExamCode(state().db(), m_examCodeId, txtDesc->toPlainText(), state().CurrentUser.UserID());
        msgBox(this, QStringLiteral("Exam Code successfully updated!"));
        accept();
        refreshCoded();
    });
}

} // namespace orv
