// The session monitor in users and databases mode against the sandbox server: the
// selection across refreshes, the summary popup, and the kill questions with what
// reaches the server.

#include "engine/Connectionslot.h"
#include "model/Blockingchains.h"
#include "tests/support/Monitoredsandbox.h"
#include "tests/support/Viewhelpers.h"
#include "tests/support/Viewscenario.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Framesessionmonitor.h"
#include "ui/Gridfilterbox.h"

#include <QAction>
#include <QMenu>
#include <QtTest>

#include <set>

namespace {

// A session monitor showing one sandbox server, refilled on every refresh as the
// connection frame refills it.
struct TSessionView
{
    explicit TSessionView(bool databases, const std::string& login = TSandboxFixture::Login,
                          const std::string& password = TSandboxFixture::Password)
        : Server(ViewScenarioJson, login, password)
    {
        if (databases)
            Frame.SetupDatabasesMode();
        else
            Frame.SetupUsersMode();
        Frame.BindConnection(Server.Slot());
        Frame.SetBlockingChains(&Chains);
        Server.OnRedraw = [this] {
            Chains.Build(*Server.Slot()->UserProcesses(), Server.Slot()->Threads());
            Frame.RefreshView(false);
        };
        Frame.resize(1100, 700);
        Frame.show();
    }

    // The summary row of a user ("login@host") or a database.
    int SummaryRow(const QString& name) const
    {
        const QStringList parts = name.split(QLatin1Char('@'));
        for (int row = 1; row < Frame.SummaryGrid()->RowCount(); ++row) {
            if (Frame.SummaryGrid()->CellText(1, row) == parts[0] &&
                (parts.size() == 1 || Frame.SummaryGrid()->CellText(2, row) == parts[1]))
                return row;
        }
        return -1;
    }
    QString SelectedSummaryName() const { return Frame.SummaryGrid()->CellText(1, Frame.SelectedRow()); }
    QString SelectedDetailSpid() const { return Frame.DetailGrid()->CellText(1, Frame.SelectedDetailRow()); }
    QStringList DetailSpids() const
    {
        QStringList spids;
        for (int row = 1; row < Frame.DetailGrid()->RowCount(); ++row)
            spids << Frame.DetailGrid()->CellText(1, row);
        return spids;
    }

    QStringList SummaryNames() const
    {
        QStringList names;
        for (int row = 1; row < Frame.SummaryGrid()->RowCount(); ++row)
            names << Frame.SummaryGrid()->CellText(1, row) + QLatin1Char('@') +
                         Frame.SummaryGrid()->CellText(2, row);
        return names;
    }

    TMonitoredSandbox Server;
    TBlockingChains Chains;
    TFrameSessionMonitor Frame;
};

std::set<int> Spids(TMonitoredSandbox& server)
{
    std::set<int> spids;
    for (const auto& process : server.Sandbox.Simulation().Processes())
        spids.insert(process.spid);
    return spids;
}

sandbox::ProcessSpec User(const std::string& login, const std::string& host)
{
    sandbox::ProcessSpec spec;
    spec.login = login;
    spec.hostName = host;
    return spec;
}

} // namespace

class TestFrameSessionMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void selectionFollowsUserAndProcess();
    void popupOnSummary();
    void killQuestionsAndWhatIsSent_data();
    void killQuestionsAndWhatIsSent();
    void killWithNothingSelected();
    void summaryFilterAndLeadBlockerMarks();
};

void TestFrameSessionMonitor::selectionFollowsUserAndProcess()
{
    TSessionView view(false);
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QCOMPARE(view.Frame.DetailHeading(), QStringLiteral(" Database Session Parent"));
    QVERIFY(view.Server.Refresh());

    ClickRow(*view.Frame.SummaryGridPair(), view.SummaryRow(QStringLiteral("appuser@APP01")));
    QCOMPARE(view.Frame.DetailHeading(), QStringLiteral("User: appuser (APP01)"));
    QCOMPARE(view.DetailSpids(), (QStringList{"52", "53"}));
    ClickRow(*view.Frame.DetailGridPair(), 2);
    QCOMPARE(view.Frame.ProcessInfo()->Spid(), 53);

    // The selected process ends: no higher SPID of the user, so its last process.
    view.Server.Sandbox.Simulation().RemoveProcess(53);
    QVERIFY(view.Server.Refresh());
    QCOMPARE(view.SelectedDetailSpid(), QStringLiteral("52"));
    QCOMPARE(view.Frame.ProcessInfo()->Spid(), 52);

    // A new user sorts before the selected one: the selection follows it.
    const int row = view.Frame.SelectedRow();
    view.Server.Sandbox.Simulation().AddProcess(User("aaron", "A01"));
    QVERIFY(view.Server.Refresh());
    QCOMPARE(view.Frame.SelectedRow(), row + 1);
    QCOMPARE(view.SelectedSummaryName(), QStringLiteral("appuser"));

    // The selected user logs off: its successor, a user without a host.
    view.Server.Sandbox.Simulation().RemoveProcess(52);
    QVERIFY(view.Server.Refresh());
    QCOMPARE(view.SelectedSummaryName(), QStringLiteral("payroll"));
    QCOMPARE(view.Frame.DetailHeading(), QStringLiteral("User: payroll"));
    QCOMPARE(view.DetailSpids(), QStringList{"54"});
}

void TestFrameSessionMonitor::popupOnSummary()
{
    TSessionView view(false);
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    QMenu* menu = view.Frame.SummaryPopupMenu();
    QAction* kill = menu->findChild<QAction*>(QStringLiteral("KillAllAttachedProcesses1"));
    QAction* message = menu->findChild<QAction*>(QStringLiteral("SendNetMessage1"));
    QVERIFY(kill && message);
    QVERIFY(!message->isVisible());

    ClickHeading(*view.Frame.SummaryGridPair(), Qt::RightButton);
    QVERIFY(menu->isVisible());
    QVERIFY(!kill->isEnabled());
    menu->hide();

    // A right-click selects the row but leaves the detail until the next refresh.
    const QString heading = view.Frame.DetailHeading();
    const int row = view.SummaryRow(QStringLiteral("payroll@HR01"));
    ClickRow(*view.Frame.SummaryGridPair(), row, Qt::RightButton);
    QVERIFY(menu->isVisible());
    QVERIFY(kill->isEnabled());
    QCOMPARE(view.Frame.SelectedRow(), row);
    QCOMPARE(view.Frame.DetailHeading(), heading);
    menu->hide();

    // The item asks about the right-clicked user, as Kill All Processes does.
    TMessageRecorder messages(TMessageResult::No);
    kill->trigger();
    QCOMPARE(messages.Asked.size(), std::size_t(1));
    QCOMPARE(messages.Asked[0].Text,
             QStringLiteral("Do you want to kill all processes for user payroll running on host HR01?"));
    QCOMPARE(messages.Asked[0].Caption, QStringLiteral("Kill Database Processes"));
    QCOMPARE(view.Server.BatchesContaining("getspid"), 0);
}

void TestFrameSessionMonitor::killQuestionsAndWhatIsSent_data()
{
    QTest::addColumn<bool>("databases");
    QTest::addColumn<QString>("row"); // summary row: "login@host" or a database
    QTest::addColumn<int>("process"); // the detail row's SPID to kill, 0 = all processes
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QList<int>>("gone");
    QTest::addColumn<QList<int>>("kept");

    QTest::newRow("process") << false << "appuser@APP01" << 53 << true << "Do you want to kill process id 53?"
                             << "Kill Process" << QList<int>{53} << QList<int>{52};
    QTest::newRow("process, answered No")
        << false << "appuser@APP01" << 53 << false << "Do you want to kill process id 53?"
        << "Kill Process" << QList<int>{} << QList<int>{52, 53};
    QTest::newRow("database with a quote in its name")
        << true << "O'Brien" << 0 << true
        << "Do you want to kill all processes connected to database O'Brien?"
        << "Kill Database Processes" << QList<int>{54, 55} << QList<int>{52, 53};
    QTest::newRow("user on a host")
        << false << "payroll@HR01" << 0 << true
        << "Do you want to kill all processes for user payroll running on host HR01?"
        << "Kill Database Processes" << QList<int>{55} << QList<int>{54};
    QTest::newRow("user without a host")
        << false << "payroll@" << 0 << true << "Do you want to kill all processes for user payroll?"
        << "Kill Database Processes" << QList<int>{54} << QList<int>{55};
}

void TestFrameSessionMonitor::killQuestionsAndWhatIsSent()
{
    QFETCH(bool, databases);
    QFETCH(QString, row);
    QFETCH(int, process);
    QFETCH(bool, yes);
    QFETCH(QList<int>, gone);
    QFETCH(QList<int>, kept);

    TSessionView view(databases);
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    const int summaryRow = view.SummaryRow(row);
    QVERIFY(summaryRow > 0);
    ClickRow(*view.Frame.SummaryGridPair(), summaryRow);
    if (process)
        ClickRow(*view.Frame.DetailGridPair(),
                 RowWithCell(*view.Frame.DetailGrid(), 1, QString::number(process)));

    TMessageRecorder messages(yes ? TMessageResult::Yes : TMessageResult::No);
    const int kills = view.Server.BatchesContaining("kill");
    if (process)
        view.Frame.KillSelectedProcess();
    else
        view.Frame.KillAllProcesses();
    QCOMPARE(messages.Asked.size(), std::size_t(1));
    QTEST(messages.Asked[0].Text, "question");
    QTEST(messages.Asked[0].Caption, "caption");
    QCOMPARE(messages.Asked[0].Icon, TMessageIcon::None);

    for (const int spid : gone)
        QTRY_VERIFY(!Spids(view.Server).contains(spid));
    if (!yes) {
        QTest::qWait(300);
        QCOMPARE(view.Server.BatchesContaining("kill"), kills);
    }
    for (const int spid : kept)
        QVERIFY(Spids(view.Server).contains(spid));
    // A kill that ended processes reports nothing.
    QCOMPARE(messages.Asked.size(), std::size_t(1));
}

void TestFrameSessionMonitor::killWithNothingSelected()
{
    for (const bool databases : {false, true}) {
        TSessionView view(databases);
        QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
        TMessageRecorder messages(TMessageResult::Yes);
        view.Frame.KillSelectedProcess();
        view.Frame.KillAllProcesses();
        QVERIFY(messages.Asked.empty());
    }
}

void TestFrameSessionMonitor::summaryFilterAndLeadBlockerMarks()
{
    TSessionView view(false);
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    const qsizetype users = view.SummaryNames().size();

    // The lead blocker 52 is marked in its user's processes, the process it blocks is not.
    ClickRow(*view.Frame.SummaryGridPair(), view.SummaryRow(QStringLiteral("appuser@APP01")));
    const auto lead = [&](const QString& spid) {
        const int row = RowWithCell(*view.Frame.DetailGrid(), 1, spid);
        return view.Frame.DetailGrid()->index(row - 1, 0).data(TGridModel::LeadBlockerRole);
    };
    QCOMPARE(lead(QStringLiteral("52")).toPoint(), QPoint(1, 1));
    QVERIFY(!lead(QStringLiteral("53")).isValid());

    // The filter keeps the users whose login or host holds the text, in any case; the
    // selection moves among the rows kept.
    QSignalSpy hidden(&view.Frame, &TFrameSessionMonitor::HiddenRowsChanged);
    QTest::keyClicks(view.Frame.FilterBox(), QStringLiteral("PAY"));
    QCOMPARE(view.SummaryNames(), (QStringList{"payroll@", "payroll@HR01"}));
    QCOMPARE(view.Frame.HiddenRows(), users - 2);
    QCOMPARE(hidden.last().at(0).toInt(), users - 2);
    QVERIFY(view.SelectedSummaryName() == QStringLiteral("payroll"));
    QVERIFY(view.Server.Refresh());
    QCOMPARE(view.SummaryNames().size(), 2);
    view.Frame.FilterBox()->setText(QStringLiteral("rep01"));
    QCOMPARE(view.SummaryNames(), QStringList{"reportuser@REP01"});
    QCOMPARE(view.DetailSpids(), QStringList{"56"});

    QTest::keyClick(view.Frame.FilterBox(), Qt::Key_Escape);
    QCOMPARE(view.SummaryNames().size(), users);
    QCOMPARE(view.Frame.HiddenRows(), 0);
    QCOMPARE(view.SelectedSummaryName(), QStringLiteral("reportuser"));

    // A process chosen elsewhere selects its user and itself.
    view.Frame.SelectProcess(55);
    QCOMPARE(view.Frame.SummaryGrid()->CellText(2, view.Frame.SelectedRow()), QStringLiteral("HR01"));
    QCOMPARE(view.SelectedDetailSpid(), QStringLiteral("55"));
}

QTEST_MAIN(TestFrameSessionMonitor)
#include "tst_framesessionmonitor.moc"
