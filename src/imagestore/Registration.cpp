#include "Registration.h"

#include "neroFiddlesCOMForm.h"

#include "core/WindowRegistry.h"

namespace orv {

void registerImageStoreWindows()
{
    WindowRegistry::registerWindow(QStringLiteral("neroFiddlesCOMForm"), [] { return neroFiddlesCOMForm::instance(); });
}

} // namespace orv
