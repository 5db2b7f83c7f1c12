#pragma once
// What the logon dialog asks of the main window: connect a server into a free
// connection slot. The connection is made off the main thread; done runs on the main
// thread with the outcome, true once the server is in the main window's list. The
// main window reports a failed connection to the user itself. An attempt the user
// calls off is abandoned: its thread finishes in the background, done never runs and
// nothing of its outcome is shown or kept.

#include <QString>

#include <functional>

class TServerConnector
{
public:
    virtual ~TServerConnector() = default;

    // The attempt's number for AbandonConnect; -1 when none was started (done(false) ran).
    virtual int ConnectServer(const QString& serverName, bool useWindowsAuthentication,
                              const QString& userName, const QString& password,
                              std::function<void(bool)> done) = 0;
    // Calls off an attempt whose done has not run yet; anything else is ignored.
    virtual void AbandonConnect(int attempt) = 0;

protected:
    TServerConnector() = default;
    TServerConnector(const TServerConnector&) = default;
    TServerConnector& operator=(const TServerConnector&) = default;
};
