#include "app/Stopsignals.h"

#include "engine/Freetdsconfig.h"

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <sys/signalfd.h>
#include <unistd.h>

TStopSignals::TStopSignals(std::function<void()> onFirstSignal) : OnFirstSignal(std::move(onFirstSignal))
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    Descriptor = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (Descriptor < 0)
        return;
    Notifier = std::make_unique<QSocketNotifier>(Descriptor, QSocketNotifier::Read);
    connect(Notifier.get(), &QSocketNotifier::activated, this, [this] { SignalArrived(); });
}

TStopSignals::~TStopSignals()
{
    Notifier.reset();
    if (Descriptor >= 0)
        close(Descriptor);
}

void TStopSignals::SignalArrived()
{
    signalfd_siginfo info;
    int count = 0;
    while (read(Descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        ++count;
    if (count == 0)
        return;
    Received += count;
    if (Received > 1)
        AbandonThreadsAndExit(130);
    OnFirstSignal();
}

void AbandonThreadsAndExit(int exitCode)
{
    RemoveOwnFreeTdsConfig();
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    _exit(exitCode);
}
