// torvane --headless as a Prometheus target: two sandbox servers, one monitor serving
// their figures, and a real Prometheus server scraping it every second, all on loopback.
// Prometheus' HTTP API must return each server's response time, and a server that stops
// answering must show as disconnected while the other keeps being refreshed.

#include "tests/support/Sandboxfixture.h"
#include "tests/support/Testscenario.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>
#include <QUrlQuery>

#include <memory>

class TestPrometheusScrape : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void responseTimesAndAHungServer();

private:
    // The result vector of an instant query: one object per series (metric, value).
    QJsonArray Query(const QString& expression);
    // The value of the series of the query's result whose server label is server.
    std::optional<double> ValueOf(const QJsonArray& result, const QString& server) const;
    void StartMonitor();
    void StartPrometheus();

    QTemporaryDir Directory;
    std::unique_ptr<TSandboxFixture> First;
    std::unique_ptr<TSandboxFixture> Second;
    QProcess Monitor;
    QProcess Prometheus;
    quint16 MetricsPort = 0;
    quint16 PrometheusPort = 0;
    QNetworkAccessManager Network;
};

void TestPrometheusScrape::initTestCase()
{
    QVERIFY(Directory.isValid());
    First = std::make_unique<TSandboxFixture>(QuietScenarioJson);
    QVERIFY2(First->Started(), First->Error().c_str());
    Second = std::make_unique<TSandboxFixture>(QuietScenarioJson);
    QVERIFY2(Second->Started(), Second->Error().c_str());
    StartMonitor();
    StartPrometheus();
}

void TestPrometheusScrape::cleanupTestCase()
{
    for (QProcess* process : {&Prometheus, &Monitor}) {
        process->terminate();
        process->waitForFinished(30000);
    }
}

void TestPrometheusScrape::StartMonitor()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TORVANE_PASSWORD"), QString::fromLatin1(TSandboxFixture::Password));
    environment.insert(QStringLiteral("TORVANE_HKLM_FILE"),
                       Directory.filePath(QStringLiteral("machine.reg")));
    environment.insert(QStringLiteral("TORVANE_HKCU_FILE"), Directory.filePath(QStringLiteral("user.reg")));
    environment.insert(QStringLiteral("TORVANE_QUERY_TIMEOUT"), QStringLiteral("3"));
    environment.insert(QStringLiteral("TORVANE_LOGIN_TIMEOUT"), QStringLiteral("3"));
    environment.remove(QStringLiteral("TORVANE_ODBC_DRIVER"));
    Monitor.setProcessEnvironment(environment);
    Monitor.start(QStringLiteral(TORVANE_EXECUTABLE),
                  {QStringLiteral("--headless"), QStringLiteral("--interval"), QStringLiteral("1"),
                   QStringLiteral("--metrics-listen"), QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--server"), QString::fromStdString(First->ServerName()),
                   QStringLiteral("--user"), QStringLiteral("sa"), QStringLiteral("--server"),
                   QString::fromStdString(Second->ServerName()), QStringLiteral("--user"),
                   QStringLiteral("sa")});
    static const QRegularExpression Serving(
        QStringLiteral("Serving metrics at http://127.0.0.1:(\\d+)/metrics"));
    QString err;
    QTRY_VERIFY_WITH_TIMEOUT(
        (err += QString::fromUtf8(Monitor.readAllStandardError()), Serving.match(err).hasMatch()), 30000);
    MetricsPort = static_cast<quint16>(Serving.match(err).captured(1).toUInt());
}

void TestPrometheusScrape::StartPrometheus()
{
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        PrometheusPort = probe.serverPort();
    }
    QFile config(Directory.filePath(QStringLiteral("prometheus.yml")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n"
                                "  scrape_interval: 1s\n"
                                "  scrape_timeout: 1s\n"
                                "scrape_configs:\n"
                                "  - job_name: torvane\n"
                                "    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1']\n")
                     .arg(MetricsPort)
                     .toUtf8());
    config.close();
    Prometheus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Prometheus.setStandardOutputFile(QProcess::nullDevice());
    Prometheus.start(QStringLiteral("prometheus"),
                     {QStringLiteral("--config.file=") + config.fileName(),
                      QStringLiteral("--storage.tsdb.path=") + Directory.filePath(QStringLiteral("tsdb")),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(PrometheusPort),
                      QStringLiteral("--log.level=error")});
    QVERIFY2(Prometheus.waitForStarted(), qPrintable(Prometheus.errorString()));
}

QJsonArray TestPrometheusScrape::Query(const QString& expression)
{
    QUrl url(QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(PrometheusPort));
    url.setQuery(QUrlQuery{{QStringLiteral("query"), expression}});
    QNetworkReply* const reply = Network.get(QNetworkRequest(url));
    static_cast<void>(QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000));
    reply->deleteLater();
    if (!reply->isFinished() || reply->error() != QNetworkReply::NoError)
        return {};
    return QJsonDocument::fromJson(reply->readAll())
        .object()[QStringLiteral("data")]
        .toObject()[QStringLiteral("result")]
        .toArray();
}

std::optional<double> TestPrometheusScrape::ValueOf(const QJsonArray& result, const QString& server) const
{
    for (const QJsonValue& series : result) {
        const QJsonObject object = series.toObject();
        if (object[QStringLiteral("metric")].toObject()[QStringLiteral("server")].toString() == server)
            return object[QStringLiteral("value")].toArray().at(1).toString().toDouble();
    }
    return std::nullopt;
}

void TestPrometheusScrape::responseTimesAndAHungServer()
{
    const QString first = QString::fromStdString(First->ServerName());
    const QString second = QString::fromStdString(Second->ServerName());
    QJsonArray responses;
    QTRY_VERIFY_WITH_TIMEOUT((responses = Query(QStringLiteral("torvane_response_time_seconds")),
                              ValueOf(responses, first) && ValueOf(responses, second)),
                             60000);
    QVERIFY(*ValueOf(responses, first) >= 0);

    First->Server().Hang(0);
    const auto resume = qScopeGuard([this] { First->Server().Resume(); });
    QJsonArray connected;
    QTRY_VERIFY_WITH_TIMEOUT((connected = Query(QStringLiteral("torvane_connected")),
                              ValueOf(connected, first) == std::optional<double>(0)),
                             60000);
    QCOMPARE(ValueOf(connected, second), std::optional<double>(1));
    // The other server's counters still move: its refreshes go on while the first hangs.
    const QString moved = QStringLiteral("increase(torvane_network_packets_sent_total[4s]) > 0");
    QTRY_VERIFY_WITH_TIMEOUT(ValueOf(Query(moved), second), 30000);
    QVERIFY(!ValueOf(Query(QStringLiteral("torvane_response_time_seconds")), first));
}

QTEST_GUILESS_MAIN(TestPrometheusScrape)
#include "tst_prometheusscrape.moc"
