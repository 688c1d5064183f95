#pragma once

// For tests that link the core library: a user logged in on a fresh database as the start-up
// routine would leave it.
#include "common/TestDb.h"
#include "core/Database.h"
#include "core/SharedState.h"

#include <functional>

namespace orv::test {

// Resets the shared state and the settings, creates `database` on `backend`, runs `prepare` on
// it, adds the user T01 ("Joy Manalo", password "password1") and logs T01 in through the login
// component. True when the login component is connected.
inline bool loginOnFreshDatabase(std::unique_ptr<FreshDatabase> &database, Backend backend,
                                 const std::function<void(Connection &)> &prepare = {})
{
    resetState();
    resetSettings();
    database = std::make_unique<FreshDatabase>(backend);
    const ConnectionConfig config = database->config();
    {
        auto db = openDepartmentDatabase(config);
        if (prepare)
            prepare(*db);
        LoginComponent::addUser(*db, QStringLiteral("T01"), QStringLiteral("Joy Manalo"), QStringLiteral("password1"));
    }
    state().LoginComponent = std::make_unique<LoginComponent>([config] { return openDepartmentDatabase(config); });
    state().LoginComponent->setScriptedLogin(QStringLiteral("T01"), QStringLiteral("password1"));
    state().LoginComponent->ShowMain();
    state().CurrentUser.setUserID(QStringLiteral("T01"));
    state().AcquireModalityCode = QStringLiteral("US");
    return state().LoginComponent->Connected();
}

} // namespace orv::test
