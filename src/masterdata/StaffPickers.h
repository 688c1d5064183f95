#pragma once

#include "MasterDataStore.h"
#include "Pick.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace orv {

class GridModel;

// A doctor or radiologist chosen in a picker.
struct DoctorChoice
{
    QString code, name;
};

// A technologist chosen in a picker. The id is handed back as a number when it is one ("0012"
// as "12"), else as stored ("T01").
struct TechnologistChoice
{
    QString id, lastName, firstName, middleName;
    // "LAST, FIRST MIDDLE", as the editor shows the technologist.
    QString fullName() const { return lastName + QStringLiteral(", ") + firstName + QLatin1Char(' ') + middleName; }
};

// The pattern of the staff pickers: a last-name search box, a grid bound to the search, and a
// select that keeps the chosen row and closes. One instance of each per run.
class StaffPicker : public QDialog
{
    Q_OBJECT
public:
    QLineEdit *txtSearch = nullptr;
    QTableView *grid = nullptr;
    QPushButton *btnSearch = nullptr, *btnSelect = nullptr, *btnClose = nullptr;

    GridModel *model() const { return m_model; }
    void Search();
    // Forgets the last choice and runs the window's opening search.
    virtual void prepare();

protected:
    StaffPicker(const char *name, const QString &caption, const QString &listCaption, const char *gridName,
                QStringList headers, QList<int> widths);
    // Keeps the choice of the row; false when the row cannot be chosen.
    virtual bool store(int row) = 0;
    virtual void forget() = 0;
    // Prepares the picker and shows it modal; `then` runs once it closes.
    void showPick(QWidget *parent, std::function<void()> then);
    void selectClicked();
    bool eventFilter(QObject *watched, QEvent *event) override;

    GridModel *m_model = nullptr;
    QList<int> m_widths;
    QWidget *m_commands = nullptr; // the button column, for the windows that add to it
    bool m_selectFollowsRows = true;
    bool m_downMovesToGrid = false; // Down in the search box moves to the grid when it is enabled
    std::function<ListQuery()> m_query; // the window's search statement
};

class frmSelectDoc : public StaffPicker
{
    Q_OBJECT
public:
    static frmSelectDoc *instance();
    static frmSelectDoc *loaded();
    QTableView *fgridDoc = nullptr;

    static void pick(QWidget *parent, PickDone<DoctorChoice> done);

protected:
    bool store(int row) override;
    void forget() override { m_choice.reset(); }
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    frmSelectDoc();
    std::optional<DoctorChoice> m_choice;
};

class frmSelectRad : public StaffPicker
{
    Q_OBJECT
public:
    static frmSelectRad *instance();
    static frmSelectRad *loaded();
    QTableView *fgridUser = nullptr;
    QCheckBox *chkAllDoctors = nullptr;

    static void pick(QWidget *parent, PickDone<DoctorChoice> done);

protected:
    bool store(int row) override;
    void forget() override { m_choice.reset(); }

private:
    frmSelectRad();
    std::optional<DoctorChoice> m_choice;
};

// Also adds technologists and updates their names.
class frmSelectTech : public StaffPicker
{
    Q_OBJECT
public:
    static frmSelectTech *instance();
    static frmSelectTech *loaded();
    QTableView *fgridUser = nullptr;
    QLineEdit *txtExamIDAdd = nullptr, *txtExamNameLast = nullptr, *txtExamNameFirst = nullptr, *txtExamNameMiddle = nullptr;
    QPushButton *cmdAdd = nullptr, *cmdUpdate = nullptr;

    static void pick(QWidget *parent, PickDone<TechnologistChoice> done);

protected:
    bool store(int row) override;
    void forget() override { m_choice.reset(); }

private:
    frmSelectTech();
    void rowClicked();
    std::optional<TechnologistChoice> m_choice;
};

} // namespace orv
