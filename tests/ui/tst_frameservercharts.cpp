// The Performance page from a known history: the axis rule, the value labels, the
// disconnected state and the layout's column widths.

#include "engine/Torvaneserverperformance.h"
#include "ui/Chartview.h"
#include "ui/Frameservercharts.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

class TestFrameServerCharts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void responseAxisIsFixedUntilAValuePasses99_data();
    void responseAxisIsFixedUntilAValuePasses99();
    void labelsShowTheNewestValues();
    void disconnectedShowsReconnect();
    void resizeGivesTheColumns();
    void smallWindowKeepsEveryTextWhole();
};

void TestFrameServerCharts::responseAxisIsFixedUntilAValuePasses99_data()
{
    QTest::addColumn<int>("largest");
    QTest::addColumn<bool>("automatic");
    QTest::newRow("all zeros") << 0 << false;
    QTest::newRow("99") << 99 << false;
    QTest::newRow("100") << 100 << true;
}

void TestFrameServerCharts::responseAxisIsFixedUntilAValuePasses99()
{
    QFETCH(int, largest);
    QFETCH(bool, automatic);
    TTorvaneServerPerformance performance;
    for (const int response : {5, largest, 7}) {
        performance.BeginSample();
        performance.AddSample(response, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0);
    }
    TFrameServerCharts frame;
    frame.UpdateCharts(performance);
    QCOMPARE(frame.ChartResponse->AutomaticMaximum(), automatic);
    if (!automatic)
        QCOMPARE(frame.ChartResponse->AxisMaximum(), 100.0);
    else
        QVERIFY(frame.ChartResponse->AxisMaximum() >= largest);
    // The CPU chart keeps 0 to 100 whatever the values.
    QCOMPARE(frame.ChartCPU->AxisMaximum(), 100.0);
    // The 120 points are the history, newest at the right.
    QCOMPARE(frame.ChartResponse->SeriesValues(0)[119], 7);
    QCOMPARE(frame.ChartResponse->SeriesValues(0)[118], largest);
}

void TestFrameServerCharts::labelsShowTheNewestValues()
{
    TFrameServerCharts frame;
    QCOMPARE(frame.LabelCPU->text(), QStringLiteral("CPU Busy %: 0"));
    QCOMPARE(frame.LabelPacketsRecieved->text(), QStringLiteral("Recieved: 0"));
    TTorvaneServerPerformance performance;
    performance.BeginSample();
    performance.AddSample(42, 3, 17, 0, 0, 0, 0, 0, 0, 0, 0);
    frame.UpdateCharts(performance);
    QCOMPARE(frame.LabelResponse->text(), QStringLiteral("Response Time: 42"));
    QCOMPARE(frame.LabelSessions->text(), QStringLiteral("    Sessions: 17"));
    QCOMPARE(frame.LabelUsers->text(), QStringLiteral("Users: 3    "));
    QCOMPARE(frame.LabelCPU->text(), QStringLiteral("CPU Busy: 0%"));
    QCOMPARE(frame.LabelPacketsSent->text(), QStringLiteral("    Sent: 0"));
    QCOMPARE(frame.LabelPacketsRecieved->text(), QStringLiteral("Received: 0"));
    QCOMPARE(frame.LabelPacketsErrored->text(), QStringLiteral("Errored: 0    "));
    QCOMPARE(frame.LabelPhysicalIORead->text(), QStringLiteral("    Read: 0"));
    QCOMPARE(frame.LabelPhysicalIOWritten->text(), QStringLiteral("Written: 0"));
    QCOMPARE(frame.LabelPhysicalIOErrored->text(), QStringLiteral("Errored: 0    "));
}

void TestFrameServerCharts::disconnectedShowsReconnect()
{
    TFrameServerCharts frame;
    frame.show();
    TTorvaneServerPerformance performance;
    frame.UpdateCharts(performance);
    QVERIFY(!frame.LabelDisconnected->isVisible());
    QVERIFY(!frame.Button1->isVisible());
    performance.Disconnected = true;
    frame.UpdateCharts(performance);
    QVERIFY(frame.LabelDisconnected->isVisible());
    QCOMPARE(frame.Button1->text(), QStringLiteral("Attempt Reconnect"));
    QVERIFY(frame.Button1->isVisible());
}

void TestFrameServerCharts::smallWindowKeepsEveryTextWhole()
{
    // The Performance tab of a window at the design's 756 x 568 pixels, with large
    // values and the server lost: every text whole, at the frame's size, none over
    // another.
    TFrameServerCharts frame;
    frame.resize(560, 440);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    TTorvaneServerPerformance performance;
    performance.BeginSample();
    performance.AddSample(1234567, 30000, 32767, 0, 0, 0, 0, 0, 0, 0, 0);
    performance.Disconnected = true;
    frame.UpdateCharts(performance);
    QApplication::processEvents();
    const std::vector<std::vector<QWidget*>> groups = {
        {frame.LabelDisconnected, frame.Button1},
        {frame.LabelSessions, frame.LabelUsers},
        {frame.LabelPacketsSent, frame.LabelPacketsRecieved, frame.LabelPacketsErrored},
        {frame.LabelPhysicalIORead, frame.LabelPhysicalIOWritten, frame.LabelPhysicalIOErrored},
    };
    for (const auto& group : groups) {
        for (std::size_t i = 0; i < group.size(); ++i) {
            QWidget* widget = group[i];
            QVERIFY2(widget->isVisible(), qPrintable(widget->objectName()));
            QCOMPARE(widget->font().pointSizeF(), frame.font().pointSizeF());
            if (const auto* label = qobject_cast<QLabel*>(widget))
                QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
                         qPrintable(label->text()));
            else
                QVERIFY(widget->width() >= widget->sizeHint().width());
            for (std::size_t j = i + 1; j < group.size(); ++j)
                QVERIFY2(!widget->geometry().intersects(group[j]->geometry()), qPrintable(widget->objectName()));
        }
    }
}

void TestFrameServerCharts::resizeGivesTheColumns()
{
    TFrameServerCharts frame;
    frame.resize(300, 200);
    frame.show();
    QCOMPARE(frame.PanelChartResponse->geometry(), QRect(0, 0, 101, 100));
    QCOMPARE(frame.PanelChartSessions->geometry(), QRect(99, 0, 102, 100));
    QCOMPARE(frame.PanelChartCPU->geometry(), QRect(200, 0, 100, 100));
    QCOMPARE(frame.PanelChartNetwork->geometry(), QRect(0, 99, 101, 101));
    QCOMPARE(frame.PanelServerInfo->geometry(), QRect(99, 99, 102, 101));
    QCOMPARE(frame.PanelChartPhysicalIO->geometry(), QRect(200, 99, 100, 101));
}

QTEST_MAIN(TestFrameServerCharts)
#include "tst_frameservercharts.moc"
