#pragma once
// SIGINT and SIGTERM for every mode of the program. They arrive as readable data
// on a descriptor and are handled in the event loop like any other event; the first
// one calls the handler, a second one ends the program at once, whatever its threads
// are doing. Construct before any thread exists, so no thread takes them the default way.

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

class TStopSignals : public QObject
{
public:
    explicit TStopSignals(std::function<void()> onFirstSignal);
    ~TStopSignals() override;
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    bool Watching() const { return Descriptor >= 0; }

private:
    void SignalArrived();

    std::function<void()> OnFirstSignal;
    int Descriptor = -1;
    int Received = 0;
    std::unique_ptr<QSocketNotifier> Notifier;
};

// Ends the program with exitCode without running destructors or exit handlers: for
// when a thread is still blocked inside the database driver and must be abandoned
// rather than awaited. Standard output and error are flushed first.
[[noreturn]] void AbandonThreadsAndExit(int exitCode);
