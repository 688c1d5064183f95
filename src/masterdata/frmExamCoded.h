#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace orv {

class GridModel;

// The coded interpretations: ready-made interpretation texts per exam and, optionally, per
// radiologist. One instance per run. In mode "Select" it hands the chosen text back
// (valExamCode, valOk); in other modes it only maintains the list.
class frmExamCoded : public QDialog
{
    Q_OBJECT
public:
    static frmExamCoded *instance();
    static frmExamCoded *loaded();

    QLineEdit *txtSearch = nullptr, *txtExamCode = nullptr, *txtUserId = nullptr, *txtFullName = nullptr;
    QTableView *fgridExam = nullptr;
    QPushButton *btnSearch = nullptr, *cmdExam = nullptr, *cmdRad = nullptr, *btnAdd = nullptr, *btnEdit = nullptr,
                *btnDelete = nullptr, *btnSelect = nullptr, *btnClose = nullptr;

    QString valMode;
    QString valExamCode;
    bool valOk = false;

    GridModel *model() const { return m_model; }
    void prepare();
    void fgridExam_refresh();
    // Shows the radiologist's name for the id in txtUserId (empty id: no name).
    void txtUserId_LostFocus();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    frmExamCoded();
    QString currentExamCodeId() const;
    void selectClicked();
    void deleteClicked();
    void editClicked();

    GridModel *m_model = nullptr;
};

// The fields shared by the add and edit windows of a coded interpretation.
class ExamCodeForm : public QDialog
{
    Q_OBJECT
public:
    QLineEdit *txtExamId = nullptr, *txtExamName = nullptr, *txtRadId = nullptr, *txtRadName = nullptr;
    QPlainTextEdit *txtDesc = nullptr;
    QPushButton *cmdExam = nullptr, *cmdRad = nullptr, *btnCancel = nullptr;

    void txtExamId_LostFocus();
    void txtRadId_LostFocus();

protected:
    ExamCodeForm(const char *name, const QString &caption, const char *actionName, const QString &actionCaption);
    bool eventFilter(QObject *watched, QEvent *event) override;
    QPushButton *m_action = nullptr;
};

class frmExamCode_Add : public ExamCodeForm
{
    Q_OBJECT
public:
    static frmExamCode_Add *instance();
    static frmExamCode_Add *loaded();
    QPushButton *btnAdd = nullptr;

private:
    frmExamCode_Add();
    void addClicked();
};

class frmExamCode_Edit : public ExamCodeForm
{
    Q_OBJECT
public:
    static frmExamCode_Edit *instance();
    static frmExamCode_Edit *loaded();
    QPushButton *btnUpdate = nullptr;
    QString valExamCodeID;

    // Loads valExamCodeID; false (after the message) when the record is gone.
    bool loadExamCode();

private:
    frmExamCode_Edit();
    void updateClicked();
};

} // namespace orv
