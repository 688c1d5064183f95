#include "frmLog.h"

#include "CoreRoutines.h"
#include "SharedState.h"
#include "WindowHelpers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVBoxLayout>

#include <mutex>

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

    LogModel &log = logModel();
    for (const QString &line : log.lines())
        appendLine(line);
    connect(&log, &QAbstractItemModel::rowsInserted, this, [this, &log](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row)
            appendLine(log.index(row).data().toString());
        if (!isVisible())
            show();
    });
}

frmLog::~frmLog()
{
    logModel().clear();
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

void frmLog::showOnNewLines()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // An open window shows the line itself; a new one shows every line the log holds.
        connect(&logModel(), &LogModel::lineAdded, &logModel(), [] {
            if (!existing() && qobject_cast<QApplication *>(QCoreApplication::instance()))
                instance()->show();
        });
    });
}

void frmLog::appendLine(const QString &line)
{
    QTextCursor c(txtLog->document());
    c.movePosition(QTextCursor::End);
    c.insertText(QStringLiteral("\n") + line);
    txtLog->moveCursor(QTextCursor::End);
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
