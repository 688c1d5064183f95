// orv_queue_worker <database options>: delivers this workstation's due send queue entries, as the
// background sender of a workstation would, and prints the number of objects stored after each
// one; ORV_QUEUE_PACE (milliseconds) slows each object down so that a test can kill it midway.
// Exits 0 when nothing is left due; a failure is printed on stderr with exit code 1.
#include "core/Database.h"
#include "sendqueue/SendQueue.h"
#include "outside/Error.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int pace = qEnvironmentVariableIntValue("ORV_QUEUE_PACE");
    try {
        auto db = orv::openDepartmentDatabase(orv::databaseConfig(app.arguments()));
        orv::SendQueue queue(*db);
        int stored = 0;
        for (QList<orv::QueueEntry> claimed = queue.claimDue(); !claimed.isEmpty(); claimed = queue.claimDue()) {
            orv::DeliveryHooks hooks;
            hooks.answered = [&](const orv::QueueEntry &, int status) {
                if (status == 0)
                    std::printf("%d\n", ++stored);
                std::fflush(stdout);
                if (pace > 0)
                    QThread::msleep(pace);
            };
            const orv::DeliveryOutcome o = queue.deliver(claimed, hooks);
            if (!o.failure.isEmpty()) {
                std::fprintf(stderr, "%s\n", qPrintable(o.failure));
                return 1;
            }
        }
    } catch (const orv::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
