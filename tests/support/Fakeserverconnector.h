#pragma once
// The main window's connect call for logon dialog tests. Whatever server the dialog
// names, a real monitor thread connects to the sandbox through the FreeTDS driver with
// the dialog's login and password, so a wrong password fails as against a real server.
// The sandbox knows no Kerberos: a Windows authentication logon is made with the
// sandbox's administrator login in its place. Connections stay up until the fake goes.

#include "tests/support/Monitorfixture.h"
#include "tests/support/Sandboxfixture.h"
#include "ui/Serverconnector.h"

#include <memory>
#include <vector>

class TFakeServerConnector : public TServerConnector
{
public:
    struct TCall
    {
        QString ServerName;
        bool UseWindowsAuthentication = false;
        QString UserName;
        QString Password;
    };

    explicit TFakeServerConnector(const TSandboxFixture& sandbox) : FSandbox(sandbox) {}

    bool ConnectServer(const QString& serverName, bool useWindowsAuthentication, const QString& userName,
                       const QString& password) override
    {
        Calls.push_back({serverName, useWindowsAuthentication, userName, password});
        auto connection = std::make_unique<TMonitorFixture>();
        const std::string login = useWindowsAuthentication ? TSandboxFixture::Login : userName.toStdString();
        const std::string secret =
            useWindowsAuthentication ? TSandboxFixture::Password : password.toStdString();
        if (!connection->Connect(FSandbox.ServerName(), false, login, secret, 100000, false)) {
            FailureMessages += static_cast<int>(connection->Owner.MessageBoxes.size());
            return false;
        }
        FConnections.push_back(std::move(connection));
        return true;
    }

    std::vector<TCall> Calls;
    // Message boxes the failed connections showed.
    int FailureMessages = 0;

private:
    const TSandboxFixture& FSandbox;
    std::vector<std::unique_ptr<TMonitorFixture>> FConnections;
};
