#include "OnlineIndexRunner.h"

#include "Database.h"
#include "SharedState.h"

#include "outside/Error.h"

#include <QElapsedTimer>

namespace orv {

OnlineIndexRunner &OnlineIndexRunner::instance()
{
    static OnlineIndexRunner runner;
    return runner;
}

OnlineIndexRunner::~OnlineIndexRunner()
{
    stop();
}

void OnlineIndexRunner::start(const ConnectionConfig &config)
{
    if (config.backend != Backend::PostgreSQL || m_thread)
        return;
    m_config = config;
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->start(QThread::LowPriority);
}

void OnlineIndexRunner::stop()
{
    if (!m_thread)
        return;
    // A cancel that reaches the connection between two statements is lost: it is sent again.
    while (!m_thread->wait(200)) {
        const int pid = m_backendPid;
        if (pid <= 0)
            continue;
        try {
            Connection::open(m_config)->query(QStringLiteral("SELECT pg_cancel_backend(%1) AS cancelled").arg(pid));
        } catch (const Error &) {
        }
    }
    m_thread.reset();
    m_backendPid = 0;
}

void OnlineIndexRunner::run()
{
    QElapsedTimer clock;
    clock.start();
    bool worked = false;
    try {
        auto db = Connection::open(m_config);
        m_backendPid = db->query(QStringLiteral("SELECT pg_backend_pid() AS pid")).value(QStringLiteral("pid")).toInt();
        buildOnlineIndexes(*db, [&](const OnlineStep &step) {
            worked = true;
            logModel().append(step.version == 0
                                  ? QStringLiteral("Database upgrade, online: removing an index an interrupted build left: %1").arg(step.statement)
                                  : QStringLiteral("Database upgrade to version %1, online (%2 of %3): %4")
                                        .arg(step.version)
                                        .arg(step.number)
                                        .arg(step.count)
                                        .arg(step.statement));
        });
        if (worked)
            logModel().append(QStringLiteral("Database upgrade, online work done in %1 s.").arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    } catch (const Error &e) {
        logModel().append(QStringLiteral("Database upgrade, online work stopped (the next start takes it up again): %1").arg(e.description()));
    }
    m_backendPid = 0;
}

} // namespace orv
