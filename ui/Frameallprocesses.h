#pragma once
// Every process of one server, one row each, with the process information frame of the
// selected process below; the selection follows the same SPID across refreshes and
// server switches (the next higher SPID when it has ended, the last row when there is
// none). The first three columns stay in view while the others scroll.
//
// Above the list a filter box keeps the processes whose login, host, program, database,
// command or SPID contains its text; a click on a heading sorts by that column, again
// reverses, a third time returns to the order by SPID. Lead blockers are marked in the
// list, and the blocking chains can be shown as a tree between the list and the process
// information.

#include "model/Processlistview.h"

#include <QWidget>

#include <cstdint>

class TBlockingChains;
class TConnectionSlot;
class TFrameBlockingChains;
class TFrameProcessInfo;
class TGridFilterBox;
class TGridModel;
class TGridPair;

class TFrameAllProcesses : public QWidget
{
    Q_OBJECT

public:
    explicit TFrameAllProcesses(QWidget* parent = nullptr);

    // The server shown from now on (null: none); the selected row stays.
    void BindConnection(TConnectionSlot* slot);
    // The chains the list marks its lead blockers from and the tree shows; kept by the
    // caller, refreshed before each RefreshView.
    void SetBlockingChains(const TBlockingChains* chains);
    // Remembers the selected SPID, refills the list and restores the selection.
    // Nothing happens without a server.
    void RefreshView(bool showSinceReset);
    // Selects the row of the remembered SPID and shows its process below.
    void RestoreSelection();
    // Kill Process: the selected row's process, after the question; nothing selected
    // (before the first refresh) does nothing.
    void KillSelectedProcess();
    // Selects the process's row when the list shows it (and its row in the tree).
    void SelectProcess(std::int32_t spid);

    void SetBlockingChainsShown(bool shown);
    bool BlockingChainsShown() const;
    void FocusFilter();
    // A heading clicked (a column of the list): the next step of its sort.
    void SortByColumn(int column);
    // The processes the filter hides.
    int HiddenRows() const { return FHiddenRows; }

    // 0 = none.
    int SelectedRow() const;
    std::int32_t SelectedSpid() const { return FSelectedSpid; }
    TGridModel* ProcessGrid() const { return ProcessModel; }
    TGridPair* ProcessGridPair() const { return ProcessPair; }
    TFrameProcessInfo* ProcessInfo() const { return FrameProcessInfoThreads; }
    TFrameBlockingChains* BlockingChainsFrame() const { return FrameBlockingChains; }
    TGridFilterBox* FilterBox() const { return FFilterBox; }

Q_SIGNALS:
    // After each fill: how many processes the filter hid.
    void HiddenRowsChanged(int hidden);
    // The user chose a process in the tree of blocking chains.
    void ProcessChosen(std::int32_t spid);

private:
    void StringGridProcessesLeftSelectCell(int row);
    void ShowProcess(int row);
    void Refill();
    void ShowSortIndicator();

    TConnectionSlot* Slot = nullptr;
    const TBlockingChains* Chains = nullptr;
    std::int32_t FSelectedSpid = 0;
    bool ShowSinceReset = false;
    int FHiddenRows = 0;
    TProcessListView ListView;
    TGridFilterBox* FFilterBox;
    TGridModel* ProcessModel;
    TGridPair* ProcessPair;
    TFrameBlockingChains* FrameBlockingChains;
    TFrameProcessInfo* FrameProcessInfoThreads;
};
