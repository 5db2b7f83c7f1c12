// The sandbox's TDS server against independent clients (python-tds, FreeTDS tsql and
// the FreeTDS ODBC driver), with a backend whose answers each test sets, so that
// what is checked is the wire format and the connection handling alone.

#include "sandbox/Tdsserver.h"
#include "sandbox/Tdstlscontext.h"
#include "support/Odbcclient.h"
#include "support/Scriptclients.h"
#include "tests/support/Fakebackend.h"
#include "tests/support/Testcertificates.h"

#include <QJsonArray>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using namespace sandbox;

Q_DECLARE_METATYPE(sandbox::SqlType)
Q_DECLARE_METATYPE(sandbox::Value)
Q_DECLARE_METATYPE(sandbox::BatchResult)

namespace {

BatchResult OneResultSet(std::vector<Column> columns, std::vector<Row> rows)
{
    BatchResult result;
    result.items.push_back(ResultSet{std::move(columns), std::move(rows)});
    return result;
}

BatchResult SelectOne()
{
    return OneResultSet({{"", SqlType::Int, 0, false}}, {{std::int64_t{1}}});
}

Message MakeMessage(int number, int severity, std::string text)
{
    Message message;
    message.number = number;
    message.severity = severity;
    message.text = std::move(text);
    return message;
}

QJsonObject PythonRequest(quint16 port, const QString& password, const QString& tds,
                          const QStringList& batches)
{
    return {{"port", port}, {"user", "sa"},  {"password", password},
            {"tds", tds},   {"timeout", 10}, {"batches", QJsonArray::fromStringList(batches)}};
}

// A LOGIN7 message with the given option flags 2, packet size and password, as a
// client would build it.
QByteArray Login7Packet(quint8 optionFlags2, quint32 packetSize = 4096, const QString& password = {})
{
    const QString user = QStringLiteral("sa");
    QByteArray body(94, '\0');
    QByteArray data;
    const auto put16 = [&](int at, quint16 v) {
        body[at] = char(v & 0xFF);
        body[at + 1] = char(v >> 8);
    };
    const auto put32 = [&](int at, quint32 v) {
        put16(at, quint16(v));
        put16(at + 2, quint16(v >> 16));
    };
    put32(4, 0x74000004);
    put32(8, packetSize);
    body[25] = char(optionFlags2);
    put16(40, quint16(94 + data.size())); // user name
    put16(42, quint16(user.size()));
    for (const QChar c : user) {
        data.append(char(c.unicode() & 0xFF));
        data.append(char(c.unicode() >> 8));
    }
    put16(44, quint16(94 + data.size())); // password, each byte's halves swapped and XOR 0xA5
    put16(46, quint16(password.size()));
    for (const QChar c : password) {
        for (const quint8 byte : {quint8(c.unicode() & 0xFF), quint8(c.unicode() >> 8)})
            data.append(char(quint8((byte << 4) | (byte >> 4)) ^ 0xA5));
    }
    for (int field : {36, 48, 52, 56, 60, 64, 68, 82, 86})
        put16(field, quint16(94 + data.size()));
    body.append(data);
    put32(0, quint32(body.size()));
    QByteArray packet;
    packet.append(char(0x10)).append(char(0x01));
    packet.append(char((body.size() + 8) >> 8)).append(char((body.size() + 8) & 0xFF));
    packet.append(4, '\0');
    packet[6] = 1;
    return packet + body;
}

// The packets of the server's next message, each whole with its header.
QList<QByteArray> ReadMessagePackets(QTcpSocket& socket)
{
    QList<QByteArray> packets;
    QByteArray buffer;
    for (;;) {
        while (buffer.size() >= 8) {
            const int length = quint8(buffer[2]) << 8 | quint8(buffer[3]);
            if (length < 8 || buffer.size() < length)
                break;
            packets.append(buffer.left(length));
            const bool last = quint8(buffer[1]) & 0x01;
            buffer.remove(0, length);
            if (last)
                return packets;
        }
        if (!socket.waitForReadyRead(10000))
            return {};
        buffer += socket.readAll();
    }
}

// An SQL batch message in one packet, without the optional headers.
QByteArray SqlBatchPacket(const QString& sql)
{
    const QByteArray text(reinterpret_cast<const char*>(sql.utf16()), sql.size() * 2);
    const int length = 8 + text.size();
    QByteArray packet("\x01\x01\x00\x00\x00\x00\x01\x00", 8);
    packet[2] = char(length >> 8);
    packet[3] = char(length & 0xFF);
    return packet + text;
}

// Everything the server sends until it closes the connection.
QByteArray ReadUntilClosed(QTcpSocket& socket)
{
    QByteArray all;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
        all += socket.readAll();
    return all + socket.readAll();
}

} // namespace

class TestTdsProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void loginWithPython_data();
    void loginWithPython();
    void loginWithOdbc_data();
    void loginWithOdbc();
    void loginWithTsql_data();
    void loginWithTsql();
    void encryptedClients_data();
    void encryptedClients();
    void clientThatCannotEncryptIsRefused();
    void integratedLoginIsRefusedAtOnce();
    void requestBeforeLoginClosesConnection();
    void packetSizeTheClientAsksFor_data();
    void packetSizeTheClientAsksFor();

    void columnTypes_data();
    void columnTypes();
    void statementSequences_data();
    void statementSequences();
    void databaseChangeReachesClient();
    void multiPacketBatchAndResult();
    void transactionRequests();
    void remoteProcedureCallGetsErrorNotHang();

    void cancelDiscardsSlowResult();
    void hungServerAnswersNothingUntilResume();
    void hangForSecondsEndsByItself();
    void downDropsAndRefusesUntilBack();
    void closingConnectionLogsOut();

private:
    // Makes the server encrypt: required, or only what the client asks for.
    void Encrypt(bool required);
    // A freetds.conf in the certificates' folder whose global section says so.
    QString FreeTdsConf(const QString& encryption, const QString& caFile);

    std::unique_ptr<TTestCertificates> Certificates;
    std::unique_ptr<TFakeBackend> Backend;
    std::unique_ptr<TTdsServer> Server;
};

void TestTdsProtocol::init()
{
    Backend = std::make_unique<TFakeBackend>();
    Backend->SetAnswer("SELECT 1", SelectOne());
    Server = std::make_unique<TTdsServer>(*Backend);
    Server->Start(0);
}

void TestTdsProtocol::cleanup()
{
    Server.reset();
    Backend.reset();
}

void TestTdsProtocol::loginWithPython_data()
{
    QTest::addColumn<QString>("tds");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    for (const char* tds : {"7.1", "7.2", "7.3", "7.4"}) {
        QTest::addRow("tds %s right password", tds) << tds << "torvane" << true;
        QTest::addRow("tds %s wrong password", tds) << tds << QStringLiteral("pässwörd ☃") << false;
    }
}

void TestTdsProtocol::loginWithPython()
{
    QFETCH(QString, tds);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    const QJsonObject answer = RunPythonClient(PythonRequest(Server->Port(), password, tds, {"SELECT 1"}));
    QVERIFY2(!answer.contains("failure"), qPrintable(answer["failure"].toString()));
    QCOMPARE(answer["login"].toString(), accepted ? "ok" : "failed");

    // The password arrives decoded, whatever its characters.
    const auto logins = Backend->Logins();
    QVERIFY(!logins.empty());
    QCOMPARE(QString::fromStdString(logins.back().password), password);
    QCOMPARE(logins.back().userName, "sa");
    QCOMPARE(logins.back().appName, "tdsclient");
    QCOMPARE(logins.back().clientAddress, "127.0.0.1");
    QVERIFY(!logins.back().integratedSecurity);

    if (accepted) {
        const QJsonArray rows = answer["batches"][0]["results"][0]["rows"].toArray();
        QCOMPARE(rows, QJsonArray({QJsonArray{1}}));
    } else {
        QCOMPARE(answer["error"]["number"].toInt(), 18456);
        QCOMPARE(answer["error"]["text"].toString(), "Login failed for user 'sa'.");
    }
    // Refused or finished, the server keeps no connection behind.
    QTRY_COMPARE(Server->ConnectionCount(), 0);
}

void TestTdsProtocol::loginWithOdbc_data()
{
    QTest::addColumn<QString>("tds");
    for (const char* tds : {"7.1", "7.2", "7.3", "7.4"})
        QTest::newRow(tds) << tds;
}

void TestTdsProtocol::loginWithOdbc()
{
    QFETCH(QString, tds);
    {
        TOdbcClient refused;
        const TOdbcOutcome outcome = refused.Connect(Server->Port(), "sa", "not it", tds);
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.nativeError, 18456);
        QVERIFY2(outcome.message.contains("Login failed for user 'sa'."), qPrintable(outcome.message));
    }
    TOdbcClient client;
    const TOdbcOutcome login = client.Connect(Server->Port(), "sa", "torvane", tds);
    QVERIFY2(login.ok, qPrintable(login.message));
    const TOdbcOutcome one = client.Execute("SELECT 1");
    QVERIFY2(one.ok, qPrintable(one.message));
    QCOMPARE(one.results.size(), 1u);
    QCOMPARE(one.results[0].rows, std::vector<QStringList>{QStringList{"1"}});
    QCOMPARE(client.CurrentDatabase(), "master");
}

void TestTdsProtocol::loginWithTsql_data()
{
    QTest::addColumn<QString>("tds");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("7.4 accepted") << "7.4"
                                  << "torvane" << true;
    QTest::newRow("7.1 accepted") << "7.1"
                                  << "torvane" << true;
    QTest::newRow("7.4 refused") << "7.4"
                                 << "Torvane" << false;
}

void TestTdsProtocol::loginWithTsql()
{
    QFETCH(QString, tds);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    Backend->SetAnswer("SELECT 'tsql' AS client",
                       OneResultSet({{"client", SqlType::VarChar, 4, false}}, {{std::string("tsql")}}));
    const TTsqlRun run = RunTsql(Server->Port(), "sa", password, tds, "SELECT 'tsql' AS client\ngo\nquit\n");
    if (accepted) {
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains(QRegularExpression("client\\s+tsql")), qPrintable(run.output));
        QVERIFY2(run.output.contains("(1 row affected)"), qPrintable(run.output));
    } else {
        QVERIFY2(run.output.contains("Login failed for user 'sa'."), qPrintable(run.output));
        QVERIFY(Backend->Batches().empty());
    }
}

void TestTdsProtocol::Encrypt(bool required)
{
    if (!Certificates)
        Certificates = std::make_unique<TTestCertificates>();
    QVERIFY2(Certificates->Made(), qPrintable(Certificates->Error()));
    Server->SetEncryption(
        {required ? ETdsEncryption::Required : ETdsEncryption::Offered,
         std::make_shared<const TTdsTlsContext>(Certificates->CertificateFile().toStdString(),
                                                Certificates->KeyFile().toStdString())});
}

QString TestTdsProtocol::FreeTdsConf(const QString& encryption, const QString& caFile)
{
    QFile file(
        QFileInfo(Certificates->CaFile()).dir().filePath(QStringLiteral("freetds-") + encryption + ".conf"));
    const QString text = QStringLiteral("[global]\n\tencryption = %1\n").arg(encryption) +
                         (caFile.isEmpty() ? QString() : QStringLiteral("\tca file = %1\n").arg(caFile));
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        return {};
    return file.fileName();
}

void TestTdsProtocol::encryptedClients_data()
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<bool>("required");
    QTest::addColumn<bool>("loginOnly");
    // pytds asks for everything with a CA file, or for the login alone; FreeTDS asks
    // for everything when it requires encryption, and for the login alone when it
    // merely requests it of a server that does not insist.
    QTest::newRow("python-tds, server requires") << "python-tds" << true << false;
    QTest::newRow("python-tds, login only") << "python-tds" << false << true;
    QTest::newRow("tsql, server requires") << "tsql" << true << false;
    QTest::newRow("tsql, login only") << "tsql" << false << true;
}

void TestTdsProtocol::encryptedClients()
{
    QFETCH(QString, client);
    QFETCH(bool, required);
    QFETCH(bool, loginOnly);
    Encrypt(required);
    Backend->SetAnswer("SELECT 'tls' AS client",
                       OneResultSet({{"client", SqlType::VarChar, 3, false}}, {{std::string("tls")}}));
    if (client == QLatin1String("python-tds")) {
        QJsonObject request = PythonRequest(Server->Port(), "torvane", "7.4", {"SELECT 'tls' AS client"});
        request["host"] = "localhost"; // the name the certificate was made for
        request["cafile"] = Certificates->CaFile();
        request["enc_login_only"] = loginOnly;
        const QJsonObject answer = RunPythonClient(request);
        QVERIFY2(!answer.contains("failure"), qPrintable(answer["failure"].toString()));
        QCOMPARE(answer["login"].toString(), "ok");
        QCOMPARE(answer["batches"][0]["results"][0]["rows"].toArray(), QJsonArray({QJsonArray{"tls"}}));
    } else {
        const QString conf = FreeTdsConf(loginOnly ? "request" : "require", Certificates->CaFile());
        const TTsqlRun run =
            RunTsql(Server->Port(), "sa", "torvane", "7.4", "SELECT 'tls' AS client\ngo\nquit\n", conf);
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));
        QVERIFY2(run.output.contains(QRegularExpression("client\\s+tls")), qPrintable(run.output));
    }
    // The password arrived through TLS and decoded.
    QCOMPARE(Backend->Logins().back().password, "torvane");
    QTRY_COMPARE(Server->ConnectionCount(), 0);
}

void TestTdsProtocol::clientThatCannotEncryptIsRefused()
{
    Encrypt(true);
    const TTsqlRun run =
        RunTsql(Server->Port(), "sa", "torvane", "7.4", "SELECT 1\ngo\nquit\n", FreeTdsConf("off", {}));
    QVERIFY2(run.exitCode != 0, qPrintable(run.output));
    const QJsonObject answer = RunPythonClient(PythonRequest(Server->Port(), "torvane", "7.4", {"SELECT 1"}));
    QCOMPARE(answer["login"].toString(), "failed");
    // Refused after the pre-login: no login ever reached the server.
    QVERIFY(Backend->Logins().empty());

    // A client that promised to encrypt and sends its login in the clear is dropped too.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, Server->Port());
    QVERIFY(socket.waitForConnected());
    const QByteArray prelogin("\x12\x01\x00\x14\x00\x00\x01\x00"
                              "\x01\x00\x06\x00\x01\xff\x01\x00\x00\x00\x00\x00",
                              20);
    socket.write(prelogin);
    QVERIFY(socket.waitForReadyRead(10000));
    socket.readAll();
    socket.write(Login7Packet(0));
    ReadUntilClosed(socket);
    QVERIFY(Backend->Logins().empty());
}

void TestTdsProtocol::integratedLoginIsRefusedAtOnce()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, Server->Port());
    QVERIFY(socket.waitForConnected());
    socket.write(Login7Packet(0x80)); // fIntSecurity
    const QByteArray reply = ReadUntilClosed(socket);
    // A tabular result whose first token is ERROR 18452, then the server hangs up.
    QVERIFY(reply.size() > 16);
    QCOMPARE(quint8(reply[0]), 0x04);
    QCOMPARE(quint8(reply[8]), 0xAA);
    const quint32 number = quint8(reply[11]) | quint8(reply[12]) << 8 | quint8(reply[13]) << 16;
    QCOMPARE(number, 18452u);
    const QString text = QStringLiteral("The login is from an untrusted domain");
    QVERIFY(reply.contains(QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2)));
    QVERIFY(Backend->Logins().empty());
    QTRY_COMPARE(Server->ConnectionCount(), 0);
}

void TestTdsProtocol::requestBeforeLoginClosesConnection()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, Server->Port());
    QVERIFY(socket.waitForConnected());
    const QByteArray batch("\x01\x01\x00\x0C\x00\x00\x01\x00S\0E\0", 12);
    socket.write(batch);
    QCOMPARE(ReadUntilClosed(socket), QByteArray());
    QVERIFY(Backend->Batches().empty());
    QTRY_COMPARE(Server->ConnectionCount(), 0);
}

void TestTdsProtocol::packetSizeTheClientAsksFor_data()
{
    QTest::addColumn<quint32>("asked");
    QTest::addColumn<int>("granted");
    QTest::newRow("the server's default") << 0u << 4096;
    QTest::newRow("the smallest") << 512u << 512;
    QTest::newRow("8 KB") << 8192u << 8192;
    QTest::newRow("the largest") << 32767u << 32767;
    QTest::newRow("more than TDS allows") << 40000u << 32767;
}

void TestTdsProtocol::packetSizeTheClientAsksFor()
{
    // As a server does: the login's answer says which size it grants (ENVCHANGE 4, new
    // and old size as texts), in packets of the size used so far, and the results from
    // then on come in packets of the granted size.
    QFETCH(quint32, asked);
    QFETCH(int, granted);
    std::vector<Row> rows;
    for (int i = 0; i < 1000; ++i)
        rows.push_back({std::int64_t{i}, std::string(100, char('a' + i % 26))});
    Backend->SetAnswer(
        "SELECT n, s FROM t",
        OneResultSet({{"n", SqlType::Int, 0, false}, {"s", SqlType::NVarChar, 100, false}}, rows));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, Server->Port());
    QVERIFY(socket.waitForConnected());
    socket.write(Login7Packet(0, asked, QStringLiteral("torvane")));

    const QList<QByteArray> login = ReadMessagePackets(socket);
    QVERIFY(!login.isEmpty());
    QByteArray answer;
    for (const QByteArray& packet : login) {
        QVERIFY(packet.size() <= 4096);
        answer += packet.mid(8);
    }
    QByteArray values(1, '\x04'); // the type, then new and old size as B_VARCHARs
    for (const QString& size : {QString::number(granted), QStringLiteral("4096")}) {
        values.append(char(size.size()));
        values.append(reinterpret_cast<const char*>(size.utf16()), size.size() * 2);
    }
    QByteArray token(1, '\xE3');
    token.append(char(values.size())).append('\0').append(values);
    QVERIFY2(answer.contains(token), answer.toHex().constData());

    socket.write(SqlBatchPacket(QStringLiteral("SELECT n, s FROM t")));
    const QList<QByteArray> result = ReadMessagePackets(socket);
    QVERIFY(result.size() >= 3);
    for (qsizetype i = 0; i < result.size(); ++i) {
        const int length = quint8(result[i][2]) << 8 | quint8(result[i][3]);
        if (i + 1 < result.size())
            QCOMPARE(length, granted);
        else
            QVERIFY(length <= granted);
    }
}

void TestTdsProtocol::columnTypes_data()
{
    QTest::addColumn<QString>("tds");
    QTest::addColumn<sandbox::SqlType>("type");
    QTest::addColumn<sandbox::Value>("value");
    QTest::addColumn<QString>("pythonType");
    QTest::addColumn<QJsonValue>("pythonValue");
    QTest::addColumn<int>("odbcType");
    QTest::addColumn<QString>("odbcText");

    struct Case
    {
        const char* name;
        SqlType type;
        Value value;
        const char* pythonType;
        QJsonValue pythonValue;
        int odbcType;
        QString odbcText;
    };
    const Case cases[] = {
        {"tinyint", SqlType::TinyInt, std::int64_t{255}, "tinyint", 255, SQL_TINYINT, "255"},
        {"smallint", SqlType::SmallInt, std::int64_t{-32768}, "smallint", -32768, SQL_SMALLINT, "-32768"},
        {"int", SqlType::Int, std::int64_t{2147483647}, "int", 2147483647, SQL_INTEGER, "2147483647"},
        {"bigint", SqlType::BigInt, std::int64_t{-1099511627776}, "bigint", -1099511627776.0, SQL_BIGINT,
         "-1099511627776"},
        {"bit", SqlType::Bit, std::int64_t{1}, "bit", true, SQL_BIT, "1"},
        {"float", SqlType::Float, 2.5, "float", 2.5, SQL_DOUBLE, "2.5"},
        {"varchar code page 1252", SqlType::VarChar, std::string("café €5"), "varchar", "café €5",
         SQL_VARCHAR, QStringLiteral("café €5")},
        {"varchar outside the code page", SqlType::VarChar, std::string("Ω"), "varchar", "?", SQL_VARCHAR,
         "?"},
        {"nvarchar", SqlType::NVarChar, std::string("Zoë 漢字"), "nvarchar", "Zoë 漢字", SQL_WVARCHAR,
         QStringLiteral("Zoë 漢字")},
        {"text", SqlType::Text, std::string("SELECT * FROM t"), "text", "SELECT * FROM t", SQL_LONGVARCHAR,
         "SELECT * FROM t"},
        {"ntext", SqlType::NText, std::string("naïve"), "ntext", "naïve", SQL_WLONGVARCHAR,
         QStringLiteral("naïve")},
        {"datetime noon", SqlType::DateTime, DateTimeValue{46000.5}, "datetime", "2025-12-09T12:00:00",
         SQL_TYPE_TIMESTAMP, "2025-12-09 12:00:00.000"},
        {"datetime milliseconds", SqlType::DateTime, DateTimeValue{46000 + (36672.5 / 86400)}, "datetime",
         "2025-12-09T10:11:12.500000", SQL_TYPE_TIMESTAMP, "2025-12-09 10:11:12.500"},
        {"datetime before 1900", SqlType::DateTime, DateTimeValue{-1.25}, "datetime", "1899-12-29T06:00:00",
         SQL_TYPE_TIMESTAMP, "1899-12-29 06:00:00.000"},
    };
    for (const char* tds : {"7.1", "7.4"}) {
        for (const Case& c : cases) {
            QTest::addRow("%s %s", tds, c.name)
                << tds << c.type << c.value << c.pythonType << c.pythonValue << c.odbcType << c.odbcText;
        }
    }
}

void TestTdsProtocol::columnTypes()
{
    QFETCH(QString, tds);
    QFETCH(sandbox::SqlType, type);
    QFETCH(sandbox::Value, value);
    QFETCH(QString, pythonType);
    QFETCH(QJsonValue, pythonValue);
    QFETCH(int, odbcType);
    QFETCH(QString, odbcText);
    // Each type with a value and a NULL, between two int columns that show the row
    // stays aligned after it.
    Backend->SetAnswer(
        "SELECT v",
        OneResultSet(
            {{"before", SqlType::Int, 0, false}, {"v", type, 30, true}, {"after", SqlType::Int, 0, false}},
            {{std::int64_t{7}, value, std::int64_t{8}}, {std::int64_t{9}, Value{}, std::int64_t{10}}}));

    const QJsonObject answer = RunPythonClient(PythonRequest(Server->Port(), "torvane", tds, {"SELECT v"}));
    QVERIFY2(!answer.contains("failure"), qPrintable(answer["failure"].toString()));
    const QJsonObject result = answer["batches"][0]["results"][0].toObject();
    QCOMPARE(result["columns"][1].toArray(), QJsonArray({"v", pythonType, true}));
    const QJsonArray expectedRows{QJsonArray{7, pythonValue, 8}, QJsonArray{9, QJsonValue::Null, 10}};
    QCOMPARE(result["rows"].toArray(), expectedRows);

    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane", tds).ok);
    const TOdbcOutcome outcome = client.Execute("SELECT v");
    QVERIFY2(outcome.ok, qPrintable(outcome.message));
    QCOMPARE(outcome.results.size(), 1u);
    QCOMPARE(int(outcome.results[0].columns[1].sqlType), odbcType);
    QCOMPARE(outcome.results[0].rows.size(), 2u);
    QCOMPARE(outcome.results[0].rows[0], QStringList({"7", odbcText, "8"}));
    QVERIFY(outcome.results[0].rows[1][1].isNull());
    QCOMPARE(outcome.results[0].rows[1][2], "10");
}

void TestTdsProtocol::statementSequences_data()
{
    QTest::addColumn<sandbox::BatchResult>("batch");
    QTest::addColumn<QString>(
        "expected"); // per result: rows "r<n>" or count "c<n>"; "e<number>" for an error

    const ResultSet twoRows{{{"a", SqlType::Int, 0, false}}, {{std::int64_t{1}}, {std::int64_t{2}}}};
    const ResultSet noRows{{{"a", SqlType::Int, 0, false}}, {}};
    BatchResult sets;
    sets.items = {twoRows, noRows, twoRows};
    BatchResult countThenRows;
    countThenRows.items = {RowCount{3}, twoRows};
    BatchResult infoAround;
    infoAround.items = {MakeMessage(0, 0, "before"), twoRows, MakeMessage(0, 0, "after")};
    BatchResult errorEnds;
    errorEnds.items = {twoRows, MakeMessage(208, 16, "Invalid object name 'nowhere'.")};
    BatchResult errorOnly;
    errorOnly.items = {MakeMessage(2812, 16, "Could not find stored procedure 'sp_x'.")};
    BatchResult wrongValue;
    wrongValue.items = {ResultSet{{{"n", SqlType::SmallInt, 0, false}}, {{std::int64_t{70000}}}}};
    BatchResult nothing;

    QTest::newRow("three result sets") << sets << "r2 r0 r2";
    QTest::newRow("row count then result set") << countThenRows << "c3 r2";
    // A trailing message is a statement of its own, as PRINT after a SELECT is.
    QTest::newRow("infos around a result set") << infoAround << "r2 c-1";
    QTest::newRow("error after a result set") << errorEnds << "r2 e208";
    QTest::newRow("error alone") << errorOnly << "e2812";
    QTest::newRow("value outside its column type") << wrongValue << "e50000";
    QTest::newRow("no statements") << nothing << "";
}

void TestTdsProtocol::statementSequences()
{
    QFETCH(sandbox::BatchResult, batch);
    QFETCH(QString, expected);
    Backend->SetAnswer("RUN", batch);
    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    const TOdbcOutcome outcome = client.Execute("RUN");
    QStringList seen;
    for (const TOdbcResult& result : outcome.results) {
        seen << (result.columns.empty() ? QStringLiteral("c%1").arg(result.rowCount)
                                        : QStringLiteral("r%1").arg(result.rows.size()));
    }
    if (!outcome.ok)
        seen << QStringLiteral("e%1").arg(outcome.nativeError);
    QCOMPARE(seen.join(' '), expected);
    // Whatever the batch ended with, the connection is in step for the next one.
    const TOdbcOutcome next = client.Execute("SELECT 1");
    QVERIFY2(next.ok, qPrintable(next.message));
    QCOMPARE(next.results[0].rows[0], QStringList{"1"});
}

void TestTdsProtocol::databaseChangeReachesClient()
{
    BatchResult use;
    use.items = {DatabaseChange{"master", "Sales"},
                 MakeMessage(5701, 0, "Changed database context to 'Sales'."), StatementDone{}};
    Backend->SetAnswer("USE Sales", use);
    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    QCOMPARE(client.CurrentDatabase(), "master");
    QVERIFY(client.Execute("USE Sales").ok);
    QCOMPARE(client.CurrentDatabase(), "Sales");
}

void TestTdsProtocol::multiPacketBatchAndResult()
{
    // A batch several packets long arrives whole, and so does a result many packets long.
    QString sql = QStringLiteral("SELECT 'x' /*");
    while (sql.size() < 20000)
        sql += QStringLiteral(" Ünïcode comment text");
    sql += QStringLiteral(" */");
    std::vector<Row> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back({std::int64_t{i}, std::string(100, char('a' + i % 26))});
    Backend->SetAnswer(
        sql.toStdString(),
        OneResultSet({{"n", SqlType::Int, 0, false}, {"s", SqlType::NVarChar, 100, false}}, rows));

    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    const TOdbcOutcome outcome = client.Execute(sql);
    QVERIFY2(outcome.ok, qPrintable(outcome.message));
    QCOMPARE(QString::fromStdString(Backend->Batches().back().second), sql);
    QCOMPARE(outcome.results[0].rows.size(), 3000u);
    QCOMPARE(outcome.results[0].rows[2999], QStringList({"2999", QString(100, QChar(u'a' + 2999 % 26))}));

    const QJsonObject answer = RunPythonClient(PythonRequest(Server->Port(), "torvane", "7.2", {sql}));
    QCOMPARE(answer["batches"][0]["results"][0]["rows"].toArray().size(), 3000);
}

void TestTdsProtocol::transactionRequests()
{
    // python-tds opens its transactions with transaction-manager requests, not SQL.
    QJsonObject request = PythonRequest(Server->Port(), "torvane", "7.4", {"SELECT 1", "SELECT 1"});
    request["autocommit"] = false;
    const QJsonObject answer = RunPythonClient(request);
    QVERIFY2(!answer.contains("failure"), qPrintable(answer["failure"].toString()));
    QCOMPARE(answer["login"].toString(), "ok");
    QVERIFY(!answer.contains("connection"));
    QCOMPARE(answer["batches"][1]["results"][0]["rows"].toArray(), QJsonArray({QJsonArray{1}}));
}

void TestTdsProtocol::remoteProcedureCallGetsErrorNotHang()
{
    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    const TOdbcOutcome prepared = client.PrepareAndExecute("SELECT 1");
    QVERIFY(!prepared.ok);
    QVERIFY2(prepared.message.contains("remote procedure call"), qPrintable(prepared.message));
    const TOdbcOutcome next = client.Execute("SELECT 1");
    QVERIFY2(next.ok, qPrintable(next.message));
}

void TestTdsProtocol::cancelDiscardsSlowResult()
{
    Backend->SetAnswer("SLOW", OneResultSet({{"slow", SqlType::Int, 0, false}}, {{std::int64_t{5}}}), 3000);
    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    const TOdbcOutcome slow = client.Execute("SLOW", 1);
    QVERIFY(!slow.ok);
    QCOMPARE(slow.sqlState, "HYT00");
    // The cancelled batch's rows never reach the next request.
    const TOdbcOutcome next = client.Execute("SELECT 1");
    QVERIFY2(next.ok, qPrintable(next.message));
    QCOMPARE(next.results[0].columns[0].name, "");
    QCOMPARE(next.results[0].rows[0], QStringList{"1"});
}

void TestTdsProtocol::hungServerAnswersNothingUntilResume()
{
    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    Server->Hang(0);
    const TOdbcOutcome waited = client.Execute("SELECT 1", 1);
    QVERIFY(!waited.ok);
    QCOMPARE(waited.sqlState, "HYT00");
    // A login meanwhile is not answered either.
    QJsonObject request = PythonRequest(Server->Port(), "torvane", "7.4", {});
    request["timeout"] = 2;
    QCOMPARE(RunPythonClient(request)["login"].toString(), "failed");
    Server->Resume();
    TOdbcClient after;
    QVERIFY(after.Connect(Server->Port(), "sa", "torvane").ok);
    const TOdbcOutcome answered = after.Execute("SELECT 1");
    QVERIFY2(answered.ok, qPrintable(answered.message));
}

void TestTdsProtocol::hangForSecondsEndsByItself()
{
    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    Server->Hang(2);
    // Without a time-out of its own the client just waits, then gets its answer.
    const TOdbcOutcome answered = client.Execute("SELECT 1");
    QVERIFY2(answered.ok, qPrintable(answered.message));
    QCOMPARE(answered.results[0].rows[0], QStringList{"1"});
}

void TestTdsProtocol::downDropsAndRefusesUntilBack()
{
    TOdbcClient client;
    QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
    const quint16 port = Server->Port();
    Server->GoDown();
    QCOMPARE(Server->ConnectionCount(), 0);
    QTRY_COMPARE(Backend->ActiveSessions(), 0);
    const TOdbcOutcome dropped = client.Execute("SELECT 1");
    QVERIFY(!dropped.ok);

    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!refused.waitForConnected(5000));
    QCOMPARE(refused.error(), QAbstractSocket::ConnectionRefusedError);

    Server->ComeBack();
    QCOMPARE(Server->Port(), port);
    TOdbcClient again;
    QVERIFY(again.Connect(port, "sa", "torvane").ok);
    QVERIFY(again.Execute("SELECT 1").ok);
}

void TestTdsProtocol::closingConnectionLogsOut()
{
    {
        TOdbcClient client;
        QVERIFY(client.Connect(Server->Port(), "sa", "torvane").ok);
        QCOMPARE(Backend->ActiveSessions(), 1);
    }
    QTRY_COMPARE(Backend->ActiveSessions(), 0);
}

QTEST_GUILESS_MAIN(TestTdsProtocol)
#include "tst_tdsprotocol.moc"
