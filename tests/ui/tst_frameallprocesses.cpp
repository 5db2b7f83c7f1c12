// The all processes frame against the sandbox server: the selection follows the SPID
// across refreshes and server switches, and a kill that did nothing says so.

#include "tests/support/Monitoredsandbox.h"
#include "tests/support/Viewhelpers.h"
#include "tests/support/Viewscenario.h"
#include "ui/Frameallprocesses.h"
#include "ui/Frameprocessinfo.h"

#include <QtTest>

namespace {

struct TProcessesView
{
    explicit TProcessesView(const std::string& login = TSandboxFixture::Login,
                            const std::string& password = TSandboxFixture::Password)
        : Server(ViewScenarioJson, login, password)
    {
        Frame.BindConnection(Server.Slot());
        Server.OnRedraw = [this] { Frame.RefreshView(false); };
        Frame.resize(1100, 600);
        Frame.show();
    }

    QString SelectedSpid() const { return Frame.ProcessGrid()->CellText(1, Frame.SelectedRow()); }
    void Select(int spid)
    {
        ClickRow(*Frame.ProcessGridPair(), RowWithCell(*Frame.ProcessGrid(), 1, QString::number(spid)));
    }

    TMonitoredSandbox Server;
    TFrameAllProcesses Frame;
};

} // namespace

class TestFrameAllProcesses : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void selectionFollowsSpid();
    void killReportsWhatDidNothing_data();
    void killReportsWhatDidNothing();
};

void TestFrameAllProcesses::selectionFollowsSpid()
{
    TProcessesView view;
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    {
        // Before the first refresh nothing is selected, and nothing is killed.
        TMessageRecorder messages(TMessageResult::Yes);
        view.Frame.KillSelectedProcess();
        QVERIFY(messages.Asked.empty());
    }
    QVERIFY(view.Server.Refresh());
    QCOMPARE(view.Frame.SelectedRow(), 1);

    // A click shows the process's threads at once.
    view.Select(52);
    QCOMPARE(view.Frame.ProcessInfo()->Spid(), 52);
    QCOMPARE(view.Frame.ProcessInfo()->ThreadGrid()->RowCount(), 4);

    view.Server.Sandbox.Simulation().RemoveProcess(52);
    QVERIFY(view.Server.Refresh());
    QCOMPARE(view.SelectedSpid(), QStringLiteral("53"));
    QCOMPARE(view.Frame.ProcessInfo()->ThreadGrid()->RowCount(), 2);

    // Another server: the same SPID while it has it, else the next higher one.
    TMonitoredSandbox other(ViewScenarioJson);
    QVERIFY2(other.Ready(), other.Error().c_str());
    other.OnRedraw = [&] { view.Frame.RefreshView(false); };
    view.Frame.BindConnection(other.Slot());
    QVERIFY(other.Refresh());
    QCOMPARE(view.SelectedSpid(), QStringLiteral("53"));
    other.Sandbox.Simulation().RemoveProcess(53);
    QVERIFY(other.Refresh());
    QCOMPARE(view.SelectedSpid(), QStringLiteral("54"));
    QCOMPARE(view.Frame.ProcessInfo()->Spid(), 54);
}

void TestFrameAllProcesses::killReportsWhatDidNothing_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("spid"); // 0: the monitor's own connection
    QTest::addColumn<QString>("report");

    QTest::newRow("the monitor's own connection")
        << "sa"
        << "torvane" << 0 << "Process id %1 was not killed: it is this monitor's own connection.";
    QTest::newRow("a system process")
        << "sa"
        << "torvane" << 2 << "Process id %1 was not killed: it is a system process.";
    QTest::newRow("a login without the right to kill")
        << "viewer"
        << "viewer" << 53 << "User does not have permission to use the KILL statement.";
}

void TestFrameAllProcesses::killReportsWhatDidNothing()
{
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(int, spid);
    QFETCH(QString, report);

    TProcessesView view(login.toStdString(), password.toStdString());
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    if (spid == 0)
        spid = view.Server.OwnSpid();
    view.Select(spid);
    QCOMPARE(view.SelectedSpid(), QString::number(spid));

    TMessageRecorder messages(TMessageResult::Yes);
    view.Frame.KillSelectedProcess();
    QTRY_COMPARE(messages.Asked.size(), std::size_t(2));
    QCOMPARE(messages.Asked[0].Text, QStringLiteral("Do you want to kill process id %1?").arg(spid));
    QVERIFY2(messages.Asked[1].Text.contains(report.arg(spid)), qPrintable(messages.Asked[1].Text));
    QCOMPARE(messages.Asked[1].Caption, QStringLiteral("Kill Process"));
    QCOMPARE(messages.Asked[1].Buttons, TMessageButtons::Ok);
    QVERIFY(view.Server.Refresh());
    QVERIFY(RowWithCell(*view.Frame.ProcessGrid(), 1, QString::number(spid)) > 0);
}

QTEST_MAIN(TestFrameAllProcesses)
#include "tst_frameallprocesses.moc"
