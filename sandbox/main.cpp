// torvane-sandbox: the simulated SQL Server as a standalone program for the demo and
// for scripts; with a certificate and key it encrypts connections. Prints "port N", "control N" and "browse
// N" (the UDP port of its server browser) on its first three lines, then serves until SIGINT or SIGTERM.

#include "sandbox/Sandboxserver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

const char Usage[] =
    "usage: torvane-sandbox [--help] [--port N] [--control-port N] [--browse-port N] [--seed N] "
    "[--scenario FILE] [--scale N] [--case-sensitive] "
    "[--tls-cert FILE --tls-key FILE [--encryption offered|required]]\n";

struct Options
{
    bool help = false;
    int port = 0;
    int controlPort = 0;
    int browsePort = 0;
    sandbox::ScenarioOptions scenario;
    std::string tlsCertificate;
    std::string tlsKey;
    bool encryptionRequired = true;
    bool encryptionGiven = false;
};

long ParseNumber(const std::string& option, const std::string& text, long low, long high)
{
    std::size_t used = 0;
    long value = 0;
    try {
        value = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value < low || value > high)
        throw std::invalid_argument(option + " needs a number from " + std::to_string(low) + " to " +
                                    std::to_string(high) + ", not '" + text + "'");
    return value;
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            return options;
        }
        if (option == "--case-sensitive") {
            options.scenario.caseSensitive = true;
            continue;
        }
        if (i + 1 >= argc)
            throw std::invalid_argument("unknown option or missing value: " + option);
        const std::string value = argv[++i];
        if (option == "--port")
            options.port = static_cast<int>(ParseNumber(option, value, 0, 65535));
        else if (option == "--control-port")
            options.controlPort = static_cast<int>(ParseNumber(option, value, 0, 65535));
        else if (option == "--browse-port")
            options.browsePort = static_cast<int>(ParseNumber(option, value, 0, 65535));
        else if (option == "--seed")
            options.scenario.seed = static_cast<std::uint32_t>(ParseNumber(option, value, 0, 4294967295L));
        else if (option == "--scale")
            options.scenario.scale = static_cast<int>(ParseNumber(option, value, 0, 32767));
        else if (option == "--scenario")
            options.scenario.scenarioFile = value;
        else if (option == "--tls-cert")
            options.tlsCertificate = value;
        else if (option == "--tls-key")
            options.tlsKey = value;
        else if (option == "--encryption" && (value == "offered" || value == "required")) {
            options.encryptionRequired = value == "required";
            options.encryptionGiven = true;
        } else
            throw std::invalid_argument("unknown option: " + option);
    }
    if (options.tlsCertificate.empty() != options.tlsKey.empty())
        throw std::invalid_argument("--tls-cert and --tls-key go together");
    if (options.encryptionGiven && options.tlsCertificate.empty())
        throw std::invalid_argument("--encryption needs --tls-cert and --tls-key");
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::cerr << "torvane-sandbox: " << e.what() << '\n' << Usage;
        return 2;
    }
    if (options.help) {
        std::cout << Usage;
        return 0;
    }

    // Every thread inherits the blocked signals, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        sandbox::TSandboxServer server(options.scenario);
        if (!options.tlsCertificate.empty() &&
            !server.SetEncryption(options.encryptionRequired, options.tlsCertificate, options.tlsKey)) {
            std::cerr << "torvane-sandbox: " << server.LastError() << '\n';
            return 1;
        }
        if (!server.Start(static_cast<std::uint16_t>(options.port),
                          static_cast<std::uint16_t>(options.controlPort), true,
                          static_cast<std::uint16_t>(options.browsePort))) {
            std::cerr << "torvane-sandbox: cannot listen: " << server.LastError() << '\n';
            return 1;
        }
        std::cout << "port " << server.Port() << '\n'
                  << "control " << server.ControlPort() << '\n'
                  << "browse " << server.BrowsePort() << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        server.Stop();
    } catch (const std::exception& e) {
        std::cerr << "torvane-sandbox: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
