#include "frmServer.h"

#include "CoreRoutines.h"
#include "SharedState.h"
#include "Startup.h"
#include "WindowHelpers.h"
#include "outside/Prompter.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace orv {

namespace {
QLineEdit *makeEdit(QWidget *parent, const char *name)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    // Typed letters become upper case where the file system ignores case; on a file system that
    // does not, upper-casing would make lower-case folders impossible to type.
#ifdef Q_OS_WIN
    installKeyFilter(e, KeyFilter::UpperCase);
#endif
    return e;
}
} // namespace

frmServer *frmServer::instance()
{
    auto &w = windowInstance<frmServer>();
    if (!w)
        w = new frmServer();
    return w;
}

frmServer::frmServer()
{
    setObjectName(QStringLiteral("frmServer"));
    setWindowTitle(QStringLiteral("Image Location Configuration"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *grid = new QGridLayout(this);
    txtServerName = makeEdit(this, "txtServerName");
    txtServerFolder = makeEdit(this, "txtServerFolder");
    chkOverrideImgPath = new QCheckBox(QStringLiteral("Override saved image path with current server name"), this);
    chkOverrideImgPath->setObjectName(QStringLiteral("chkOverrideImgPath"));
    txtSQLServer = makeEdit(this, "txtSQLServer");
    txtDatabase = makeEdit(this, "txtDatabase");
    txtUser = makeEdit(this, "txtUser");
    txtPassword = makeEdit(this, "txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);
    int row = 0;
    auto addRow = [&](const QString &label, QWidget *w) {
        grid->addWidget(new QLabel(label, this), row, 0);
        grid->addWidget(w, row++, 1);
    };
    addRow(QStringLiteral("Server Name:"), txtServerName);
    addRow(QStringLiteral("Server Folder:"), txtServerFolder);
    auto *hint = new QLabel(QStringLiteral("ex : images\\acquire"), this);
    hint->setObjectName(QStringLiteral("lblHint"));
    hint->setEnabled(false);
    grid->addWidget(hint, row++, 1);
    grid->addWidget(chkOverrideImgPath, row++, 1);
    addRow(QStringLiteral("SQL Server:"), txtSQLServer);
    addRow(QStringLiteral("SQL Database:"), txtDatabase);
    addRow(QStringLiteral("SQL User:"), txtUser);
    addRow(QStringLiteral("SQL Password:"), txtPassword);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    btnOk = new QPushButton(QStringLiteral("&OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    buttons->addWidget(btnOk);
    buttons->addWidget(btnClose);
    grid->setRowStretch(row++, 1);
    grid->addLayout(buttons, row, 0, 1, 2);
    connect(btnOk, &QPushButton::clicked, this, &frmServer::btnOk_Click);
    connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
    for (QLineEdit *e : {txtServerName, txtServerFolder, txtSQLServer, txtDatabase, txtUser, txtPassword})
        e->installEventFilter(this);
    resize(480, 300);
    Form_Load();
}

void frmServer::Form_Load()
{
    RestoreWindow(this);
    SettingsStore &s = settings();
    txtServerName->setText(s.read(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("Server_Name"), defaultTempFolder()));
    txtServerFolder->setText(s.read(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("Server_Folder"), QStringLiteral("ACQUIRE")));
    chkOverrideImgPath->setChecked(
        SettingsStore::intOf(s.read(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("chkOverrideImgPath"))) != 0);
}

void frmServer::btnOk_Click()
{
    SharedState &st = state();
    st.Server_Name = txtServerName->text().trimmed();
    st.Server_Folder = txtServerFolder->text().trimmed();
    SettingsStore &s = settings();
    s.write(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("Server_Name"), st.Server_Name);
    s.write(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("Server_Folder"), st.Server_Folder);
    s.write(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("chkOverrideImgPath"),
            chkOverrideImgPath->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    msgBox(this, QStringLiteral("Server Info successfully updated!"), Prompter::Icon::Information);
    close();
}

bool frmServer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            QWidget *order[] = {txtServerName, txtServerFolder, txtSQLServer, txtDatabase, txtUser, txtPassword, btnOk};
            for (int i = 0; i + 1 < 7; ++i)
                if (watched == order[i]) {
                    order[i + 1]->setFocus();
                    return true;
                }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmServer::closeEvent(QCloseEvent *event)
{
    SaveWindow(this);
    event->accept();
}

} // namespace orv
