#pragma once

#include "outside/Connection.h"

#include <QThread>

#include <atomic>
#include <memory>

namespace orv {

// Runs buildOnlineIndexes() on a thread and a database connection of its own, so that the
// workstation that does the online index work of a schema upgrade starts and works as usual
// meanwhile. Its progress and outcome are lines in the log of this run (not shown by
// themselves). One instance for the run, started once the main window shows.
class OnlineIndexRunner
{
public:
    static OnlineIndexRunner &instance();
    ~OnlineIndexRunner();

    // Returns at once. Does nothing on a backend other than PostgreSQL, or when started already.
    void start(const ConnectionConfig &config);
    // Cancels the statement in progress (an index whose build is cancelled is mended at the next
    // start of any workstation) and waits for the thread.
    void stop();

private:
    OnlineIndexRunner() = default;
    void run();

    ConnectionConfig m_config;
    std::unique_ptr<QThread> m_thread;
    std::atomic<int> m_backendPid{0};
};

} // namespace orv
