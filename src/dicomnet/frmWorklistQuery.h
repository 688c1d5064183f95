#pragma once

#include "Worklist.h"

#include <QWidget>

#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;

namespace orv {

// The modality worklist window: asks the worklist provider of the DICOM node settings for
// scheduled procedures, lists the answers, and turns the chosen one into a new transaction
// (WorklistAccept). Opened modal from the editor; one instance, unloaded when it closes.
// Closing it while a query runs cancels the query.
class frmWorklistQuery : public QWidget
{
    Q_OBJECT
public:
    static frmWorklistQuery *instance();
    static frmWorklistQuery *loaded();

    QTabWidget *SSTab = nullptr;
    QLineEdit *PatientName = nullptr, *PatientID = nullptr, *StudyDate = nullptr, *Modality = nullptr,
              *txtAccessionNumber = nullptr, *Text1 = nullptr, *txtBranchCode = nullptr;
    QPushButton *RunMWL = nullptr, *cmdSelect = nullptr, *cmdCancel = nullptr, *cmdYes = nullptr, *cmdNo = nullptr;
    QTableView *Grid1 = nullptr;
    QGroupBox *fraVerify = nullptr;
    QLineEdit *txtVPatID = nullptr, *txtVPatLastName = nullptr, *txtVPatFirstName = nullptr, *txtVPatMiddleName = nullptr,
              *txtPatVBirthdate = nullptr, *txtVPatSex = nullptr;

    WorklistModel *model() const { return m_model; }
    bool isSearching() const { return m_query->isRunning(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    frmWorklistQuery();
    void buildLayout();
    void search();
    void searchEnded();
    void choose();
    void hideVerify();
    void accept();

    WorklistModel *m_model = nullptr;
    std::optional<WorklistAnswer> m_verified; // the answer the Verify frame shows
    WorklistQuery *m_query = nullptr;
};

} // namespace orv
