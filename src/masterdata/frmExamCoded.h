#pragma once

#include "Pick.h"

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace orv {

class GridModel;

// Where the coded interpretations open: the exam (code, and name searched) and the radiologist.
struct CodedFilter
{
    QString examCode, examName, radId, radName;
};

// The coded interpretations: ready-made interpretation texts per exam and, optionally, per
// radiologist. One instance per run. A pick hands the chosen text back; the list is maintained
// here too.
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

    GridModel *model() const { return m_model; }
    // Shows the list modal at `filter` to pick a text (a selection of no row picks "").
    static void pick(QWidget *parent, const CodedFilter &filter, PickDone<QString> done);
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
    std::optional<QString> m_choice;
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

    // A new text for the exam and radiologist given (empty fields otherwise).
    void prepare(const QString &examId, const QString &radId, const QString &radName);

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
    // Loads the coded interpretation to edit; false (after the message) when the record is gone.
    bool loadExamCode(const QString &examCodeId);

private:
    frmExamCode_Edit();
    void updateClicked();

    QString m_examCodeId;
};

} // namespace orv
