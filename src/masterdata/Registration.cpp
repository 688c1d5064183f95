#include "Registration.h"

#include "StaffPickers.h"
#include "frmExamCoded.h"
#include "frmExams.h"
#include "frmPatient.h"
#include "frmSelectPatient.h"

#include "core/WindowRegistry.h"

namespace orv {

void registerMasterDataWindows()
{
    WindowRegistry::registerWindow(QStringLiteral("frmPatient"), [] { return frmPatient::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmSelectPatient"), [] { return frmSelectPatient::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmSelectDoc"), [] { return frmSelectDoc::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmSelectRad"), [] { return frmSelectRad::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmSelectTech"), [] { return frmSelectTech::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmExams"), [] { return frmExams::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmExamCoded"), [] { return frmExamCoded::instance(); });
}

} // namespace orv
