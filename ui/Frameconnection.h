#pragma once
// The views of the shown server: a tab bar (Performance, Users, Databases, All
// Processes) over four views of which one is visible. The frame is bound to one
// connection slot at a time. A refresh of that server fills the visible view only; a
// view is filled when its tab is shown, from the latest refresh, so a tab switch never
// shows stale data and sends no query.

#include "model/Blockingchains.h"
#include "ui/Gridexport.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class TElidedLabel;
class QStackedWidget;
class TConnectionSlot;
class TFrameAllProcesses;
class TFrameServerCharts;
class TFrameSessionMonitor;
class TGridModel;
class TGridPair;

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

    // Ctrl+F: the filter box of the visible view.
    void FocusFilter();
    // Ctrl+B: shows the blocking chains on the All Processes tab, or hides them there.
    void ToggleBlockingChains();
    // Selects the process in every view that lists it.
    void SelectProcessEverywhere(std::int32_t spid);
    // The grid the user works in: the one holding the keyboard focus, else the visible
    // view's process list (its summary on the Users and Databases tabs when focused).
    TGridPair* ActiveGridPair() const;
    // Ctrl+C and Ctrl+Shift+C: the selected row, or every row shown, with the headings,
    // tab-separated, to the clipboard.
    void CopySelectedRow() const;
    void CopyGrid() const;
    // The grids of the server as Export... saves them: the shown one, or all of them,
    // each with its name ("Users", "User Processes", ...).
    std::vector<TNamedGrid> ShownGrid() const;
    // Fills the views not filled since the latest refresh, so that every grid is current
    // (Export... of every grid).
    void FillAllViews();
    std::vector<TNamedGrid> AllGrids() const;
    const TBlockingChains& BlockingChains() const { return Chains; }

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

    void ShowHiddenRows();

    TBlockingChains Chains;
    TConnectionFrameOwner* MainWindow = nullptr;
    TConnectionSlot* Slot = nullptr;
    QStackedWidget* PanelClient;
    int Tab = TabPerformance;
    // Views not filled since the latest refresh.
    std::array<bool, TabCount> Stale{};
};
