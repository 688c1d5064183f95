#include "frmLog.h"

#include "CoreRoutines.h"
#include "WindowHelpers.h"

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &holder = windowInstance<frmLog>;
} // namespace

frmLog::frmLog()
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Log"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    txtLog->setReadOnly(true);
    layout->addWidget(txtLog);
    resize(560, 320);
    RestoreWindow(this);
}

frmLog *frmLog::instance()
{
    auto &w = holder();
    if (!w)
        w = new frmLog();
    return w;
}

frmLog *frmLog::existing()
{
    return holder();
}

void frmLog::append(const QString &message)
{
    QTextCursor c(txtLog->document());
    c.movePosition(QTextCursor::End);
    c.insertText(QStringLiteral("\n") + message);
    txtLog->moveCursor(QTextCursor::End);
    if (!isVisible())
        show();
}

QString frmLog::text() const
{
    return txtLog->toPlainText();
}

void frmLog::closeEvent(QCloseEvent *event)
{
    SaveWindow(this);
    event->accept();
}

} // namespace orv
