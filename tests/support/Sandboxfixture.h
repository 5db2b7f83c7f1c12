#pragma once
// A sandbox SQL Server for one test: started in-process on a free loopback port, so the
// real ODBC driver in the test talks TDS to it. Optionally from a scenario given as JSON
// text (written to a temporary file), for accounts and processes a test needs.

#include "sandbox/Sandboxserver.h"

#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <string>

class TSandboxFixture
{
public:
    // The built-in scenario's administrator login.
    static constexpr const char* Login = "sa";
    static constexpr const char* Password = "torvane";

    // The built-in scenario, or the scenario in scenarioJson when it is not empty.
    explicit TSandboxFixture(const std::string& scenarioJson = {});

    // False, with Error() saying why, when the server could not start.
    bool Started() const { return FStarted; }
    const std::string& Error() const { return FError; }

    std::uint16_t Port() const;
    // "127.0.0.1,PORT": the server name a user would type.
    std::string ServerName() const;

    sandbox::TSandboxServer& Server() { return *FServer; }
    sandbox::TSandboxSimulation& Simulation() { return FServer->Simulation(); }

    // How many batches with exactly this text the server has received.
    int BatchCount(const std::string& text) const;

private:
    QTemporaryDir FDirectory;
    std::unique_ptr<sandbox::TSandboxServer> FServer;
    bool FStarted = false;
    std::string FError;
};
