#pragma once
// What the logon dialog asks of the main window: connect a server into a free
// connection slot. The main window reports a failed connection to the user itself.

#include <QString>

class TServerConnector
{
public:
    virtual ~TServerConnector() = default;

    // True when the connection is up and the server is in the main window's list.
    virtual bool ConnectServer(const QString& serverName, bool useWindowsAuthentication,
                               const QString& userName, const QString& password) = 0;

protected:
    TServerConnector() = default;
    TServerConnector(const TServerConnector&) = default;
    TServerConnector& operator=(const TServerConnector&) = default;
};
