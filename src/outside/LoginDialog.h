#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace orv {

class Connection;

// The login dialog of the login component. With an empty users table it offers to create the
// first account instead; there is no default account.
class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LoginDialog(Connection &db, QWidget *parent = nullptr);

    QString employeeCode() const { return m_code; }
    QString employeeName() const { return m_name; }
    bool creatingFirstAccount() const { return m_firstAccount; }

private:
    void tryLogin();
    void createAccount();

    Connection &m_db;
    bool m_firstAccount = false;
    QString m_code;
    QString m_name;
    QLineEdit *m_txtCode = nullptr;
    QLineEdit *m_txtName = nullptr;
    QLineEdit *m_txtPassword = nullptr;
    QLineEdit *m_txtConfirm = nullptr;
    QPushButton *m_btnOk = nullptr;
};

} // namespace orv
