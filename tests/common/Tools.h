#pragma once

#include <QString>
#include <QStringList>

namespace orv::test {

// A free TCP port on the loopback interface (bound and released; good for a peer started next).
quint16 freeLoopbackPort();

// Blocks until something accepts connections on 127.0.0.1:port, at most timeoutMs.
bool waitForPort(quint16 port, int timeoutMs = 15000);

struct ToolResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs an outside tool to completion (at most timeoutMs) and returns what it printed.
ToolResult runTool(const QString &program, const QStringList &args, int timeoutMs = 60000);

// The audit trail's messages so far (its local file, once every message is written), one a line.
QStringList auditMessages();
// The messages of `lines` that xmllint finds invalid against the DICOM audit message schema, with
// its complaint; empty when all are valid.
QString invalidAuditMessages(const QStringList &lines);

// Runs dciodvfy on a file; returns the lines that report an error (empty when the object conforms).
QStringList dciodvfyErrors(const QString &path);

} // namespace orv::test

class QWidget;
namespace orv::test {
// Types text into a widget key by key, non-ASCII characters included (QTest::keyClicks stops at those).
void typeText(QWidget *widget, const QString &text);
} // namespace orv::test
