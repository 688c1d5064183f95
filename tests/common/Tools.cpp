#include "Tools.h"

#include "outside/audit/AuditTrail.h"

#include <QFile>
#include <QTemporaryDir>

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace orv::test {

quint16 freeLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

bool waitForPort(quint16 port, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        if (s.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

ToolResult runTool(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.start(program, args);
    ToolResult r;
    if (!p.waitForStarted(10000)) {
        r.err = QStringLiteral("cannot start %1").arg(program);
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("%1 timed out").arg(program);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QStringList auditMessages()
{
    audit::AuditTrail &trail = audit::AuditTrail::instance();
    trail.flush();
    QFile f(trail.logFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString invalidAuditMessages(const QStringList &lines)
{
    QTemporaryDir dir;
    QStringList files;
    for (const QString &line : lines) {
        QFile f(dir.filePath(QStringLiteral("m%1.xml").arg(files.size())));
        if (!f.open(QIODevice::WriteOnly))
            return QStringLiteral("cannot write ") + f.fileName();
        f.write(line.toUtf8());
        files << f.fileName();
    }
    const ToolResult r = runTool(QStringLiteral("xmllint"),
                                 QStringList{QStringLiteral("--noout"), QStringLiteral("--relaxng"),
                                             QStringLiteral(ORV_SOURCE_DIR "/resources/audit/audit-message.rng")} + files);
    return r.exitCode == 0 ? QString() : r.out + r.err;
}

QStringList dciodvfyErrors(const QString &path)
{
    const ToolResult r = runTool(QStringLiteral("dciodvfy"), {path});
    QStringList errors;
    if (r.exitCode < 0)
        return {QStringLiteral("dciodvfy did not run: ") + r.err};
    const QString all = r.out + QLatin1Char('\n') + r.err;
    for (const QString &line : all.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Error")))
            errors << line;
    return errors;
}

} // namespace orv::test

#include <QTest>
#include <QWidget>

namespace orv::test {
void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 128 && c.unicode() >= 32)
            QTest::keyClick(widget, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}
} // namespace orv::test
