#pragma once
// torvane --list-servers: the SQL Servers found on the network, one name per line, as
// the server list dialog would list them (like the -L of SQL Server's command-line
// tools). Nothing found prints nothing.

class QCommandLineParser;

void AddListServersOption(QCommandLineParser& parser);
bool WantsServerList(const QCommandLineParser& parser);
// 0, or 1 with the reason on standard error when no search could be made.
int RunListServers();
