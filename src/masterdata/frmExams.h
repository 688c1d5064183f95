#pragma once

#include "Pick.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace orv {

class GridModel;

// An exam chosen in the exam catalogue.
struct ExamChoice
{
    QString id, name;
};

// The exam catalogue of one modality: search, pick, add, update and delete. One instance per
// run; the modality filter stays from one use to the next (empty at first).
class frmExams : public QDialog
{
    Q_OBJECT
public:
    static frmExams *instance();
    static frmExams *loaded();

    QLineEdit *txtSearch = nullptr, *txtExamIDAdd = nullptr, *txtExamNameAdd = nullptr;
    QLabel *lblExamID = nullptr;
    QTableView *fgridExam = nullptr;
    QPushButton *btnSearch = nullptr, *cmdAdd = nullptr, *cmdUpdate = nullptr, *cmdDelete = nullptr, *btnSelect = nullptr,
                *btnClose = nullptr;

    GridModel *model() const { return m_model; }
    // Shows the catalogue of `modality` modal to pick an exam. The modality stays the
    // catalogue's, for adding, updating and deleting too; none keeps the one of the last pick.
    static void pick(QWidget *parent, const std::optional<QString> &modality, PickDone<ExamChoice> done);
    void fgridExam_refresh();

private:
    frmExams();
    void prepare();
    void rowClicked();
    void selectClicked();

    GridModel *m_model = nullptr;
    QString m_modality; // the modality filter
    std::optional<ExamChoice> m_choice;
};

} // namespace orv
