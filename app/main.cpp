// The torvane program: the window (default), the headless monitor, or a one-shot
// command. Each mode parses the shared connection options with its own and runs on the
// same engine.

#include "app/Commandline.h"
#include "app/Headlessmonitor.h"
#include "app/Oneshotcommands.h"
#include "app/Windowmode.h"

#include <QApplication>

#include <cstring>
#include <iostream>
#include <memory>

namespace {

// The window needs a QApplication, which needs a display; the other modes must run
// on machines without one.
bool WantsWindow(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"--headless", "--kill-process", "--kill-database", "--kill-user",
                                   "--sql-text", "--help", "-h", "--help-all"}) {
            const std::size_t length = std::strlen(option);
            if (std::strncmp(argv[i], option, length) == 0 &&
                (argv[i][length] == 0 || argv[i][length] == '='))
                return false;
        }
    }
    return HaveDisplay();
}

} // namespace

int main(int argc, char* argv[])
{
    const std::unique_ptr<QCoreApplication> application =
        WantsWindow(argc, argv) ? std::make_unique<QApplication>(argc, argv)
                                : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvane"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Activity monitor for Microsoft SQL Server."));
    parser.addHelpOption();
    AddConnectionOptions(parser);
    AddWindowOptions(parser);
    AddHeadlessOptions(parser);
    AddOneShotOptions(parser);
    parser.process(*application);

    if (HasOneShotCommand(parser))
        return RunOneShot(parser);
    if (parser.isSet(QStringLiteral("headless")))
        return RunHeadless(parser);
    return RunWindow(parser);
}
