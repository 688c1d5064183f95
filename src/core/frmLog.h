#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace orv {

// The log window: a view of the log of this run (logModel()). Each line shows as a line break
// followed by the line, so the text starts with an empty line. One instance per run; the window
// deletes itself when closed, and with it goes what the log held: a line added later opens a
// new, empty window.
class frmLog : public QWidget
{
    Q_OBJECT
public:
    static frmLog *instance();
    static frmLog *existing();
    // From now on every line added to the log shows the window (not modal), creating it when
    // none is open. Called once per run, before the first line; calling it again does nothing.
    static void showOnNewLines();

    ~frmLog() override;

    QString text() const;

    QPlainTextEdit *txtLog = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    frmLog();
    void appendLine(const QString &line);
};

} // namespace orv
