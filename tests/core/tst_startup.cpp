// The start-up routine: the temporary folder it makes; a refused login.
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "core/SharedState.h"
#include "core/Startup.h"
#include "outside/Error.h"
#include "outside/dicom/Toolkit.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;

class tst_Startup : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_data;
    ScriptedPrompter *m_prompter = nullptr;
    bool m_mainShown = false;

    // Runs the start-up as the given user; the main window it returns is deleted at once.
    bool start(const QString &code, const QString &password = "right-password")
    {
        StartupOptions o;
        o.arguments = {"orvaline", "--data-dir", m_data.path()};
        o.scriptedLogin = std::make_pair(code, password);
        o.showMain = [this] {
            m_mainShown = true;
            return new QWidget;
        };
        QWidget *main = runStartup(o);
        delete main;
        return main != nullptr;
    }

private slots:
    void initTestCase()
    {
        ConnectionConfig c;
        c.dataFolder = m_data.path();
        auto db = openDepartmentDatabase(c);
        LoginComponent::addUser(*db, "TECH1", "Joy Manalo", "right-password");
        LoginComponent::addUser(*db, "RAD9", "Dr. Ana Reyes", "right-password");
        db->execute("INSERT INTO build_file..tbcoDoctor(DoctorID, LastName, FirstName, MiddleName, userid, Status, "
                    "Radiologist) VALUES('2001', 'REYES', 'ANA', 'C', 'RAD9', 'A', 'Y')");
    }

    void init()
    {
        m_prompter = ScriptedPrompter::install();
        resetState();
        QFile::remove(SettingsStore().fileName()); // every case starts from a fresh profile
        resetSettings();
        m_mainShown = false;
    }

    // Only one level is created: a temporary folder whose parent is missing stops the start-up.
    void uncreatableTempFolderStopsTheStartup()
    {
        QTemporaryDir parent;
        settings().write(apps::VelmorOrvaline, "Codec", "TempFolder", parent.filePath("missing/captures"));
        try {
            start("TECH1");
            QFAIL("the start-up went on");
        } catch (const Error &e) {
            QVERIFY(e.description().contains("missing/captures"));
        }
        QVERIFY(!m_mainShown);
    }

    void refusedLoginEndsWithoutAWindow()
    {
        QVERIFY(!start("TECH1", "wrong-password"));
        QVERIFY(!m_mainShown);
        QCOMPARE(state().LoginComponent->lastError(), u"Wrong employee code or password."_s);
        QVERIFY(m_prompter->shown.isEmpty());
        QCOMPARE(state().CurrentUser.UserID(), QString());
    }
};

ORV_TEST_MAIN(tst_Startup)
#include "tst_startup.moc"
