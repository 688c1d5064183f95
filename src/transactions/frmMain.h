#pragma once

#include <QMainWindow>

class QLabel;
class QPushButton;

namespace orv {

// The main window: first and last window of a run. Closing it ends the program.
class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    static frmMain *instance();
    static frmMain *loaded();

    QLabel *lblSource = nullptr;
    QPushButton *cmdAcquire = nullptr;
    QPushButton *sbtnView = nullptr;
    QPushButton *sbtnPatient = nullptr;
    QPushButton *cmdSelectSource = nullptr;
    QPushButton *cmdTest = nullptr;
    QPushButton *cmdOptions = nullptr;

    void Form_Load();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    frmMain();
};

} // namespace orv
