#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace orv {

class GridModel;

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

    QString valModality; // the modality filter
    QString valExamId, valExamName;
    bool valOk = false;

    GridModel *model() const { return m_model; }
    // Prepares a pick: no selection, the list of the filter.
    void prepare();
    void fgridExam_refresh();

private:
    frmExams();
    void rowClicked();
    void selectClicked();

    GridModel *m_model = nullptr;
};

} // namespace orv
