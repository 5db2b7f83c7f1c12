#include "app/Windowmode.h"

#include "app/Commandline.h"
#include "app/Headlessmonitor.h"
#include "app/Stopsignals.h"
#include "sandbox/Sandboxserver.h"
#include "ui/Formabout.h"
#include "ui/Formlogon.h"
#include "ui/Formmain.h"
#include "ui/Formproperties.h"
#include "ui/Manual.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QIcon>
#include <QTimer>

#include <cstdlib>
#include <iostream>
#include <memory>

namespace {

// How long closing the window waits for monitor threads before abandoning them.
constexpr int CloseWaitMs = 1500;

const QString DemoOption = QStringLiteral("demo");

// The sandbox inside the program, for --demo: a living simulated server on a free
// loopback port with the sandbox's own sa login.
std::unique_ptr<sandbox::TSandboxServer> StartDemoServer(TConnectionOptions& connection)
{
    auto server = std::make_unique<sandbox::TSandboxServer>();
    if (!server->Start(0)) {
        std::cerr << "The built-in sandbox server could not start: " << server->LastError() << std::endl;
        return nullptr;
    }
    connection.Server = QStringLiteral("127.0.0.1,%1").arg(server->Port());
    connection.UserName = QStringLiteral("sa");
    connection.Password = QStringLiteral("torvane");
    std::cerr << "Sandbox SQL Server listening on " << connection.Server.toStdString()
              << " (login sa, password torvane)" << std::endl;
    return server;
}

// A stop signal ends the program from any state: every dialog open over the window is
// closed as its Cancel would close it (a connection attempt under way is abandoned),
// the window closes, and every event loop, a dialog's included, returns.
void CloseEverything(TFormMain& window)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            dialog->reject();
    }
    window.close();
    QCoreApplication::exit(0);
}

} // namespace

void AddWindowOptions(QCommandLineParser& parser)
{
    parser.addOption({DemoOption, QStringLiteral("Start the built-in sandbox server and monitor it.")});
}

bool HaveDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

int RunWindow(const QCommandLineParser& parser)
{
    QString error;
    auto servers = ReadServerList(QCoreApplication::arguments(), error);
    if (!servers) {
        std::cerr << error.toStdString() << std::endl;
        return 2;
    }
    std::unique_ptr<sandbox::TSandboxServer> demo;
    if (parser.isSet(DemoOption)) {
        TConnectionOptions connection;
        demo = StartDemoServer(connection);
        if (!demo)
            return 1;
        servers->insert(servers->begin(), connection);
    }

    if (!HaveDisplay()) {
        std::cerr << "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the headless monitor "
                     "instead."
                  << std::endl;
        if (servers->empty()) {
            std::cerr << "Name a server with --server and --user or --windows-auth, or use --demo."
                      << std::endl;
            return 2;
        }
        if (!CheckServerList(*servers, error)) {
            std::cerr << error.toStdString() << std::endl;
            return 2;
        }
        THeadlessOptions options;
        options.Servers = *servers;
        options.Show = EHeadlessTable::Processes;
        return RunHeadlessMonitor(options);
    }

    // The desktop entry's name lets the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TORVANE_APPSTREAM_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/torvane/torvane.svg")));
    TFormMain window;
    QObject::connect(&window, &TFormMain::LogonDialogRequested, &window, [&window] {
        TFormLogon logon(&window);
        logon.MainWindow = &window;
        logon.exec();
    });
    window.SetLogonOnFirstActivation(servers->empty());
    QObject::connect(&window, &TFormMain::HelpRequested, &window, &OpenManual);
    QObject::connect(&window, &TFormMain::PropertiesRequested, &window, [&window] {
        TFormProperties properties(window, &window);
        properties.ShowRefreshInterval(window.RefreshIntervalSeconds());
        properties.LoadSettings();
        properties.exec();
    });
    QObject::connect(&window, &TFormMain::AboutRequested, &window, [&window] {
        TFormAbout about(&window);
        about.ShowVersion();
        about.exec();
    });
    // Before the window shows: its first activation may open the logon dialog, whose own
    // event loop must answer the stop signals too.
    const TStopSignals signals([&window] { CloseEverything(window); });
    window.show();
    // The first activation (queued by the showing) reads the saved interval; the servers
    // connect after it, so every slot starts with that interval.
    QTimer::singleShot(0, &window, [&window, &servers] {
        for (const TConnectionOptions& server : *servers)
            window.ConnectServer(server.Server, server.WindowsAuthentication, server.UserName,
                                 server.Password);
    });
    const int exitCode = QApplication::exec();
    if (!window.StopAllSlots(CloseWaitMs))
        AbandonThreadsAndExit(exitCode);
    return exitCode;
}
