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

class tst_Login : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_prompter = ScriptedPrompter::install(); }

    void storesOnlyAnArgon2idHash_data() { addBackendRows(); }
    void storesOnlyAnArgon2idHash()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        QVERIFY(!LoginComponent::hasUsers(*db));
        LoginComponent::addUser(*db, QStringLiteral(" tech1 "), QStringLiteral("Joy Manalo"), QStringLiteral("s3cret-Pässword"));
        QVERIFY(LoginComponent::hasUsers(*db));
        RecordSet rs = db->query(QStringLiteral("SELECT employee_code, password_hash FROM pacs..tblUser"));
        QCOMPARE(rs.text(QStringLiteral("employee_code")), QStringLiteral("TECH1"));
        const QString hash = rs.text(QStringLiteral("password_hash"));
        QVERIFY2(hash.startsWith(QLatin1String("$argon2id$")), qPrintable(hash));
        QVERIFY(!hash.contains(QLatin1String("s3cret")));

        QCOMPARE(LoginComponent::check(*db, QStringLiteral("tech1"), QStringLiteral("s3cret-Pässword")), LoginComponent::Check::Accepted);
        QCOMPARE(LoginComponent::check(*db, QStringLiteral("TECH1"), QStringLiteral("s3cret-password")), LoginComponent::Check::Refused);
        QCOMPARE(LoginComponent::check(*db, QStringLiteral("NOBODY"), QStringLiteral("s3cret-Pässword")), LoginComponent::Check::Refused);

        QVERIFY_THROWS_EXCEPTION(Error, LoginComponent::addUser(*db, QStringLiteral("TECH1"), QStringLiteral("Again"), QStringLiteral("password2")));
        QVERIFY_THROWS_EXCEPTION(Error, LoginComponent::addUser(*db, QStringLiteral("T2"), QStringLiteral("Short"), QStringLiteral("short")));
        QVERIFY_THROWS_EXCEPTION(Error, LoginComponent::addUser(*db, QString(), QStringLiteral("No Code"), QStringLiteral("password2")));
    }

    // Five wrong passwords in a row lock the code: even the right one is refused until the minute
    // is over. A right password before the fifth resets the count.
    void fiveWrongTriesLockTheCode()
    {
        FreshDatabase fresh(Backend::SQLite);
        auto db = openDepartmentDatabase(fresh.config());
        LoginComponent::addUser(*db, QStringLiteral("RAD1"), QStringLiteral("R"), QStringLiteral("right-password"));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(LoginComponent::check(*db, QStringLiteral("RAD1"), QStringLiteral("wrong")), LoginComponent::Check::Refused);
        QCOMPARE(LoginComponent::check(*db, QStringLiteral("RAD1"), QStringLiteral("right-password")), LoginComponent::Check::Accepted);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(LoginComponent::check(*db, QStringLiteral("RAD1"), QStringLiteral("wrong")), LoginComponent::Check::Refused);
        QCOMPARE(LoginComponent::check(*db, QStringLiteral("RAD1"), QStringLiteral("right-password")), LoginComponent::Check::Locked);
        QVERIFY(LoginComponent::messageFor(LoginComponent::Check::Locked).contains(QLatin1String("locked")));
        // The minute passes.
        db->execute(QStringLiteral("UPDATE pacs..tblUser SET locked_until = ? WHERE employee_code = ?"),
                    {QDateTime::currentSecsSinceEpoch() - 1, QStringLiteral("RAD1")});
        QCOMPARE(LoginComponent::check(*db, QStringLiteral("RAD1"), QStringLiteral("right-password")), LoginComponent::Check::Accepted);
    }

    void dialogRefusesAWrongPasswordAndStays()
    {
        FreshDatabase fresh(Backend::SQLite);
        auto db = openDepartmentDatabase(fresh.config());
        LoginComponent::addUser(*db, QStringLiteral("TECH1"), QStringLiteral("Joy Manalo"), QStringLiteral("right-password"));
        LoginDialog dialog(*db);
        QVERIFY(!dialog.creatingFirstAccount());
        dialog.show();
        auto *code = dialog.findChild<QLineEdit *>(QStringLiteral("txtEmployeeCode"));
        auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("txtPassword"));
        auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("btnOk"));
        QTest::keyClicks(code, QStringLiteral("tech1"));
        QCOMPARE(code->text(), QStringLiteral("TECH1"));
        QTest::keyClicks(password, QStringLiteral("wrong-password"));
        ok->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Wrong employee code or password."));
        QCOMPARE(m_prompter->shown.last().icon, Prompter::Icon::Critical);
        QVERIFY(dialog.isVisible());
        QVERIFY(password->text().isEmpty());
        QTest::keyClicks(password, QStringLiteral("right-password"));
        ok->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.employeeCode(), QStringLiteral("TECH1"));
        QCOMPARE(dialog.employeeName(), QStringLiteral("Joy Manalo"));
    }

    void emptyUsersTableOffersTheFirstAccount()
    {
        FreshDatabase fresh(Backend::SQLite);
        auto db = openDepartmentDatabase(fresh.config());
        LoginDialog dialog(*db);
        QVERIFY(dialog.creatingFirstAccount());
        dialog.show();
        QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("txtEmployeeCode")), QStringLiteral("adm1"));
        QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("txtFullName")), QStringLiteral("Ana O'Neil"));
        QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("txtPassword")), QStringLiteral("first-password"));
        QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("txtConfirm")), QStringLiteral("first-passw0rd"));
        auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("btnOk"));
        ok->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("The two passwords differ."));
        QVERIFY(!LoginComponent::hasUsers(*db));
        auto *confirm = dialog.findChild<QLineEdit *>(QStringLiteral("txtConfirm"));
        confirm->clear();
        QTest::keyClicks(confirm, QStringLiteral("first-password"));
        ok->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(LoginComponent::check(*db, QStringLiteral("ADM1"), QStringLiteral("first-password")), LoginComponent::Check::Accepted);
    }

    // ShowMain with the real dialog: Cancel leaves the component unconnected; a database that
    // cannot be opened is reported and leaves it unconnected too.
    void cancelAndUnreachableDatabaseLeaveItUnconnected()
    {
        FreshDatabase fresh(Backend::SQLite);
        {
            auto db = openDepartmentDatabase(fresh.config());
            LoginComponent::addUser(*db, QStringLiteral("TECH1"), QStringLiteral("J"), QStringLiteral("right-password"));
        }
        LoginComponent login([&] { return openDepartmentDatabase(fresh.config()); });
        QTimer::singleShot(0, [] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QDialog *>(w); d && d->isVisible())
                    d->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
        });
        login.ShowMain();
        QVERIFY(!login.Connected());
        QVERIFY(m_prompter->shown.isEmpty());

        ConnectionConfig dead;
        dead.backend = Backend::PostgreSQL;
        dead.host = QStringLiteral("127.0.0.1");
        dead.port = 1;
        LoginComponent down([&] { return openDepartmentDatabase(dead); });
        down.ShowMain();
        QVERIFY(!down.Connected());
        QVERIFY(m_prompter->lastMessage().startsWith(QLatin1String("Cannot connect to the PostgreSQL server 127.0.0.1:1")));
    }

private:
    ScriptedPrompter *m_prompter = nullptr;
};

ORV_TEST_MAIN(tst_Login)
#include "tst_login.moc"
