#include "window_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace qinghe {
namespace {

// Without an application there is no window thread: work handed over then
// is dropped, never run on whatever thread asks.
bool onWindowThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace

void postToWindowThread(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void runOnWindowThread(const std::function<void()>& work)
{
    if (onWindowThread()) {
        work();
        return;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

}  // namespace qinghe
