#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/dul.h>

#include <atomic>

namespace orv::dicom {

namespace {
std::atomic<int> g_timeout{10};
std::atomic<int> g_exchangeLimit{60};
// The toolkit's own connection timeout follows ours from the start.
const bool g_applied = [] {
    dcmConnectionTimeout.set(g_timeout.load());
    return true;
}();
} // namespace

void setNetworkTimeout(int seconds)
{
    if (seconds <= 0)
        fail(QStringLiteral("The network timeout must be a positive number of seconds."));
    g_timeout = seconds;
    dcmConnectionTimeout.set(seconds);
}

int networkTimeout()
{
    (void)g_applied;
    return g_timeout.load();
}

void setExchangeTimeLimit(int seconds)
{
    if (seconds <= 0)
        fail(QStringLiteral("The exchange time limit must be a positive number of seconds."));
    g_exchangeLimit = seconds;
}

int exchangeTimeLimit() { return g_exchangeLimit.load(); }

} // namespace orv::dicom
