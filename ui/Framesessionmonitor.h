#pragma once
// The session monitor of one server: in users mode the summary of users, in databases
// mode the summary of databases; below it the processes of the selected row and the
// process information frame of the selected process. The selection follows the same
// user, database and process across refreshes (see Selectionrules.h), and the kill
// commands that act on a selected process, user or database are asked here.
//
// A filter box over the summary keeps the users whose login, host or NT login name, or the
// databases whose name, contains its text; the detail marks lead blockers.
//
// The summary and the detail are each one grid model shown by a pair of views whose
// leading columns stay in view (TGridPair); the pairs' SelectedRow are the selected
// summary row and detail row.

#include "model/Textfilter.h"
#include "ui/Selectionrules.h"

#include <QWidget>

#include <cstdint>
#include <string>

class QAction;
class QLabel;
class QMenu;
class TBlockingChains;
class TConnectionSlot;
class TGridFilterBox;
class TFrameProcessInfo;
class TGridModel;
class TGridPair;

class TFrameSessionMonitor : public QWidget
{
    Q_OBJECT

public:
    explicit TFrameSessionMonitor(QWidget* parent = nullptr);

    // Headings and widths of the mode; called once, before the first refresh.
    void SetupUsersMode();
    void SetupDatabasesMode();
    bool DatabaseMode() const { return FDatabaseMode; }

    // The server shown from now on (null: none). The first summary row and the first
    // detail row become the selection; the remembered keys stay until the next
    // RememberSelection reads them afresh.
    void BindConnection(TConnectionSlot* slot);
    // Refills every grid from the bound server's model objects and keeps the selection:
    // RememberSelection, the summary fill, RestoreSelection (which refreshes the detail
    // and the process information). Nothing happens without a server.
    void RefreshView(bool showSinceReset);
    // The chains the detail marks its lead blockers from; kept by the caller.
    void SetBlockingChains(const TBlockingChains* chains);
    void FocusFilter();
    // The summary rows the filter hides.
    int HiddenRows() const { return FHiddenRows; }
    TGridFilterBox* FilterBox() const { return FFilterBox; }
    // Selects the summary row the process belongs to and the process in the detail; a
    // process the summary does not show (filtered out, gone) changes nothing.
    void SelectProcess(std::int32_t spid);

    void RememberSelection();
    void RestoreSelection();
    void RefreshDetail();
    void RestoreDetailSelection();

    // Kill Process: the selected detail row's process, after the question.
    void KillSelectedProcess();
    // Kill All Processes: those of the selected database, or of the user of the detail's
    // first process, after the question.
    void KillAllProcesses();

    int SelectedRow() const;
    int SelectedDetailRow() const;
    std::int32_t SelectedSpid() const { return FSelectedSpid; }
    QString DetailHeading() const;
    TGridModel* SummaryGrid() const { return SummaryModel; }
    TGridModel* DetailGrid() const { return DetailModel; }
    TGridPair* SummaryGridPair() const { return SummaryPair; }
    TGridPair* DetailGridPair() const { return DetailPair; }
    TFrameProcessInfo* ProcessInfo() const { return FrameProcessInfoThreads; }
    QMenu* SummaryPopupMenu() const { return PopupMenuSummary; }

private:
    void SetupDetailColumns();
    void StringGridSummaryRightSelectCell(int row);
    void StringGridDetailRightSelectCell(int row);
    void StringGridSummaryRightMouseDown(int row, const QPoint& globalPosition);
    void KillAllAttachedProcesses1Click();
    bool SummaryRowExists(int row) const;
    void ShowDetailProcess(int row);
    void FilterSummary();
    int SummaryRowOf(std::int32_t spid) const;

    bool FDatabaseMode = false;
    bool ShowSinceReset = false;
    bool PopupOnRow = false;
    TConnectionSlot* Slot = nullptr;
    TUserRowKey KeyUser;
    std::string KeyDatabase;
    std::int32_t FSelectedSpid = 0;
    std::int32_t ChosenSpid = 0; // a process chosen elsewhere, for the next detail fill
    TTextFilter Filter;
    int FHiddenRows = 0;
    TGridFilterBox* FFilterBox;

    TGridModel* SummaryModel;
    TGridPair* SummaryPair;
    QLabel* StaticText1;
    TGridModel* DetailModel;
    TGridPair* DetailPair;
    TFrameProcessInfo* FrameProcessInfoThreads;
    QMenu* PopupMenuSummary;
    QAction* SendNetMessage1;
    QAction* KillAllAttachedProcesses1;

Q_SIGNALS:
    // After each summary fill: how many rows the filter hid.
    void HiddenRowsChanged(int hidden);
};
