// The process information frame against the sandbox server: the thread list, which
// sends nothing, and the command text with its two sources, the pause box, and answers
// that come back after the user moved on.

#include "tests/support/Monitoredsandbox.h"
#include "tests/support/Viewscenario.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Gridmodel.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QtTest>

namespace {

// The frame showing one server's processes; a refresh shows the same SPID again, as
// the containing views do.
struct TInfoView
{
    TInfoView() : Server(ViewScenarioJson)
    {
        Frame.SetupThreadGrid();
        Frame.SetConnection(Server.Slot());
        Server.OnRedraw = [this] { Frame.ShowProcess(Frame.Spid()); };
        Frame.resize(700, 200);
        Frame.show();
    }

    // Both sources' batches: what the Command page sends.
    int CommandBatches()
    {
        return Server.BatchesContaining("INPUTBUFFER") + Server.BatchesContaining("fn_get_sql");
    }

    // Waits until no answer is outstanding.
    bool Settled()
    {
        return QTest::qWaitFor([this] { return !Frame.CommandTextLoading(); }, 30000);
    }

    TMonitoredSandbox Server;
    TFrameProcessInfo Frame;
};

} // namespace

class TestFrameProcessInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void threadsPageSendsNothing();
    void commandPageRules_data();
    void commandPageRules();
    void answerForAnotherProcessIsNotShown();
};

void TestFrameProcessInfo::threadsPageSendsNothing()
{
    TInfoView view;
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    const int batches = view.CommandBatches();

    view.Frame.ShowProcess(52);
    const TGridModel& threads = *view.Frame.ThreadGrid();
    QCOMPARE(threads.CellText(0, 0), QStringLiteral("ECID "));
    QCOMPARE(threads.RowCount(), 4);
    QCOMPARE((QStringList{threads.CellText(0, 1), threads.CellText(0, 2), threads.CellText(0, 3)}),
             (QStringList{"0", "1", "2"}));
    QCOMPARE(threads.CellText(3, 1), QStringLiteral("CXPACKET"));
    view.Frame.ShowProcess(56);
    QVERIFY(view.Server.Refresh());
    QCOMPARE(threads.CellText(4, 1), QStringLiteral("PAG: 5:1:4410"));
    view.Frame.ShowProcess(52);
    QVERIFY(view.Server.Refresh());

    QTest::qWait(200);
    QCOMPARE(view.CommandBatches(), batches);
}

void TestFrameProcessInfo::commandPageRules_data()
{
    // Steps: a SPID shows that process (a refresh shows the same one again), "command"
    // and "threads" click a tab, "pause" and "resume" the pause box, "fn" and "dbcc" the
    // source buttons.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("info");
    QTest::addColumn<QString>("text");

    const QString batch52 =
        QStringLiteral("SELECT CustomerID, SUM(Total) FROM dbo.Orders GROUP BY CustomerID");
    using L = QStringList;
    QTest::newRow("every refresh reloads")
        << L{"52", "command", "52", "52"} << 3 << "Language Event" << batch52;
    QTest::newRow("paused: a refresh keeps the text")
        << L{"52", "command", "pause", "52", "52"} << 1 << "Language Event" << batch52;
    QTest::newRow("paused: another process still loads")
        << L{"52", "command", "pause", "52", "53"} << 2 << "Language Event"
        << "exec dbo.usp_GetOrder 10248";
    QTest::newRow("paused: a process chosen on the Threads page is not loaded on return")
        << L{"52", "command", "pause", "threads", "53", "command"} << 1 << "Language Event" << batch52;
    QTest::newRow("the source loads at once, even paused")
        << L{"57", "command", "pause", "fn"} << 2 << "usp_Stats [pos 36:65]"
        << "SELECT COUNT(*) FROM dbo.Orders"; // the whole statement, its last character included
    QTest::newRow("encrypted procedure")
        << L{"58", "command", "fn"} << 2 << "usp_PayrollRun (Encrypted) [pos 1:0]"
        << "<NONE>";
    QTest::newRow("idle process: no position") << L{"53", "command", "fn"} << 2 << "<NONE>"
                                               << "<NONE>";
    QTest::newRow("no process: nothing loads") << L{"0", "command", "0"} << 0 << " "
                                               << "";
}

void TestFrameProcessInfo::commandPageRules()
{
    QFETCH(QStringList, steps);
    TInfoView view;
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    const int batches = view.CommandBatches();

    auto* pause = view.Frame.findChild<QCheckBox*>(QStringLiteral("CheckBoxPauseRefresh"));
    auto* dbcc = view.Frame.findChild<QRadioButton*>(QStringLiteral("RadioButtonDBCC"));
    auto* fn = view.Frame.findChild<QRadioButton*>(QStringLiteral("RadioButton1"));
    QVERIFY(pause && dbcc && fn);
    QCOMPARE(dbcc->text(), QStringLiteral("DBCC (spid) INPUTBUFFER"));
    QCOMPARE(fn->text(), QStringLiteral("fn_get_sql()"));
    QCOMPARE(pause->text(), QStringLiteral("Pause Auto Refresh"));
    for (const QString& step : steps) {
        if (step == QLatin1String("command"))
            view.Frame.LabelTabCommandClick();
        else if (step == QLatin1String("threads"))
            view.Frame.LabelTabThreadClick();
        else if (step == QLatin1String("pause"))
            pause->click();
        else if (step == QLatin1String("fn"))
            fn->click();
        else if (step == QLatin1String("dbcc"))
            dbcc->click();
        else if (step.toInt() == view.Frame.Spid())
            QVERIFY(view.Server.Refresh());
        else
            view.Frame.ShowProcess(step.toInt());
        QVERIFY(view.Settled());
    }
    QTEST(view.CommandBatches() - batches, "requests");
    QTEST(view.Frame.CommandInfo(), "info");
    QTEST(view.Frame.CommandText(), "text");
}

void TestFrameProcessInfo::answerForAnotherProcessIsNotShown()
{
    TInfoView view;
    QVERIFY2(view.Server.Ready(), view.Server.Error().c_str());
    QVERIFY(view.Server.Refresh());
    view.Frame.ShowProcess(52);
    view.Frame.LabelTabCommandClick();
    QVERIFY(view.Settled());
    QStringList shown;
    connect(view.Frame.findChild<QPlainTextEdit*>(QStringLiteral("MemoCommandText")),
            &QPlainTextEdit::textChanged, this, [&] { shown << view.Frame.CommandText(); });

    // The server holds back the answer for 53 while the user moves on to 57; the window
    // goes on meanwhile, and only 57's text is ever shown.
    view.Server.Sandbox.Server().Hang(0);
    view.Frame.ShowProcess(53);
    view.Frame.ShowProcess(57);
    QVERIFY(view.Frame.CommandTextLoading());
    QTest::qWait(100);
    view.Server.Sandbox.Server().Resume();
    QVERIFY(view.Settled());
    QCOMPARE(shown, QStringList{"EXEC dbo.usp_Stats"});
}

QTEST_MAIN(TestFrameProcessInfo)
#include "tst_frameprocessinfo.moc"
