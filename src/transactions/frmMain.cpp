#include "frmMain.h"

#include "core/CoreRoutines.h"
#include "core/SharedState.h"
#include "core/WindowRegistry.h"
#include "core/frmOptions.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

namespace orv {

namespace {
QPointer<frmMain> &holder()
{
    static QPointer<frmMain> w;
    return w;
}

QPushButton *toolButton(QWidget *parent, const char *name, const QString &caption, const QString &window)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    QObject::connect(b, &QPushButton::clicked, parent, [window] { WindowRegistry::show(window); });
    if (!WindowRegistry::has(window)) {
        b->setEnabled(false);
        b->setToolTip(QStringLiteral("Not available in this build yet."));
    }
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
    auto *layout = new QHBoxLayout(central);
    auto *list = new QWidget(central);
    list->setObjectName(QStringLiteral("fraTop"));
    layout->addWidget(list, 1);
    auto *cmd = new QWidget(central);
    cmd->setObjectName(QStringLiteral("fraCmd"));
    auto *buttons = new QVBoxLayout(cmd);
    cmdAcquire = toolButton(cmd, "cmdAcquire", QStringLiteral("&New / Acquire"), QStringLiteral("frmTransaction"));
    sbtnView = toolButton(cmd, "sbtnView", QStringLiteral("&View Exam"), QStringLiteral("frmTransaction"));
    sbtnPatient = toolButton(cmd, "sbtnPatient", QStringLiteral("&Patients"), QStringLiteral("frmPatient"));
    cmdSelectSource = toolButton(cmd, "cmdSelectSource", QStringLiteral("Select Sour&ce"), QStringLiteral("frmSelectSource"));
    cmdTest = toolButton(cmd, "cmdTest", QStringLiteral("Capture &Test"), QStringLiteral("frmCAPTEST"));
    cmdOptions = new QPushButton(QStringLiteral("&Options"), cmd);
    cmdOptions->setObjectName(QStringLiteral("cmdOptions"));
    connect(cmdOptions, &QPushButton::clicked, this, [] {
        frmOptions *w = frmOptions::instance();
        w->show();
        w->raise();
    });
    lblSource = new QLabel(cmd);
    lblSource->setObjectName(QStringLiteral("lblSource"));
    lblSource->setWordWrap(true);
    for (QWidget *w : std::initializer_list<QWidget *>{cmdAcquire, sbtnView, sbtnPatient, cmdSelectSource, cmdTest, cmdOptions, lblSource})
        buttons->addWidget(w);
    buttons->addStretch();
    sbtnPatient->hide();
    layout->addWidget(cmd);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("statBar"));
    resize(1000, 640);
    Form_Load();
}

void frmMain::Form_Load()
{
    RestoreWindow(this);
    lblSource->setText(settings().read(apps::VELMORPACS, QStringLiteral("ACQUIRE"), QStringLiteral("Source"),
                                       QStringLiteral("(select source first)")));
    const SharedState &st = state();
    statusBar()->showMessage(QStringLiteral("Login: ") + st.EmployeeName + QStringLiteral(" (") + st.CurrentUser.UserID()
                             + QStringLiteral(")"));
    if (st.chkUseHospPat == 0)
        sbtnPatient->setVisible(true);
    sbtnView->setEnabled(false);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    SaveWindow(this);
    event->accept();
    // The program ends at once: no other window runs its own closing steps.
    QApplication::quit();
}

} // namespace orv
