#pragma once

#include <QMainWindow>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;

namespace orv {

class TransactionListModel;

// The main window: the transaction list and the tools. First and last window of a run:
// closing it ends the program.
class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    static frmMain *instance();
    static frmMain *loaded();

    QWidget *fraTop = nullptr;
    QWidget *fraCmd = nullptr;
    QTableView *fgridPacs = nullptr;
    QLineEdit *txtLastname = nullptr;
    QRadioButton *optAll = nullptr;
    QRadioButton *optSpecified = nullptr;
    QDateEdit *dtPicker = nullptr;
    QCheckBox *chkPendingResults = nullptr;
    QPushButton *btnFilter = nullptr;
    QPushButton *sbtnView = nullptr;
    QPushButton *cmdAcquire = nullptr;
    QPushButton *sbtnPatient = nullptr;
    QPushButton *cmdSelectSource = nullptr;
    QPushButton *cmdTest = nullptr;
    QPushButton *cmdOptions = nullptr;
    QPushButton *cmdSendQueue = nullptr; // the send queue window
    QLabel *lblSource = nullptr;

    TransactionListModel *model() const { return m_model; }

    // Rebuilds the list from the filters.
    void Search_Exam();
    // Opens the transaction of the grid's current row in the editor.
    void OpenCurrent();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    frmMain();
    void Form_Load();

    TransactionListModel *m_model = nullptr;
};

} // namespace orv
