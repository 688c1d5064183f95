#pragma once

#include "Connection.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace orv {

// The login component: checks an employee code and password against the users table of the
// department database (Argon2id hashes), and hands the open connection to the program.
// Members keep the names the program calls them by.
class LoginComponent : public QObject
{
    Q_OBJECT
public:
    using ConnectionFactory = std::function<std::unique_ptr<Connection>()>;

    enum class Check { Accepted, Refused, Locked };
    static constexpr int MaxTries = 5;
    static constexpr int LockSeconds = 60;
    static constexpr int MinPasswordLength = 8;

    explicit LoginComponent(ConnectionFactory factory, QObject *parent = nullptr);
    ~LoginComponent() override;

    QString PasswordDeptCode;

    // Opens the connection, then shows the login dialog (or answers from the script) and
    // returns when the user has logged in or given up. Failures are shown through the Prompter.
    void ShowMain();
    bool Connected() const { return m_connected; }
    QString EmployeeCode() const { return m_employeeCode; }
    QString EmployeeName() const { return m_employeeName; }
    Connection *SQLConnection() const { return m_connection.get(); }
    QString ServerName() const;
    QString UserID() const;
    QString ServerPassword() const;

    // Log in without a dialog (tests, benchmarks, `--login`): ShowMain checks these instead,
    // and a failure is kept in lastError() instead of being shown.
    void setScriptedLogin(const QString &code, const QString &password);
    QString lastError() const { return m_lastError; }

    // The users table, for the dialog and the command line.
    static bool hasUsers(Connection &db);
    // Throws orv::Error for a code already present, an empty code or name, or a short password.
    static void addUser(Connection &db, const QString &code, const QString &fullName, const QString &password,
                        const QString &deptCode = QString());
    // Checks a password, counting wrong tries: the fifth in a row locks the code for a minute.
    // Every check is a login attempt of the audit trail, accepted or refused.
    static Check check(Connection &db, const QString &code, const QString &password, QString *fullName = nullptr);
    static QString normalizedCode(const QString &code) { return code.trimmed().toUpper(); }
    static QString messageFor(Check result);

private:
    static Check checkPassword(Connection &db, const QString &code, const QString &password, QString *fullName);

    ConnectionFactory m_factory;
    std::unique_ptr<Connection> m_connection;
    std::optional<std::pair<QString, QString>> m_script;
    bool m_connected = false;
    QString m_employeeCode;
    QString m_employeeName;
    QString m_lastError;
};

} // namespace orv
