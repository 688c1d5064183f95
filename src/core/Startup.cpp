#include "Startup.h"

#include "outside/PrivateFiles.h"

#include "Audit.h"
#include "SafeNames.h"
#include "Database.h"
#include "SharedState.h"
#include "outside/Error.h"
#include "outside/dicom/Toolkit.h"

#include <QDir>

namespace orv {

QString defaultTempFolder()
{
    return QDir::tempPath();
}

QString readAcquireModalityCode()
{
    return settings().read(apps::Orvaline, QStringLiteral("Main"), QStringLiteral("AcquireModalityCode"), QStringLiteral("US"));
}

namespace {
void applyDemoSettings()
{
    SettingsStore &s = settings();
    const QString section = QStringLiteral("ServerInfo");
    const QString server = QDir(perUserDataFolder()).filePath(QStringLiteral("imageserver"));
    if (s.read(apps::velmorPacs, section, QStringLiteral("Server_Name")).isEmpty()) {
        s.write(apps::velmorPacs, section, QStringLiteral("Server_Name"), server);
        s.write(apps::velmorPacs, section, QStringLiteral("Server_Folder"), QStringLiteral("ACQUIRE"));
    }
    // The demo's hospital names the patient numbers its objects carry (Issuer of Patient ID).
    if (s.read(apps::VelmorPACS, QStringLiteral("Main"), QStringLiteral("CompanyName")).isEmpty())
        s.write(apps::VelmorPACS, QStringLiteral("Main"), QStringLiteral("CompanyName"), QStringLiteral("ORVALINE DEMO HOSPITAL"));
    // A save builds the folders below the server folder, which must exist: the demo's does.
    if (s.read(apps::velmorPacs, section, QStringLiteral("Server_Name")) == server) {
        const QString folder = s.read(apps::velmorPacs, section, QStringLiteral("Server_Folder"));
        QDir().mkpath(folder.isEmpty() || !unsafeFileNameReason(folder).isEmpty() ? server : QDir(server).filePath(folder));
    }
}
} // namespace

void applyToolkitSettings()
{
    SettingsStore &s = settings();
    const QString section = QStringLiteral("DICOM");
    dicom::setUidRoot(s.read(apps::VelmorOrvaline, section, QStringLiteral("UIDRoot")).trimmed());
    const int timeout = SettingsStore::intOf(s.read(apps::VelmorOrvaline, section, QStringLiteral("NetworkTimeout"), QStringLiteral("10")));
    dicom::setNetworkTimeout(timeout > 0 ? timeout : 10);
    const int limit = SettingsStore::intOf(s.read(apps::VelmorOrvaline, section, QStringLiteral("ExchangeTimeLimit"), QStringLiteral("60")));
    dicom::setExchangeTimeLimit(limit > 0 ? limit : 60);
}

QWidget *runStartup(const StartupOptions &options)
{
    SharedState &st = state();
    SettingsStore &s = settings();

    // 1.
    st.DicomDbName = QStringLiteral("DICOM");
    st.PacsDbName = QStringLiteral("PACS");

    // The audit trail records from the first login attempt on.
    applyAuditSettings();

    // 2. The login component, with the department database behind it.
    const ConnectionConfig config = databaseConfig(options.arguments);
    const bool demo = options.demo;
    st.LoginComponent = std::make_unique<LoginComponent>([config, demo] {
        auto db = openDepartmentDatabase(config);
        if (demo)
            seedDemoData(*db);
        return db;
    });
    if (options.scriptedLogin)
        st.LoginComponent->setScriptedLogin(options.scriptedLogin->first, options.scriptedLogin->second);

    // 3-4.
    st.LoginComponent->PasswordDeptCode = QStringLiteral("IMG");
    st.LoginComponent->ShowMain();
    if (!st.LoginComponent->Connected())
        return nullptr;
    if (demo)
        applyDemoSettings();

    // 5.
    st.CurrentUser.setUserID(st.LoginComponent->EmployeeCode());
    st.EmployeeName = st.LoginComponent->EmployeeName();
    auditTrail().setUser(st.CurrentUser.UserID(), st.EmployeeName);

    // 6. The user's own row in the doctor master gives the default radiologist.
    RecordSet rs = st.db().query(
        QStringLiteral("select doctorid,lastname + ', ' + firstname + ' ' + middlename as docname from "
                       "build_file.dbo.tbcodoctor where userid = ?"),
        {st.CurrentUser.UserID()});
    if (!rs.isEmpty()) {
        st.UserDoctorName = rs.text(QStringLiteral("docname"));
        st.UserDoctorId = rs.text(QStringLiteral("doctorid"));
    }

    // 7.
    st.Server_Name = s.read(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("Server_Name"));
    st.Server_Folder = s.read(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("Server_Folder"));
    st.chkOverrideImgPath = s.read(apps::velmorPacs, QStringLiteral("ServerInfo"), QStringLiteral("chkOverrideImgPath"));
    st.AcquireModalityCode = readAcquireModalityCode();

    // 8.
    st.CurrentUser.setUserGroup(st.LoginComponent->PasswordDeptCode);

    // 9.
    st.TempFolder = s.read(apps::VelmorOrvaline, QStringLiteral("Codec"), QStringLiteral("TempFolder"));
    st.CompanyName = s.read(apps::VelmorPACS, QStringLiteral("Main"), QStringLiteral("CompanyName"));

    // 10.
    st.UsePacsDBExamCodes = 1;

    // 11. The temporary folder: one level is created when missing.
    if (st.TempFolder.trimmed().isEmpty()) {
        makePrivateFolder(perUserDataFolder()); // stands in for the application's folder
        st.TempFolder = QDir(perUserDataFolder()).filePath(QStringLiteral("pacstemp"));
    }
    if (!QDir(st.TempFolder).exists() && !QDir().mkdir(st.TempFolder))
        throw Error(QStringLiteral("Cannot create the temporary folder \"%1\".").arg(st.TempFolder));

    // 12.
    st.chkUseHospPat = SettingsStore::intOf(s.read(apps::Orvaline, QStringLiteral("Main"), QStringLiteral("chkUseHospPat")));

    applyToolkitSettings();

    // 13.
    return options.showMain ? options.showMain() : nullptr;
}

} // namespace orv
