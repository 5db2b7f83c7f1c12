#pragma once
// The out-of-process clients of the sandbox tests: python-tds through tdsclient.py
// (run by Debian's /usr/bin/python3, which has the module) and FreeTDS's tsql. Each
// call starts the client, waits for it and returns what it reported.

#include <QJsonObject>
#include <QString>

// Runs tdsclient.py with the request (see the script) and returns its JSON answer;
// on a client that failed to run, an object with "failure" set to the reason.
QJsonObject RunPythonClient(const QJsonObject& request);

struct TTsqlRun
{
    int exitCode = -1;
    QString output; // standard output and standard error together
};

// Sends batches (each ended by "go" lines in the text) through tsql with the TDS
// version in TDSVER and, when freeTdsConf is not empty, the freetds.conf it names
// (FREETDSCONF), whose global section can set encryption and a CA file.
TTsqlRun RunTsql(quint16 port, const QString& user, const QString& password, const QString& tdsVersion,
                 const QString& batches, const QString& freeTdsConf = {});
