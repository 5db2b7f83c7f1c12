#pragma once
// The sandbox server as a program of its own (torvane-sandbox), so that what a benchmark
// measures of its own process is the client's work alone.

#include <QProcess>

#include <string>

class TSandboxProcess
{
public:
    // Starts the server with a table of `scale` processes; throws std::runtime_error when
    // it does not come up.
    explicit TSandboxProcess(int scale);
    ~TSandboxProcess();
    TSandboxProcess(const TSandboxProcess&) = delete;
    TSandboxProcess& operator=(const TSandboxProcess&) = delete;

    // "127.0.0.1,PORT", as a user names the server.
    std::string ServerName() const;

private:
    QProcess Process;
    int Port = 0;
};
