#include "CaptureSource.h"

#include "core/SharedState.h"
#include "outside/SettingsStore.h"
#include "outside/capture/CaptureDriver.h"

namespace orv {

namespace {
const QString kSection = QStringLiteral("ACQUIRE");
const QString kKey = QStringLiteral("Source");
} // namespace

QString CaptureSource::notChosen()
{
    return QStringLiteral("(select source first)");
}

QString CaptureSource::name() const
{
    return settings().read(apps::VELMORPACS, kSection, kKey, notChosen());
}

void CaptureSource::choose(const QString &name)
{
    settings().write(apps::VELMORPACS, kSection, kKey, name);
    emit chosen(name);
}

QStringList CaptureSource::available()
{
    QStringList names;
    for (const auto &driver : capture::installedDrivers())
        names << driver->name();
    return names;
}

CaptureSource &captureSource()
{
    static CaptureSource instance;
    return instance;
}

} // namespace orv
