// The headless monitor as a Prometheus exporter at full size: 25 sandbox servers of
// 2,000 processes each, refreshed every 5 s by one torvane --headless process that
// serves /metrics. Measured on that process: CPU time as a share of one core, resident
// memory, and how long a scrape of /metrics takes. Beside it, the exporter's own cost of
// a scrape (collecting and writing the text) for 25 servers with 10 to 500 databases, and
// how long a scrape takes while slow clients (slowloris) hold connections open.

#include "exporter/Metricsendpoint.h"
#include "exporter/Metricsexporter.h"
#include "sandbox/Sandboxserver.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <prometheus/text_serializer.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Servers = 25;
constexpr int ProcessesPerServer = 2000;
constexpr int IntervalSeconds = 5;
constexpr auto WarmUp = std::chrono::seconds(20);
constexpr auto Measured = std::chrono::seconds(60);
constexpr int Scrapes = 20;

using Clock = std::chrono::steady_clock;

// User plus system CPU time of a process, in seconds.
double CpuSeconds(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name, which is in parentheses and may hold blanks.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14 || index == 15)
            ticks += std::stod(field);
        if (index == 15)
            break;
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A "Vm..." line of /proc/PID/status, in megabytes.
double StatusMegabytes(qint64 pid, const std::string& key)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ':', 0) == 0)
            return std::stod(line.substr(key.size() + 1)) / 1024.0;
    }
    return 0;
}

// One GET of /metrics as Prometheus sends it; the time until the whole answer is in.
double ScrapeMilliseconds(quint16 port, qint64& bytes)
{
    QTcpSocket socket;
    const Clock::time_point start = Clock::now();
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000))
        throw std::runtime_error("the metrics endpoint does not answer");
    socket.write(
        "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState || socket.bytesAvailable() > 0) {
        socket.waitForReadyRead(5000);
        answer += socket.readAll();
    }
    bytes = answer.size();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_HeadlessExporterFarm(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<std::unique_ptr<sandbox::TSandboxServer>> farm;
        QStringList arguments{QStringLiteral("--headless"), QStringLiteral("--interval"),
                              QString::number(IntervalSeconds), QStringLiteral("--metrics-listen"),
                              QStringLiteral("127.0.0.1:0")};
        for (int i = 0; i < Servers; ++i) {
            auto& server = farm.emplace_back(std::make_unique<sandbox::TSandboxServer>(
                sandbox::ScenarioOptions{static_cast<std::uint32_t>(i + 1), ProcessesPerServer, {}, false}));
            if (!server->Start())
                throw std::runtime_error("a sandbox server did not start: " + server->LastError());
            arguments << QStringLiteral("--server") << QStringLiteral("127.0.0.1,%1").arg(server->Port())
                      << QStringLiteral("--user") << QStringLiteral("sa");
        }
        QTemporaryDir settings;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TORVANE_PASSWORD"), QStringLiteral("torvane"));
        environment.insert(QStringLiteral("TORVANE_HKLM_FILE"),
                           settings.filePath(QStringLiteral("machine.reg")));
        environment.insert(QStringLiteral("TORVANE_HKCU_FILE"),
                           settings.filePath(QStringLiteral("user.reg")));
        QProcess monitor;
        monitor.setProcessEnvironment(environment);
        monitor.setProcessChannelMode(QProcess::MergedChannels); // nothing but messages: no --show
        monitor.start(QStringLiteral(TORVANE_EXECUTABLE), arguments);
        static const QRegularExpression Serving(
            QStringLiteral("Serving metrics at http://127.0.0.1:(\\d+)/"));
        QString err;
        while (!Serving.match(err).hasMatch() && monitor.waitForReadyRead(30000))
            err += QString::fromUtf8(monitor.readAllStandardOutput());
        const QRegularExpressionMatch served = Serving.match(err);
        if (!served.hasMatch())
            throw std::runtime_error("the monitor does not serve metrics: " + err.toStdString());
        const auto port = static_cast<quint16>(served.captured(1).toUInt());
        const qint64 pid = monitor.processId();

        QThread::sleep(std::chrono::duration_cast<std::chrono::seconds>(WarmUp).count());
        const double cpuBefore = CpuSeconds(pid);
        const Clock::time_point measureStart = Clock::now();
        QThread::sleep(std::chrono::duration_cast<std::chrono::seconds>(Measured).count());
        const double cpu = CpuSeconds(pid) - cpuBefore;
        const double wall = std::chrono::duration<double>(Clock::now() - measureStart).count();

        std::vector<double> scrapes;
        qint64 bytes = 0;
        for (int i = 0; i < Scrapes; ++i) {
            scrapes.push_back(ScrapeMilliseconds(port, bytes));
            QThread::msleep(250);
        }
        std::sort(scrapes.begin(), scrapes.end());
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        state.counters["rss_mb"] = StatusMegabytes(pid, "VmRSS");
        state.counters["peak_rss_mb"] = StatusMegabytes(pid, "VmHWM");
        state.counters["scrape_median_ms"] = scrapes[scrapes.size() / 2];
        state.counters["scrape_max_ms"] = scrapes.back();
        state.counters["scrape_bytes_gzip"] = static_cast<double>(bytes);
        err += QString::fromUtf8(monitor.readAllStandardOutput());
        if (err.contains(QStringLiteral("Disconnected")))
            state.SkipWithError("a server was seen disconnected during the run");

        monitor.terminate();
        monitor.waitForFinished(30000);
    }
}
BENCHMARK(BM_HeadlessExporterFarm)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The work of one scrape inside the exporter: every family collected and written as text.
void BM_CollectAndSerialize(benchmark::State& state)
{
    const auto databases = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> names;
    for (int i = 0; i < Servers; ++i)
        names.push_back("dbserver" + std::to_string(i) + ".example.com,1433");
    TMetricsExporter exporter(names);
    for (std::size_t i = 0; i < names.size(); ++i) {
        TServerFigures figures;
        figures.CpuBusyRatio = 0.25;
        for (std::size_t d = 0; d < databases; ++d)
            figures.Databases.push_back({"database_" + std::to_string(d), 12, 345.6, 78910});
        exporter.Update(i, figures);
    }
    const prometheus::TextSerializer serializer;
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string text = serializer.Serialize(exporter.Collect());
        size = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_CollectAndSerialize)->Arg(10)->Arg(500)->Unit(benchmark::kMillisecond);

// Clients that hold connections open by sending their request a byte a second and open
// a new one whenever the endpoint drops them (slowloris), on their own thread.
class TSlowClients
{
public:
    TSlowClients(quint16 port, int count) : FPort(port), FClients(static_cast<std::size_t>(count), -1)
    {
        for (int& client : FClients)
            client = Open();
        FThread = std::thread([this] { Run(); });
    }
    ~TSlowClients()
    {
        FStop = true;
        FThread.join();
        for (const int client : FClients)
            ::close(client);
    }
    TSlowClients(const TSlowClients&) = delete;
    TSlowClients& operator=(const TSlowClients&) = delete;
    int Reopened() const { return FReopened; }

private:
    int Open() const
    {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(FPort);
        if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            ::send(client, "G", 1, MSG_NOSIGNAL);
        return client;
    }
    void Run()
    {
        while (!FStop) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            for (int& client : FClients) {
                char byte;
                const bool dropped = ::recv(client, &byte, 1, MSG_DONTWAIT) == 0 ||
                                     ::send(client, "E", 1, MSG_NOSIGNAL) != 1;
                if (dropped) {
                    ::close(client);
                    client = Open();
                    ++FReopened;
                }
            }
        }
    }

    const quint16 FPort;
    std::vector<int> FClients;
    std::atomic<bool> FStop = false;
    std::atomic<int> FReopened = 0;
    std::thread FThread;
};

// A scrape of the endpoint (25 servers of 10 databases) while 0 or 8 slowloris clients
// keep connections open: one scrape every half second for 15 s, so that the clients are
// dropped at the request time-out and come back several times meanwhile.
void BM_ScrapeWithSlowClients(benchmark::State& state)
{
    std::vector<std::string> names;
    for (int i = 0; i < Servers; ++i)
        names.push_back("dbserver" + std::to_string(i) + ".example.com,1433");
    const auto exporter = std::make_shared<TMetricsExporter>(names);
    for (std::size_t i = 0; i < names.size(); ++i) {
        TServerFigures figures;
        for (int d = 0; d < 10; ++d)
            figures.Databases.push_back({"database_" + std::to_string(d), 12, 345.6, 78910});
        exporter->Update(i, figures);
    }
    const TMetricsEndpoint endpoint("127.0.0.1", 0, exporter);
    for (auto _ : state) {
        const TSlowClients slow(endpoint.Port(), static_cast<int>(state.range(0)));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::vector<double> scrapes;
        qint64 bytes = 0;
        for (int i = 0; i < 30; ++i) {
            scrapes.push_back(ScrapeMilliseconds(endpoint.Port(), bytes));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        std::sort(scrapes.begin(), scrapes.end());
        state.counters["scrape_median_ms"] = scrapes[scrapes.size() / 2];
        state.counters["scrape_max_ms"] = scrapes.back();
        state.counters["slow_clients_dropped"] = slow.Reopened();
    }
}
BENCHMARK(BM_ScrapeWithSlowClients)->Arg(0)->Arg(8)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
