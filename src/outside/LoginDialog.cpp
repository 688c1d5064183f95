#include "LoginDialog.h"

#include "Connection.h"
#include "Error.h"
#include "LoginComponent.h"
#include "Prompter.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace orv {

LoginDialog::LoginDialog(Connection &db, QWidget *parent) : QDialog(parent), m_db(db)
{
    setObjectName(QStringLiteral("frmLogin"));
    m_firstAccount = !LoginComponent::hasUsers(db);
    setWindowTitle(m_firstAccount ? QStringLiteral("Create the First Account") : QStringLiteral("Login"));

    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(this);
    intro->setObjectName(QStringLiteral("lblIntro"));
    intro->setWordWrap(true);
    intro->setText(m_firstAccount
                       ? QStringLiteral("No account exists yet. Create the first account of this department "
                                        "(it can add the others).")
                       : QStringLiteral("Enter your employee code and password."));
    layout->addWidget(intro);

    auto *form = new QFormLayout;
    m_txtCode = new QLineEdit(this);
    m_txtCode->setObjectName(QStringLiteral("txtEmployeeCode"));
    m_txtCode->setMaxLength(20);
    connect(m_txtCode, &QLineEdit::textEdited, this, [this](const QString &t) {
        const int pos = m_txtCode->cursorPosition();
        m_txtCode->setText(t.toUpper());
        m_txtCode->setCursorPosition(pos);
    });
    form->addRow(QStringLiteral("Employee &Code:"), m_txtCode);
    if (m_firstAccount) {
        m_txtName = new QLineEdit(this);
        m_txtName->setObjectName(QStringLiteral("txtFullName"));
        form->addRow(QStringLiteral("Full &Name:"), m_txtName);
    }
    m_txtPassword = new QLineEdit(this);
    m_txtPassword->setObjectName(QStringLiteral("txtPassword"));
    m_txtPassword->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("&Password:"), m_txtPassword);
    if (m_firstAccount) {
        m_txtConfirm = new QLineEdit(this);
        m_txtConfirm->setObjectName(QStringLiteral("txtConfirm"));
        m_txtConfirm->setEchoMode(QLineEdit::Password);
        form->addRow(QStringLiteral("Con&firm Password:"), m_txtConfirm);
    }
    layout->addLayout(form);

    auto *buttons = new QDialogButtonBox(this);
    m_btnOk = buttons->addButton(m_firstAccount ? QStringLiteral("C&reate Account") : QStringLiteral("&Login"),
                                 QDialogButtonBox::AcceptRole);
    m_btnOk->setObjectName(QStringLiteral("btnOk"));
    m_btnOk->setDefault(true);
    QPushButton *cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    layout->addWidget(buttons);
    connect(m_btnOk, &QPushButton::clicked, this, [this] { m_firstAccount ? createAccount() : tryLogin(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(360);
}

void LoginDialog::tryLogin()
{
    try {
        QString name;
        const auto result = LoginComponent::check(m_db, m_txtCode->text(), m_txtPassword->text(), &name);
        if (result != LoginComponent::Check::Accepted) {
            msgBox(this, LoginComponent::messageFor(result), Prompter::Icon::Critical, QStringLiteral("Login"));
            m_txtPassword->clear();
            m_txtPassword->setFocus();
            return;
        }
        m_code = LoginComponent::normalizedCode(m_txtCode->text());
        m_name = name;
        accept();
    } catch (const Error &e) {
        msgBox(this, e.description(), Prompter::Icon::Critical, QStringLiteral("Login"));
    }
}

void LoginDialog::createAccount()
{
    if (m_txtPassword->text() != m_txtConfirm->text()) {
        msgBox(this, QStringLiteral("The two passwords differ."), Prompter::Icon::Critical, QStringLiteral("Login"));
        return;
    }
    try {
        LoginComponent::addUser(m_db, m_txtCode->text(), m_txtName->text(), m_txtPassword->text());
        m_code = LoginComponent::normalizedCode(m_txtCode->text());
        m_name = m_txtName->text().trimmed();
        accept();
    } catch (const Error &e) {
        msgBox(this, e.description(), Prompter::Icon::Critical, QStringLiteral("Login"));
    }
}

} // namespace orv
