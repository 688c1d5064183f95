// The login component: Argon2id hashes, refusals, the lock after five wrong passwords, and the
// real dialog (first account, wrong password, cancel).
#include "common/ScriptedPrompter.h"
#include "common/TestDb.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "outside/Error.h"
#include "outside/LoginComponent.h"
#include "outside/LoginDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;
using Check = LoginComponent::Check;

class tst_Login : public QObject
{
    Q_OBJECT
private:
    ScriptedPrompter *m_prompter = nullptr;
    std::unique_ptr<FreshDatabase> m_fresh;

    // A fresh database holding the given account (none when `code` is empty).
    std::unique_ptr<Connection> databaseWith(const QString &code, Backend backend = Backend::SQLite)
    {
        m_fresh = std::make_unique<FreshDatabase>(backend);
        auto db = openDepartmentDatabase(m_fresh->config());
        if (!code.isEmpty())
            LoginComponent::addUser(*db, code, "Joy Manalo", "right-password");
        return db;
    }
    static void fill(QDialog &dialog, const QList<std::pair<const char *, QString>> &fields)
    {
        for (const auto &[name, text] : fields) {
            auto *edit = dialog.findChild<QLineEdit *>(name);
            edit->clear();
            QTest::keyClicks(edit, text);
        }
        dialog.findChild<QPushButton *>("btnOk")->click();
    }

private slots:
    void init() { m_prompter = ScriptedPrompter::install(); }
    void cleanup() { m_fresh.reset(); }

    // Codes are stored trimmed in capitals, passwords only as an Argon2id hash.
    void storesOnlyAnArgon2idHash_data() { addBackendRows(); }
    void storesOnlyAnArgon2idHash()
    {
        ORV_FETCH_BACKEND(b);
        auto db = databaseWith(" tech1 ", b);
        RecordSet rs = db->query("SELECT employee_code, password_hash FROM pacs..tblUser");
        QCOMPARE(rs.text("employee_code"), u"TECH1"_s);
        const QString hash = rs.text("password_hash");
        QVERIFY2(hash.startsWith("$argon2id$") && !hash.contains("right"), qPrintable(hash));
        QCOMPARE(LoginComponent::check(*db, "tech1", "right-password"), Check::Accepted);
        QCOMPARE(LoginComponent::check(*db, "TECH1", "Right-password"), Check::Refused);
        QCOMPARE(LoginComponent::check(*db, "NOBODY", "right-password"), Check::Refused);
        LoginComponent::addUser(*db, "T3", "Ünal", "s3cret-Pässword");
        QVERIFY(LoginComponent::check(*db, "T3", "s3cret-Pässword") == Check::Accepted
                && LoginComponent::check(*db, "T3", "s3cret-Passwort") == Check::Refused);
        // A code taken already, a short password and an empty code are refused.
        QVERIFY_THROWS_EXCEPTION(Error, LoginComponent::addUser(*db, "TECH1", "Again", "password2"));
        QVERIFY_THROWS_EXCEPTION(Error, LoginComponent::addUser(*db, "T2", "Short", "short"));
        QVERIFY_THROWS_EXCEPTION(Error, LoginComponent::addUser(*db, QString(), "No Code", "password2"));
    }

    // Five wrong passwords in a row lock the code: even the right one is refused until the minute
    // is over. A right password before the fifth resets the count. Once a lock has run out, a
    // wrong password is refused like any other and five lock the code again.
    void fiveWrongTriesLockTheCodeAndALockRunOutLetsNoWrongPasswordIn()
    {
        auto db = databaseWith("RAD1");
        const auto lockRunsOut = [&] {
            db->execute("UPDATE pacs..tblUser SET locked_until = ? WHERE employee_code = ?", {QDateTime::currentSecsSinceEpoch() - 1, "RAD1"});
        };
        for (int i = 0; i < 4; ++i)
            QCOMPARE(LoginComponent::check(*db, "RAD1", "wrong"), Check::Refused);
        QCOMPARE(LoginComponent::check(*db, "RAD1", "right-password"), Check::Accepted);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(LoginComponent::check(*db, "RAD1", "wrong"), Check::Refused);
        QCOMPARE(LoginComponent::check(*db, "RAD1", "right-password"), Check::Locked);
        lockRunsOut();
        for (int i = 0; i < 5; ++i)
            QCOMPARE(LoginComponent::check(*db, "RAD1", "wrong"), Check::Refused);
        QCOMPARE(LoginComponent::check(*db, "RAD1", "wrong"), Check::Locked);
        lockRunsOut();
        QCOMPARE(LoginComponent::check(*db, "RAD1", "right-password"), Check::Accepted);
    }

    // The dialog keeps the operator after a wrong password (cleared) and lets the right one in.
    void dialogRefusesAWrongPasswordAndStays()
    {
        auto db = databaseWith("TECH1");
        LoginDialog dialog(*db);
        dialog.show();
        fill(dialog, {{"txtEmployeeCode", "tech1"}, {"txtPassword", "wrong-password"}});
        QCOMPARE(m_prompter->lastMessage(), u"Wrong employee code or password."_s);
        QVERIFY(dialog.isVisible() && dialog.findChild<QLineEdit *>("txtPassword")->text().isEmpty());
        fill(dialog, {{"txtPassword", "right-password"}});
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.employeeCode() + ' ' + dialog.employeeName(), u"TECH1 Joy Manalo"_s);
    }

    // With no account yet the dialog makes the first one, once both passwords agree.
    void emptyUsersTableOffersTheFirstAccount()
    {
        auto db = databaseWith(QString());
        LoginDialog dialog(*db);
        dialog.show();
        fill(dialog, {{"txtEmployeeCode", "adm1"}, {"txtFullName", "Ana O'Neil"}, {"txtPassword", "first-password"},
                      {"txtConfirm", "first-passw0rd"}});
        QCOMPARE(m_prompter->lastMessage(), u"The two passwords differ."_s);
        QVERIFY(!LoginComponent::hasUsers(*db));
        fill(dialog, {{"txtConfirm", "first-password"}});
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(LoginComponent::check(*db, "ADM1", "first-password"), Check::Accepted);
    }

    // ShowMain with the real dialog: Cancel leaves the component unconnected; a database that
    // cannot be opened is reported at once and leaves it unconnected too.
    void cancelAndUnreachableDatabaseLeaveItUnconnected()
    {
        databaseWith("TECH1");
        LoginComponent login([this] { return openDepartmentDatabase(m_fresh->config()); });
        QTimer::singleShot(0, [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QDialog *>(w); d && d->isVisible())
                    d->findChild<QPushButton *>("btnCancel")->click();
        });
        login.ShowMain();
        QVERIFY(!login.Connected() && m_prompter->shown.isEmpty());

        ConnectionConfig dead;
        dead.backend = Backend::PostgreSQL;
        dead.host = "127.0.0.1";
        dead.port = 1;
        LoginComponent down([&] { return openDepartmentDatabase(dead); });
        QElapsedTimer t;
        t.start();
        down.ShowMain();
        QVERIFY(t.elapsed() < 10000);
        QVERIFY(!down.Connected());
        QVERIFY(m_prompter->lastMessage().startsWith("Cannot connect to the PostgreSQL server 127.0.0.1:1"));
    }
};

ORV_TEST_MAIN(tst_Login)
#include "tst_login.moc"
