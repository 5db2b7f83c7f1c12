#pragma once
// One SMTP client on a thread of its own, with a short queue of jobs waiting their turn,
// so that the thread of the window never waits on a mail server. A job runs on the
// client's thread with the client (which keeps its state from one job to the next, as
// one component would); the function it returns then runs on the thread that owns this
// object, through its event loop, to show or report what happened.
//
// The thread starts with the first job, so a program that blocks signals before it
// starts threads (see app/Stopsignals.h) may create the object at any time; the thread
// inherits the blocked signals. Destroying the object drops the jobs still waiting and ends the running job's
// wait at once (it fails with the socket error for ECANCELED); nothing it returns runs then.

#include "alerts/Quorsmtp.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TSmtpThread : public QObject
{
    Q_OBJECT

public:
    using TResult = std::function<void()>;
    using TJob = std::function<TResult(TQuorSMTP& client)>;

    // queueBound: how many jobs may wait while one runs.
    explicit TSmtpThread(int queueBound, QObject* parent = nullptr);
    ~TSmtpThread() override;

    // False, and the job is not taken, when queueBound jobs are already waiting.
    bool Post(TJob job);

private:
    void Run();

    const int FQueueBound;
    const int FCancel; // an eventfd, readable once the object is going
    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<TJob> FJobs;
    bool FStopping = false;
    std::thread FThread; // last: starts once everything it uses exists
};
