// The all processes frame against the sandbox server: the selection follows the SPID
// across refreshes and server switches, and a kill that did nothing says so; the
// filter box, the sorted headings, the lead blocker marks and the tree of blocking
// chains.

#include "engine/Connectionslot.h"
#include "model/Blockingchains.h"
#include "sandbox/Sandboxsimulation.h"
#include "tests/support/Monitoredsandbox.h"
#include "tests/support/Viewhelpers.h"
#include "tests/support/Viewscenario.h"
#include "ui/Frameallprocesses.h"
#include "ui/Frameblockingchains.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Gridfilterbox.h"

#include <QTreeWidget>

#include <QRegularExpression>
#include <QtTest>

namespace {

struct TProcessesView
{
    explicit TProcessesView(const std::string& login = TSandboxFixture::Login,
                            const std::string& password = TSandboxFixture::Password)
        : Server(ViewScenarioJson, login, password)
    {
        Frame.BindConnection(Server.Slot());
        Frame.SetBlockingChains(&Chains);
        Server.OnRedraw = [this] {
            Chains.Build(*Server.Slot()->UserProcesses(), Server.Slot()->Threads());
            Frame.RefreshView(false);
        };
        Frame.resize(1100, 600);
        Frame.show();
    }

    QString SelectedSpid() const { return Frame.ProcessGrid()->CellText(1, Frame.SelectedRow()); }
    void Select(int spid)
    {
        ClickRow(*Frame.ProcessGridPair(), RowWithCell(*Frame.ProcessGrid(), 1, QString::number(spid)));
    }

    QStringList Spids() const
    {
        QStringList spids;
        for (int row = 1; row < Frame.ProcessGrid()->RowCount(); ++row)
            spids << Frame.ProcessGrid()->CellText(1, row);
        return spids;
    }
    void ClickHeadingOf(int column)
    {
        // The first three columns are the left view's.
        TGridPair* pair = Frame.ProcessGridPair();
        QHeaderView* header = (column < 3 ? pair->Left() : pair->Right())->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    }

    TMonitoredSandbox Server;
    TBlockingChains Chains;
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
    void filterKeepsMatchingProcesses();
    void headingSortsAndSelectionStays();
    void leadBlockerMarkedAndTreeSelects();
    void killSparesAProcessThatReusedTheSpid();
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

void TestFrameAllProcesses::filterKeepsMatchingProcesses()
{
    TProcessesView view;
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    const qsizetype all = view.Spids().size();
    view.Select(55);
    QSignalSpy hidden(&view.Frame, &TFrameAllProcesses::HiddenRowsChanged);

    // The host of 52 and 53, any case; the selected process is gone from the rows, so
    // the selection rules pick the next higher SPID among them, then the last row.
    QTest::keyClicks(view.Frame.FilterBox(), QStringLiteral("app01"));
    QCOMPARE(view.Spids(), (QStringList{"52", "53"}));
    QCOMPARE(view.Frame.HiddenRows(), all - 2);
    QCOMPARE(hidden.last().at(0).toInt(), all - 2);
    QCOMPARE(view.SelectedSpid(), QStringLiteral("53"));
    QVERIFY(view.Server.Refresh());
    QCOMPARE(view.Spids(), (QStringList{"52", "53"}));

    // A SPID's digits, and a database with a quote in its name.
    view.Frame.FilterBox()->setText(QStringLiteral("56"));
    QCOMPARE(view.Spids(), QStringList{"56"});
    view.Frame.FilterBox()->setText(QStringLiteral("o'brien"));
    QCOMPARE(view.Spids(), (QStringList{"54", "55"}));

    // Escape clears it; the selection stays on its process.
    view.Select(54);
    QTest::keyClick(view.Frame.FilterBox(), Qt::Key_Escape);
    QVERIFY(view.Frame.FilterBox()->text().isEmpty());
    QCOMPARE(view.Spids().size(), all);
    QCOMPARE(view.Frame.HiddenRows(), 0);
    QCOMPARE(view.SelectedSpid(), QStringLiteral("54"));
}

void TestFrameAllProcesses::headingSortsAndSelectionStays()
{
    TProcessesView view;
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    const QStringList bySpid = view.Spids();
    view.Select(53);

    // "Login": names in the model's order, equal logins by SPID.
    view.ClickHeadingOf(2);
    QStringList logins;
    for (int row = 1; row < view.Frame.ProcessGrid()->RowCount(); ++row)
        logins << view.Frame.ProcessGrid()->CellText(2, row).toUpper();
    QStringList sorted = logins;
    std::stable_sort(sorted.begin(), sorted.end());
    QCOMPARE(logins, sorted);
    QCOMPARE(view.SelectedSpid(), QStringLiteral("53"));
    QCOMPARE(view.Frame.ProcessInfo()->Spid(), 53);

    // Again: reversed, and it lasts through a refresh; the selection stays.
    view.ClickHeadingOf(2);
    QVERIFY(view.Server.Refresh());
    QStringList reversed;
    for (int row = 1; row < view.Frame.ProcessGrid()->RowCount(); ++row)
        reversed << view.Frame.ProcessGrid()->CellText(2, row).toUpper();
    std::reverse(sorted.begin(), sorted.end());
    QCOMPARE(reversed, sorted);
    QCOMPARE(view.SelectedSpid(), QStringLiteral("53"));

    // "CPU Usage": numbers as numbers (48210 after 0).
    view.ClickHeadingOf(9);
    QCOMPARE(view.Spids().last(), QStringLiteral("52"));

    // The third click: back to the order by SPID.
    view.ClickHeadingOf(9);
    view.ClickHeadingOf(9);
    QCOMPARE(view.Spids(), bySpid);
    QCOMPARE(view.SelectedSpid(), QStringLiteral("53"));
}

void TestFrameAllProcesses::leadBlockerMarkedAndTreeSelects()
{
    TProcessesView view;
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    const auto lead = [&](int spid) {
        const int row = RowWithCell(*view.Frame.ProcessGrid(), 1, QString::number(spid));
        return view.Frame.ProcessGrid()->index(row - 1, 0).data(TGridModel::LeadBlockerRole);
    };
    // 52 blocks 56 and waits for nobody.
    QCOMPARE(lead(52).toPoint(), QPoint(1, 1));
    QVERIFY(!lead(56).isValid());
    QVERIFY(!lead(53).isValid());
    // The cell keeps the SPID alone: what is read, copied and killed.
    QCOMPARE(view.Frame.ProcessGrid()->CellText(1, RowWithCell(*view.Frame.ProcessGrid(), 1, "52")),
             QStringLiteral("52"));

    view.Frame.SetBlockingChainsShown(true);
    QTreeWidget* tree = view.Frame.BlockingChainsFrame()->Tree();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* head = tree->topLevelItem(0);
    QCOMPARE(head->text(0), QStringLiteral("52 lead blocker"));
    QCOMPARE(head->childCount(), 1);
    QTreeWidgetItem* waiting = head->child(0);
    QCOMPARE(waiting->text(0), QStringLiteral("56"));
    QCOMPARE(waiting->text(3), QStringLiteral("LCK_M_S"));
    QCOMPARE(waiting->text(4), QStringLiteral("PAG: 5:1:4410"));
    QCOMPARE(waiting->text(5), QStringLiteral("reportuser"));

    // Choosing a row of the tree selects the process in the list.
    connect(&view.Frame, &TFrameAllProcesses::ProcessChosen, &view.Frame,
            [&](std::int32_t spid) { view.Frame.SelectProcess(spid); });
    tree->setCurrentItem(waiting);
    QCOMPARE(view.SelectedSpid(), QStringLiteral("56"));
    QCOMPARE(view.Frame.ProcessInfo()->Spid(), 56);
    // And back: the list's selection moves the tree's.
    view.Select(52);
    QCOMPARE(view.Frame.BlockingChainsFrame()->SelectedSpid(), 52);

    // Kill Process asks as every list does.
    TMessageRecorder messages(TMessageResult::No);
    view.Frame.BlockingChainsFrame()->KillSelectedProcess();
    QCOMPARE(messages.Asked.size(), std::size_t(1));
    QCOMPARE(messages.Asked[0].Text, QStringLiteral("Do you want to kill process id 52?"));
    QCOMPARE(messages.Asked[0].Caption, QStringLiteral("Kill Process"));
}

// Process 53 logs off while the question is open, and a new logon gets SPID 53: the kill
// is for the process the user saw, so nothing is killed and the user is told why.
void TestFrameAllProcesses::killSparesAProcessThatReusedTheSpid()
{
    TProcessesView view;
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    view.Select(53);
    QCOMPARE(view.SelectedSpid(), QStringLiteral("53"));

    TMessageRecorder messages(TMessageResult::Yes);
    int reused = 0;
    messages.OnQuestion = [&] {
        sandbox::TSandboxSimulation& simulation = view.Server.Sandbox.Simulation();
        simulation.RemoveProcess(53);
        sandbox::ProcessSpec spec; // a new logon, given the lowest free spid
        spec.login = "appuser";
        spec.loginAgeSeconds = 0;
        reused = simulation.AddProcess(spec);
    };
    view.Frame.KillSelectedProcess();
    QTRY_COMPARE(messages.Asked.size(), std::size_t(2));
    QCOMPARE(reused, 53);
    const QRegularExpression told(QStringLiteral(
        "^Process 53 is no longer the one shown \\(it logged on again at (.+)\\); nothing was killed\\.$"));
    const QRegularExpressionMatch match = told.match(messages.Asked[1].Text);
    QVERIFY2(match.hasMatch(), qPrintable(messages.Asked[1].Text));
    QCOMPARE(messages.Asked[1].Caption, QStringLiteral("Kill Process"));
    QVERIFY(view.Server.Refresh());
    const int row = RowWithCell(*view.Frame.ProcessGrid(), 1, QStringLiteral("53"));
    QVERIFY(row > 0); // the new process lives on, shown with the time the message names
    QCOMPARE(view.Frame.ProcessGrid()->CellText(7, row), match.captured(1));
}

QTEST_MAIN(TestFrameAllProcesses)
#include "tst_frameallprocesses.moc"
