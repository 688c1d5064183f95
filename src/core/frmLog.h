#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace orv {

// The log window: a text box to which AddLog appends lines. One instance per run.
class frmLog : public QWidget
{
    Q_OBJECT
public:
    static frmLog *instance();
    static frmLog *existing();

    // Appends a line break and the message, and shows the window (not modal).
    void append(const QString &message);
    QString text() const;

    QPlainTextEdit *txtLog = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    frmLog();
};

} // namespace orv
