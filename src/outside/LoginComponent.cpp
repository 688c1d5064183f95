#include "LoginComponent.h"

#include "audit/AuditTrail.h"

#include "Error.h"
#include "LoginDialog.h"
#include "PasswordHash.h"
#include "Prompter.h"

#include <QDateTime>

namespace orv {

LoginComponent::LoginComponent(ConnectionFactory factory, QObject *parent)
    : QObject(parent), m_factory(std::move(factory))
{}

LoginComponent::~LoginComponent() = default;

QString LoginComponent::ServerName() const
{
    return m_connection ? m_connection->config().host : QString();
}

QString LoginComponent::UserID() const
{
    return m_connection ? m_connection->config().user : QString();
}

QString LoginComponent::ServerPassword() const
{
    return m_connection ? m_connection->config().password : QString();
}

void LoginComponent::setScriptedLogin(const QString &code, const QString &password)
{
    m_script = std::make_pair(code, password);
}

bool LoginComponent::hasUsers(Connection &db)
{
    return !db.query(QStringLiteral("SELECT TOP 1 employee_code FROM pacs..tblUser")).isEmpty();
}

void LoginComponent::addUser(Connection &db, const QString &code, const QString &fullName, const QString &password,
                             const QString &deptCode)
{
    const QString c = normalizedCode(code);
    if (c.isEmpty())
        throw Error(QStringLiteral("An employee code is required."));
    if (c.size() > 20)
        throw Error(QStringLiteral("An employee code has at most 20 characters."));
    if (fullName.trimmed().isEmpty())
        throw Error(QStringLiteral("A full name is required."));
    if (password.size() < MinPasswordLength)
        throw Error(QStringLiteral("A password has at least %1 characters.").arg(MinPasswordLength));
    if (!db.query(QStringLiteral("SELECT employee_code FROM pacs..tblUser WHERE employee_code = ?"), {c}).isEmpty())
        throw Error(QStringLiteral("The employee code %1 exists already.").arg(c));
    db.execute(QStringLiteral("INSERT INTO pacs..tblUser(employee_code, full_name, dept_code, password_hash, "
                              "failed_tries, locked_until) VALUES(?, ?, ?, ?, 0, 0)"),
               {c, fullName.trimmed(), deptCode, hashPassword(password)});
}

LoginComponent::Check LoginComponent::check(Connection &db, const QString &code, const QString &password,
                                            QString *fullName)
{
    const Check result = checkPassword(db, code, password, fullName);
    audit::AuditTrail::instance().userAuthentication(normalizedCode(code), true,
                                                     result == Check::Accepted ? audit::Outcome::Success : audit::Outcome::MinorFailure);
    return result;
}

LoginComponent::Check LoginComponent::checkPassword(Connection &db, const QString &code, const QString &password,
                                                    QString *fullName)
{
    const QString c = normalizedCode(code);
    RecordSet rs = db.query(QStringLiteral("SELECT full_name, password_hash, failed_tries, locked_until "
                                           "FROM pacs..tblUser WHERE employee_code = ?"),
                            {c});
    if (rs.isEmpty()) {
        // Spend the same time as a real check, so that unknown codes cannot be told apart.
        static const QString unknownUser = hashPassword(QStringLiteral("no such user"));
        verifyPassword(unknownUser, password);
        return Check::Refused;
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (rs.value(QStringLiteral("locked_until")).toLongLong() > now)
        return Check::Locked;
    if (verifyPassword(rs.text(QStringLiteral("password_hash")), password)) {
        db.execute(QStringLiteral("UPDATE pacs..tblUser SET failed_tries = 0, locked_until = 0 WHERE employee_code = ?"), {c});
        if (fullName)
            *fullName = rs.text(QStringLiteral("full_name"));
        return Check::Accepted;
    }
    const int tries = rs.value(QStringLiteral("failed_tries")).toInt() + 1;
    if (tries >= MaxTries) {
        db.execute(QStringLiteral("UPDATE pacs..tblUser SET failed_tries = 0, locked_until = ? WHERE employee_code = ?"),
                   {now + LockSeconds, c});
    } else {
        db.execute(QStringLiteral("UPDATE pacs..tblUser SET failed_tries = ? WHERE employee_code = ?"), {tries, c});
    }
    return Check::Refused;
}

QString LoginComponent::messageFor(Check result)
{
    switch (result) {
    case Check::Accepted: return {};
    case Check::Refused: return QStringLiteral("Wrong employee code or password.");
    case Check::Locked:
        return QStringLiteral("This employee code is locked for a minute after %1 wrong passwords in a row. "
                              "Please try again later.").arg(MaxTries);
    }
    return {};
}

void LoginComponent::ShowMain()
{
    m_connected = false;
    m_lastError.clear();
    try {
        if (!m_connection)
            m_connection = m_factory();
        if (m_script) {
            QString name;
            const Check result = check(*m_connection, m_script->first, m_script->second, &name);
            if (result != Check::Accepted) {
                m_lastError = messageFor(result);
                return;
            }
            m_employeeCode = normalizedCode(m_script->first);
            m_employeeName = name;
            m_connected = true;
            return;
        }
        LoginDialog dialog(*m_connection);
        if (dialog.exec() != QDialog::Accepted)
            return;
        m_employeeCode = dialog.employeeCode();
        m_employeeName = dialog.employeeName();
        m_connected = true;
    } catch (const Error &e) {
        m_lastError = e.description();
        if (!m_script)
            msgBox(nullptr, e.description(), Prompter::Icon::Critical, QStringLiteral("Login"));
    }
}

} // namespace orv
