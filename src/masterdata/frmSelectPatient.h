#pragma once

#include "Pick.h"

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;

namespace orv {

class GridModel;

// A patient chosen in the patient picker. patType: "I" or "O", the list searched.
struct PatientChoice
{
    QString hospNum, patientId, lastName, firstName, middleName, birthDate, sex, patType;
};

// The patient picker of the transaction editor: the department register (source 1) or the
// hospital master (source 0; in-patients or out-patients). One instance per run.
class frmSelectPatient : public QDialog
{
    Q_OBJECT
public:
    static frmSelectPatient *instance();
    static frmSelectPatient *loaded();

    QLineEdit *txtSearch = nullptr;
    QTableView *fgridUser = nullptr;
    QGroupBox *fraPatType = nullptr;
    QRadioButton *optIN = nullptr, *optOut = nullptr;
    QPushButton *btnSearch = nullptr, *btnSelect = nullptr, *cmdNewPat = nullptr, *btnClose = nullptr;

    int PatSource = 1;

    GridModel *model() const { return m_model; }
    // Shows the picker modal on `source`, empty: the patient-type frame for the source, no
    // selection.
    static void pick(QWidget *parent, int source, PickDone<PatientChoice> done);
    void Search();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    frmSelectPatient();
    void prepare(int source);
    void selectClicked();
    void setColumns();

    GridModel *m_model = nullptr;
    std::optional<PatientChoice> m_choice;
    QString m_searchedType;
};

} // namespace orv
