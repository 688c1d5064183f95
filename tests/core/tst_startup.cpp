// The start-up routine: the shared state it fills, in order, from the login, the doctor master
// and the settings store; the temporary folder; a refused login.
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

class tst_Startup : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_data;
    ScriptedPrompter *m_prompter = nullptr;
    bool m_mainShown = false;

    StartupOptions options(const QString &code, const QString &password)
    {
        StartupOptions o;
        o.arguments = {QStringLiteral("orvaline"), QStringLiteral("--data-dir"), m_data.path()};
        o.scriptedLogin = std::make_pair(code, password);
        o.showMain = [this] {
            m_mainShown = true;
            return new QWidget;
        };
        return o;
    }

private slots:
    void initTestCase()
    {
        ConnectionConfig c;
        c.dataFolder = m_data.path();
        auto db = openDepartmentDatabase(c);
        LoginComponent::addUser(*db, QStringLiteral("TECH1"), QStringLiteral("Joy Manalo"), QStringLiteral("right-password"));
        LoginComponent::addUser(*db, QStringLiteral("RAD9"), QStringLiteral("Dr. Ana Reyes"), QStringLiteral("right-password"));
        db->execute(QStringLiteral("INSERT INTO build_file..tbcoDoctor(DoctorID, LastName, FirstName, MiddleName, userid, Status, "
                                   "Radiologist) VALUES('2001', 'REYES', 'ANA', 'C', 'RAD9', 'A', 'Y')"));
    }

    void init()
    {
        m_prompter = ScriptedPrompter::install();
        resetState();
        QFile::remove(SettingsStore().fileName()); // every case starts from a fresh profile
        resetSettings();
        m_mainShown = false;
    }

    void freshProfileGetsTheDefaults()
    {
        QWidget *main = runStartup(options(QStringLiteral("tech1"), QStringLiteral("right-password")));
        QVERIFY(main && m_mainShown);
        delete main;
        const SharedState &st = state();
        QCOMPARE(st.DicomDbName, QStringLiteral("DICOM"));
        QCOMPARE(st.PacsDbName, QStringLiteral("PACS"));
        QCOMPARE(st.CurrentUser.UserID(), QStringLiteral("TECH1"));
        QCOMPARE(st.CurrentUser.UserGroup(), QStringLiteral("IMG"));
        QCOMPARE(st.CurrentUser.Name_First(), QString());
        QCOMPARE(st.EmployeeName, QStringLiteral("Joy Manalo"));
        QCOMPARE(st.UserDoctorId, QString());   // no row in the doctor master: no default radiologist
        QCOMPARE(st.AcquireModalityCode, QStringLiteral("US"));
        QCOMPARE(st.Server_Name, QString());
        QCOMPARE(st.Server_Folder, QString());
        QCOMPARE(st.UsePacsDBExamCodes, 1);
        QCOMPARE(st.chkUseHospPat, 0);
        QCOMPARE(st.TempFolder, QDir(perUserDataFolder()).filePath(QStringLiteral("pacstemp")));
        QVERIFY(QDir(st.TempFolder).exists());
        QVERIFY(m_prompter->shown.isEmpty());
    }

    void storedSettingsAndDoctorRowAreRead()
    {
        SettingsStore &s = settings();
        s.write(QStringLiteral("VELMORPACS"), QStringLiteral("serverinfo"), QStringLiteral("SERVER_NAME"), QStringLiteral("\\\\imgsrv"));
        s.write(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("Server_Folder"), QStringLiteral("IMAGES"));
        s.write(apps::Orvaline, QStringLiteral("Main"), QStringLiteral("AcquireModalityCode"), QStringLiteral("ES"));
        s.write(apps::Orvaline, QStringLiteral("Main"), QStringLiteral("chkUseHospPat"), QStringLiteral("1 (hospital)"));
        s.write(apps::Orvaline, QStringLiteral("Main"), QStringLiteral("UsePacsDBExamCodes"), QStringLiteral("0"));
        s.write(apps::VelmorPACS, QStringLiteral("Main"), QStringLiteral("CompanyName"), QStringLiteral("St. Luke's"));
        QTemporaryDir parent;
        const QString temp = parent.filePath(QStringLiteral("captures"));
        s.write(apps::VelmorOrvaline, QStringLiteral("Codec"), QStringLiteral("TempFolder"), temp);

        QWidget *main = runStartup(options(QStringLiteral("RAD9"), QStringLiteral("right-password")));
        QVERIFY(main);
        delete main;
        const SharedState &st = state();
        QCOMPARE(st.UserDoctorId, QStringLiteral("2001"));
        QCOMPARE(st.UserDoctorName, QStringLiteral("REYES, ANA C"));
        QCOMPARE(st.Server_Name, QStringLiteral("\\\\imgsrv"));
        QCOMPARE(st.Server_Folder, QStringLiteral("IMAGES"));
        QCOMPARE(st.AcquireModalityCode, QStringLiteral("ES"));
        QCOMPARE(st.chkUseHospPat, 1);
        QCOMPARE(st.UsePacsDBExamCodes, 1); // the stored switch is not read at start-up
        QCOMPARE(st.CompanyName, QStringLiteral("St. Luke's"));
        QCOMPARE(st.TempFolder, temp);
        QVERIFY(QDir(temp).exists());
        QCOMPARE(dicom::networkTimeout(), 10);
    }

    void toolkitSettingsAreApplied()
    {
        settings().write(apps::VelmorOrvaline, QStringLiteral("dicom"), QStringLiteral("UIDRoot"), QStringLiteral("1.2.826.0.1.3680043.10.999"));
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("NetworkTimeout"), QStringLiteral("3 s"));
        delete runStartup(options(QStringLiteral("TECH1"), QStringLiteral("right-password")));
        QVERIFY(dicom::newUid().startsWith(QLatin1String("1.2.826.0.1.3680043.10.999.")));
        QCOMPARE(dicom::networkTimeout(), 3);
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("NetworkTimeout"), QStringLiteral("none"));
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("UIDRoot"), QString());
        applyToolkitSettings();
        QCOMPARE(dicom::networkTimeout(), 10);
        QVERIFY(!dicom::newUid().startsWith(QLatin1String("1.2.826.0.1.3680043.10.999.")));
    }

    void blankTempFolderMeansTheDefault()
    {
        settings().write(apps::VelmorOrvaline, QStringLiteral("Codec"), QStringLiteral("TempFolder"), QStringLiteral("   "));
        delete runStartup(options(QStringLiteral("TECH1"), QStringLiteral("right-password")));
        QCOMPARE(state().TempFolder, QDir(perUserDataFolder()).filePath(QStringLiteral("pacstemp")));
    }

    // Only one level is created: a temporary folder whose parent is missing stops the start-up.
    void uncreatableTempFolderStopsTheStartup()
    {
        QTemporaryDir parent;
        settings().write(apps::VelmorOrvaline, QStringLiteral("Codec"), QStringLiteral("TempFolder"),
                         parent.filePath(QStringLiteral("missing/captures")));
        try {
            delete runStartup(options(QStringLiteral("TECH1"), QStringLiteral("right-password")));
            QFAIL("the start-up went on");
        } catch (const Error &e) {
            QVERIFY(e.description().contains(QLatin1String("missing/captures")));
        }
        QVERIFY(!m_mainShown);
    }

    void refusedLoginEndsWithoutAWindow()
    {
        QWidget *main = runStartup(options(QStringLiteral("TECH1"), QStringLiteral("wrong-password")));
        QVERIFY(!main);
        QVERIFY(!m_mainShown);
        QCOMPARE(state().LoginComponent->lastError(), QStringLiteral("Wrong employee code or password."));
        QVERIFY(m_prompter->shown.isEmpty());
        QCOMPARE(state().CurrentUser.UserID(), QString());
    }
};

ORV_TEST_MAIN(tst_Startup)
#include "tst_startup.moc"
