// The exporter's /metrics, scraped over loopback from a server monitored on the sandbox:
// what promtool makes of it with hostile server and database names, the figures it
// carries, the cut of a server's databases, and a server that is not connected.

#include "engine/Connectionslot.h"
#include "engine/Torvanethread.h"
#include "exporter/Metricsendpoint.h"
#include "exporter/Metricsexporter.h"
#include "model/Torvaneprocessdatabases.h"
#include "tests/support/Monitorfixture.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Testscenario.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QtTest>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Server names as a user could type them, each with its text-format escape.
const QString HostileServer = QStringLiteral("db\"01\\prod\nÜberwachung ✓");
const QString HostileServerEscaped = QStringLiteral("db\\\"01\\\\prod\\nÜberwachung ✓");
const QString AbsentServer = QStringLiteral("down\\\"");
const QString AbsentServerEscaped = QStringLiteral("down\\\\\\\"");

constexpr int FillerDatabases = 600;
constexpr int FirstFillerId = 100;

struct THostileDatabase
{
    const char* Name;
    const char* Escaped;
};
const THostileDatabase HostileDatabases[] = {
    {"Sales \"2024\"", "Sales \\\"2024\\\""},
    {"C:\\data\\", "C:\\\\data\\\\"},
    {"line\nbreak", "line\\nbreak"},
    {"Müller's Café 数据", "Müller's Café 数据"},
    {"a},b=\"c", "a},b=\\\"c"},
};

// The quiet scenario, plus the hostile databases with two processes each, and many
// databases with one idle process each: more than a server's databases that are served.
std::string Scenario()
{
    QJsonObject root = QJsonDocument::fromJson(QuietScenarioJson).object();
    QJsonArray databases = root[QStringLiteral("databases")].toArray();
    QJsonArray processes = root[QStringLiteral("processes")].toArray();
    int spid = 200;
    const auto addProcess = [&](const QString& database) {
        processes.append(QJsonObject{{QStringLiteral("spid"), spid++},
                                     {QStringLiteral("login"), QStringLiteral("filler")},
                                     {QStringLiteral("database"), database},
                                     {QStringLiteral("cmd"), QStringLiteral("AWAITING COMMAND")},
                                     {QStringLiteral("status"), QStringLiteral("sleeping")}});
    };
    int id = 20;
    for (const THostileDatabase& database : HostileDatabases) {
        const QString name = QString::fromUtf8(database.Name);
        databases.append(QJsonObject{{QStringLiteral("id"), id++}, {QStringLiteral("name"), name}});
        addProcess(name);
        addProcess(name);
    }
    for (int i = 0; i < FillerDatabases; ++i) {
        const QString name = QStringLiteral("filler%1").arg(i, 4, 10, QLatin1Char('0'));
        databases.append(
            QJsonObject{{QStringLiteral("id"), FirstFillerId + i}, {QStringLiteral("name"), name}});
        addProcess(name);
    }
    root[QStringLiteral("databases")] = databases;
    root[QStringLiteral("processes")] = processes;
    return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
}

QString Series(const QString& name, const QString& labels = {})
{
    return name + QStringLiteral("{server=\"") + HostileServerEscaped + QLatin1Char('"') + labels +
           QStringLiteral("} ");
}

} // namespace

class TestMetricsExporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void promtoolAcceptsTheScrape();
    void labelValuesAreEscaped_data();
    void labelValuesAreEscaped();
    void figures_data();
    void figures();
    void busiestDatabasesAreKept();
    void disconnectedServerShowsOnlyThat();
    void slowClientsStarveNoScrape();

private:
    QString Scrape();
    // The value of the one line that begins with series (name, labels and a blank).
    std::optional<double> Value(const QString& scrape, const QString& series) const;

    std::unique_ptr<TSandboxFixture> Sandbox;
    std::unique_ptr<TMonitorFixture> Monitor;
    std::shared_ptr<TMetricsExporter> Exporter;
    std::unique_ptr<TMetricsEndpoint> Endpoint;
    QNetworkAccessManager Network;
    QString Scraped;
};

void TestMetricsExporter::initTestCase()
{
    Sandbox = std::make_unique<TSandboxFixture>(Scenario());
    QVERIFY2(Sandbox->Started(), Sandbox->Error().c_str());
    Monitor = std::make_unique<TMonitorFixture>();
    // Two refreshes: the CPU figure needs a sample before it. A request made while a
    // refresh runs is absorbed, so the timer asks for the second.
    QVERIFY(Monitor->Connect(Sandbox->ServerName(), false, TSandboxFixture::Login, TSandboxFixture::Password,
                             200));
    QTRY_VERIFY_WITH_TIMEOUT(Monitor->Refreshes() >= 2, 30000);
    Monitor->Thread()->SetRefreshInterval(100000);

    Exporter = std::make_shared<TMetricsExporter>(
        std::vector<std::string>{HostileServer.toStdString(), AbsentServer.toStdString()});
    Exporter->Update(0, ReadServerFigures(Monitor->ConnectionSlot(), QDateTime::currentSecsSinceEpoch()));
    Endpoint = std::make_unique<TMetricsEndpoint>("127.0.0.1", 0, Exporter);
    Scraped = Scrape();
    QVERIFY(!Scraped.isEmpty());
}

QString TestMetricsExporter::Scrape()
{
    QNetworkReply* const reply = Network.get(QNetworkRequest(QUrl(QString::fromStdString(Endpoint->Url()))));
    const bool finished = QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
    reply->deleteLater();
    if (!finished || reply->error() != QNetworkReply::NoError)
        return {};
    return QString::fromUtf8(reply->readAll());
}

std::optional<double> TestMetricsExporter::Value(const QString& scrape, const QString& series) const
{
    const qsizetype at = scrape.indexOf(QLatin1Char('\n') + series);
    if (at < 0)
        return std::nullopt;
    const qsizetype start = at + 1 + series.size();
    return scrape.mid(start, scrape.indexOf(QLatin1Char('\n'), start) - start).toDouble();
}

void TestMetricsExporter::promtoolAcceptsTheScrape()
{
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
    QVERIFY(promtool.waitForStarted());
    promtool.write(Scraped.toUtf8());
    promtool.closeWriteChannel();
    QVERIFY(promtool.waitForFinished(30000));
    const QByteArray verdict = promtool.readAllStandardOutput() + promtool.readAllStandardError();
    QVERIFY2(promtool.exitStatus() == QProcess::NormalExit && promtool.exitCode() == 0, verdict.constData());
    QVERIFY2(verdict.trimmed().isEmpty(), verdict.constData());
}

void TestMetricsExporter::labelValuesAreEscaped_data()
{
    QTest::addColumn<QString>("series");
    QTest::newRow("server") << Series(QStringLiteral("torvane_connected"));
    QTest::newRow("server never connected")
        << QStringLiteral("torvane_connected{server=\"%1\"} ").arg(AbsentServerEscaped);
    for (const THostileDatabase& database : HostileDatabases)
        QTest::newRow(database.Escaped)
            << Series(QStringLiteral("torvane_database_processes"),
                      QStringLiteral(",database=\"%1\"").arg(QString::fromUtf8(database.Escaped)));
}

void TestMetricsExporter::labelValuesAreEscaped()
{
    QFETCH(QString, series);
    QVERIFY2(Value(Scraped, series), qPrintable(series));
}

void TestMetricsExporter::figures_data()
{
    QTest::addColumn<QString>("series");
    QTest::addColumn<double>("lowest");
    QTest::addColumn<double>("highest");

    const double now = static_cast<double>(QDateTime::currentSecsSinceEpoch());
    QTest::newRow("connected") << Series(QStringLiteral("torvane_connected")) << 1.0 << 1.0;
    QTest::newRow("never connected")
        << QStringLiteral("torvane_connected{server=\"%1\"} ").arg(AbsentServerEscaped) << 0.0 << 0.0;
    // The scenario's server has run for 90061 s when the sandbox starts.
    QTest::newRow("start time") << Series(QStringLiteral("torvane_server_start_time_seconds"))
                                << now - 90061 - 120 << now - 90061 + 2;
    QTest::newRow("response time") << Series(QStringLiteral("torvane_response_time_seconds")) << 0.0 << 30.0;
    QTest::newRow("CPU busy") << Series(QStringLiteral("torvane_cpu_busy_ratio")) << 0.0 << 1.0;
    QTest::newRow("packets sent") << Series(QStringLiteral("torvane_network_packets_sent_total")) << 1.0
                                  << 4e9;
    // Process 55 waits for 54 and has waited 42 s when the scenario starts.
    QTest::newRow("locked") << Series(QStringLiteral("torvane_processes"),
                                      QStringLiteral(",state=\"locked\""))
                            << 1.0 << 1.0;
    QTest::newRow("blocked") << Series(QStringLiteral("torvane_blocked_processes")) << 1.0 << 1.0;
    QTest::newRow("longest wait") << Series(QStringLiteral("torvane_longest_wait_seconds")) << 42.0 << 200.0;
    // Process 52 with its two workers, 58 and 61.
    QTest::newRow("database processes")
        << Series(QStringLiteral("torvane_database_processes"), QStringLiteral(",database=\"Sales\"")) << 5.0
        << 5.0;
    QTest::newRow("database CPU") << Series(QStringLiteral("torvane_database_cpu_seconds"),
                                            QStringLiteral(",database=\"Sales\""))
                                  << 48.21 << 1e6;
}

void TestMetricsExporter::figures()
{
    QFETCH(QString, series);
    QFETCH(double, lowest);
    QFETCH(double, highest);
    const std::optional<double> value = Value(Scraped, series);
    QVERIFY2(value, qPrintable(series));
    QVERIFY2(*value >= lowest && *value <= highest, qPrintable(series + QString::number(*value)));
}

void TestMetricsExporter::busiestDatabasesAreKept()
{
    const int inUse = Monitor->Databases->Count();
    QVERIFY(inUse > static_cast<int>(TServerFigures::MaxDatabases));
    QCOMPARE(Value(Scraped, Series(QStringLiteral("torvane_databases_dropped"))),
             std::optional<double>(inUse - static_cast<int>(TServerFigures::MaxDatabases)));
    QCOMPARE(Scraped.count(QStringLiteral("\ntorvane_database_physical_io{")),
             static_cast<qsizetype>(TServerFigures::MaxDatabases));
    // Every database with more than one process is served; of the rest, the first names.
    QVERIFY(Value(Scraped, Series(QStringLiteral("torvane_database_processes"),
                                  QStringLiteral(",database=\"Inventory\""))));
    QVERIFY(Value(Scraped, Series(QStringLiteral("torvane_database_processes"),
                                  QStringLiteral(",database=\"filler0000\""))));
    QVERIFY(!Value(Scraped, Series(QStringLiteral("torvane_database_processes"),
                                   QStringLiteral(",database=\"filler0599\""))));
}

void TestMetricsExporter::disconnectedServerShowsOnlyThat()
{
    Exporter->SetDisconnected(0);
    const QString scrape = Scrape();
    QCOMPARE(Value(scrape, Series(QStringLiteral("torvane_connected"))), std::optional<double>(0));
    QCOMPARE(scrape.count(QStringLiteral("\ntorvane_")), 2);
}

// Clients that send their request a byte at a time (slowloris) hold a worker each for
// as long as the server lets them: a scrape still gets one, and each of them is cut off
// at the request time-out.
void TestMetricsExporter::slowClientsStarveNoScrape()
{
    constexpr int SlowClients = 8;
    std::vector<int> clients;
    const auto closeClients = qScopeGuard([&] {
        for (const int client : clients)
            ::close(client);
    });
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(Endpoint->Port());
    for (int i = 0; i < SlowClients; ++i) {
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(client >= 0);
        clients.push_back(client);
        QCOMPARE(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::send(client, "G", 1, MSG_NOSIGNAL), 1);
    }
    QTest::qWait(200); // every slow client has a worker by now

    QVERIFY(Value(Scrape(), Series(QStringLiteral("torvane_connected"))));

    // One byte a second does not keep a connection past the time-out.
    QElapsedTimer waited;
    waited.start();
    bool cutOff = false;
    while (!cutOff && waited.elapsed() < 4 * TMetricsEndpoint::RequestTimeOutMs) {
        ::send(clients.front(), "E", 1, MSG_NOSIGNAL);
        pollfd readable{clients.front(), POLLIN, 0};
        char byte;
        cutOff = ::poll(&readable, 1, 1000) == 1 && ::recv(clients.front(), &byte, 1, 0) <= 0;
    }
    QVERIFY(cutOff);
}

QTEST_GUILESS_MAIN(TestMetricsExporter)
#include "tst_metricsexporter.moc"
