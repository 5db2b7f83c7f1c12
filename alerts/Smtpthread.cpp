#include "alerts/Smtpthread.h"

#include <QDebug>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>

TSmtpThread::TSmtpThread(int queueBound, QObject* parent)
    : QObject(parent), FQueueBound(queueBound), FCancel(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (FCancel < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

TSmtpThread::~TSmtpThread()
{
    {
        const std::lock_guard guard(FLock);
        FStopping = true;
        FJobs.clear();
    }
    FWake.notify_one();
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FCancel, &one, sizeof one);
    if (FThread.joinable())
        FThread.join();
    ::close(FCancel);
}

bool TSmtpThread::Post(TJob job)
{
    {
        const std::lock_guard guard(FLock);
        if (static_cast<int>(FJobs.size()) >= FQueueBound)
            return false;
        FJobs.push_back(std::move(job));
    }
    if (!FThread.joinable())
        FThread = std::thread([this] { Run(); });
    FWake.notify_one();
    return true;
}

void TSmtpThread::Run()
{
    TQuorSMTP client(FCancel);
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(FLock);
            FWake.wait(lock, [this] { return FStopping || !FJobs.empty(); });
            if (FStopping)
                return;
            job = std::move(FJobs.front());
            FJobs.pop_front();
        }
        TResult result;
        try {
            result = job(client);
        } catch (const std::exception& error) {
            // Jobs report the client's own failures; anything else is the program's error.
            qWarning().noquote()
                << QStringLiteral("Mail job failed: %1").arg(QString::fromUtf8(error.what()));
        }
        if (result)
            QMetaObject::invokeMethod(this, std::move(result), Qt::QueuedConnection);
    }
}
