// The start-up routine: the shared state it fills from the login, the doctor master and the
// settings store; the temporary folder; a refused login.
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

    // A fresh profile: the user as logged in, no default radiologist, nothing from the store, and
    // the temporary folder (a blank one stored means the default) made in the per-user folder.
    void freshProfileStartsWithoutPrompts()
    {
        settings().write(apps::VelmorOrvaline, "Codec", "TempFolder", "   ");
        QVERIFY(start("tech1") && m_mainShown);
        const SharedState &st = state();
        QCOMPARE(st.CurrentUser.UserID(), u"TECH1"_s);
        QCOMPARE(st.EmployeeName, u"Joy Manalo"_s);
        QCOMPARE(st.UserDoctorId, QString()); // no row in the doctor master
        QCOMPARE(st.TempFolder, QDir(perUserDataFolder()).filePath("pacstemp"));
        QVERIFY(QDir(st.TempFolder).exists());
        QVERIFY(m_prompter->shown.isEmpty());
    }

    // What an earlier run stored (keys in any case) is what this run starts with.
    void storedSettingsAndDoctorRowAreRead()
    {
        SettingsStore &s = settings();
        s.write("VELMORPACS", "serverinfo", "SERVER_NAME", "\\\\imgsrv");
        s.write(apps::velmorPacs, "ServerInfo", "Server_Folder", "IMAGES");
        s.write(apps::Orvaline, "Main", "AcquireModalityCode", "ES");
        s.write(apps::Orvaline, "Main", "chkUseHospPat", "1 (hospital)");
        s.write(apps::Orvaline, "Main", "UsePacsDBExamCodes", "0");
        s.write(apps::VelmorPACS, "Main", "CompanyName", "St. Luke's");
        QTemporaryDir parent;
        const QString temp = parent.filePath("captures");
        s.write(apps::VelmorOrvaline, "Codec", "TempFolder", temp);
        s.write(apps::VelmorOrvaline, "dicom", "UIDRoot", "1.2.826.0.1.3680043.10.999");
        s.write(apps::VelmorOrvaline, "DICOM", "NetworkTimeout", "3 s");
        QVERIFY(start("RAD9"));
        const SharedState &st = state();
        QCOMPARE((QStringList{st.UserDoctorId, st.UserDoctorName, st.Server_Name, st.Server_Folder, st.AcquireModalityCode,
                              st.CompanyName}),
                 (QStringList{"2001", "REYES, ANA C", "\\\\imgsrv", "IMAGES", "ES", "St. Luke's"}));
        QCOMPARE(st.chkUseHospPat, 1);
        QCOMPARE(st.UsePacsDBExamCodes, 1); // the stored switch is not read at start-up
        QCOMPARE(st.TempFolder, temp);
        QVERIFY(QDir(temp).exists());
        QVERIFY(dicom::newUid().startsWith("1.2.826.0.1.3680043.10.999."));
        QCOMPARE(dicom::networkTimeout(), 3);
        // Settings the toolkit cannot use leave its defaults.
        s.write(apps::VelmorOrvaline, "DICOM", "NetworkTimeout", "none");
        s.write(apps::VelmorOrvaline, "DICOM", "UIDRoot", QString());
        applyToolkitSettings();
        QCOMPARE(dicom::networkTimeout(), 10);
        QVERIFY(!dicom::newUid().startsWith("1.2.826.0.1.3680043.10.999."));
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
