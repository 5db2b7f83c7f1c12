#pragma once
// The main window's connect call for logon dialog tests. Whatever server the dialog
// names, a real connection slot connects to the sandbox through the FreeTDS driver, off
// the main thread, with the dialog's login and password, so a wrong password fails as
// against a real server. The sandbox knows no Kerberos: a Windows authentication logon
// is made with the sandbox's administrator login in its place. Connections stay up
// until the fake goes; an abandoned attempt is stopped and never reports.

#include "engine/Connectionslot.h"
#include "tests/support/Recordingowner.h"
#include "tests/support/Sandboxfixture.h"
#include "ui/Serverconnector.h"

#include <algorithm>
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

    int ConnectServer(const QString& serverName, bool useWindowsAuthentication, const QString& userName,
                      const QString& password, std::function<void(bool)> done) override
    {
        Calls.push_back({serverName, useWindowsAuthentication, userName, password});
        const std::string login = useWindowsAuthentication ? TSandboxFixture::Login : userName.toStdString();
        const std::string secret =
            useWindowsAuthentication ? TSandboxFixture::Password : password.toStdString();
        auto& slot = FSlots.emplace_back(std::make_unique<TConnectionSlot>());
        slot->Connect(
            &Owner, static_cast<int>(FSlots.size() - 1), FSandbox.ServerName(), false, login, secret, 100,
            [this, attempt = static_cast<int>(FSlots.size() - 1), done = std::move(done)](bool connected) {
                if (std::find(Abandoned.begin(), Abandoned.end(), attempt) != Abandoned.end())
                    return;
                ++Finished;
                done(connected);
            },
            false);
        return static_cast<int>(FSlots.size() - 1);
    }

    void AbandonConnect(int attempt) override
    {
        Abandoned.push_back(attempt);
        FSlots.at(static_cast<std::size_t>(attempt))->Stop();
    }

    std::vector<TCall> Calls;
    std::vector<int> Abandoned;
    // Connections that have reported their outcome.
    int Finished = 0;
    // Shows the failed connections' messages.
    TRecordingOwner Owner;

private:
    const TSandboxFixture& FSandbox;
    std::vector<std::unique_ptr<TConnectionSlot>> FSlots;
};
