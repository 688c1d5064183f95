#include "frmExams.h"

#include "MasterDataStore.h"
#include "PickerHelpers.h"

#include "core/SharedState.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &holder = windowInstance<frmExams>;
const QList<int> widths = {0, 1000, 4000, 500};
} // namespace

frmExams *frmExams::instance()
{
    auto &w = holder();
    if (!w)
        w = new frmExams();
    return w;
}

frmExams *frmExams::loaded()
{
    return holder();
}

frmExams::frmExams()
{
    setObjectName(QStringLiteral("frmExams"));
    setWindowTitle(QStringLiteral("Exams"));
    txtSearch = upperEdit(this, "txtSearch");
    btnSearch = namedControl(this, "btnSearch", QStringLiteral("&Search"));
    m_model = new GridModel({QString(), QStringLiteral("Exam ID"), QStringLiteral("Exam Name"), QStringLiteral("Mod.")}, true, this);
    fgridExam = makeGrid(this, "fgridExam", m_model);
    lblExamID = namedControl<QLabel>(this, "lblExamID");
    txtExamIDAdd = upperEdit(this, "txtExamIDAdd");
    txtExamNameAdd = upperEdit(this, "txtExamNameAdd");
    cmdAdd = namedControl(this, "cmdAdd", QStringLiteral("&Add"));
    cmdUpdate = namedControl(this, "cmdUpdate", QStringLiteral("&Update"));
    cmdDelete = namedControl(this, "cmdDelete", QStringLiteral("Delete"));
    btnSelect = namedControl(this, "btnSelect", QStringLiteral("S&elect"));
    btnClose = namedControl(this, "btnClose", QStringLiteral("&Close"));
    for (QPushButton *b : {btnSearch, cmdAdd, cmdUpdate, cmdDelete, btnSelect, btnClose})
        b->setAutoDefault(false);

    auto *outer = new QVBoxLayout(this);
    auto *search = new QHBoxLayout;
    search->addWidget(new QLabel(QStringLiteral("Exam Name:"), this));
    search->addWidget(txtSearch, 1);
    search->addWidget(btnSearch);
    outer->addLayout(search);
    auto *middle = new QHBoxLayout;
    middle->addWidget(fgridExam, 1);
    auto *cmd = new QVBoxLayout;
    cmd->addWidget(btnSelect);
    cmd->addStretch();
    cmd->addWidget(btnClose);
    middle->addLayout(cmd);
    outer->addLayout(middle, 1);
    auto *maint = new QGroupBox(QStringLiteral("Exam"), this);
    auto *ml = new QGridLayout(maint);
    ml->addWidget(new QLabel(QStringLiteral("Exam ID:"), maint), 0, 0);
    ml->addWidget(txtExamIDAdd, 0, 1);
    ml->addWidget(lblExamID, 0, 2);
    ml->addWidget(new QLabel(QStringLiteral("Exam Name:"), maint), 1, 0);
    ml->addWidget(txtExamNameAdd, 1, 1, 1, 2);
    auto *mb = new QHBoxLayout;
    mb->addWidget(cmdAdd);
    mb->addWidget(cmdUpdate);
    mb->addWidget(cmdDelete);
    mb->addStretch();
    ml->addLayout(mb, 2, 0, 1, 3);
    ml->setColumnStretch(1, 1);
    outer->addWidget(maint);
    setColumnWidths(fgridExam, widths);
    resize(560, 460);

    connect(btnSearch, &QPushButton::clicked, this, &frmExams::fgridExam_refresh);
    onEnter(txtSearch, [this] { fgridExam_refresh(); });
    connect(fgridExam, &QTableView::clicked, this, &frmExams::rowClicked);
    connect(fgridExam, &QTableView::doubleClicked, this, &frmExams::selectClicked);
    onEnter(fgridExam, [this] { selectClicked(); });
    connect(btnSelect, &QPushButton::clicked, this, &frmExams::selectClicked);
    connect(btnClose, &QPushButton::clicked, this, [this] {
        m_choice.reset();
        close();
    });
    connect(cmdAdd, &QPushButton::clicked, this, [this] {
        guarded(this, [this] {
            ExamStore::addExam(state().db(), txtExamIDAdd->text(), txtExamNameAdd->text(), m_modality);
            fgridExam_refresh();
        });
    });
    connect(cmdUpdate, &QPushButton::clicked, this, [this] {
        if (lblExamID->text().isEmpty())
            return;
        guarded(this, [this] {
            ExamStore::updateExam(state().db(), txtExamIDAdd->text(), txtExamNameAdd->text(), m_modality);
            fgridExam_refresh();
        });
    });
    connect(cmdDelete, &QPushButton::clicked, this, [this] {
        const int row = currentRow(fgridExam);
        if (row < 0 || !fgridExam->isEnabled())
            return;
        guarded(this, [&] {
            ExamStore::deleteExam(state().db(), m_model->text(row, 1), m_modality);
            fgridExam_refresh();
        });
    });
}

void frmExams::pick(QWidget *parent, const std::optional<QString> &modality, PickDone<ExamChoice> done)
{
    frmExams *w = instance();
    if (modality)
        w->m_modality = *modality;
    w->prepare();
    showModalThen(parent ? static_cast<QObject *>(parent) : w, w, [w, done] { done(w->m_choice); });
}

void frmExams::prepare()
{
    m_choice.reset();
    fgridExam_refresh();
}

void frmExams::fgridExam_refresh()
{
    const bool found = fillGrid(this, fgridExam, m_model, ExamStore::examSearch(m_modality, txtSearch->text().trimmed()), state().db());
    btnSelect->setEnabled(found);
    setColumnWidths(fgridExam, widths);
    fgridExam->setFocus();
}

void frmExams::rowClicked()
{
    const int row = currentRow(fgridExam);
    if (row < 0)
        return;
    lblExamID->setText(m_model->text(row, 1));
    txtExamIDAdd->setText(m_model->text(row, 1));
    txtExamNameAdd->setText(m_model->text(row, 2));
}

void frmExams::selectClicked()
{
    const int row = currentRow(fgridExam);
    if (row < 0 || !fgridExam->isEnabled())
        return;
    m_choice = ExamChoice{m_model->text(row, 1), m_model->text(row, 2)};
    close();
}

} // namespace orv
