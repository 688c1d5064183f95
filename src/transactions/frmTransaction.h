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

class Connection;

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
    // Fills the result report from the editor and shows it in a report window titled "Result: "
    // and the title; a missing report file or a refused logon is shown and nothing opens.
    void PrintResult(const QString &title);
    // Stores the result report in the archive in the background (ResultArchive) when the
    // ReportToArchive setting is on: `report` as filled for printing, else filled here. A report
    // file that cannot be read or archive settings that cannot be used are shown; the
    // interpretation stays saved either way.
    void ArchiveResult(std::optional<Report> report = std::nullopt);
    // The report file of the result report, in the program's folder.
    static QString resultReportPath();

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
    // The result report filled from the editor: one filling serves the print and the archive.
    // Throws orv::Error when the report file or a formula cannot be read.
    Report resultReport() const;
    // Logs the report on and shows it in a report window titled "Result: " and the title. Throws
    // orv::Error when the logon is refused.
    void showResult(Report report, const QString &title);
    QString NextTransNo();
    bool ValidateTransaction();
    void SetSaved(bool saved);
    void FillPatient(const QString &key);
    void ClearPatient();
    void saveClicked();
    void captureImageClicked(int index);
    void captureVideoClicked();
    void generateClicked();
    void lookup(QLineEdit *id, QLineEdit *name, std::optional<QString> (*find)(Connection &, const QString &),
                bool skipZero = false);
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
