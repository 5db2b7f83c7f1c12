#include "support/Scriptclients.h"

#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

namespace {
constexpr int ClientTimeoutMs = 120000;
}

QJsonObject RunPythonClient(const QJsonObject& request)
{
    QProcess process;
    process.start(QStringLiteral(TORVANE_SYSTEM_PYTHON), {QStringLiteral(TORVANE_TDSCLIENT_SCRIPT)});
    if (!process.waitForStarted())
        return {{"failure", QString(QStringLiteral("python did not start: ") + process.errorString())}};
    process.write(QJsonDocument(request).toJson(QJsonDocument::Compact));
    process.closeWriteChannel();
    if (!process.waitForFinished(ClientTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {{"failure", QStringLiteral("python client did not finish")}};
    }
    const QByteArray out = process.readAllStandardOutput();
    const QJsonDocument answer = QJsonDocument::fromJson(out);
    if (process.exitCode() != 0 || !answer.isObject())
        return {{"failure", QString::fromUtf8(out + process.readAllStandardError())}};
    return answer.object();
}

TTsqlRun RunTsql(quint16 port, const QString& user, const QString& password, const QString& tdsVersion,
                 const QString& batches, const QString& freeTdsConf)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TDSVER"), tdsVersion);
    if (!freeTdsConf.isEmpty())
        environment.insert(QStringLiteral("FREETDSCONF"), freeTdsConf);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(TORVANE_TSQL_PROGRAM),
                  {QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                   QString::number(port), QStringLiteral("-U"), user, QStringLiteral("-P"), password});
    TTsqlRun run;
    if (!process.waitForStarted()) {
        run.output = process.errorString();
        return run;
    }
    process.write(batches.toUtf8());
    process.closeWriteChannel();
    if (!process.waitForFinished(ClientTimeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAll());
    return run;
}
