#pragma once
// The Performance page: five charts of the shown server's last 120 samples (response
// time, sessions and users, CPU, network packets, disk access) with the newest values
// written under them, and a panel with the server's name, start time, current time and
// running time; while the server is disconnected it offers to reconnect.

#include <QFrame>

#include <array>
#include <vector>

class QLabel;
class QPushButton;
class TChartView;
class TValueStrip;
class TConnectionSlot;
class TTorvaneServerPerformance;

class TFrameServerCharts : public QFrame
{
    Q_OBJECT

public:
    explicit TFrameServerCharts(QWidget* parent = nullptr);

    void AttachServer(const QString& serverName, TConnectionSlot* slot);
    void RefreshView();
    // The charts and value labels from a server's statistics.
    void UpdateCharts(const TTorvaneServerPerformance& performance);

    TChartView* ChartResponse;
    TChartView* ChartSessions;
    TChartView* ChartCPU;
    TChartView* ChartNetwork;
    TChartView* ChartPhysicalIO;
    QFrame* PanelChartResponse;
    QFrame* PanelChartSessions;
    QFrame* PanelChartCPU;
    QFrame* PanelChartNetwork;
    QFrame* PanelServerInfo;
    QFrame* PanelChartPhysicalIO;
    QLabel* LabelResponse;
    QLabel* LabelSessions;
    QLabel* LabelUsers;
    QLabel* LabelCPU;
    QLabel* LabelPacketsSent;
    QLabel* LabelPacketsRecieved;
    QLabel* LabelPacketsErrored;
    QLabel* LabelPhysicalIORead;
    QLabel* LabelPhysicalIOWritten;
    QLabel* LabelPhysicalIOErrored;
    QLabel* LabelServerName;
    QLabel* LabelServerStartTime;
    QLabel* LabelCurrentServerTime;
    QLabel* LabelDisconnected;
    QLabel* LabelReconnecting;
    QLabel* LabelServerRunningSince;
    QPushButton* Button1;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FrameResize();
    void Button1Click();
    QFrame* MakeChartPanel(TChartView* chart, const std::vector<QLabel*>& labels);

    TConnectionSlot* Slot = nullptr;
    std::vector<TValueStrip*> Strips;
    int SeriesResponse = 0;
    int SeriesSessions = 0;
    int SeriesUsers = 0;
    int SeriesCPU = 0;
    int SeriesPacketsSent = 0;
    int SeriesPacketsReceived = 0;
    int SeriesPacketsErrored = 0;
    int SeriesPhysicalIORead = 0;
    int SeriesPhysicalIOWritten = 0;
    int SeriesPhysicalIOErrored = 0;
};
