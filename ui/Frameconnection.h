#pragma once
// The views of the shown server: a tab bar (Performance, Users, Databases, All
// Processes) over four views of which one is visible. The frame is bound to one
// connection slot at a time and redraws all four views on every refresh of that
// server, so a tab switch never shows stale data and sends no query.

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

    explicit TFrameConnection(QWidget* parent = nullptr);

    void SetMainWindow(TConnectionFrameOwner* mainWindow);
    void SetupViews();
    void BindConnection(const QString& serverName, TConnectionSlot* slot);
    void RefreshViews();
    void KillSelectedProcess();
    void KillAllProcesses();
    void SelectTab(int tab);
    int VisibleTab() const { return Tab; }

    TFrameServerCharts* FrameSystemPerformance;
    TFrameSessionMonitor* FrameSessionMonitorUsers;
    TFrameSessionMonitor* FrameSessionMonitorDatabases;
    TFrameAllProcesses* FrameSessionAllProcesses;
    TElidedLabel* LabelServerName;
    // Shown beside the name while the server does not answer: the views hold the data
    // of its last refresh.
    QLabel* LabelStaleData;
    std::array<QLabel*, 4> TabLabels{};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowServerState();

    TConnectionFrameOwner* MainWindow = nullptr;
    TConnectionSlot* Slot = nullptr;
    QStackedWidget* PanelClient;
    int Tab = TabPerformance;
};
