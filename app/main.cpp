// The torvane program: the window (default), the headless monitor, or a one-shot
// command. Each mode parses the shared connection options with its own and runs on the
// same engine.

#include "app/Commandline.h"
#include "app/Headlessmonitor.h"
#include "app/Listservers.h"
#include "app/Oneshotcommands.h"
#include "app/Secrets.h"
#include "app/Windowmode.h"
#include "engine/Freetdsconfig.h"
#include "engine/Projectversion.h"

#include <QApplication>

#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>

namespace {

// The window needs a QApplication, which needs a display; the other modes must run
// on machines without one.
bool WantsWindow(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option :
             {"--headless", "--kill-process", "--kill-database", "--kill-user", "--sql-text",
              "--list-servers", "--help", "-h", "--help-all", "--version", "-v"}) {
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
    ProtectProcessMemory();
    // Changes the environment, so before any thread (Qt's own included) starts.
    const TFreeTdsConfig freeTdsConfig;
    const bool window = WantsWindow(argc, argv);
    if (window) {
        // Qt's X11 thread and the sandbox's start before the window's stop signal handler
        // exists; they inherit this mask, so SIGINT and SIGTERM wait for the handler
        // instead of killing the program the default way in one of those threads.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    }
    const std::unique_ptr<QCoreApplication> application =
        window ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvane"));

    QCommandLineParser parser;
    // One line per mode; the options below, one line each, say the rest.
    parser.setApplicationDescription(
        QStringLiteral("Activity monitor for Microsoft SQL Server.\n"
                       "\n"
                       "Modes (the password of --user comes from TORVANE_PASSWORD):\n"
                       "  torvane [--server NAME (--user NAME | --windows-auth)]...  the window\n"
                       "  torvane --demo [--server ...]     the window on the built-in sandbox server\n"
                       "  torvane --headless --server ...   one server's tables after every refresh\n"
                       "  torvane --kill-process SPID --server ...   kill one process\n"
                       "  torvane --kill-database NAME --server ...  kill a database's processes\n"
                       "  torvane --kill-user LOGIN --server ...     kill a user's processes\n"
                       "  torvane --sql-text SPID --server ...       print a process's SQL\n"
                       "  torvane --list-servers            the SQL Servers found on the network"));
    parser.addHelpOption();
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and build."));
    parser.addOption(version);
    AddConnectionOptions(parser);
    AddWindowOptions(parser);
    AddHeadlessOptions(parser);
    AddOneShotOptions(parser);
    AddListServersOption(parser);
    parser.process(*application);

    if (parser.isSet(version)) {
        std::cout << "Torvane " << TProjectRCVersion().VersionText().toStdString() << std::endl;
        return 0;
    }

    if (WantsServerList(parser))
        return RunListServers();

    if (HasOneShotCommand(parser))
        return RunOneShot(parser);
    if (parser.isSet(QStringLiteral("headless")))
        return RunHeadless(parser);
    return RunWindow(parser);
}
