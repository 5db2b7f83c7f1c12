#include "app/Listservers.h"

#include "engine/Serverbrowser.h"

#include <QCommandLineParser>

#include <iostream>

namespace {
const QString ListServersOption = QStringLiteral("list-servers");
} // namespace

void AddListServersOption(QCommandLineParser& parser)
{
    parser.addOption({ListServersOption,
                      QStringLiteral("Print the SQL Servers on the network, one per line.")});
}

bool WantsServerList(const QCommandLineParser& parser)
{
    return parser.isSet(ListServersOption);
}

int RunListServers()
{
    const TBrowseResult result = TServerBrowser(TServerBrowser::TOptions::FromEnvironment()).BrowseServers();
    for (const std::string& name : result.Names)
        std::cout << name << '\n';
    std::cout.flush();
    if (!result.Error.empty()) {
        std::cerr << result.Error << std::endl;
        return 1;
    }
    return 0;
}
