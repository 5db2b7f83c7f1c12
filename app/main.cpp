// The torvane program. Each mode parses the shared connection options with its own and
// runs on the same engine.

#include "app/Commandline.h"
#include "app/Headlessmonitor.h"
#include "app/Oneshotcommands.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvane"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Activity monitor for Microsoft SQL Server."));
    parser.addHelpOption();
    AddConnectionOptions(parser);
    AddHeadlessOptions(parser);
    AddOneShotOptions(parser);
    parser.process(application);

    if (HasOneShotCommand(parser))
        return RunOneShot(parser);
    if (parser.isSet(QStringLiteral("headless")))
        return RunHeadless(parser);

    std::cerr << "This build has no window yet; run the monitor with --headless (see --help)." << std::endl;
    return 2;
}
