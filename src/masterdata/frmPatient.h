#pragma once

#include <QDialog>

class QDateEdit;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;

namespace orv {

class GridModel;

// The department's patient register: search, add, edit and delete. One instance per run.
class frmPatient : public QDialog
{
    Q_OBJECT
public:
    static frmPatient *instance();
    static frmPatient *loaded();

    QLineEdit *txtSearch = nullptr;
    QTableView *fgridUser = nullptr;
    QPushButton *btnSearch = nullptr, *btnAdd = nullptr, *btnEdit = nullptr, *btnDelete = nullptr, *btnClose = nullptr;

    GridModel *model() const { return m_model; }
    // Runs the register search for the search box.
    void Search();

private:
    frmPatient();
    void editClicked();
    void deleteClicked();
    QString selectedId() const;

    GridModel *m_model = nullptr;
};

// The fields shared by the add and edit windows.
class PatientForm : public QDialog
{
    Q_OBJECT
public:
    QLineEdit *txtEmpID = nullptr, *txtFName = nullptr, *txtMName = nullptr, *txtLName = nullptr;
    QDateEdit *dtBDate = nullptr;
    QRadioButton *optMale = nullptr, *optFemale = nullptr;

protected:
    explicit PatientForm(const QString &caption);
    // The three names, trimmed, in order; a missing one is reported and focused.
    bool namesGiven();
    QString sex() const;
    QString birthDate() const;
    // The grid of the fields, with the window's buttons in `buttons`.
    void layOut(QWidget *idExtra, const QList<QPushButton *> &buttons);
};

// Adds a patient to the register. One instance per run.
class frmPatient_Add : public PatientForm
{
    Q_OBJECT
public:
    static frmPatient_Add *instance();
    static frmPatient_Add *loaded();

    QPushButton *btnRefresh = nullptr, *btnAdd = nullptr, *btnCancel = nullptr;

    // Clears the fields for a new patient.
    void reset();

private:
    frmPatient_Add();
    void generateClicked();
    void addClicked();
};

// Edits the names, birth date and sex of a registered patient. One instance per run.
class frmPatient_Edit : public PatientForm
{
    Q_OBJECT
public:
    static frmPatient_Edit *instance();
    static frmPatient_Edit *loaded();

    QPushButton *btnUpdate = nullptr, *btnCancel = nullptr;

    // Loads the patient; false (after the message) when the id is not in the register.
    bool loadPatient(const QString &id);

private:
    frmPatient_Edit();
    void updateClicked();
};

} // namespace orv
