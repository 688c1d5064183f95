#include "frmMain.h"

#include "core/Audit.h"
#include "TransactionListModel.h"
#include "frmTransaction.h"

#include "acquisition/CaptureSource.h"
#include "acquisition/frmCAPTEST.h"
#include "acquisition/frmSelectSource.h"
#include "core/CoreRoutines.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/WindowHelpers.h"
#include "core/frmOptions.h"
#include "masterdata/frmPatient.h"
#include "sendqueue/frmSendQueue.h"
#include "outside/Error.h"
#include "outside/Prompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &holder = windowInstance<frmMain>;
constexpr auto makeButton = namedControl<QPushButton>;

// A tool button that shows, not modal and in front, the one instance of a window.
template<typename Window>
QPushButton *toolButton(QWidget *parent, const char *name, const QString &caption)
{
    QPushButton *b = makeButton(parent, name, caption);
    QObject::connect(b, &QPushButton::clicked, parent, [] { showInFront(Window::instance()); });
    return b;
}
} // namespace

frmMain *frmMain::instance()
{
    auto &w = holder();
    if (!w)
        w = new frmMain();
    return w;
}

frmMain *frmMain::loaded()
{
    return holder();
}

frmMain::frmMain()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("VELMOR ORVALINE"));
    auto *central = new QWidget(this);
    auto *outer = new QHBoxLayout(central);
    auto *left = new QVBoxLayout;

    fraTop = new QWidget(central);
    fraTop->setObjectName(QStringLiteral("fraTop"));
    auto *top = new QGridLayout(fraTop);
    top->setContentsMargins(0, 0, 0, 0);
    txtLastname = new QLineEdit(fraTop);
    txtLastname->setObjectName(QStringLiteral("txtLastname"));
    installKeyFilter(txtLastname, KeyFilter::UpperCase);
    auto *lblLast = new QLabel(QStringLiteral("&Last Name:"), fraTop);
    lblLast->setBuddy(txtLastname);
    optAll = new QRadioButton(QStringLiteral("&All Exams Requested"), fraTop);
    optAll->setObjectName(QStringLiteral("optAll"));
    optSpecified = new QRadioButton(QStringLiteral("&Exam Date:"), fraTop);
    optSpecified->setObjectName(QStringLiteral("optSpecified"));
    optAll->setAutoExclusive(false);
    optSpecified->setAutoExclusive(false);
    optAll->setChecked(true);
    dtPicker = new QDateEdit(fraTop);
    dtPicker->setObjectName(QStringLiteral("dtPicker"));
    dtPicker->setCalendarPopup(true);
    dtPicker->setDisplayFormat(QStringLiteral("MM/dd/yyyy"));
    chkPendingResults = new QCheckBox(QStringLiteral("&Pending Results"), fraTop);
    chkPendingResults->setObjectName(QStringLiteral("chkPendingResults"));
    btnFilter = makeButton(fraTop, "btnFilter", QStringLiteral("&Search"));
    top->addWidget(lblLast, 0, 0);
    top->addWidget(txtLastname, 0, 1);
    top->addWidget(btnFilter, 0, 2);
    top->addWidget(optAll, 1, 0);
    top->addWidget(optSpecified, 1, 1, Qt::AlignRight);
    top->addWidget(dtPicker, 1, 2);
    top->addWidget(chkPendingResults, 0, 3);
    top->setColumnStretch(1, 1);
    left->addWidget(fraTop);

    m_model = new TransactionListModel(this);
    fgridPacs = new QTableView(central);
    fgridPacs->setObjectName(QStringLiteral("fgridPacs"));
    fgridPacs->setModel(m_model);
    fgridPacs->setSelectionBehavior(QAbstractItemView::SelectRows);
    fgridPacs->setSelectionMode(QAbstractItemView::SingleSelection);
    fgridPacs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fgridPacs->verticalHeader()->setDefaultSectionSize(fgridPacs->fontMetrics().height() + 6);
    fgridPacs->verticalHeader()->hide();
    fgridPacs->setAlternatingRowColors(true);
    fgridPacs->installEventFilter(this);
    watchViewHeight(fgridPacs, m_model);
    left->addWidget(fgridPacs, 1);
    outer->addLayout(left, 1);

    fraCmd = new QWidget(central);
    fraCmd->setObjectName(QStringLiteral("fraCmd"));
    auto *cmd = new QVBoxLayout(fraCmd);
    sbtnView = makeButton(fraCmd, "sbtnView", QStringLiteral("&View Exam"));
    cmdAcquire = makeButton(fraCmd, "cmdAcquire", QStringLiteral("&New / Acquire"));
    sbtnPatient = toolButton<frmPatient>(fraCmd, "sbtnPatient", QStringLiteral("&Patients"));
    cmdSelectSource = toolButton<frmSelectSource>(fraCmd, "cmdSelectSource", QStringLiteral("Select Sour&ce"));
    cmdTest = toolButton<frmCAPTEST>(fraCmd, "cmdTest", QStringLiteral("Capture &Test"));
    cmdOptions = makeButton(fraCmd, "cmdOptions", QStringLiteral("&Options"));
    cmdSendQueue = makeButton(fraCmd, "cmdSendQueue", QStringLiteral("Send &Queue"));
    lblSource = new QLabel(fraCmd);
    lblSource->setObjectName(QStringLiteral("lblSource"));
    lblSource->setWordWrap(true);
    for (QWidget *w : std::initializer_list<QWidget *>{sbtnView, cmdAcquire, sbtnPatient, cmdSelectSource, cmdTest, cmdOptions, cmdSendQueue})
        cmd->addWidget(w);
    cmd->addSpacing(12);
    cmd->addWidget(new QLabel(QStringLiteral("Source:"), fraCmd));
    cmd->addWidget(lblSource);
    cmd->addStretch();
    fraCmd->setFixedWidth(170);
    outer->addWidget(fraCmd);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("statBar"));
    sbtnPatient->hide();

    connect(btnFilter, &QPushButton::clicked, this, &frmMain::Search_Exam);
    connect(sbtnView, &QPushButton::clicked, this, &frmMain::OpenCurrent);
    connect(fgridPacs, &QTableView::doubleClicked, this, &frmMain::OpenCurrent);
    connect(cmdAcquire, &QPushButton::clicked, this, [] { frmTransaction::instance()->NewTransaction(); });
    connect(cmdOptions, &QPushButton::clicked, this, [] {
        frmOptions *w = frmOptions::instance();
        w->show();
        w->raise();
    });
    connect(cmdSendQueue, &QPushButton::clicked, this, [] {
        frmSendQueue *w = frmSendQueue::instance();
        w->show();
        w->raise();
    });
    connect(dtPicker, &QDateEdit::dateChanged, this, [this] {
        optSpecified->setChecked(true);
        optAll->setChecked(false);
    });
    connect(optAll, &QRadioButton::clicked, this, [this] {
        optAll->setChecked(true);
        optSpecified->setChecked(false);
    });
    connect(optSpecified, &QRadioButton::clicked, this, [this] {
        optSpecified->setChecked(true);
        optAll->setChecked(false);
    });
    connect(m_model, &TransactionListModel::fetchFailed, this, [this](const QString &d) { msgBox(this, d); });
    txtLastname->installEventFilter(this);
    resize(1100, 680);
    Form_Load();
}

void frmMain::Form_Load()
{
    RestoreWindow(this);
    lblSource->setText(captureSource().name());
    connect(&captureSource(), &CaptureSource::chosen, lblSource, &QLabel::setText);
    const SharedState &st = state();
    statusBar()->showMessage(QStringLiteral("Login: ") + st.EmployeeName + QStringLiteral(" (") + st.CurrentUser.UserID()
                             + QStringLiteral(")"));
    if (st.chkUseHospPat == 0)
        sbtnPatient->setVisible(true);
    {
        const QSignalBlocker block(dtPicker);
        dtPicker->setDate(QDate::currentDate());
    }
    sbtnView->setEnabled(false);
    // The designed widths, widened where a header would not fit.
    const QFontMetrics header(fgridPacs->horizontalHeader()->font());
    for (int c = 0; c < TransactionListModel::ColumnCount; ++c)
        fgridPacs->setColumnWidth(c, qMax(twipsToPixels(TransactionListModel::widthTwips(c)),
                                          header.horizontalAdvance(TransactionListModel::header(c)) + 16));
    // The first search runs once the window is shown and pending events have run.
    QTimer::singleShot(0, this, &frmMain::Search_Exam);
}

void frmMain::Search_Exam()
{
    SearchFilter f;
    f.text = txtLastname->text().trimmed();
    f.modality = state().AcquireModalityCode;
    f.useHospPat = state().chkUseHospPat;
    f.dateSpecified = optSpecified->isChecked();
    f.date = dtPicker->date();
    f.pendingOnly = chkPendingResults->isChecked();
    m_model->clear();
    try {
        WaitCursor wait;
        m_model->search(state().db(), searchStatement(state().db().backend(), f));
    } catch (const Error &e) {
        msgBox(this, e.description());
        return;
    }
    fgridPacs->setVisible(true);
    if (m_model->rowCount() > 0) {
        fgridPacs->setFocusPolicy(Qt::StrongFocus);
        sbtnView->setEnabled(true);
        fgridPacs->setCurrentIndex(m_model->index(0, 0));
        fgridPacs->setFocus();
    } else {
        fgridPacs->setFocusPolicy(Qt::NoFocus);
        sbtnView->setEnabled(false);
    }
}

void frmMain::OpenCurrent()
{
    const int row = fgridPacs->currentIndex().isValid() ? fgridPacs->currentIndex().row() : -1;
    frmTransaction::instance()->LoadTransaction(m_model->text(row, 1).trimmed());
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (watched == txtLastname && enter) {
            Search_Exam();
            return true;
        }
        if (watched == txtLastname && key == Qt::Key_Escape) {
            close();
            return true;
        }
        if (watched == fgridPacs && enter) {
            OpenCurrent();
            return true;
        }
        // A search leaves the focus in the grid: what the operator types next (a new name, or
        // Backspace to clear the old one) is meant for the search box, and so is the Enter after it.
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        const bool typing = key == Qt::Key_Backspace
                            || (!keyEvent->text().isEmpty() && keyEvent->text().at(0).isPrint()
                                && !(keyEvent->modifiers() & (Qt::ControlModifier | Qt::AltModifier)));
        if (watched == fgridPacs && typing) {
            txtLastname->setFocus(Qt::OtherFocusReason);
            if (key == Qt::Key_Backspace && !txtLastname->hasSelectedText())
                txtLastname->end(false);
            QCoreApplication::sendEvent(txtLastname, event);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // Ending the program cuts running work short and drops New rows: the operator decides.
    const QStringList unfinished = session().unfinishedWork();
    if (!unfinished.isEmpty()
        && msgBox(this, unfinished.join(QLatin1Char('\n')) + QStringLiteral("\n\nEnd the program anyway?"), Prompter::Icon::Question,
                  QString(), Prompter::Yes | Prompter::No)
               != Prompter::Yes) {
        event->ignore();
        return;
    }
    SaveWindow(this);
    event->accept();
    // The trail's writer puts the message on disc before the program ends (not waited for here).
    if (!auditTrail().user().isEmpty())
        auditTrail().userAuthentication(auditTrail().user(), false, audit::Outcome::Success);
    // The program ends at once: no other window runs its own closing steps.
    QApplication::quit();
}

} // namespace orv
