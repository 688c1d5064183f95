#pragma once

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;

namespace orv {

class GridModel;

// The patient picker of the transaction editor: the department register (source 1) or the
// hospital master (source 0; in-patients or out-patients). One instance per run; the caller sets
// PatSource before showing it and reads valOk and the values after it closes.
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
    QString valHospNum, valPatientID, valLastName, valFirstName, valMiddleName, valBDate, valSex, valPatType;
    bool valOk = false;

    GridModel *model() const { return m_model; }
    // Prepares the window for a pick: the patient-type frame for the source, no selection.
    void prepare(int source);
    void Search();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    frmSelectPatient();
    void selectClicked();
    void setColumns();

    GridModel *m_model = nullptr;
    QString m_searchedType;
};

} // namespace orv
