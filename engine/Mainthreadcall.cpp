#include "engine/Mainthreadcall.h"

#include <QCoreApplication>

#include <mutex>

namespace {

std::mutex& PostLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

void PostToMainThread(std::function<void()> call)
{
    QCoreApplication* const application = QCoreApplication::instance();
    if (!application)
        return;
    const std::lock_guard posting(PostLock());
    QMetaObject::invokeMethod(
        application,
        [call = std::move(call)] {
            {
                const std::lock_guard started(PostLock());
            }
            call();
        },
        Qt::QueuedConnection);
}
