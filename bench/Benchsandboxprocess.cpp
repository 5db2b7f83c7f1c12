#include "bench/Benchsandboxprocess.h"

#include <stdexcept>

TSandboxProcess::TSandboxProcess(int scale)
{
    Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Process.start(QStringLiteral(TORVANE_SANDBOX_PROGRAM),
                  {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--seed"),
                   QStringLiteral("1"), QStringLiteral("--scale"), QString::number(scale)});
    // The first line is "port N"; a table of 32,767 processes takes a moment to build.
    while (Process.waitForReadyRead(60000) || Process.canReadLine()) {
        if (!Process.canReadLine())
            continue;
        const QByteArray line = Process.readLine().trimmed();
        if (line.startsWith("port ")) {
            Port = line.mid(5).toInt();
            return;
        }
    }
    throw std::runtime_error("torvane-sandbox did not start");
}

TSandboxProcess::~TSandboxProcess()
{
    Process.terminate();
    if (!Process.waitForFinished(10000))
        Process.kill();
    Process.waitForFinished(10000);
}

std::string TSandboxProcess::ServerName() const
{
    return "127.0.0.1," + std::to_string(Port);
}
