#pragma once
// Runs a command line tool (objcopy, cmake, cpack, dpkg-deb, the installed programs) to
// its end and keeps what it printed, for the test to show when the tool failed.

#include <QProcess>
#include <QProcessEnvironment>

struct TCommandResult
{
    bool Succeeded = false; // ended by itself with exit code 0
    QByteArray Output;
    QByteArray Errors;
};

inline TCommandResult
RunCommand(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
           int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    TCommandResult result;
    result.Succeeded = process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit &&
                       process.exitCode() == 0;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    result.Output = process.readAllStandardOutput();
    result.Errors = process.readAllStandardError();
    return result;
}
