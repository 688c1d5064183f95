#pragma once

#include "MasterDataStore.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace orv {

class GridModel;

// The pattern of the staff pickers: a last-name search box, a grid bound to the search, a select
// that keeps the chosen row in public members and closes, and valOk telling whether a row was
// chosen. One instance of each per run.
class StaffPicker : public QDialog
{
    Q_OBJECT
public:
    QLineEdit *txtSearch = nullptr;
    QTableView *grid = nullptr;
    QPushButton *btnSearch = nullptr, *btnSelect = nullptr, *btnClose = nullptr;

    // A preset search text: put in the search box and searched at once when the window opens.
    QString valSearch;
    bool valOk = false;

    GridModel *model() const { return m_model; }
    void Search();
    // Clears the selection flag and runs the preset search (or the window's opening search).
    virtual void prepare();

protected:
    StaffPicker(const char *name, const QString &caption, const QString &listCaption, const char *gridName,
                QStringList headers, QList<int> widths);
    virtual bool store(int row) = 0;
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
    QString DocCode, DocName;

protected:
    bool store(int row) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    frmSelectDoc();
};

class frmSelectRad : public StaffPicker
{
    Q_OBJECT
public:
    static frmSelectRad *instance();
    static frmSelectRad *loaded();
    QTableView *fgridUser = nullptr;
    QCheckBox *chkAllDoctors = nullptr;
    QString RadCode, RadName;

protected:
    bool store(int row) override;

private:
    frmSelectRad();
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
    QString valTechId, valLastName, valFirstName, valMiddleName;

    void prepare() override;

protected:
    bool store(int row) override;

private:
    frmSelectTech();
    void rowClicked();
};

} // namespace orv
