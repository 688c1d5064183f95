#pragma once

#include <QFuture>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>

#include <functional>

namespace orv {

// A worker whose work runs on a thread of the global pool, one run at a time. Subclasses wait
// for a running work in their destructors, before the members it uses are gone.
class PoolWorker : public QObject
{
public:
    using QObject::QObject;

    bool isRunning() const { return m_future.isValid() && !m_future.isFinished(); }
    // Blocks until the running work, if any, has ended (its signals may still be queued).
    void waitForFinished()
    {
        if (m_future.isValid())
            m_future.waitForFinished();
    }

protected:
    // Starts `work` on the pool; false (and nothing started) while earlier work runs.
    bool runInPool(std::function<void()> work)
    {
        if (isRunning())
            return false;
        m_future = QtConcurrent::run(std::move(work));
        return true;
    }

private:
    QFuture<void> m_future;
};

} // namespace orv
