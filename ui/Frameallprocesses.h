#pragma once
// Every process of one server, one row each, with the process information frame of the
// selected process below; the selection follows the same SPID across refreshes and
// server switches (the next higher SPID when it has ended, the last row when there is
// none). The first three columns stay in view while the others scroll.

#include <QWidget>

#include <cstdint>

class TConnectionSlot;
class TFrameProcessInfo;
class TGridModel;
class TGridPair;

class TFrameAllProcesses : public QWidget
{
    Q_OBJECT

public:
    explicit TFrameAllProcesses(QWidget* parent = nullptr);

    // The server shown from now on (null: none); the selected row stays.
    void BindConnection(TConnectionSlot* slot);
    // Remembers the selected SPID, refills the list and restores the selection.
    // Nothing happens without a server.
    void RefreshView(bool showSinceReset);
    // Selects the row of the remembered SPID and shows its process below.
    void RestoreSelection();
    // Kill Process: the selected row's process, after the question; nothing selected
    // (before the first refresh) does nothing.
    void KillSelectedProcess();

    // 0 = none.
    int SelectedRow() const;
    std::int32_t SelectedSpid() const { return FSelectedSpid; }
    TGridModel* ProcessGrid() const { return ProcessModel; }
    TGridPair* ProcessGridPair() const { return ProcessPair; }
    TFrameProcessInfo* ProcessInfo() const { return FrameProcessInfoThreads; }

private:
    void StringGridProcessesLeftSelectCell(int row);
    void ShowProcess(int row);

    TConnectionSlot* Slot = nullptr;
    std::int32_t FSelectedSpid = 0;
    TGridModel* ProcessModel;
    TGridPair* ProcessPair;
    TFrameProcessInfo* FrameProcessInfoThreads;
};
