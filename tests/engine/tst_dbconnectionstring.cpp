// The connection string the monitor builds and its translation into ODBC attributes.

#include "engine/Dbaccess.h"
#include "engine/Dbconnectionstring.h"
#include "engine/Torvanethread.h"

#include <QtTest>

class TestDbConnectionString : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void builtString_data();
    void builtString();
    void valuesSurviveTheRoundTrip_data();
    void valuesSurviveTheRoundTrip();
    void serverNames_data();
    void serverNames();
    void driverAttributes_data();
    void driverAttributes();
};

void TestDbConnectionString::builtString_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");

    QTest::newRow("server login") << "DBSRV01" << false << "sa" << "secret"
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=secret;Initial Catalog=master;"
           "Data Source=DBSRV01;Application Name=VelquinMonitor";
    QTest::newRow("windows ignores user and password") << "DBSRV01\\SALES" << true << "sa" << "secret"
        << "Provider=SQLOLEDB.1;Persist Security Info=False;Integrated Security=SSPI;Initial Catalog=master;"
           "Data Source=DBSRV01\\SALES;Application Name=VelquinMonitor";
    QTest::newRow("empty server name") << "" << true << "" << ""
        << "Provider=SQLOLEDB.1;Persist Security Info=False;Integrated Security=SSPI;Initial Catalog=master;"
           "Data Source=;Application Name=VelquinMonitor";
    QTest::newRow("password with a semicolon is quoted") << "h" << false << "sa" << "a;b"
        << "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;Password=\"a;b\";Initial Catalog=master;"
           "Data Source=h;Application Name=VelquinMonitor";
}

void TestDbConnectionString::builtString()
{
    QFETCH(QString, server);
    QFETCH(bool, windows);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(TTorvaneThread::BuildConnectionString(
                 server.toStdString(), windows, user.toStdString(), password.toStdString())),
             expected);
}

void TestDbConnectionString::valuesSurviveTheRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("plain") << "secret";
    QTest::newRow("semicolon") << "pa;ss";
    QTest::newRow("equals") << "a=b";
    QTest::newRow("single quote") << "O'Brien";
    QTest::newRow("double quotes") << "say \"hi\"";
    QTest::newRow("braces") << "{x}}";
    QTest::newRow("blanks at the ends") << " padded ";
    QTest::newRow("everything") << " ;='\"{}; ";
    QTest::newRow("empty") << "";
}

void TestDbConnectionString::valuesSurviveTheRoundTrip()
{
    QFETCH(QString, value);
    const std::string text = TTorvaneThread::BuildConnectionString(value.toStdString(), false, value.toStdString(),
                                                                   value.toStdString());
    const TConnectionKeywords keywords = ParseOleDbConnectionString(text);
    QCOMPARE(keywords.size(), std::size_t(7));
    QCOMPARE(QString::fromStdString(keywords[2].second), value); // User ID
    QCOMPARE(QString::fromStdString(keywords[3].second), value); // Password
    QCOMPARE(QString::fromStdString(keywords[5].second), value); // Data Source
}

void TestDbConnectionString::serverNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("instance");
    QTest::addColumn<QString>("port");

    QTest::newRow("host") << "DBSRV01" << "DBSRV01" << "" << "";
    QTest::newRow("named instance") << "DBSRV01\\SALES" << "DBSRV01" << "SALES" << "";
    QTest::newRow("host and port") << "dbsrv01.corp.example,1533" << "dbsrv01.corp.example" << "" << "1533";
    QTest::newRow("ipv4 and port") << "127.0.0.1, 14330" << "127.0.0.1" << "" << "14330";
    QTest::newRow("ipv6") << "fe80::1" << "fe80::1" << "" << "";
    QTest::newRow("ipv6 in brackets with port") << "[::1],1433" << "::1" << "" << "1433";
    QTest::newRow("tcp prefix") << "tcp:DBSRV01,1433" << "DBSRV01" << "" << "1433";
    QTest::newRow("local machine") << "(local)\\SQLEXPRESS" << "localhost" << "SQLEXPRESS" << "";
}

void TestDbConnectionString::serverNames()
{
    QFETCH(QString, name);
    QFETCH(QString, host);
    QFETCH(QString, instance);
    QFETCH(QString, port);
    const TServerAddress address = ParseServerName(name.toStdString());
    QCOMPARE(QString::fromStdString(address.Host), host);
    QCOMPARE(QString::fromStdString(address.Instance), instance);
    QCOMPARE(QString::fromStdString(address.Port), port);
}

void TestDbConnectionString::driverAttributes_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected"); // empty: the value cannot be given

    const QString freeTdsTail = QStringLiteral(";Database=master;APP=VelquinMonitor;TDS_Version=7.4;ClientCharset=UTF-8");
    QTest::newRow("FreeTDS, host and port apart") << "FreeTDS" << "127.0.0.1,1433" << false << "torvane"
        << "Driver=FreeTDS;Server=127.0.0.1;Port=1433;UID=sa;PWD=torvane" + freeTdsTail;
    QTest::newRow("FreeTDS, windows authentication, named instance") << "FreeTDS" << "DBSRV01\\SALES" << true << ""
        << "Driver=FreeTDS;Server=DBSRV01\\SALES;Trusted_Connection=Yes" + freeTdsTail;
    QTest::newRow("FreeTDS, braces only around a semicolon") << "FreeTDS" << "h" << false << "p;w}d"
        << "Driver=FreeTDS;Server=h;UID=sa;PWD={p;w}d}" + freeTdsTail;
    QTest::newRow("FreeTDS, braces and quotes without a semicolon stay plain") << "FreeTDS" << "h" << false << "a}b='c"
        << "Driver=FreeTDS;Server=h;UID=sa;PWD=a}b='c" + freeTdsTail;
    QTest::newRow("FreeTDS cannot take };") << "FreeTDS" << "h" << false << "a};b" << "";
    QTest::newRow("Microsoft driver, server as typed, } doubled") << "ODBC Driver 18 for SQL Server" << "DBSRV01,1533"
        << false << "a};b"
        << "Driver={ODBC Driver 18 for SQL Server};Server={DBSRV01,1533};UID=sa;PWD={a}};b};Database=master;"
           "APP=VelquinMonitor";
}

void TestDbConnectionString::driverAttributes()
{
    QFETCH(QString, driver);
    QFETCH(QString, server);
    QFETCH(bool, windows);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    const std::string oleDb =
        TTorvaneThread::BuildConnectionString(server.toStdString(), windows, "sa", password.toStdString());
    if (expected.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(EDbError, TranslateConnectionString(oleDb, driver.toStdString()));
        return;
    }
    QCOMPARE(QString::fromStdString(TranslateConnectionString(oleDb, driver.toStdString())), expected);
}

QTEST_GUILESS_MAIN(TestDbConnectionString)
#include "tst_dbconnectionstring.moc"
