#pragma once

#include "session/OpenTransaction.h"
#include "outside/report/Report.h"

#include <QWidget>

#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace orv {

class ImageRowsModel;

class ctlImageList;

// The transaction editor: one exam of one patient. One instance per run, loaded on first use
// and unloaded when closed. Its fields are bound to the open transaction (OpenTransaction).
class frmTransaction : public QWidget
{
    Q_OBJECT
public:
    static frmTransaction *instance();
    static frmTransaction *loaded();

    // Identifier and record fields.
    QLineEdit *txtTransNo = nullptr, *txtPatientID = nullptr, *txtHospNum = nullptr, *txtExamType = nullptr,
              *txtFileNo = nullptr, *txtExamId = nullptr, *txtExamName = nullptr, *txtDocID = nullptr,
              *txtDocName = nullptr, *txtRadId = nullptr, *txtRadName = nullptr, *txtTechID = nullptr,
              *txtTechnologist = nullptr, *txtUserId = nullptr, *txtTransDate = nullptr, *txtStudyUID = nullptr,
              *txtSeriesUID = nullptr, *txtSeriesNum = nullptr, *txtImgNum = nullptr, *txtLName = nullptr,
              *txtFName = nullptr, *txtMName = nullptr, *txtGender = nullptr, *txtBDate = nullptr, *txtIntBy = nullptr;
    QPlainTextEdit *txtInterpret = nullptr;
    QLabel *lblSaved = nullptr;
    QLabel *lblStep = nullptr; // the state of the exam's performed procedure step
    QGroupBox *fraInt = nullptr;
    QTabWidget *tabMain = nullptr;
    ctlImageList *ctlImageList1 = nullptr;

    QPushButton *cmdSaveTrans = nullptr, *btnRefresh = nullptr, *btnCancel = nullptr, *btnProceed = nullptr,
                *cmdWorklist = nullptr, *btnPatient = nullptr, *btnDocID = nullptr, *btnRad = nullptr,
                *btnTechID = nullptr, *btnExamID = nullptr, *cmdCoded = nullptr, *cmdSave = nullptr,
                *cmdSavePrint = nullptr, *cmdEndExam = nullptr;
    QPushButton *cmdCaptureImage[2] = {nullptr, nullptr};

    // Public operations.
    void NewTransaction();
    void NewTranDefault();
    void LoadTransaction(const QString &transNo);
    // Inserts or updates the record; a failure is logged. Returns true when saved.
    bool SaveTrans();
    void NewSeries();
    QString GetPatName() const;
    void RefreshDocs();
    // Ends the exam's performed procedure step, completed or discontinued as the operator says.
    void endExamClicked();
    void DefaultRadiologist();
    void txtDocID_LostFocus();
    void txtExamId_LostFocus();
    void txtRadId_LostFocus();
    void txtTechID_LostFocus();

    // The Report page: writes the interpretation; false (with the message) when it is empty or
    // the statement fails.
    bool SaveInterpretation();
    // The result report of the exam shown (frmReport::printResult, ResultReport::archive).
    void PrintResult(const QString &title);
    void ArchiveResult(std::optional<Report> report = std::nullopt);

    bool isSaved() const { return m_saved; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    frmTransaction();
    void buildLayout();
    // Locks the transaction and registration numbers while the shown rows are not empty.
    void watchRows(ImageRowsModel *rows);
    QList<QMetaObject::Connection> m_rowsWatch;
    void bind(QLineEdit *edit, OpenTransaction::Field field);
    void loadRoutine();
    QString NextTransNo();
    bool ValidateTransaction();
    void SetSaved(bool saved);
    void FillPatient(const QString &key);
    void ClearPatient();
    void saveClicked();
    void captureImageClicked(int index);
    void captureVideoClicked();
    void generateClicked();
    void lookup(OpenTransaction::Field id);
    void pickDoctor();
    void pickRadiologist();
    void pickTechnologist();
    void pickExam();
    void pickPatient();
    void pickCodedInterpretation();
    // Tab or Enter in an identifier field: the picker when empty, else the next field.
    bool tabOrEnter(QObject *field);

    bool m_saved = false;
};

} // namespace orv
