#pragma once

#include "LogModel.h"
#include "outside/Connection.h"
#include "outside/LoginComponent.h"
#include "outside/SettingsStore.h"

#include <QString>

#include <memory>

namespace orv {

// The current-user record: six text properties; the program sets only UserID and UserGroup.
class clsUser
{
public:
    QString Name_First() const { return m_first; }
    void setName_First(const QString &v) { m_first = v; }
    QString Name_Middle() const { return m_middle; }
    void setName_Middle(const QString &v) { m_middle = v; }
    QString Name_Last() const { return m_last; }
    void setName_Last(const QString &v) { m_last = v; }
    QString name_init() const { return m_init; }
    void setname_init(const QString &v) { m_init = v; }
    QString UserID() const { return m_userId; }
    void setUserID(const QString &v) { m_userId = v; }
    QString UserGroup() const { return m_group; }
    void setUserGroup(const QString &v) { m_group = v; }

private:
    QString m_first, m_middle, m_last, m_init, m_userId, m_group;
};

// The values filled at start-up and shared by every window, for the whole run.
using LoginComponentType = LoginComponent;

struct SharedState
{
    std::unique_ptr<LoginComponentType> LoginComponent;
    clsUser CurrentUser;
    QString EmployeeName;
    QString UserDoctorId;
    QString UserDoctorName;
    QString DicomDbName;
    QString PacsDbName;
    QString Server_Name;
    QString Server_Folder;
    QString chkOverrideImgPath;
    QString AcquireModalityCode;
    QString TempFolder;
    QString CompanyName;
    int UsePacsDBExamCodes = 1;
    int chkUseHospPat = 0;
    // "Maintenance Mode" of the options window: numbered trace message boxes in the image list
    // and in frame capture. Not stored; on only while the options window that set it is open.
    bool MaintenanceMode = false;
    // "Transparent" of the label details: new labels other than text get a transparent
    // background. Ticked at start, not stored.
    bool LabelTransparent = true;

    // The one database connection (owned by the login component).
    Connection &db() const;
};

// The shared state of this run. Tests may reset it.
SharedState &state();
void resetState();

// The log of this run, shown by the log window. One model for the whole run: resetState() keeps it.
LogModel &logModel();

// The per-user settings store of this run.
SettingsStore &settings();
void resetSettings(const QString &file = QString());

// Application names of the settings store, as the program writes them (compared without case).
namespace apps {
inline const QString Orvaline = QStringLiteral("Orvaline");
inline const QString VelmorOrvaline = QStringLiteral("VelmorOrvaline");
inline const QString VelmorPACS = QStringLiteral("VelmorPACS");
inline const QString velmorPacs = QStringLiteral("velmorPacs");
inline const QString VELMORPACS = QStringLiteral("VELMORPACS");
inline const QString PACS = QStringLiteral("PACS");
} // namespace apps

} // namespace orv
