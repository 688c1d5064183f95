#include "SharedState.h"

#include "outside/Error.h"

namespace orv {

namespace {
std::unique_ptr<SharedState> &stateHolder()
{
    static std::unique_ptr<SharedState> s = std::make_unique<SharedState>();
    return s;
}
std::unique_ptr<SettingsStore> &settingsHolder()
{
    static std::unique_ptr<SettingsStore> s;
    return s;
}
} // namespace

Connection &SharedState::db() const
{
    if (!LoginComponent || !LoginComponent->SQLConnection())
        throw Error(QStringLiteral("There is no database connection."));
    return *LoginComponent->SQLConnection();
}

SharedState &state()
{
    return *stateHolder();
}

LogModel &logModel()
{
    static LogModel log;
    return log;
}

void resetState()
{
    stateHolder() = std::make_unique<SharedState>();
}

SettingsStore &settings()
{
    auto &s = settingsHolder();
    if (!s)
        s = std::make_unique<SettingsStore>();
    return *s;
}

void resetSettings(const QString &file)
{
    settingsHolder() = std::make_unique<SettingsStore>(file);
}

} // namespace orv
