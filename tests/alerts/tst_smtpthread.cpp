// The SMTP client's own thread: jobs run there in order, their results come back on the
// owner's thread, the queue keeps its bound, and going away ends a wait on a server that
// never answers instead of sitting it out.

#include "alerts/Smtperror.h"
#include "alerts/Smtpthread.h"
#include "tests/support/Scriptedsmtpserver.h"

#include <QtTest>

#include <memory>
#include <mutex>
#include <semaphore>

class TestSmtpThread : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void jobsRunInTurnAndReportOnTheOwnersThread();
    void goingAwayEndsTheWait();
};

void TestSmtpThread::jobsRunInTurnAndReportOnTheOwnersThread()
{
    TSmtpThread thread(2);
    std::binary_semaphore started(0);
    std::binary_semaphore release(0);
    QList<int> order;
    QList<QThread*> jobThreads;
    QList<QThread*> resultThreads;
    const auto job = [&](int number) {
        return [&, number](TQuorSMTP&) -> TSmtpThread::TResult {
            if (number == 1) {
                started.release();
                release.acquire();
            }
            QThread* const jobThread = QThread::currentThread();
            return [&, number, jobThread] {
                order << number;
                jobThreads << jobThread;
                resultThreads << QThread::currentThread();
            };
        };
    };

    QVERIFY(thread.Post(job(1)));
    started.acquire();
    QVERIFY(thread.Post(job(2)));
    QVERIFY(thread.Post(job(3)));
    QVERIFY(!thread.Post(job(4))); // two wait already
    release.release();

    QTRY_COMPARE(order, (QList<int>{1, 2, 3}));
    QVERIFY(!jobThreads.contains(QThread::currentThread()));
    QCOMPARE(resultThreads, QList<QThread*>(3, QThread::currentThread()));
}

void TestSmtpThread::goingAwayEndsTheWait()
{
    TScriptedSmtpServer server;
    server.Greeting.clear();
    QVERIFY(server.Start());
    struct TSeen
    {
        std::mutex Lock;
        QString Failure;
        bool SecondRan = false;
    };
    const auto seen = std::make_shared<TSeen>();
    {
        TSmtpThread thread(1);
        thread.Post([seen, host = server.Host()](TQuorSMTP& client) -> TSmtpThread::TResult {
            client.Host = host; // waits TimeOut, 30 s, for a greeting that never comes
            try {
                client.Connect();
            } catch (const ESmtpFailure& failure) {
                const std::lock_guard guard(seen->Lock);
                seen->Failure = failure.Text();
            }
            return {};
        });
        thread.Post([seen](TQuorSMTP&) -> TSmtpThread::TResult {
            const std::lock_guard guard(seen->Lock);
            seen->SecondRan = true;
            return {};
        });
        QVERIFY(server.WaitForConnection(10000));
    }
    const std::lock_guard guard(seen->Lock);
    QCOMPARE(seen->Failure, QStringLiteral("125:Operation canceled"));
    QVERIFY(!seen->SecondRan);
    QVERIFY(server.ClosedByClient(5000));
}

QTEST_GUILESS_MAIN(TestSmtpThread)
#include "tst_smtpthread.moc"
