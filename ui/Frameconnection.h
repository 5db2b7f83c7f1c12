#pragma once
// The views of the shown server: a tab bar (Performance, Users, Databases, All
// Processes) over four views of which one is visible. The frame is bound to one
// connection slot at a time. A refresh of that server fills the visible view only; a
// view is filled when its tab is shown, from the latest refresh, so a tab switch never
// shows stale data and sends no query.

#include <QWidget>

#include <array>

class QLabel;
class TElidedLabel;
class QStackedWidget;
class TConnectionSlot;
class TFrameAllProcesses;
class TFrameServerCharts;
class TFrameSessionMonitor;

// What the frame asks of its main window.
class TConnectionFrameOwner
{
public:
    virtual ~TConnectionFrameOwner() = default;
    virtual void SetToolbarMode(int mode) = 0;
    virtual bool ShowSinceReset() const = 0;
};

class TFrameConnection : public QWidget
{
    Q_OBJECT

public:
    enum TTab
    {
        TabPerformance = 0,
        TabUsers = 1,
        TabDatabases = 2,
        TabAllProcesses = 3
    };
    static constexpr int TabCount = 4;

    explicit TFrameConnection(QWidget* parent = nullptr);

    void SetMainWindow(TConnectionFrameOwner* mainWindow);
    void SetupViews();
    void BindConnection(const QString& serverName, TConnectionSlot* slot);
    void RefreshViews();
    // F5: the shown server's refresh at once, or its reconnection when it is disconnected.
    void RefreshNow();
    void KillSelectedProcess();
    void KillAllProcesses();
    void SelectTab(int tab);
    // The tab step places to the right (negative: left), wrapping round at either end.
    void SelectNextTab(int step);
    int VisibleTab() const { return Tab; }

    TFrameServerCharts* FrameSystemPerformance;
    TFrameSessionMonitor* FrameSessionMonitorUsers;
    TFrameSessionMonitor* FrameSessionMonitorDatabases;
    TFrameAllProcesses* FrameSessionAllProcesses;
    TElidedLabel* LabelServerName;
    // Shown beside the name while the server does not answer: the views hold the data
    // of its last refresh.
    QLabel* LabelStaleData;
    // Focusable captions: Tab reaches them, the arrow keys move between them.
    std::array<QLabel*, TabCount> TabLabels{};

private:
    void ShowServerState();
    void FillView(int tab);

    TConnectionFrameOwner* MainWindow = nullptr;
    TConnectionSlot* Slot = nullptr;
    QStackedWidget* PanelClient;
    int Tab = TabPerformance;
    // Views not filled since the latest refresh.
    std::array<bool, TabCount> Stale{};
};
